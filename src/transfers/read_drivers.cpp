// The read drivers: a range of PLU cells or messages of the scale chosen on
// the goods page, appended to the open table.
#include <QComboBox>
#include <cstdint>
#include <functional>
#include <string>

#include "link/scale_link.h"
#include "platform/clock.h"
#include "shell/tform1.h"
#include "storage/table.h"
#include "transfers/transfer_run.h"

using namespace transfers;

namespace {

const char* const kStopped = "Действие прервано";

enum class Fetch { Record, Empty, NoReply };

// Walks the cells low .. high: handshake, fetch, append. Every end hides the
// progress controls; a database error while appending ends the run through
// the default error box, keeping the records posted before.
//
// A fetched record is stored during the next handshake's pause, while the
// scale makes its answer ready, and the window is drawn in the pauses: the
// thread waits anyway then. Whatever ends the run stores the record fetched
// last before it says so.
void readRange(TForm1& f, int low, int high, const std::function<Fetch(int n, int timeOut)>& fetch,
               const std::function<void()>& append) {
  int row = -1, timeOut = 0;
  if (!f.OpenScaleLink(f.ComboBox2->currentText(), QStringLiteral("Для записи данных"), row,
                       timeOut))
    return;
  TableWalk walk(f);  // the operator neither moves nor edits the table records are added to
  Progress progress(f);
  clock_::PaintInPauses painting(&f);
  auto store = [&] {
    storage::Table& t = table(f);
    try {
      append();
    } catch (...) {
      // The half-filled record is dropped, not stored by a later move.
      try {
        if (t.state() == storage::State::Insert) t.cancel();
      } catch (...) {
      }
      throw;
    }
  };
  // The run's end: the record fetched last is stored, then the message.
  auto end = [&](const char* text) {
    clock_::doPauseWork();
    say(text);
  };
  try {
    f.TransferCancelled = 0;
    progress.showSpan(low, high);
    clock_::processEvents();
    for (long long n = low; n <= high; ++n) {
      progress.step(n - low);
      progress.number(n);
      clock_::processEvents();
      if (f.TransferCancelled == 1) return end(kStopped);
      switch (f.ScaleSelectHandshake(row, timeOut, 50)) {
        case TForm1::HandshakeResult::Accepted: break;
        case TForm1::HandshakeResult::NoData:
          return end("Ошибка обмена 3. Повторите попытку еще раз или перезагрузите программу.");
        case TForm1::HandshakeResult::WrongReply:
          return end(
              "Ошибка обмена 2. Повторите попытку еще раз или проверьте работоспособность весов.");
      }
      // A record still waiting (no pause came) is stored before the next
      // fetch fills its values anew.
      clock_::doPauseWork();
      switch (fetch(int(n), timeOut)) {
        case Fetch::Record: clock_::duringNextPause(store); break;
        case Fetch::Empty: break;
        case Fetch::NoReply:
          return end(
              "Ошибка обмена 1. Повторите попытку еще раз или проверьте работоспособность весов.");
      }
      clock_::processEvents();
    }
    clock_::doPauseWork();
  } catch (...) {
    // Whatever broke the run, the record fetched before it is stored; its
    // own failure, if it fails too, gives way to the first error.
    try {
      clock_::doPauseWork();
    } catch (...) {
    }
    throw;
  }
  say("Данные приняты");
  if (table(f).active()) table(f).first();
}

storage::Field& field(TForm1& f, const char* logical) {
  return table(f).fieldByName(f.Ass(logical));
}

// An unsigned 32-bit counter of the scale: through the integer setter while
// it fits one, else as its full decimal text (never as a negative number).
void setUnsigned(storage::Field& field, uint32_t value) {
  if (value <= uint32_t(INT32_MAX))
    field.setAsInteger(int(value));
  else
    field.setAsString(std::to_string(value));
}

}  // namespace

void TForm1::GetPluRange(int low, int high) {
  scalelink::BusyGuard busy(*this);  // another scale operation runs: refused
  if (busy.refused() || !commitGridEdit()) return;
  int plu = 0, price = 0, tare = 0, icode = 0, gcode = 0, msgno = 0, logotype = 0, counter = 0;
  uint32_t summ = 0, weight = 0;
  std::string name1, name2, life, rst, date, time;
  auto fetch = [&](int n, int timeOut) {
    plu = n;
    if (GetPlu(plu, name1, name2, price, life, tare, icode, gcode, msgno, logotype, rst, date, time,
               summ, weight, counter, timeOut))
      return Fetch::Record;
    return price == -1 ? Fetch::Empty : Fetch::NoReply;
  };
  auto append = [&] {
    storage::Table& t = table(*this);
    t.insert();
    field(*this, "PLUNO").setAsInteger(plu);
    field(*this, "NAME1").setAsString(name1);
    field(*this, "NAME2").setAsString(name2);
    field(*this, "PRICE").setAsInteger(price);
    field(*this, "LIFE").setAsString(life);
    field(*this, "TARE").setAsInteger(tare);
    field(*this, "ICODE").setAsInteger(icode);
    field(*this, "GCODE").setAsInteger(gcode);
    field(*this, "MSGNO").setAsInteger(msgno);
    field(*this, "LOGOTYPE").setAsInteger(logotype);
    field(*this, "RST").setAsString(rst);
    field(*this, "START").setAsString(date + " " + time);
    field(*this, "COUNTER").setAsInteger(counter);
    setUnsigned(field(*this, "SUMM"), summ);
    setUnsigned(field(*this, "WEIGHT"), weight);
    t.post();
    t.last();
  };
  readRange(*this, low, high, fetch, append);
}

void TForm1::GetMsgRange(int low, int high) {
  scalelink::BusyGuard busy(*this);  // another scale operation runs: refused
  if (busy.refused() || !commitGridEdit()) return;
  int msgno = 0, requested = 0;
  std::string line[8];
  auto fetch = [&](int n, int timeOut) {
    msgno = requested = n;
    if (GetMsg(msgno, line[0], line[1], line[2], line[3], line[4], line[5], line[6], line[7],
               timeOut))
      return Fetch::Record;
    return msgno == -1 ? Fetch::Empty : Fetch::NoReply;
  };
  auto append = [&] {
    storage::Table& t = table(*this);
    t.insert();
    field(*this, "MSGNO").setAsInteger(requested);
    for (int k = 0; k < 8; ++k) field(*this, kLineFields[k]).setAsString(line[k]);
    t.post();
    t.last();
  };
  readRange(*this, low, high, fetch, append);
}
