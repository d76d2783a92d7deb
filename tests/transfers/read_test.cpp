// Reading goods and messages from the emulated scale into new tables made by
// the read entries, and the errors, Stop and database failures of a read.
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QTest>
#include <algorithm>

#include "link/wire.h"
#include "transfer_fixture.h"

namespace {

const QString kReceived = QStringLiteral("Данные приняты");

class ReadFromScale : public TransferTest {
 protected:
  // A PLU cell in the scale, written as a load would write it, with sales.
  // The record may carry a PLU number other than its cell's.
  void putPlu(int cell, const std::string& name1, int price, int counter, int pluno = 0) {
    const std::string record = wire::pluRequest(pluno ? pluno : cell, name1 + std::string(28, ' '),
                                                std::string(28, ' '), price, "7", 5, 6, 8, 0,
                                                "", 11);
    // Start 14:05:09 on 31.12.25; sum 12345, weight 2500, counter.
    std::string sales("\x09\x05\x14\x31\x12\x25", 6);
    wire::putLE(sales, 12345, 4);
    wire::putLE(sales, 2500, 4);
    wire::putLE(sales, counter, 3);
    scale.setPlu(cell, record.substr(1), sales);
  }
  void putMessage(int number, const std::string& line1) {
    scale.setMessage(number, wire::textToWire(line1, 50) + std::string(350, ' '));
  }
  // The read-goods (or read-messages) entry with the file name chosen.
  void readEntry(QAction* entry, const char* file) {
    dlg.files.push_back(path(file));
    entry->trigger();
    dlg.take();
  }
  std::string text(const char* field) { return table().fieldByName(field).asString(); }
  int number(const char* field) { return table().fieldByName(field).asInteger(); }
};

// The sales sum and weight are unsigned: a sum from 2^31 kopecks up is
// stored as its full decimal text, never as a negative number.
TEST_F(ReadFromScale, SalesSumAndWeightAreUnsigned) {
  startWithScale();
  const uint32_t sums[] = {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
  for (int cell = 1; cell <= 3; ++cell) {
    const std::string record = wire::pluRequest(cell, std::string(28, 'A'), std::string(28, ' '), 1, "7", 0, 0,
                                                0, 0, "", 0);
    std::string sales("\x09\x05\x14\x31\x12\x25", 6);
    for (int k = 0; k < 4; ++k) sales += char((sums[cell - 1] >> (8 * k)) & 0xFF);
    for (int k = 0; k < 4; ++k) sales += char((sums[3 - cell] >> (8 * k)) & 0xFF);
    sales += std::string(3, '\0');
    scale.setPlu(cell, record.substr(1), sales);
  }
  readEntry(form->N12, "read");
  runDialog(Form4, 1, 3);
  EXPECT_EQ(dlg.take(), QStringList{kReceived});
  ASSERT_EQ(table().recordCount(), 3);
  const char* summ[] = {"2147483647", "2147483648", "4294967295"};
  const char* weight[] = {"4294967295", "2147483648", "2147483647"};
  for (int i = 0; i < 3; ++i, table().next()) {
    EXPECT_EQ(text("SUMM"), summ[i]);
    EXPECT_EQ(text("WEIGHT"), weight[i]);
  }
}

TEST_F(ReadFromScale, GoodsLandInANewTableEmptyCellsSkipped) {
  startWithScale();
  putPlu(1, "ABC", 150, 3);
  putPlu(3, ansi::A(QStringLiteral("Сыр")), 99000, 0);
  putPlu(5, "E", 1, 7);
  readEntry(form->N12, "read");
  ASSERT_TRUE(Form4->isVisible());
  EXPECT_EQ(table().recordCount(), 0);
  // START is 18 wide and the sales fields stay writable for the read.
  EXPECT_EQ(table().fieldByName("START").size(), 18);
  for (const char* f : {"START", "COUNTER", "SUMM", "WEIGHT"})
    EXPECT_FALSE(table().fieldByName(f).readOnly()) << f;
  EXPECT_FALSE(table().fieldByName("NO").visible());
  EXPECT_EQ(table().fieldByName("LIFE").alignment(), storage::Alignment::Right);
  EXPECT_EQ(table().fieldByName("PLUNO").displayLabel(), ansi::A(QStringLiteral("Номер PLU")));
  runDialog(Form4, 5, 1);
  EXPECT_EQ(dlg.take(), QStringList{kReceived});
  EXPECT_EQ(requestedNumbers(0x81), (std::vector<int>{1, 2, 3, 4, 5}));
  ASSERT_EQ(table().recordCount(), 3);
  EXPECT_EQ(table().recNo(), 1);
  EXPECT_EQ(number("PLUNO"), 1);
  EXPECT_EQ(text("NAME1").substr(0, 3), "ABC");
  EXPECT_EQ(number("PRICE"), 150);
  EXPECT_EQ(text("LIFE"), "7");
  EXPECT_EQ(number("TARE"), 5);
  EXPECT_EQ(number("ICODE"), 6);
  EXPECT_EQ(number("GCODE"), 8);
  EXPECT_EQ(number("MSGNO"), 11);
  EXPECT_EQ(number("LOGOTYPE"), 0);
  EXPECT_EQ(text("START"), "31.12.25 14:05:09");
  EXPECT_EQ(number("COUNTER"), 3);
  EXPECT_EQ(text("SUMM"), "12345");
  EXPECT_EQ(text("WEIGHT"), "2500");
  table().next();
  EXPECT_EQ(number("PLUNO"), 3);
  EXPECT_EQ(text("NAME1").substr(0, 3), ansi::A(QStringLiteral("Сыр")));
  EXPECT_TRUE(progressHidden());
}

TEST_F(ReadFromScale, CancelledFileDialogShowsNoRangeDialog) {
  startWithScale();
  dlg.files.push_back(std::nullopt);
  form->N12->trigger();
  EXPECT_EQ(dlg.take(), (QStringList{QStringLiteral("Укажите имя файла новой базы товаров."),
                                     QStringLiteral("Новая база товаров не создана.")}));
  EXPECT_FALSE(Form4->isVisible());
  dlg.files.push_back(std::nullopt);
  form->N13->trigger();
  EXPECT_EQ(dlg.take(), (QStringList{QStringLiteral("Укажите имя файла новой базы сообщений."),
                                     QStringLiteral("Новая база сообщений не создана.")}));
  EXPECT_FALSE(Form5->isVisible());
}

TEST_F(ReadFromScale, MessagesLandUnderTheRequestedNumbersWithoutTheBlankFirstRecord) {
  startWithScale();
  putMessage(2, ansi::A(QStringLiteral("Хранить при +4")));
  putMessage(4, "four");
  readEntry(form->N13, "msgs");
  ASSERT_TRUE(Form5->isVisible());
  runDialog(Form5, 1, 5);
  EXPECT_EQ(dlg.take(), QStringList{kReceived});
  EXPECT_EQ(requestedNumbers(0x83), (std::vector<int>{1, 2, 3, 4, 5}));
  ASSERT_EQ(table().recordCount(), 2);
  table().first();
  EXPECT_EQ(number("MSGNO"), 2);
  EXPECT_EQ(text("LINE1").substr(0, 14), ansi::A(QStringLiteral("Хранить при +4")));
  table().next();
  EXPECT_EQ(number("MSGNO"), 4);
}

TEST_F(ReadFromScale, ReadingIntoAFilledTableKeepsItsRecords) {
  startWithScale();
  putPlu(2, "two", 2, 0, 7);  // PLUNO is written as the reply gives it
  newGoodsTable();
  addGoodsNumbered({10, 11});
  runDialog(Form4, 1, 3);
  EXPECT_EQ(dlg.take(), QStringList{kReceived});
  ASSERT_EQ(table().recordCount(), 3);
  std::vector<int> plus;
  for (table().first(); !table().eof(); table().next()) plus.push_back(number("PLUNO"));
  std::sort(plus.begin(), plus.end());
  EXPECT_EQ(plus, (std::vector<int>{7, 10, 11}));
}

TEST_F(ReadFromScale, ExchangeErrorsKeepTheRecordsOfTheCellsBefore) {
  startWithScale(250);
  for (int c = 1; c <= 6; ++c) putPlu(c, "x", c, 0);
  newGoodsTable();
  struct Case {
    int command;
    ScaleEmulator::Fault fault;
    const char* message;
  } cases[] = {
      {ScaleEmulator::kHandshake, {ScaleEmulator::Fault::Silence, 1, 0, 0, 0, 2},
       "Ошибка обмена 3. Повторите попытку еще раз или перезагрузите программу."},
      {ScaleEmulator::kHandshake, {ScaleEmulator::Fault::WrongEcho, 1, 0, 0, 0, 2},
       "Ошибка обмена 2. Повторите попытку еще раз или проверьте работоспособность весов."},
      {0x81, {ScaleEmulator::Fault::Silence, 1, 0, 0, 0, 2},
       "Ошибка обмена 1. Повторите попытку еще раз или проверьте работоспособность весов."},
  };
  int expected = 0;
  for (const Case& c : cases) {
    scale.clearFaults();
    scale.inject(c.command, c.fault);
    runDialog(Form4, 1, 6);
    EXPECT_EQ(dlg.take(), QStringList{QString::fromUtf8(c.message)});
    expected += 2;
    EXPECT_EQ(table().recordCount(), expected);
    EXPECT_TRUE(progressHidden());
  }
}

TEST_F(ReadFromScale, StopKeepsTheCellsReadSoFar) {
  startWithScale();
  for (int c : {1, 3, 4, 6}) putPlu(c, "x", c, 0);
  readEntry(form->N12, "read");
  clk.onTurn = [&](int) {
    if (scale.requestsOf(0x81).size() == 4) form->Button3->click();
  };
  runDialog(Form4, 1, 10);
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Действие прервано")});
  EXPECT_EQ(scale.requestsOf(0x81).size(), 4u);
  EXPECT_EQ(table().recordCount(), 3);  // cells 1, 3 and 4
  EXPECT_TRUE(progressHidden());

  // The same for messages; then a scale that falls silent on a message read.
  for (int m : {2, 3}) putMessage(m, "m");
  readEntry(form->N13, "msgs");
  clk.onTurn = [&](int) {
    if (scale.requestsOf(0x83).size() == 3) form->Button3->click();
  };
  runDialog(Form5, 1, 10);
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Действие прервано")});
  EXPECT_EQ(table().recordCount(), 2);
  clk.onTurn = nullptr;
  form->Edit32->setText(QStringLiteral("250"));
  scale.inject(0x83, {ScaleEmulator::Fault::Silence, 1, 0, 0, 0, 2});
  runDialog(Form5, 2, 4);
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral(
                            "Ошибка обмена 1. Повторите попытку еще раз или проверьте "
                            "работоспособность весов.")});
  EXPECT_EQ(table().recordCount(), 4);
}

