// Loading goods and messages into the emulated scale through the range
// dialogs: which records are visited and sent, the bytes on the wire, the
// test pass, the handshake retry rule, Stop and a scale that falls silent.
#include <QCheckBox>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include "link/wire.h"
#include "shell/string_grid.h"
#include "transfer_fixture.h"

namespace {

const QString kSent = QStringLiteral("Данные переданы");
const QString kStopped = QStringLiteral("Действие прервано");
const QString kSendFailed = QStringLiteral(
    "Ошибка обмена. Повторите попытку еще раз,проверьте работоспособность весов или правильность "
    "заполнения таблицы.");

using LoadGoods = TransferTest;
using LoadMessages = TransferTest;

std::vector<int> range(int from, int to) {
  std::vector<int> v;
  for (int i = from; i <= to; ++i) v.push_back(i);
  return v;
}

TEST_F(LoadGoods, OrderedTableSendsTheRange) {
  startWithScale();
  form->show();
  newGoodsTable();
  addGoodsNumbered(range(1, 12));
  for (bool tested : {true, false}) {
    SCOPED_TRACE(tested);
    scale.clearRequests();
    form->CheckBox1->setChecked(tested);
    runDialog(Form2, 10, 5);  // typed high first: ordered by the dialog
    EXPECT_FALSE(Form2->isVisible());
    EXPECT_EQ(sentPlus(), range(5, 10));
    EXPECT_EQ(scale.requestsOf(ScaleEmulator::kHandshake).size(), 6u);
    EXPECT_EQ(dlg.take(), QStringList{kSent});
    EXPECT_TRUE(progressHidden());
    EXPECT_EQ(table().recNo(), 10);  // the last record sent, in the grid too
    EXPECT_EQ(form->DBGrid1->currentIndex().row(), 9);
    EXPECT_EQ(form->focusWidget(), form->DBGrid1);  // typed digits go to that record
  }
}

// In a table out of number order every record of the range is tested and
// sent, in the table's order, however far down it stands.
TEST_F(LoadGoods, EveryRecordOfTheRangeIsTestedAndSentWhereverItStands) {
  startWithScale();
  newGoodsTable();
  addGoodsNumbered(range(1, 12));
  form->N5->trigger();  // by name: "Товар 1", "Товар 10" .. "Товар 12", "Товар 2" ..
  Goods bad;  // last by name, far below ordinal high + 1
  bad.plu = 2;
  bad.name1 = ansi::A(QStringLiteral("Яблоки"));
  bad.price = -5;
  addGoods(bad);
  struct Case {
    bool tested;
    int low, high;
    std::vector<int> sent;
    QString said;
  } cases[] = {
      {false, 1, 10, {1, 10, 2, 3, 4, 5, 6, 7, 8, 9, 2}, kSent},
      {true, 4, 10, {10, 4, 5, 6, 7, 8, 9}, kSent},
      {true, 1, 3, {}, QStringLiteral("Ошибка ввода цены")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.tested << " " << c.low << ".." << c.high);
    scale.clearRequests();
    form->CheckBox1->setChecked(c.tested);
    runDialog(Form2, c.low, c.high);
    EXPECT_EQ(dlg.take(), QStringList{c.said});
    EXPECT_EQ(sentPlus(), c.sent);
  }
  EXPECT_EQ(table().recNo(), 13);  // the grid on the failing record

  // Messages out of number order: 1 and 3 stand beyond ordinal high + 1.
  newMessagesTable();
  for (int m : {5, 6, 7, 8, 1, 9, 3}) addMessage(m, {"x"});
  for (bool tested : {true, false}) {
    scale.clearRequests();
    form->CheckBox1->setChecked(tested);
    runDialog(Form3, 1, 3);
    EXPECT_EQ(dlg.take(), QStringList{kSent});
    EXPECT_EQ(requestedNumbers(0x84), (std::vector<int>{1, 3}));
  }
}

TEST_F(LoadGoods, BytesOnTheWireAreTheTableRecordWithPaddedNames) {
  startWithScale();
  newGoodsTable();
  Goods a;
  a.plu = 1;
  a.name1 = "ABC";
  a.name2 = ansi::A(QStringLiteral("Колбаса вареная докторская"));  // 26 characters
  a.price = 123456;
  a.life = "15.06.26";
  a.tare = 300;
  a.icode = 12;
  a.gcode = 905;
  a.msgno = 300;
  Goods b = a;  // a logo with a short certification code, a name of exactly 28
  b.plu = 2;
  b.name1 = std::string(28, 'N');
  b.life = "120";
  b.logotype = 2;
  b.rst = "12";
  addGoods(a);
  addGoods(b);
  runDialog(Form2, 1, 2);
  const auto sent = scale.requestsOf(0x82);
  ASSERT_EQ(sent.size(), 2u);
  // Names shorter than 28 are filled with blanks; the first 28 go out.
  EXPECT_EQ(sent[0], wire::pluRequest(1, "ABC" + std::string(26, ' '), a.name2 + "   ", 123456,
                                      "15.06.26", 300, 12, 905, 0, "", 300));
  EXPECT_EQ(sent[0].substr(11, 28), "ABC" + std::string(25, ' '));
  EXPECT_EQ(sent[0].substr(71, 3), "\x15\x06\x26");
  EXPECT_EQ(sent[0].substr(82, 2), "\x2C\x01");
  // Logo 2 and RST "12" (filled to "12   "): 00 02 '2' ' ' in NAME1, 00 02 '1' ' ' in NAME2.
  EXPECT_EQ(sent[1].substr(11, 28), std::string(24, 'N') + std::string("\x00\x02" "2 ", 4));
  EXPECT_EQ(sent[1].substr(39 + 24, 4), std::string("\x00\x02" "1 ", 4));
  EXPECT_EQ(sent[1].substr(71, 3), std::string("\x00\x01\x20", 3));
  EXPECT_EQ(dlg.take(), QStringList{kSent});
}

TEST_F(LoadGoods, TestErrorStopsBeforeAnyConnectionOnTheFailingRecord) {
  startWithScale();
  newGoodsTable();
  addGoodsNumbered({1, 2});
  Goods bad;
  bad.plu = 3;
  bad.price = 1000000;
  addGoods(bad);
  addGoodsNumbered({4, 5});
  form->CheckBox1->setChecked(true);
  runDialog(Form2, 1, 5);
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Ошибка ввода цены")});
  EXPECT_EQ(scale.connectionCount(), 0);
  EXPECT_TRUE(scale.requests().empty());
  EXPECT_EQ(table().recNo(), 3);
  EXPECT_TRUE(progressHidden());

  // A record outside the range is not tested.
  runDialog(Form2, 4, 5);
  EXPECT_EQ(dlg.take(), QStringList{kSent});
  EXPECT_EQ(sentPlus(), (std::vector<int>{4, 5}));
}

// A scale whose address is typed with leading zeros, a blank before it or
// a hexadecimal part is loaded like any other.
TEST_F(LoadGoods, ScaleAddressInAnyAcceptedSpellingIsLoaded) {
  startWithScale();
  newGoodsTable();
  addGoodsNumbered({1, 2});
  for (const char* cell : {"127.000.000.001", " 127.0.0.1", "127.0.0.01", "$7F.0.0.1", "0x7F.0.0.1"}) {
    SCOPED_TRACE(cell);
    form->StringGrid1->setCell(4, 1, cell);
    scale.clearRequests();
    runDialog(Form2, 1, 2);
    EXPECT_EQ(dlg.take(), QStringList{kSent});
    EXPECT_EQ(sentPlus(), (std::vector<int>{1, 2}));
  }
}

// A price being typed into the grid when the load starts is the price sent.
TEST_F(LoadGoods, APriceBeingTypedIsThePriceSent) {
  startWithScale();
  newGoodsTable();
  addGoodsNumbered({1, 2});
  table().first();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  QTableView* grid = form->DBGrid1;
  int price = -1;
  for (int c = 0; c < grid->model()->columnCount(); ++c)
    if (grid->model()->headerData(c, Qt::Horizontal).toString() == QStringLiteral("PRICE")) price = c;
  ASSERT_GE(price, 0);
  const QModelIndex at = grid->model()->index(0, price);
  grid->setCurrentIndex(at);
  grid->edit(at);
  auto* editor = qobject_cast<QLineEdit*>(grid->indexWidget(at));
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, QStringLiteral("4321"));
  runDialog(Form2, 1, 2);
  EXPECT_EQ(dlg.take(), QStringList{kSent});
  const std::vector<std::string> sent = scale.requestsOf(0x82);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(wire::getLE(reinterpret_cast<const unsigned char*>(sent[0].data()) + 67, 4), 4321);
}

