// The settings pages as the operator sees them at the window's start size.
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "settings_fixture.h"

namespace {

// Every sub-page tab of "Настройки весов" shows its whole caption, and no
// page of this subsystem makes the window wider than its start width.
TEST_F(SettingsTest, PagesFitTheStartSizeWithWholeTabCaptions) {
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  EXPECT_EQ(form->width(), 721);
  form->PageControl1->setCurrentWidget(form->TabSheet3);
  QTabBar* bar = form->PageControl2->tabBar();
  ASSERT_EQ(bar->count(), 4);
  expectWholeTabs(bar);
  // The room a page has: that of the page shown (the field-compatibility
  // sub-page is shown first).
  QCoreApplication::processEvents();
  const int mainWidth = form->TabSheet3->width(), subWidth = form->TabSheet14->width();
  ASSERT_GT(subWidth, 500);
  for (QWidget* page : {form->TabSheet3, form->TabSheet5, form->TabSheet6})
    EXPECT_LE(page->minimumSizeHint().width(), mainWidth) << page->objectName().toStdString();
  for (QWidget* page : {form->TabSheet10, form->TabSheet12, form->TabSheet13})
    EXPECT_LE(page->minimumSizeHint().width(), subWidth) << page->objectName().toStdString();
}

}  // namespace
