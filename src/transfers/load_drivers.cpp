// The load drivers: goods records and messages of the open table, walked in
// its current order, into the scale chosen on the goods page.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTableView>
#include <climits>
#include <functional>

#include "link/scale_link.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "shell/tform1.h"
#include "storage/table.h"
#include "transfers/transfer_run.h"

using namespace transfers;

namespace {

const char* const kStopped = "Действие прервано";
const char* const kSent = "Данные переданы";
const char* const kSendFailed =
    "Ошибка обмена. Повторите попытку еще раз,проверьте работоспособность весов или правильность "
    "заполнения таблицы.";
const char* const kWords = "Для записи данных";

// One load run: the optional test pass and the send pass share their walk
// over every record of the table, whatever its order; a record is tested
// and sent when its number lies in the range. What is tested and sent per
// record is the caller's.
struct LoadRun {
  TForm1& f;
  int low, high;
  const char* keyField;    // PLUNO or MSGNO
  const char* unreadable;  // the message for a key that cannot be read
  // Tests the record of the range with this key; false after its message.
  std::function<bool(int key)> test;
  // Sends the record of the range with this key; false after its message.
  std::function<bool(int key)> send;

  int row = -1;
  int timeOut = 0;
  int failures = 0;
  int inRange = 0;  // records of the range visited by the send pass
  int sent = 0;     // records the scale accepted
  storage::Bookmark lastSent{};  // the last of them

  void run();
  // ScaleSelectHandshake with its retry rule; false after its message.
  bool handshake();
  // Ends the send pass with its message, the table on the last record sent.
  void fail(const char* text);
  // Moves the table to the last record sent (the first when none was).
  void endOnLastSent();
};

// However a run ends, the keys go to the grid again, on the record where the
// run left the table, rather than to whatever took the focus from the grid
// while it walked.
struct FocusGridAtEnd {
  TForm1& f;
  ~FocusGridAtEnd() {
    if (f.DBGrid1->isVisible() && f.DBGrid1->isEnabled()) f.DBGrid1->setFocus(Qt::OtherFocusReason);
  }
};

void LoadRun::run() {
  storage::Table& t = table(f);
  const FocusGridAtEnd focus{f};  // once the walk below has given the grid back
  TableWalk walk(f);  // from the first record of the test pass to the end
  Progress progress(f);
  // The window is drawn while a record's handshake waits out its pause, and
  // during the test pass, which has none, at most once in
  // PaintInPauses::kLatestMs: not once a record.
  clock_::PaintInPauses painting(&f);

  if (f.CheckBox1->isChecked()) {
    t.first();
    const int count = t.recordCount();
    progress.show(count);
    f.TransferCancelled = 0;
    clock_::processEvents();
    for (int i = 1; i <= count; ++i) {
      progress.number(i);
      progress.step(i);
      if (f.TransferCancelled == 1) return say(kStopped);
      clock_::processEvents();
      const std::optional<int> key = readInt(f, keyField);
      // A key that cannot be read stops the run before anything is sent,
      // with the message the send pass gives for it.
      if (!key) return say(unreadable);
      if (*key >= low && *key <= high && !test(*key)) return;
      t.next();
    }
  }
  progress.hide();
  t.first();

  if (!f.OpenScaleLink(f.ComboBox2->currentText(), QString::fromUtf8(kWords), row, timeOut)) return;

  failures = 0;
  f.TransferCancelled = 0;
  const int count = t.recordCount();
  progress.show(count);
  clock_::processEvents();
  try {
    for (int i = 1; i <= count; ++i) {
      progress.step(i);
      clock_::processEvents();
      if (f.TransferCancelled == 1) return fail(kStopped);
      const std::optional<int> key = readInt(f, keyField);
      // The table stays on the record whose key cannot be read.
      if (!key) return say(unreadable);
      if (*key >= low && *key <= high) {
        ++inRange;
        const int before = sent;
        if (!send(*key)) return;
        if (sent > before) lastSent = t.getBookmark();
      }
      t.next();
      clock_::processEvents();
    }
  } catch (...) {
    endOnLastSent();  // a record that cannot be converted, shown by the caller's guard
    throw;
  }
  // The walk goes on to the table's last record.
  endOnLastSent();
  if (sent > 0) return say(kSent);
  // Nothing went to the scale: that is said, not passed off as a transfer.
  const QString range = QString::number(low) + QStringLiteral(" до ") + QString::number(high);
  if (inRange == 0)
    dialogs::message((std::string(keyField) == "PLUNO"
                          ? QStringLiteral("Данные не переданы: в таблице не найдено товаров с номерами PLU от ")
                          : QStringLiteral("Данные не переданы: в таблице не найдено сообщений с номерами от ")) +
                     range + QStringLiteral("."));
  else
    dialogs::message(QStringLiteral("Данные не переданы: все сообщения с номерами от ") + range +
                     QStringLiteral(" пусты (нет ни одной строки текста). Проверьте, что открыта таблица "
                                    "сообщений."));
}

void LoadRun::endOnLastSent() {
  // The last record sent is where the operator looks next, whether the run
  // ended or was stopped; the records after it were not sent.
  storage::Table& t = table(f);
  try {
    if (lastSent.valid()) t.gotoBookmark(lastSent);
    else t.first();
  } catch (const storage::DbError&) {
    // That record is gone: the table stays where the walk ended.
  }
}

void LoadRun::fail(const char* text) {
  endOnLastSent();
  say(text);
}

bool LoadRun::handshake() {
  for (;;) {
    const auto outcome = f.ScaleSelectHandshake(row, timeOut, 20);
    if (outcome == TForm1::HandshakeResult::Accepted) return true;
    if (++failures >= 10) {
      fail(outcome == TForm1::HandshakeResult::NoData
              ? "Ошибка обмена. Повторите попытку еще раз или перезагрузите программу."
              : "Ошибка обмена. Повторите попытку еще раз или проверьте работоспособность весов.");
      return false;
    }
    // Reconnect to the same address and port, without a new ping.
    clock_::sleep(200);
    f.TcpClient1.Close();
    // Bounded a little beyond the time-out, without overflowing at the
    // largest one.
    const int connectMs = timeOut > INT_MAX - 2000 ? INT_MAX : timeOut + 2000;
    if (!f.TcpClient1.Active()) f.TcpClient1.Open(connectMs);
    if (!f.TcpClient1.Connected()) {
      fail("Ошибка обмена! Повторите попытку еще раз или перезагрузите программу.");
      return false;
    }
  }
}

// Blanks appended to a text shorter than need until it holds need + 1
// characters; a text of need characters or more stays as it is.
std::string filled(std::string s, std::size_t need) {
  if (s.size() < need) s.resize(need + 1, ' ');
  return s;
}

// The goods fields after PLUNO that the record check takes, each with its
// default when the table lacks it or its value does not convert.
struct TestedFields {
  int price;
  std::string life;
  int tare, icode, gcode, msgno, logotype;
};

TestedFields readTested(TForm1& f) {
  auto intOr = [&f](const char* name) { return readInt(f, name).value_or(0); };
  TestedFields g{};
  g.price = intOr("PRICE");
  g.life = readText(f, "LIFE").value_or("0");
  g.tare = intOr("TARE");
  g.icode = intOr("ICODE");
  g.gcode = intOr("GCODE");
  g.msgno = intOr("MSGNO");
  g.logotype = intOr("LOGOTYPE");
  return g;
}

bool hasOpenTable(TForm1& f) {
  const storage::Table& t = table(f);
  return !t.tableName().empty() && t.active();
}

}  // namespace