TEST_F(LoadGoods, NoTableOpenEndsAtOnceWithTheGoodsMessage) {
  startWithScale();
  for (bool tested : {true, false}) {
    form->CheckBox1->setChecked(tested);
    runDialog(Form2, 1, 10);
    EXPECT_EQ(dlg.take(), QStringList{QStringLiteral(
                              "Выберите имя базы данных, содержащей данные о товарах.")});
    runDialog(Form3, 1, 10);
    EXPECT_EQ(dlg.take(),
              QStringList{QStringLiteral("Выберите имя базы данных, содержащей сообщения.")});
  }
  EXPECT_EQ(scale.connectionCount(), 0);
  EXPECT_TRUE(progressHidden());
}

TEST_F(LoadGoods, FieldMapDecidesWhatIsReadAndAnUnreadablePluEndsTheRun) {
  startWithScale();
  newGoodsTable();
  Goods g;
  g.plu = 1;
  g.logotype = 1;
  g.rst = "AB12";
  addGoods(g);
  // A user's table without logo and certification fields: both default.
  form->StringGrid3->setCellText(2, 9, QStringLiteral("NOLOGO"));
  form->StringGrid3->setCellText(2, 10, QStringLiteral("NORST"));
  runDialog(Form2, 1, 1);
  EXPECT_EQ(dlg.take(), QStringList{kSent});
  ASSERT_EQ(scale.requestsOf(0x82).size(), 1u);
  EXPECT_EQ(scale.requestsOf(0x82)[0].substr(11 + 24, 4), "    ");

  // No readable PLU number: the send pass ends with its message, and the
  // test pass ends the same way before any connection.
  const QString unreadable = QStringLiteral(
      "Из таблицы невозможно получить данные о товаре. Проверьте, что это таблица данных о "
      "товаре или правильность ее заполнения.");
  form->StringGrid3->setCellText(2, 1, QStringLiteral("NOPLU"));
  const int connections = scale.connectionCount();
  runDialog(Form2, 1, 1);
  EXPECT_EQ(dlg.take(), QStringList{unreadable});
  EXPECT_EQ(scale.connectionCount(), connections);
  form->CheckBox1->setChecked(false);
  runDialog(Form2, 1, 1);
  EXPECT_EQ(dlg.take(), QStringList{unreadable});
  EXPECT_EQ(scale.requestsOf(0x82).size(), 1u);
  EXPECT_TRUE(progressHidden());
}

