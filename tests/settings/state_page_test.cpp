// The page "Текущее состояние" against the emulated scale: the read of the
// state and the totals, the clearing of the totals, and their failures.
#include "settings_fixture.h"

namespace {

const QString kDone = QStringLiteral("Данные приняты.");
const QString kCleared = QStringLiteral(
    "Суммарный итог продаж по всем товарам обнулен. (Это не приводит к стиранию итогов по каждому товару "
    "отдельно.)");
const QString kQuestion =
    QStringLiteral("ВНИМАНИЕ !\r\nСуммарный итог продаж по всем товарам будет удален.\r\nПродолжить ?");

void le(std::string& out, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) out += char(uint8_t(v >> (8 * i)));
}

// The 15 bytes of the state after the status byte.
std::string stateBytes(int flags, int weight, uint32_t price, uint32_t amount, uint32_t plu) {
  std::string s(1, char(uint8_t(flags)));
  le(s, uint32_t(weight), 2);
  le(s, price, 4);
  le(s, amount, 4);
  le(s, plu, 4);
  return s;
}

struct Totals {
  uint32_t tape = 0, labels = 0, sum = 0, sales = 0, weight = 0;
  std::string clearTime = std::string(3, '\0');  // BCD seconds, minutes, hours
  std::string clearDate = std::string(3, '\0');  // BCD day, month, year
  uint32_t freePlu = 0, freeMsg = 0;
};

// The 40 bytes of the totals after the status byte.
std::string totalsBytes(const Totals& t) {
  std::string s;
  le(s, t.tape, 4);
  le(s, t.labels, 4);
  le(s, t.sum, 4);
  le(s, t.sales, 3);
  le(s, t.weight, 4);
  le(s, 0x01020304, 4);  // the three further values, never shown
  le(s, 0x050607, 3);
  le(s, 0x08090A0B, 4);
  s += t.clearTime + t.clearDate;
  le(s, t.freePlu, 2);
  le(s, t.freeMsg, 2);
  return s;
}

class StatePage : public SettingsTest {
 protected:
  // Which of the five flag labels are red; each is either red or grey.
  std::vector<bool> red() const {
    std::vector<bool> out;
    for (QLabel* l : {form->Label31, form->Label32, form->Label33, form->Label34, form->Label35}) {
      const QColor c = l->palette().color(QPalette::WindowText);
      EXPECT_TRUE(c == QColor(255, 0, 0) || c == QColor(128, 128, 128)) << c.name().toStdString();
      out.push_back(c == QColor(255, 0, 0));
    }
    return out;
  }
  QStringList stateTexts() const {
    return {form->Edit16->text(), form->Edit17->text(), form->Edit18->text(), form->Edit19->text()};
  }
  QStringList totalTexts() const {
    QStringList out;
    for (QLineEdit* e : {form->Edit23, form->Edit24, form->Edit27, form->Edit28, form->Edit29, form->Edit25,
                         form->Edit26, form->Edit21, form->Edit22})
      out << e->text();
    return out;
  }
};

TEST_F(StatePage, ReadsStateThenTotalsInTwoExchanges) {
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  EXPECT_EQ(red(), std::vector<bool>(5, false));  // grey at start
  scale.setState(stateBytes(0x41, 250, 1234, 3085, 17));
  Totals t;
  t.tape = 123456;
  t.labels = 321;
  t.sum = 250;
  t.sales = 70000;
  t.weight = 10000;
  t.clearTime = bytes({0x07, 0x05, 0x00});
  t.clearDate = bytes({0x05, 0x03, 0x26});
  t.freePlu = 3999;
  t.freeMsg = 1000;
  scale.setTotals(totalsBytes(t));

  form->Button11->click();
  EXPECT_EQ(dlg.take(), QStringList{kDone});
  EXPECT_EQ(commands(), exchanges({0x89, 0x85}));
  EXPECT_EQ(scale.requestsOf(ScaleEmulator::kHandshake), (std::vector<std::string>{"\x07", "\x07"}));
  EXPECT_EQ(scale.requestsOf(0x89), std::vector<std::string>{"\x89"});
  EXPECT_EQ(scale.requestsOf(0x85), std::vector<std::string>{"\x85"});
  // Ping, handshake, the pause between the commands, handshake.
  EXPECT_EQ(clk.pauses, (std::vector<int>{50, 50, 200, 50}));

  EXPECT_EQ(red(), (std::vector<bool>{true, false, false, false, true}));
  EXPECT_EQ(stateTexts(), (QStringList{"250", "1234", "3085", "17"}));
  EXPECT_EQ(totalTexts(), (QStringList{"123456", "321", "2,5", "70000", "10", "05.03.26", "00:05:07", "3999", "1000"}));
  EXPECT_TRUE(form->TcpClient1.Connected());  // left open for the next operation
}

