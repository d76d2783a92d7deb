// The scale lists during a run: the list in use keeps naming the scale the
// run talks to, whatever the operator types meanwhile.
#include <QStackedWidget>
#include <QTest>

#include "settings_fixture.h"
#include "shell/program.h"
#include "transfers/range_dialogs.h"

namespace {

using ScaleListsBusy = SettingsTest;

// Letters and an arrow key sent to a list while its operation runs change
// neither its text nor its chosen item, and the keyboard focus leaves it for
// the run; afterwards it has the focus again and takes keys as before.
TEST_F(ScaleListsBusy, ListsTakeNoInputWhileTheirOperationRuns) {
  form->setConfigRows({{"1", ansi::A(name()), "", std::to_string(kScale), ScaleEmulator::kHost,
                        scale.portText(), "", "", ""},
                       {"2", ansi::A(QStringLiteral("Весы 8")), "", "8", ScaleEmulator::kHost,
                        scale.portText(), "", "", ""}});
  form->SpeedButton26Click();
  const struct {
    QComboBox* list;
    std::function<void()> run;
  } cases[] = {
      {form->ComboBox2,
       [&] {
         dlg.answers.push_back(dialogs::Answer::Yes);
         Form6->Edit1->setText(QStringLiteral("1"));
         Form6->Edit2->setText(QStringLiteral("1"));
         Form6->Button1Click();
       }},
      {form->ComboBox3, [&] { form->Button1->click(); }},
      {form->ComboBox6, [&] { form->Button9->click(); }},
      {form->ComboBox7, [&] { form->Button11->click(); }},
      {form->ComboBox8, [&] { form->Button12->click(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list->objectName().toStdString());
    for (QWidget* w = c.list; w->parentWidget(); w = w->parentWidget())  // the list's page
      if (auto* pages = qobject_cast<QStackedWidget*>(w->parentWidget())) pages->setCurrentWidget(w);
    c.list->setCurrentIndex(0);
    c.list->setFocus();
    QString textMeanwhile;
    int indexMeanwhile = -2;
    bool focusLeft = false;
    clk.onTurn = [&] {
      if (indexMeanwhile != -2) return;
      QTest::keyClicks(c.list, QStringLiteral("ZZZ"));
      QTest::keyClick(c.list, Qt::Key_Down);
      textMeanwhile = c.list->currentText();
      indexMeanwhile = c.list->currentIndex();
      focusLeft = form->focusWidget() != c.list;
    };
    const std::size_t before = scale.requests().size();
    c.run();
    clk.onTurn = nullptr;
    EXPECT_GT(scale.requests().size(), before);  // the run reached the scale
    dlg.take();
    EXPECT_EQ(textMeanwhile, name());
    EXPECT_EQ(indexMeanwhile, 0);
    EXPECT_TRUE(focusLeft);

    EXPECT_EQ(form->focusWidget(), c.list);
    QTest::keyClick(c.list, Qt::Key_Down);
    QTest::keyClicks(c.list, QStringLiteral("Z"));
    EXPECT_EQ(c.list->currentIndex(), 1);
    EXPECT_EQ(c.list->currentText(), QStringLiteral("Весы 8Z"));
  }
}

}  // namespace