// A user's table that keeps the key as text: an empty key is no number, so
// the run ends with the unreadable-table message instead of sending cell 0.
TEST_F(LoadGoods, EmptyTextKeyIsUnreadableNotZero) {
  startWithScale();
  struct Case {
    RangeDialog* dialog;
    const char* key;
    const char* other;
    int command;
    const char* message;
  } cases[] = {
      {Form2, "PLUNO", "NAME1", 0x82,
       "Из таблицы невозможно получить данные о товаре. Проверьте, что это таблица данных о "
       "товаре или правильность ее заполнения."},
      {Form3, "MSGNO", "LINE1", 0x84,
       "Из таблицы невозможно получить данные сообщений. Проверьте, что это таблица сообщений "
       "или правильность ее заполнения."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    storage::Table& t = table();
    t.close();
    t.setTableName(path(c.key).toStdString());
    t.setTableType(storage::TableType::Paradox);
    t.fieldDefs().clear();
    t.fieldDefs().push_back({c.key, storage::FieldType::String, 6, false});
    t.fieldDefs().push_back({c.other, storage::FieldType::String, 28, false});
    t.indexDefs().clear();
    t.createTable();
    t.open();
    for (const char* key : {"1", "", "3"}) {
      t.append();
      t.fieldByName(c.key).setAsString(key);
      t.fieldByName(c.other).setAsString("x");
      t.post();
    }
    scale.clearRequests();
    form->CheckBox1->setChecked(false);
    runDialog(c.dialog, 0, 5);
    EXPECT_EQ(dlg.take(), QStringList{QString::fromUtf8(c.message)});
    EXPECT_EQ(requestedNumbers(c.command), std::vector<int>{1});
    EXPECT_TRUE(progressHidden());
  }
}

// A run that sends nothing says so and why, instead of the success text:
// an empty table, or a range that holds no record of the table.
TEST_F(LoadGoods, RangeWithoutRecordsSaysNothingWasSent) {
  startWithScale();
  newGoodsTable();
  runDialog(Form2, 1, 4000);
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral(
                            "Данные не переданы: в таблице не найдено товаров с номерами PLU от 1 до 4000.")});
  EXPECT_TRUE(form->TcpClient1.Connected());
  EXPECT_TRUE(scale.requests().empty());

  std::vector<int> plus;
  for (int p = 1; p <= 400; ++p) plus.push_back(p);
  addGoodsNumbered(plus);
  for (bool tested : {true, false}) {
    form->CheckBox1->setChecked(tested);
    runDialog(Form2, 4000, 9999);
    EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Данные не переданы: в таблице не найдено товаров с "
                                                     "номерами PLU от 4000 до 9999.")});
    EXPECT_TRUE(scale.requestsOf(0x82).empty());
    EXPECT_TRUE(progressHidden());
    EXPECT_EQ(table().recNo(), 1);
  }
  runDialog(Form2, 400, 9999);  // one record is enough for the success text
  EXPECT_EQ(dlg.take(), QStringList{kSent});
  EXPECT_EQ(sentPlus(), std::vector<int>{400});
}