TEST_F(StatePage, SignBitNegatesTheWeightAndEachFlagHasItsLabel) {
  scale.setState(stateBytes(0x6D, 5, 0, 0, 0));  // all five flags
  form->Button11->click();
  EXPECT_EQ(red(), std::vector<bool>(5, true));
  EXPECT_EQ(form->Edit16->text(), "5");

  scale.setState(stateBytes(0x80, 250, 0xFFFFFFFF, 0, 4000));
  form->Button11->click();
  EXPECT_EQ(red(), std::vector<bool>(5, false));
  EXPECT_EQ(stateTexts(), (QStringList{"-250", "-1", "0", "4000"}));

  for (int bit : {0x04, 0x08, 0x20}) {
    scale.setState(stateBytes(bit | 0x02 | 0x10, 1, 0, 0, 0));  // bits 1 and 4 mean nothing here
    form->Button11->click();
    std::vector<bool> want(5, false);
    want[bit == 0x04 ? 1 : bit == 0x08 ? 2 : 3] = true;
    EXPECT_EQ(red(), want) << bit;
  }
  EXPECT_EQ(dlg.take().count(kDone), 5);
}

TEST_F(StatePage, GrandTotalsFollowTheDesktopDecimalSeparator) {
  struct Case {
    uint32_t sum, weight;
    const char *comma, *dot, *kg;
  };
  const Case cases[] = {
      {5, 0, "0,05", "0.05", "0"},
      {250, 1500, "2,5", "2.5", "1,5"},
      {0, 10000, "0", "0", "10"},
      {100000, 1, "1000", "1000", "0,001"},
      {0xFFFFFFFF, 0xFFFFFFFF, "42949672,95", "42949672.95", "4294967,295"},  // unsigned, not negative
  };
  for (const Case& c : cases) {
    Totals t;
    t.sum = c.sum;
    t.weight = c.weight;
    scale.setTotals(totalsBytes(t));
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    form->Button11->click();
    EXPECT_EQ(form->Edit27->text(), QString::fromUtf8(c.comma));
    EXPECT_EQ(form->Edit29->text(), QString::fromUtf8(c.kg));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    form->Button11->click();
    EXPECT_EQ(form->Edit27->text(), QString::fromUtf8(c.dot));
    EXPECT_EQ(form->Edit29->text(), QString::fromUtf8(c.kg).replace(',', '.'));
  }
  EXPECT_EQ(dlg.take().count(kDone), 10);
}

TEST_F(StatePage, ClearingDateAndTimeAreFilledToSixDigits) {
  struct Case {
    std::string time, date;
    const char *timeText, *dateText;
  };
  const Case cases[] = {
      {bytes({0x15, 0x30, 0x09}), bytes({0x05, 0x03, 0x26}), "09:30:15", "05.03.26"},
      {bytes({0x59, 0x59, 0x23}), bytes({0x31, 0x12, 0x99}), "23:59:59", "31.12.99"},
      {bytes({0x00, 0x00, 0x00}), bytes({0x00, 0x03, 0x26}), "00:00:00", "00.03.26"},  // day 00
      {bytes({0x00, 0x00, 0x00}), bytes({0x00, 0x00, 0x00}), "00:00:00", "00.00.00"},
  };
  for (const Case& c : cases) {
    Totals t;
    t.clearTime = c.time;
    t.clearDate = c.date;
    scale.setTotals(totalsBytes(t));
    form->Button11->click();
    EXPECT_EQ(form->Edit26->text(), QString::fromLatin1(c.timeText));
    EXPECT_EQ(form->Edit25->text(), QString::fromLatin1(c.dateText));
  }
}

