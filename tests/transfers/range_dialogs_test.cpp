// The range dialogs without a scale: texts, tab order, the key filter, the
// entries that show them and the conversion failure of the action button.
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "shell/program.h"
#include "support/gui_fixture.h"
#include "transfers/range_dialogs.h"

namespace {

class RangeDialogs : public GuiTest {
 protected:
  RangeDialog* dialog(int n) {
    RangeDialog* all[] = {Form2, Form3, Form4, Form5, Form6};
    return all[n - 2];
  }
  // Types each character as the keyboard would deliver it.
  static QString typed(QLineEdit* e, const QString& keys) {
    for (QChar c : keys) {
      QKeyEvent press(QEvent::KeyPress, c.toUpper().unicode(), Qt::NoModifier, QString(c));
      QApplication::sendEvent(e, &press);
    }
    return e->text();
  }
  // The next control that the Tab key reaches.
  static QWidget* nextTab(QWidget* w) {
    QWidget* n = w->nextInFocusChain();
    while (!(n->focusPolicy() & Qt::TabFocus)) n = n->nextInFocusChain();
    return n;
  }
};

TEST_F(RangeDialogs, CaptionsPromptsButtonsAndInitialTexts) {
  start();
  struct Want {
    const char* caption;
    const char* prompt;
    const char* action;
    const char* edit2;
  } want[5] = {
      {"Загрузка базы товаров", "Загрузить номера ячеек PLU", "Загрузить", "4000"},
      {"Загрузка базы сообщений", "Загрузить номера  сообщений", "Загрузить", "1000"},
      {"Чтение базы товаров", "Прочитать номера ячеек PLU", "Прочитать", "4000"},
      {"Чтение базы сообщений", "Прочитать номера сообщений MSG", "Прочитать", "1000"},
      {"Удаление ячеек PLU, MSG или отчетов", "Удалить из весов ячейки PLU, MSG или отчеты",
       "Удалить", "4000"},
  };
  for (int n = 2; n <= 6; ++n) {
    RangeDialog* d = dialog(n);
    SCOPED_TRACE(n);
    EXPECT_FALSE(d->isVisible());
    EXPECT_FALSE(d->isModal());
    EXPECT_TRUE(d->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(d->windowTitle(), QString::fromUtf8(want[n - 2].caption));
    EXPECT_EQ(d->Label1->text(), QString::fromUtf8(want[n - 2].prompt));
    EXPECT_EQ(d->Label2->text(), QStringLiteral("с"));
    EXPECT_EQ(d->Label3->text(), QStringLiteral("по"));
    EXPECT_EQ(d->Button1->text(), QString::fromUtf8(want[n - 2].action));
    EXPECT_EQ(d->Button2->text(), QStringLiteral("Отмена"));
    EXPECT_EQ(d->Edit1->text(), QStringLiteral("1"));
    EXPECT_EQ(d->Edit2->text(), QString::fromUtf8(want[n - 2].edit2));
    EXPECT_EQ(d->findChild<QLineEdit*>("Edit1"), d->Edit1);
    // Tab order: the load-messages dialog starts with its edits.
    QWidget* order[4] = {d->Button1, d->Button2, d->Edit1, d->Edit2};
    if (n == 3) {
      QWidget* msg[4] = {d->Edit1, d->Edit2, d->Button1, d->Button2};
      std::copy(msg, msg + 4, order);
    }
    for (int k = 0; k < 4; ++k) EXPECT_EQ(nextTab(order[k]), order[(k + 1) % 4]) << k;
  }
}

TEST_F(RangeDialogs, KeyFilterTakesAtMostFourDigits) {
  start();
  Form2->showRange();
  QLineEdit* e = Form2->Edit1;
  e->clear();
  EXPECT_EQ(typed(e, "12345"), QStringLiteral("1234"));  // a fifth digit is refused
  e->end(false);
  QTest::keyClick(e, Qt::Key_Backspace);
  EXPECT_EQ(e->text(), QStringLiteral("123"));
  EXPECT_EQ(typed(e, "aAfF- +.x$"), QStringLiteral("123"));
  QTest::keyClick(e, Qt::Key_Backspace);
  QTest::keyClick(e, Qt::Key_Backspace);
  QTest::keyClick(e, Qt::Key_Backspace);
  QTest::keyClick(e, Qt::Key_Backspace);  // backspace on an empty edit is harmless
  EXPECT_EQ(typed(e, "0042"), QStringLiteral("0042"));

  // Keys that type no character are not filtered.
  QTest::keyClick(e, Qt::Key_Home);
  QTest::keyClick(e, Qt::Key_Delete);
  EXPECT_EQ(e->text(), QStringLiteral("042"));

  // A key without a code of its own that still types a character is judged
  // like any other.
  e->end(false);
  for (const QString& c : {QStringLiteral("z"), QStringLiteral("5"), QStringLiteral("ü")}) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, c);
    QApplication::sendEvent(e, &press);
  }
  EXPECT_EQ(e->text(), QStringLiteral("0425"));
  QTest::keyClick(e, Qt::Key_Backspace);