TEST_F(LoadGoods, ShelfLifeThatDoesNotConvertEndsWithTheErrorBoxAndHiddenProgress) {
  startWithScale();
  newGoodsTable();
  addGoodsNumbered({1});
  Goods bad;
  bad.plu = 2;
  bad.life = "abc";
  addGoods(bad);
  form->CheckBox1->setChecked(false);
  runDialog(Form2, 1, 2);
  const QStringList shown = dlg.take();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_TRUE(shown[0].startsWith("ERROR: ")) << shown[0].toStdString();
  EXPECT_TRUE(progressHidden());
  EXPECT_EQ(sentPlus(), std::vector<int>{1});
  EXPECT_FALSE(form->ScaleBusy);

  form->CheckBox1->setChecked(true);  // the test pass refuses it first
  runDialog(Form2, 1, 2);
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Ошибка ввода срока годности")});
}

TEST_F(LoadGoods, NineHandshakeFailuresAreToleratedTheTenthEndsTheRun) {
  startWithScale();
  newGoodsTable();
  addGoodsNumbered(range(1, 10));
  // One failed handshake for each record, wherever it falls.
  for (int k = 0; k < 10; ++k)
    scale.inject(ScaleEmulator::kHandshake, {ScaleEmulator::Fault::WrongEcho, 1, 0, 0, 0, k ? 1 : 0});
  runDialog(Form2, 1, 10);
  EXPECT_EQ(sentPlus(), range(1, 9));
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral(
                            "Ошибка обмена. Повторите попытку еще раз или проверьте "
                            "работоспособность весов.")});
  EXPECT_EQ(scale.connectionCount(), 10);  // the first, then one per tolerated failure
  EXPECT_EQ(ping.calls.size(), 1u);         // reconnects without a new ping
  EXPECT_GE(clk.slept, 9 * 200);
  EXPECT_TRUE(progressHidden());

  // A new run counts afresh: nine failures on one record still let it through.
  scale.clearFaults();
  scale.clearRequests();
  scale.inject(ScaleEmulator::kHandshake, {ScaleEmulator::Fault::WrongEcho, 9});
  runDialog(Form2, 1, 2);
  EXPECT_EQ(sentPlus(), range(1, 2));
  EXPECT_EQ(dlg.take(), QStringList{kSent});
}