// Closing the window while an operation runs stops it as Stop does (an
// operation without Stop runs to its end); the window stays with the run's
// last message and closes, writing the settings files, only after it.
TEST_F(ReadFromScale, CloseDuringAnOperationStopsItAndClosesAfterIt) {
  struct Case {
    const char* what;
    int command;          // whose requests show how far the run went
    std::size_t closeAt;  // requests of it made when the window is closed
    std::function<void()> run;
    QString end;
  };
  const Case cases[] = {
      {"read", 0x81, 3,
       [&] {
         readEntry(form->N12, "read");
         runDialog(Form4, 1, 100);
       },
       QStringLiteral("Действие прервано")},
      {"delete", 0x8D, 3,
       [&] {
         form->N14->trigger();
         dlg.answers.push_back(dialogs::Answer::Yes);
         runDialog(Form6, 1, 100);
         dlg.shown.removeFirst();  // the question
       },
       QStringLiteral("Действие прервано")},
      {"state", 0x89, 0, [&] { form->Button11->click(); }, QStringLiteral("Данные приняты.")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    stop();
    startWithScale();
    for (int cell = 1; cell <= 100; ++cell) putPlu(cell, "x", cell, 0);
    form->ComboBox7->setEditText(QStringLiteral("Весы 7"));
    form->show();
    QFile::remove(path("total.cfg"));
    bool asked = false, closedAtOnce = true, shownAtEnd = false, savedAtEnd = true;
    std::size_t atClose = 0;
    clk.onTurn = [&](int) {
      if (asked || scale.requestsOf(c.command).size() < c.closeAt) return;
      asked = true;
      atClose = scale.requestsOf(c.command).size();
      closedAtOnce = form->close();
    };
    dlg.onMessage = [&](const QString&) {
      shownAtEnd = form->isVisible();
      savedAtEnd = QFile::exists(path("total.cfg"));
    };
    c.run();
    clk.onTurn = nullptr;
    dlg.onMessage = nullptr;
    ASSERT_TRUE(asked);
    EXPECT_FALSE(closedAtOnce);
    EXPECT_EQ(dlg.take(), QStringList{c.end});
    EXPECT_TRUE(shownAtEnd);
    EXPECT_FALSE(savedAtEnd);
    if (c.closeAt) {
      EXPECT_LE(scale.requestsOf(c.command).size(), atClose + 1);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 5000));
    EXPECT_TRUE(QFile::exists(path("total.cfg")));
  }
}