  // Copy, cut and paste do nothing; Cyrillic letters are refused.
  e->selectAll();
  QTest::keyClick(e, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(e->text(), QStringLiteral("042"));
  typed(e, QStringLiteral("жЖ"));
  EXPECT_EQ(e->text(), QStringLiteral("042"));

  // The same rule in every edit of every dialog.
  for (RangeDialog* d : std::initializer_list<RangeDialog*>{Form3, Form4, Form5, Form6})
    for (QLineEdit* x : {d->Edit1, d->Edit2}) {
      d->showRange();
      x->clear();
      EXPECT_EQ(typed(x, "7a8b9c01"), QStringLiteral("7890"));
    }
}

TEST_F(RangeDialogs, EnterAndEscapeInAnEditDoNothing) {
  start();
  form->N9->trigger();
  ASSERT_TRUE(Form2->isVisible());
  QTest::keyClick(Form2->Edit2, Qt::Key_Escape);
  QTest::keyClick(Form2->Edit2, Qt::Key_Return);
  EXPECT_TRUE(Form2->isVisible());
  EXPECT_TRUE(dlg.shown.isEmpty());
}

TEST_F(RangeDialogs, EntriesShowTheirDialogsAndKeepTexts) {
  start();
  form->N9->trigger();
  form->N19->trigger();
  EXPECT_TRUE(Form2->isVisible());
  EXPECT_TRUE(Form3->isVisible());
  Form2->Edit1->setText(QStringLiteral("17"));
  Form2->Button2->click();  // cancel hides, texts stay
  EXPECT_FALSE(Form2->isVisible());
  form->N9->trigger();
  EXPECT_TRUE(Form2->isVisible());
  EXPECT_EQ(Form2->Edit1->text(), QStringLiteral("17"));
  form->N9->trigger();  // already visible: stays so, texts unchanged
  EXPECT_EQ(Form2->Edit1->text(), QStringLiteral("17"));
  Form3->close();  // the close box hides like cancel
  EXPECT_FALSE(Form3->isVisible());
  EXPECT_TRUE(dlg.shown.isEmpty());
}

TEST_F(RangeDialogs, DeleteEntriesSetTheModeTheLastOneWins) {
  start();
  EXPECT_EQ(form->DeleteMode, 0);
  form->ToolButton13->click();
  EXPECT_EQ(form->DeleteMode, 2);
  EXPECT_TRUE(Form6->isVisible());
  form->N14->trigger();
  EXPECT_EQ(form->DeleteMode, 0);
  form->ToolButton13->click();  // while the dialog is still open
  EXPECT_EQ(form->DeleteMode, 2);
  EXPECT_TRUE(Form6->isVisible());
}

TEST_F(RangeDialogs, AnEmptyEditHidesTheDialogAndShowsTheConversionError) {
  start();
  for (RangeDialog* d : std::initializer_list<RangeDialog*>{Form2, Form3, Form4, Form5, Form6}) {
    d->showRange();
    d->Edit2->clear();
    d->Button1->click();
    EXPECT_FALSE(d->isVisible());
    ASSERT_EQ(dlg.shown.size(), 1);
    EXPECT_TRUE(dlg.shown[0].startsWith("ERROR: ")) << dlg.shown[0].toStdString();
    dlg.shown.clear();
    EXPECT_EQ(d->Edit2->text(), QString());  // texts stay as they are
    EXPECT_EQ(d->Edit1->text(), QStringLiteral("1"));
  }
}

}  // namespace