// The reconnect's bound lies a little beyond the time-out; at the largest
// time-out it must not wrap round to no wait at all.
TEST_F(LoadGoods, ReconnectAtTheLargestTimeOut) {
  startWithScale();
  form->Edit32->setText(QStringLiteral("2147483647"));
  newGoodsTable();
  addGoodsNumbered(range(1, 3));
  scale.inject(ScaleEmulator::kHandshake, {ScaleEmulator::Fault::WrongEcho, 1, 0, 0, 0, 1});
  runDialog(Form2, 1, 3);
  EXPECT_EQ(dlg.take(), QStringList{kSent});
  EXPECT_EQ(sentPlus(), range(1, 3));
}

TEST_F(LoadGoods, TenSilentHandshakesEndWithTheNoReplyMessage) {
  startWithScale(250);
  newGoodsTable();
  addGoodsNumbered(range(1, 3));
  scale.inject(ScaleEmulator::kHandshake, {ScaleEmulator::Fault::Silence, 10});
  runDialog(Form2, 1, 3);
  EXPECT_TRUE(sentPlus().empty());
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral(
                            "Ошибка обмена. Повторите попытку еще раз или перезагрузите программу.")});
}

TEST_F(LoadGoods, ReconnectRefusedEndsWithTheExclamationMessage) {
  startWithScale();
  newGoodsTable();
  addGoodsNumbered(range(1, 3));
  scale.inject(ScaleEmulator::kHandshake, {ScaleEmulator::Fault::WrongEcho, 1, 0, 0, 0, 1});
  // Once the run has connected, the scale stops taking new connections.
  clk.onTurn = [&](int) {
    if (scale.connectionCount() >= 1) scale.refuseConnections(true);
  };
  runDialog(Form2, 1, 3);
  EXPECT_EQ(sentPlus(), std::vector<int>{1});
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral(
                            "Ошибка обмена! Повторите попытку еще раз или перезагрузите программу.")});
}

TEST_F(LoadGoods, ScaleThatStopsAnsweringMidRunKeepsTheRecordsBefore) {
  startWithScale(250);
  newGoodsTable();
  addGoodsNumbered(range(1, 6));
  scale.inject(0x82, {ScaleEmulator::Fault::Silence, -1, 0, 0, 0, 3});
  runDialog(Form2, 1, 6);
  EXPECT_EQ(sentPlus(), range(1, 4));  // the fourth went out and was never acknowledged
  EXPECT_EQ(dlg.take(), QStringList{kSendFailed});
  EXPECT_EQ(table().recNo(), 3);  // on the last record sent
  EXPECT_TRUE(progressHidden());
  EXPECT_TRUE(scale.plu(3).has_value());
}