void TForm1::LoadPluRange(int low, int high) {
  scalelink::BusyGuard busy(*this);  // another scale operation runs: refused
  if (busy.refused() || !commitGridEdit()) return;
  if (!hasOpenTable(*this)) return say("Выберите имя базы данных, содержащей данные о товарах.");
  LoadRun run{*this, low, high, "PLUNO",
              "Из таблицы невозможно получить данные о товаре. Проверьте, что это таблица данных о "
              "товаре или правильность ее заполнения.",
              {}, {}};
  run.test = [&](int plu) {
    const TestedFields g = readTested(*this);
    const int code = TestRow(plu, g.price, g.life, g.tare, g.icode, g.gcode, g.msgno, g.logotype);
    if (code < 1 || code > 8) return true;
    dialogs::message(testRowMessage(code));
    return false;
  };
  run.send = [&](int plu) {
    const TestedFields g = readTested(*this);
    const std::string name1 = filled(readText(*this, "NAME1").value_or(""), 28);
    const std::string name2 = filled(readText(*this, "NAME2").value_or(""), 28);
    const std::string rst = filled(readText(*this, "RST").value_or(""), 4);
    Numb->setText(QString::number(plu));
    clock_::processEvents();
    if (!run.handshake()) return false;
    if (SendPlu(plu, name1, name2, g.price, g.life, g.tare, g.icode, g.gcode, g.logotype, rst,
                g.msgno, run.timeOut)) {
      ++run.sent;
      return true;
    }
    run.fail(kSendFailed);
    return false;
  };
  run.run();
}

void TForm1::LoadMsgRange(int low, int high) {
  scalelink::BusyGuard busy(*this);  // another scale operation runs: refused
  if (busy.refused() || !commitGridEdit()) return;
  if (!hasOpenTable(*this)) return say("Выберите имя базы данных, содержащей сообщения.");
  LoadRun run{*this, low, high, "MSGNO",
              "Из таблицы невозможно получить данные сообщений. Проверьте, что это таблица "
              "сообщений или правильность ее заполнения.",
              {}, {}};
  run.test = [](int msgno) {
    if (msgno >= 1 && msgno <= 1000) return true;
    say("Ошибка ввода номера сообщения. В данном случае это число от 1 до 1000.");
    return false;
  };
  run.send = [&](int msgno) {
    std::string line[8];
    bool empty = true;
    for (int k = 0; k < 8; ++k) {
      line[k] = readText(*this, kLineFields[k]).value_or("");
      empty = empty && line[k].empty();
    }
    Numb->setText(QString::number(msgno));
    clock_::processEvents();
    if (empty) return true;
    if (!run.handshake()) return false;
    if (SendMsg(msgno, line[0], line[1], line[2], line[3], line[4], line[5], line[6], line[7],
                run.timeOut)) {
      ++run.sent;
      return true;
    }
    run.fail(kSendFailed);
    return false;
  };
  run.run();
}