// A run waits and pauses with the time-out it started with: a time-out typed
// during a read, however long or not a number, changes none of its pauses.
TEST_F(ReadFromScale, TimeOutTypedDuringAReadLeavesItsPauses) {
  startWithScale(300);
  for (int n : {1, 2, 3}) {
    putPlu(n, "x", n, 0);
    putMessage(n, "m");
  }
  struct Case {
    QAction* entry;
    RangeDialog* dialog;
    int pause;  // before each record read
  };
  for (const Case& c : {Case{form->N12, Form4, 100}, Case{form->N13, Form5, 300}}) {
    for (const char* typed : {"60000", "abc"}) {
      SCOPED_TRACE(typed);
      form->Edit32->setText(QStringLiteral("300"));
      readEntry(c.entry, (std::string("t") + std::to_string(c.pause) + typed).c_str());
      clk.onTurn = [&](int) { form->Edit32->setText(QString::fromLatin1(typed)); };
      clk.slept = 0;
      runDialog(c.dialog, 1, 3);
      clk.onTurn = nullptr;
      EXPECT_EQ(dlg.take(), QStringList{kReceived});
      EXPECT_EQ(table().recordCount(), 3);
      EXPECT_EQ(clk.slept, 50 + 3 * (50 + c.pause));  // the ping, then handshake and read per cell
    }
  }
}