TEST_F(LoadGoods, StopDuringEitherPass) {
  startWithScale();
  form->show();
  newGoodsTable();
  addGoodsNumbered(range(1, 8));
  // Send pass: Stop after the third record went out; seen at the next record.
  form->CheckBox1->setChecked(false);
  clk.onTurn = [&](int) {
    if (sentPlus().size() == 3) form->Button3->click();
  };
  int shownOn = 0;
  dlg.onMessage = [&](const QString&) { shownOn = table().recNo(); };
  runDialog(Form2, 1, 8);
  dlg.onMessage = nullptr;
  EXPECT_EQ(sentPlus(), range(1, 3));
  EXPECT_EQ(dlg.take(), QStringList{kStopped});
  EXPECT_TRUE(progressHidden());
  EXPECT_EQ(shownOn, 3);  // the box is up over the last record sent
  EXPECT_EQ(form->focusWidget(), form->DBGrid1);

  // Stop pressed just before a handshake that is retried: the retries do
  // not look at it, the record goes out and the run stops at the next one.
  scale.clearRequests();
  scale.inject(ScaleEmulator::kHandshake, {ScaleEmulator::Fault::WrongEcho, 3});
  clk.onTurn = [&](int) {
    if (form->Numb->text() == QStringLiteral("1")) form->Button3->click();
  };
  runDialog(Form2, 1, 8);
  EXPECT_EQ(sentPlus(), std::vector<int>{1});
  EXPECT_EQ(scale.requestsOf(ScaleEmulator::kHandshake).size(), 4u);
  EXPECT_EQ(dlg.take(), QStringList{kStopped});

  // Test pass: Stop at once; the scale is never contacted.
  scale.clearRequests();
  const int connections = scale.connectionCount();
  form->CheckBox1->setChecked(true);
  clk.onTurn = [&](int) { form->Button3->click(); };
  runDialog(Form2, 1, 8);
  EXPECT_EQ(dlg.take(), QStringList{kStopped});
  EXPECT_EQ(scale.connectionCount(), connections);
  EXPECT_TRUE(progressHidden());
}

TEST_F(LoadGoods, ProgressShowsThePluNumberBeingSent) {
  startWithScale();
  newGoodsTable();
  addGoodsNumbered({40, 41, 42});
  form->CheckBox1->setChecked(false);
  QStringList numbers;
  bool visible = true;
  clk.onTurn = [&](int) {
    if (form->Numb->isHidden()) return;  // opening the link
    visible = visible && !form->ProgressBar3->isHidden() && !form->Button3->isHidden();
    if (numbers.isEmpty() || numbers.back() != form->Numb->text()) numbers << form->Numb->text();
  };
  runDialog(Form2, 40, 42);
  EXPECT_TRUE(visible);
  EXPECT_EQ(numbers, (QStringList{"0", "40", "41", "42"}));
  EXPECT_EQ(form->ProgressBar3->maximum(), 3);
}

// During a load the entries that it would refuse show disabled and Stop stays
// usable; at its end they are enabled again.
TEST_F(LoadGoods, RefusedEntriesAreDisabledForTheLengthOfTheRun) {
  startWithScale();
  newGoodsTable();
  addGoodsNumbered({1, 2});
  const char* refused[] = {"ToolButton10", "ToolButton11", "ToolButton8", "ToolButton1",
                           "ToolButton2"};
  int turns = 0;
  bool disabledMeanwhile = true;
  clk.onTurn = [&](int) {
    ++turns;
    for (const char* name : refused) disabledMeanwhile &= !find<QToolButton>(name)->isEnabled();
    disabledMeanwhile &= !form->N9->isEnabled() && !form->PLU2->isEnabled();
    disabledMeanwhile &= !Form2->Button1->isEnabled() && !Form4->Button1->isEnabled();
    disabledMeanwhile &= form->Button3->isEnabled() && !form->N10->isEnabled();
  };
  runDialog(Form2, 1, 2);
  ASSERT_GT(turns, 0);
  EXPECT_TRUE(disabledMeanwhile);
  for (const char* name : refused) EXPECT_TRUE(find<QToolButton>(name)->isEnabled()) << name;
  EXPECT_TRUE(form->N9->isEnabled() && form->N10->isEnabled());
  EXPECT_TRUE(Form2->Button1->isEnabled());
}

TEST_F(LoadGoods, AnotherScaleOperationIsRefusedWhileALoadRunsAndStopStaysUsable) {
  startWithScale();
  newGoodsTable();
  addGoodsNumbered(range(1, 5));
  form->CheckBox1->setChecked(false);
  clk.onTurn = [&](int) {
    if (sentPlus().size() != 2) return;
    runDialog(Form4, 1, 3);  // a read started from its dialog: refused
    runDialog(Form2, 1, 5);  // a second load: refused
    form->N12->trigger();    // a new table for a read: refused, no file dialog
    form->Button3->click();
  };
  runDialog(Form2, 1, 5);
  EXPECT_EQ(dlg.take(), QStringList{kStopped});
  EXPECT_TRUE(scale.requestsOf(0x81).empty());
  EXPECT_EQ(sentPlus(), range(1, 2));
  EXPECT_EQ(scale.connectionCount(), 1);
  EXPECT_FALSE(form->ScaleBusy);
}