TEST_F(StatePage, ReadFailuresShowOneMessageAndKeepWhatWasShown) {
  expectOpeningFailures(form->Button11, form->ComboBox7, "Для чтения текущего состояния");

  scale.setState(stateBytes(0x41, 250, 1, 2, 3));
  form->Button11->click();
  EXPECT_EQ(dlg.take(), QStringList{kDone});
  const QStringList totals = totalTexts();

  // Each failure turns the flags grey and leaves the edits as they were.
  scale.setState(stateBytes(0x00, 999, 9, 9, 9));
  const std::pair<int, Fault> faults[] = {
      {ScaleEmulator::kHandshake, {Fault::Silence}},
      {ScaleEmulator::kHandshake, {Fault::WrongEcho}},
      {ScaleEmulator::kHandshake, {Fault::WrongAnswerCode}},
      {0x89, {Fault::Status, 1, 0xEE}},
      {0x89, {Fault::Silence}},
  };
  const QString want[] = {msg::kNoData, msg::kWrongReply, msg::kWrongReply, msg::kCommandFailed,
                          msg::kCommandFailed};
  for (std::size_t i = 0; i < std::size(faults); ++i) {
    scale.inject(faults[i].first, faults[i].second);
    form->Button11->click();
    EXPECT_EQ(dlg.take(), QStringList{want[i]}) << i;
    EXPECT_EQ(red(), std::vector<bool>(5, false)) << i;
    EXPECT_EQ(stateTexts(), (QStringList{"250", "1", "2", "3"})) << i;
  }

  // The totals fail after the state: the new state stays, the totals do not change.
  scale.setState(stateBytes(0x40, 7, 8, 9, 10));
  for (auto f : {std::pair<int, Fault>{ScaleEmulator::kHandshake, {Fault::Silence, 1, 0, 0, 0, 1}},
                 std::pair<int, Fault>{0x85, {Fault::Status, 1, 0x00}},
                 std::pair<int, Fault>{0x85, {Fault::Short, 1, 0, 20}}}) {
    scale.inject(f.first, f.second);
    form->Button11->click();
    EXPECT_NE(dlg.take().count(), 0);
    EXPECT_EQ(stateTexts(), (QStringList{"7", "8", "9", "10"}));
    EXPECT_EQ(red(), (std::vector<bool>{false, false, false, false, true}));
    EXPECT_EQ(totalTexts(), totals);
  }
  EXPECT_EQ(scale.requestsOf(0x85).size(), 3u);  // the first read and two of the three
}

TEST_F(StatePage, ClearingAsksFirstAndANoSendsNothing) {
  dlg.answers.push_back(dialogs::Answer::No);
  form->Button17->click();
  EXPECT_EQ(dlg.take(), QStringList{"?: " + kQuestion});
  EXPECT_TRUE(ping.calls.empty());
  EXPECT_EQ(scale.connectionCount(), 0);

  Totals t;
  t.sum = 5000;
  t.clearDate = bytes({0x01, 0x02, 0x03});
  scale.setTotals(totalsBytes(t));
  dlg.answers.push_back(dialogs::Answer::Yes);
  form->Button17->click();
  EXPECT_EQ(dlg.take(), (QStringList{"?: " + kQuestion, kCleared}));
  EXPECT_EQ(commands(), exchanges({0x86}));
  EXPECT_EQ(scale.requestsOf(0x86), std::vector<std::string>{"\x86"});
  EXPECT_EQ(scale.totalsClears(), 1);
  EXPECT_EQ(form->Edit27->text(), "");  // the page is not refreshed

  dlg.answers.push_back(dialogs::Answer::Yes);
  scale.inject(0x86, {Fault::EmptyCell});
  form->Button17->click();
  EXPECT_EQ(dlg.take(), (QStringList{"?: " + kQuestion, msg::kCommandFailed}));
  for (auto [f, want] : {std::pair{Fault::Silence, msg::kNoData}, std::pair{Fault::WrongEcho, msg::kWrongReply}}) {
    dlg.answers.push_back(dialogs::Answer::Yes);
    scale.inject(ScaleEmulator::kHandshake, {f});
    form->Button17->click();
    EXPECT_EQ(dlg.take(), (QStringList{"?: " + kQuestion, want}));
  }
  EXPECT_EQ(scale.requestsOf(0x86).size(), 2u);
}

TEST_F(StatePage, ClearingOpeningFailures) {
  expectOpeningFailures(form->Button17, form->ComboBox7, "Для обнуления общих итогов", kQuestion);
}

TEST_F(StatePage, RefusedWhileAnotherScaleOperationRuns) {
  form->ScaleBusy = true;
  form->Button11->click();
  form->Button17->click();
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_TRUE(ping.calls.empty());
  EXPECT_TRUE(form->ScaleBusy);  // still the running operation's
  form->ScaleBusy = false;

  // A click that the read's event-loop turns let through does nothing.
  clk.onTurn = [&] { form->Button17->click(); };
  form->Button11->click();
  clk.onTurn = nullptr;
  EXPECT_EQ(dlg.take(), QStringList{kDone});
  EXPECT_EQ(scale.totalsClears(), 0);
  EXPECT_FALSE(form->ScaleBusy);
}

}  // namespace