TEST_F(ReadFromScale, DatabaseErrorEndsTheRunWithTheErrorBoxAndHiddenProgress) {
  startWithScale();
  putPlu(1, "x", 1, 0);
  putMessage(1, "m");
  newMessagesTable();
  addMessage(9, {"kept"});
  runDialog(Form4, 1, 2);  // goods into a messages table: no PLUNO field
  const QStringList shown = dlg.take();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_TRUE(shown[0].startsWith("ERROR: ")) << shown[0].toStdString();
  EXPECT_TRUE(progressHidden());
  EXPECT_FALSE(form->ScaleBusy);
  table().first();
  EXPECT_EQ(table().recordCount(), 1);  // the half-made record was dropped
  EXPECT_EQ(number("MSGNO"), 9);

  // No table at all: an occupied cell has nowhere to go.
  table().close();
  runDialog(Form5, 1, 1);
  ASSERT_EQ(dlg.shown.size(), 1);
  EXPECT_TRUE(dlg.take()[0].startsWith("ERROR: "));
  EXPECT_TRUE(progressHidden());
}

TEST_F(ReadFromScale, EmptyOrReversedRangesStillEndWithTheReceivedMessage) {
  startWithScale();
  newGoodsTable();
  runDialog(Form4, 1, 3);  // every cell empty
  EXPECT_EQ(dlg.take(), QStringList{kReceived});
  EXPECT_EQ(table().recordCount(), 0);
  form->GetPluRange(5, 4);
  EXPECT_EQ(dlg.take(), QStringList{kReceived});
  EXPECT_EQ(requestedNumbers(0x81).size(), 3u);
  EXPECT_TRUE(form->TcpClient1.Connected());
}

TEST_F(ReadFromScale, ProgressRunsFromZeroToTheSpan) {
  startWithScale();
  newMessagesTable();
  int maxSeen = -1;
  QString lastNumber;
  clk.onTurn = [&](int) {
    maxSeen = std::max(maxSeen, form->ProgressBar3->value());
    lastNumber = form->Numb->text();
  };
  runDialog(Form5, 100, 110);
  EXPECT_EQ(form->ProgressBar3->maximum(), 10);
  EXPECT_EQ(maxSeen, 10);
  EXPECT_EQ(lastNumber, QStringLiteral("110"));
}

// A one-cell run has a span of 0: the bar stays a plain bar instead of Qt's
// moving busy animation, which a range of 0..0 would show.
TEST_F(ReadFromScale, OneCellRunShowsAPlainBar) {
  startWithScale();
  newMessagesTable();
  int maxSeen = -1;
  clk.onTurn = [&](int) { maxSeen = std::max(maxSeen, form->ProgressBar3->maximum()); };
  runDialog(Form5, 7, 7);
  EXPECT_GT(maxSeen, 0);
  EXPECT_GT(form->ProgressBar3->maximum(), form->ProgressBar3->minimum());
}

}  // namespace
