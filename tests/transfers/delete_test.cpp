// Deleting PLU cells and clearing their totals in the emulated scale.
#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <utility>

#include "transfer_fixture.h"

namespace {

const QString kQuestion = QStringLiteral("?: Выбранные ячейки будут удалены из весов. Продолжить?");
const QString kDone = QStringLiteral("Удаление ячеек произведено.");

class DeleteInScale : public TransferTest {
 protected:
  std::vector<int> cells(int command) const {
    std::vector<int> out;
    for (const std::string& r : scale.requestsOf(command)) {
      EXPECT_EQ(r.size(), 5u);
      out.push_back(int((unsigned char)r[1] | (unsigned char)r[2] << 8));
    }
    return out;
  }
};

TEST_F(DeleteInScale, NoSendsNothingYesDeletesEveryNumber) {
  startWithScale();
  form->N14->trigger();
  dlg.answers.push_back(dialogs::Answer::No);
  runDialog(Form6, 10, 12);
  EXPECT_EQ(dlg.take(), QStringList{kQuestion});
  EXPECT_EQ(scale.connectionCount(), 0);

  dlg.answers.push_back(dialogs::Answer::Yes);
  runDialog(Form6, 12, 10);
  EXPECT_EQ(dlg.take(), (QStringList{kQuestion, kDone}));
  EXPECT_EQ(cells(0x8D), (std::vector<int>{10, 11, 12}));
  EXPECT_TRUE(cells(0x92).empty());
  EXPECT_GE(clk.slept, 3 * 200);
  EXPECT_TRUE(progressHidden());

  // No leaves the connection of the run before as it was.
  dlg.answers.push_back(dialogs::Answer::No);
  runDialog(Form6, 1, 2);
  EXPECT_EQ(dlg.take(), QStringList{kQuestion});
  EXPECT_TRUE(form->TcpClient1.Connected());
  EXPECT_EQ(scale.connectionCount(), 1);

  // A reversed range opens the link, sends nothing and reports the end.
  form->TcpClient1.Close();
  dlg.answers.push_back(dialogs::Answer::Yes);
  form->DeletePluRange(5, 4);
  EXPECT_EQ(dlg.take(), (QStringList{kQuestion, kDone}));
  EXPECT_TRUE(form->TcpClient1.Connected());
  EXPECT_EQ(cells(0x8D).size(), 3u);
}

// A run keeps the kind it started with: both entries show disabled while it
// runs and a switch reaching them anyway changes nothing; Stop stays usable.
TEST_F(DeleteInScale, ARunKeepsTheModeItStartedWith) {
  startWithScale();
  auto deleteCells = [&] { form->N14Click(); };
  auto clearTotals = [&] { form->ToolButton13Click(); };
  struct Case {
    std::function<void()> start, other;
    int command, mode;
  } cases[] = {
      {clearTotals, deleteCells, 0x92, 2},
      {deleteCells, clearTotals, 0x8D, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    scale.clearRequests();
    c.start();
    bool disabled = true;
    clk.onTurn = [&](int) {
      disabled &= !form->N14->isEnabled() && !form->ToolButton13->isEnabled() &&
                  !form->ToolButton12->isEnabled() && form->Button3->isEnabled();
      if (scale.requestsOf(c.command).size() != 2) return;
      form->N14->trigger();
      form->ToolButton13->click();
      c.other();
    };
    dlg.answers.push_back(dialogs::Answer::Yes);
    runDialog(Form6, 1, 5);
    clk.onTurn = nullptr;
    EXPECT_TRUE(disabled);
    EXPECT_EQ(cells(c.command), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(scale.requests().size(), 10u);  // five handshakes, five commands
    EXPECT_EQ(form->DeleteMode, c.mode);
    EXPECT_EQ(dlg.take(), (QStringList{kQuestion, kDone}));
    EXPECT_TRUE(form->N14->isEnabled() && form->ToolButton13->isEnabled());
  }
  // With nothing running, the entry used last decides, the dialog open.
  form->N14->trigger();
  form->ToolButton13->click();
  EXPECT_EQ(form->DeleteMode, 2);
  EXPECT_TRUE(Form6->isVisible());
}

TEST_F(DeleteInScale, SilentHandshakeSkipsTheNumberOtherFailuresEndTheRun) {
  startWithScale(250);
  form->ToolButton13->click();
  scale.inject(ScaleEmulator::kHandshake, {ScaleEmulator::Fault::Silence, 1, 0, 0, 0, 1});
  dlg.answers.push_back(dialogs::Answer::Yes);
  runDialog(Form6, 1, 3);
  EXPECT_EQ(cells(0x92), (std::vector<int>{1, 3}));
  // A skipped number is no success: the end says how many and why.
  EXPECT_EQ(dlg.take(), (QStringList{kQuestion, QStringLiteral("Не обнулены итоги ячеек: 1 из 3. Весы не "
                                                              "ответили на запрос для этих номеров. "
                                                              "Повторите попытку еще раз.")}));
  EXPECT_TRUE(progressHidden());

  // A scale that never answers: not one cell deleted, and that is what is said.
  scale.clearRequests();
  form->N14->trigger();
  scale.inject(ScaleEmulator::kHandshake, {ScaleEmulator::Fault::Silence, 4});
  dlg.answers.push_back(dialogs::Answer::Yes);
  runDialog(Form6, 5, 8);
  EXPECT_TRUE(cells(0x8D).empty());
  EXPECT_EQ(dlg.take(), (QStringList{kQuestion, QStringLiteral("Не удалено ячеек: 4 из 4. Весы не ответили "
                                                              "на запрос для этих номеров. Повторите "
                                                              "попытку удаления еще раз.")}));
  form->ToolButton13->click();  // back to clearing totals

  scale.clearRequests();
  scale.inject(ScaleEmulator::kHandshake, {ScaleEmulator::Fault::WrongEcho, 1, 0, 0, 0, 1});
  dlg.answers.push_back(dialogs::Answer::Yes);
  runDialog(Form6, 1, 3);
  EXPECT_EQ(cells(0x92), std::vector<int>{1});
  EXPECT_EQ(dlg.take(), (QStringList{kQuestion, QStringLiteral("Ошибка обмена. Повторите попытку "
                                                              "еще раз или проверьте "
                                                              "работоспособность весов.")}));
  EXPECT_TRUE(progressHidden());

  scale.clearRequests();
  scale.inject(0x92, {ScaleEmulator::Fault::Status, 1, 0x55, 0, 0, 1});
  dlg.answers.push_back(dialogs::Answer::Yes);
  runDialog(Form6, 1, 3);
  EXPECT_EQ(cells(0x92), (std::vector<int>{1, 2}));
  EXPECT_EQ(dlg.take(),
            (QStringList{kQuestion, QStringLiteral("В процессе обмена возникли ошибки. Повторите "
                                                   "попытку удаления еще раз.")}));
}

// Stop is tested before the events of a number are processed, so a click
// during the third number's turn is seen after the fourth.
TEST_F(DeleteInScale, StopIsSeenAtTheNextNumber) {
  startWithScale();
  form->N14->trigger();
  clk.onTurn = [&](int) {
    if (scale.requestsOf(0x8D).size() == 3) form->Button3->click();
  };
  dlg.answers.push_back(dialogs::Answer::Yes);
  runDialog(Form6, 1, 4000);
  EXPECT_EQ(cells(0x8D), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(dlg.take(), (QStringList{kQuestion, QStringLiteral("Действие прервано")}));
  EXPECT_TRUE(progressHidden());
  EXPECT_EQ(form->ProgressBar3->maximum(), 3999);
}

TEST_F(DeleteInScale, NumbersReachTheDriverAsTyped) {
  startWithScale();
  form->N14->trigger();
  for (auto [from, to] : {std::pair{"0042", "0042"}, {"0", "0"}, {"9999", "9999"}, {"7", "7"}}) {
    dlg.answers.push_back(dialogs::Answer::Yes);
    Form6->showRange();
    Form6->Edit1->setText(QString::fromLatin1(from));
    Form6->Edit2->setText(QString::fromLatin1(to));
    Form6->Button1->click();
    EXPECT_EQ(dlg.take(), (QStringList{kQuestion, kDone}));
  }
  std::vector<int> got;
  for (const std::string& r : scale.requestsOf(0x8D))
    got.push_back(int((unsigned char)r[1] | (unsigned char)r[2] << 8));
  EXPECT_EQ(got, (std::vector<int>{42, 0, 9999, 7}));
}

// A digit typed over a selection replaces it, four digits at most all the
// same; the delete that follows runs over the range as it now reads.
TEST_F(DeleteInScale, DigitTypedOverASelectionReplacesIt) {
  startWithScale();
  form->N14->trigger();
  QLineEdit* e = Form6->Edit2;
  struct Case {
    int from, length;
    const char* keys;
    const char* want;
  } cases[] = {
      {0, 4, "2", "2"},       {1, 2, "5", "450"},    {1, 2, "56", "4560"},
      {3, 1, "12", "4001"},   {0, 4, "a-", "4000"},  {4, 0, "1", "4000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    e->setText(QStringLiteral("4000"));
    e->setSelection(c.from, c.length);
    QTest::keyClicks(e, QString::fromLatin1(c.keys));
    EXPECT_EQ(e->text(), QString::fromLatin1(c.want));
  }
  e->selectAll();
  QTest::keyClicks(e, QStringLiteral("2"));
  dlg.answers.push_back(dialogs::Answer::Yes);
  Form6->Button1->click();
  EXPECT_EQ(dlg.take(), (QStringList{kQuestion, kDone}));
  EXPECT_EQ(cells(0x8D), (std::vector<int>{1, 2}));
}

TEST_F(DeleteInScale, UnknownScaleNameStopsBeforeAnyConnection) {
  startWithScale();
  form->ComboBox2->setEditText(QStringLiteral("Весы 8"));
  dlg.answers.push_back(dialogs::Answer::Yes);
  runDialog(Form6, 1, 3);
  EXPECT_EQ(dlg.take(), (QStringList{kQuestion, QStringLiteral("Для удаления ячеек выберите весы "
                                                              "из списка (или заполните "
                                                              "конфигурацию).")}));
  runDialog(Form4, 1, 3);
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral(
                            "Для записи данных выберите весы из списка (или заполните "
                            "конфигурацию).")});
  EXPECT_EQ(scale.connectionCount(), 0);
  EXPECT_TRUE(progressHidden());
}

}  // namespace
