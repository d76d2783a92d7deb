// How the main window behaves for the operator: tool buttons, focus and the
// help window.
#include <QAction>
#include <QHeaderView>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>

#include "shell/string_grid.h"
#include "support/gui_fixture.h"

using OperatorView = GuiTest;

TEST_F(OperatorView, DropDownToolButtonsOpenTheirMenuOnAClickAnywhere) {
  start();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  for (const char* name : {"ToolButton1", "ToolButton3", "ToolButton4", "ToolButton7",
                           "ToolButton10", "ToolButton11", "ToolButton12", "ToolButton17"}) {
    auto* b = find<QToolButton>(name);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(b->menu(), nullptr) << name;
    QWidget* shown = nullptr;
    QTimer::singleShot(0, [&] {
      shown = QApplication::activePopupWidget();
      if (shown) shown->close();
    });
    // A click on the middle of the icon, not on the arrow.
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->height() / 2, b->height() / 2));
    EXPECT_EQ(shown, b->menu()) << name;
  }
}

TEST_F(OperatorView, ToolButtonsTakeNoFocus) {
  start();
  for (auto* b : form->findChildren<QToolButton*>())
    EXPECT_EQ(b->focusPolicy(), Qt::NoFocus) << b->objectName().toStdString();
}

TEST_F(OperatorView, HelpWindowOpensOverTheProgramWithBackAndContents) {
  start();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  form->HelpKeyword(QStringLiteral("Логотип"));
  ASSERT_NE(form->HelpWindow, nullptr);
  auto* help = form->HelpWindow->findChild<QTextBrowser*>(QStringLiteral("HelpBrowser"));
  auto* back = form->HelpWindow->findChild<QPushButton*>(QStringLiteral("HelpBack"));
  auto* contents = form->HelpWindow->findChild<QPushButton*>(QStringLiteral("HelpContents"));
  ASSERT_TRUE(help && back && contents);
  const QPoint offset = form->HelpWindow->frameGeometry().center() - form->frameGeometry().center();
  EXPECT_LE(offset.manhattanLength(), 40);
  EXPECT_FALSE(back->isEnabled());
  contents->click();
  EXPECT_TRUE(help->source().toString().endsWith("index.html"));
  ASSERT_TRUE(back->isEnabled());
  back->click();
  EXPECT_TRUE(help->source().toString().endsWith("logo.html"));
}

// At the start size every page tab shows its whole caption: none hides
// behind scroll arrows and none is cut.
TEST_F(OperatorView, EveryPageTabIsReadableAtTheStartSize) {
  start();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  QTabBar* bar = form->PageControl1->tabBar();
  ASSERT_EQ(bar->count(), 7);
  expectWholeTabs(bar);
  EXPECT_LE(bar->width(), form->width());
}

// The grids' titles are never cut, whatever width a column was given.
TEST_F(OperatorView, GridTitlesFitTheirColumns) {
  start();
  for (StringGrid* g : {form->StringGrid1, form->StringGrid3}) {
    const QFontMetrics fm(g->horizontalHeader()->font());
    for (int c = 0; c < g->columnCount(); ++c) {
      const QString title = g->cellText(c, 0).trimmed();
      EXPECT_GE(g->columnWidth(c), fm.horizontalAdvance(title)) << title.toStdString();
    }
  }
}