TEST_F(LoadMessages, SkipsEmptyRecordsAndSendsBlankLines) {
  startWithScale();
  newMessagesTable();
  for (int m = 1; m <= 12; ++m) {
    if (m == 4)
      addMessage(m, {});
    else if (m == 6)
      addMessage(m, {"   "});  // blanks are not empty
    else
      addMessage(m, {"", ansi::A(QStringLiteral("Строка ")) + std::to_string(m)});
  }
  for (bool tested : {true, false}) {
    scale.clearRequests();
    form->CheckBox1->setChecked(tested);
    runDialog(Form3, 1, 10);
    EXPECT_EQ(requestedNumbers(0x84), (std::vector<int>{1, 2, 3, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(dlg.take(), QStringList{kSent});
    EXPECT_EQ(table().recNo(), 10);
  }
  const std::string first = scale.requestsOf(0x84)[0];
  ASSERT_EQ(first.size(), 403u);
  EXPECT_EQ(first.substr(1, 2), std::string("\x01\x00", 2));
  EXPECT_EQ(first.substr(3, 50), std::string(50, ' '));
  EXPECT_EQ(first.substr(53, 50), "\x91\xE2\xE0\xAE\xAA\xA0 1" + std::string(42, ' '));
}

TEST_F(LoadMessages, NumbersOutsideOneToThousandStopTheTestPass) {
  startWithScale();
  newMessagesTable();
  addMessage(0, {"zero"});
  addMessage(1001, {"big"});
  form->CheckBox1->setChecked(true);
  const QString refusal =
      QStringLiteral("Ошибка ввода номера сообщения. В данном случае это число от 1 до 1000.");
  runDialog(Form3, 0, 5);
  EXPECT_EQ(dlg.take(), QStringList{refusal});
  EXPECT_EQ(scale.connectionCount(), 0);
  runDialog(Form3, 1, 2000);
  EXPECT_EQ(dlg.take(), QStringList{refusal});
  EXPECT_EQ(table().recNo(), 2);
  form->CheckBox1->setChecked(false);
  runDialog(Form3, 0, 5);
  EXPECT_EQ(dlg.take(), QStringList{kSent});
  EXPECT_EQ(requestedNumbers(0x84), std::vector<int>{0});
}

TEST_F(LoadMessages, GoodsTableOpenSendsNothing) {
  startWithScale();
  newGoodsTable();
  Goods g;
  g.msgno = 5;  // read as the message number, in the range; no lines to send
  addGoods(g);
  runDialog(Form3, 1, 10);
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral(
                            "Данные не переданы: все сообщения с номерами от 1 до 10 пусты (нет ни одной "
                            "строки текста). Проверьте, что открыта таблица сообщений.")});
  EXPECT_TRUE(scale.requestsOf(0x84).empty());
  runDialog(Form3, 6, 10);
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral(
                            "Данные не переданы: в таблице не найдено сообщений с номерами от 6 до 10.")});
}

TEST_F(LoadMessages, RetryAndStop) {
  startWithScale();
  newMessagesTable();
  for (int m = 1; m <= 5; ++m) addMessage(m, {"x"});
  scale.inject(ScaleEmulator::kHandshake, {ScaleEmulator::Fault::WrongAnswerCode, 9});
  clk.onTurn = [&](int) {
    if (requestedNumbers(0x84).size() == 2) form->Button3->click();
  };
  runDialog(Form3, 1, 5);
  EXPECT_EQ(requestedNumbers(0x84), (std::vector<int>{1, 2}));
  EXPECT_EQ(scale.connectionCount(), 10);
  EXPECT_EQ(dlg.take(), QStringList{kStopped});
  EXPECT_EQ(table().recNo(), 2);
  EXPECT_TRUE(progressHidden());
}

}  // namespace
