// Record by record work on the open base without a scale: the record check,
// the base check with its Stop, the logo choice and the two renumberings.
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <optional>

#include "platform/ansi.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/guard.h"
#include "platform/intconv.h"
#include "link/scale_link.h"
#include "shell/progress_bar.h"
#include "shell/tform1.h"

namespace {

const char* const kNoTableName = "Откройте базу товаров или сообщений. Имя текущей базы не определено.";

// Every message of the base check and the renumberings is shown in an
// information box.
void inform(const QString& text) { dialogs::current().message(text, dialogs::Kind::Information); }

bool isDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// A shelf-life date as the scale takes it: day.month.year, one or two digits
// for the day and the month, two for the year, a real calendar date.
bool isLifeDate(const std::string& text) {
  const size_t p1 = text.find('.');
  if (p1 == std::string::npos) return false;
  const size_t p2 = text.find('.', p1 + 1);
  if (p2 == std::string::npos) return false;
  const std::string d = text.substr(0, p1), m = text.substr(p1 + 1, p2 - p1 - 1),
                    y = text.substr(p2 + 1);
  if (!isDigits(d) || !isDigits(m) || !isDigits(y)) return false;
  if (d.size() > 2 || m.size() > 2 || y.size() != 2) return false;
  return QDate::isValid(2000 + std::stoi(y), std::stoi(m), std::stoi(d));
}

}  // namespace

int TForm1::TestRow(int plu, int price, const std::string& life, int tare, int icode, int gcode,
                    int msgno, int logotype) const {
  if (plu < 1 || plu > 4000) return 1;
  if (price < 0 || price > 999999) return 2;
  if (life.size() < 4) {
    const auto days = intconv::tryParse(life);
    if (!days || *days < 0 || *days > 999) return 3;
  } else if (!isLifeDate(life)) {
    return 3;
  }
  if (tare < 0 || tare > 5990) return 4;
  if (icode < 0 || icode > 999999) return 5;
  if (gcode < 0 || gcode > 999999) return 6;
  if (msgno < 0 || msgno > 1000) return 7;
  if (logotype < 0 || logotype > 2) return 8;
  return 0;
}

QString TForm1::testRowMessage(int code) {
  switch (code) {
    case 1: return QStringLiteral("Ошибка ввода номера PLU");
    case 2: return QStringLiteral("Ошибка ввода цены");
    case 3: return QStringLiteral("Ошибка ввода срока годности");
    case 4: return QStringLiteral("Ошибка ввода веса тары");
    case 5: return QStringLiteral("Ошибка ввода кода товара");
    case 6: return QStringLiteral("Ошибка ввода группового кода");
    case 7: return QStringLiteral("Ошибка ввода номера сообщения");
    case 8: return QStringLiteral("Ошибка ввода значения логотипа");
    default: return {};
  }
}

namespace {

// A field of the current record through the field map; the fallback when the
// table lacks the field or its value does not read.
int readInt(TForm1& f, const char* logical, int fallback) {
  try {
    if (storage::Field* fld = f.Table1.findField(f.Ass(logical))) return fld->asInteger();
  } catch (...) {
  }
  return fallback;
}

std::string readText(TForm1& f, const char* logical, const std::string& fallback) {
  try {
    if (storage::Field* fld = f.Table1.findField(f.Ass(logical))) return fld->asString();
  } catch (...) {
  }
  return fallback;
}

}  // namespace

void TForm1::ToolButton8Click() {
  guarded([this] {
    // While a transfer or another loop over the table runs, a check would
    // move its record and take its Stop away: refused.
    scalelink::BusyGuard busy(*this);
    if (busy.refused() || !commitGridEdit()) return;
    if (Table1.tableName().empty()) {
      inform(QString::fromUtf8(kNoTableName));
      return;
    }
    auto hideProgress = [this] {
      ProgressBar3->hide();
      Numb->hide();
      Button3->hide();
    };
    TableWalk walk(*this);
    Table1.first();
    Numb->show();
    ProgressBar3->show();
    setProgressMaximum(ProgressBar3, Table1.recordCount());
    ProgressBar3->setValue(0);
    TransferCancelled = 0;
    Button3->show();
    clock_::processEvents();
    try {
      const int n = Table1.recordCount();
      for (int i = 1; i <= n; ++i) {
        ProgressBar3->setValue(i);
        Numb->setText(QString::number(i));
        if (TransferCancelled == 1) {
          inform(QStringLiteral("Действие прервано"));
          hideProgress();
          return;
        }
        clock_::processEvents();
        const int code = TestRow(readInt(*this, "PLUNO", 1), readInt(*this, "PRICE", 0),
                                 readText(*this, "LIFE", "0"), readInt(*this, "TARE", 0),
                                 readInt(*this, "ICODE", 0), readInt(*this, "GCODE", 0),
                                 readInt(*this, "MSGNO", 0), readInt(*this, "LOGOTYPE", 0));
        if (code != 0) {
          inform(testRowMessage(code));
          hideProgress();
          return;  // the failing record stays current
        }
        Table1.next();
      }
    } catch (...) {
      hideProgress();
      throw;
    }
    inform(QStringLiteral("Таблица заполнена правильно."));
    hideProgress();
    Table1.first();
  });
}

void TForm1::ComboBox1Change() {
  guarded([this] {
    if (TableWalking) return;  // the walk's record is not the operator's choice
    // A typed text selects no item: it names no logo number and writes nothing.
    const int logo = ComboBox1->currentIndex();
    if (logo < 0) return;
    // No table, or one without a logo field (messages): nothing to write.
    storage::Field* field = Table1.active() ? Table1.findField(Ass("LOGOTYPE")) : nullptr;
    if (!field) return;
    // A record the operator is still editing keeps what was typed in it when
    // it cannot be stored: only the logo number is put back.
    const bool typed = (Table1.state() == storage::State::Edit || Table1.state() == storage::State::Insert) &&
                       Table1.modified();
    std::optional<std::string> before;
    try {
      Table1.edit();
      before = field->asString();
      field->setAsInteger(logo);
      Table1.post();
    } catch (...) {
      try {
        if (!typed) Table1.cancel();
        else if (before) field->setAsString(*before);
      } catch (...) {
      }
      // The list shows again what the record holds; the guard shows why.
      int held = -1;
      QString text;
      try {
        text = ansi::U(field->asString());
        held = field->asInteger();
      } catch (...) {
      }
      ComboBox1->setCurrentIndex(held >= 0 && held <= 2 ? held : -1);
      if (ComboBox1->currentIndex() < 0) ComboBox1->setEditText(text);
      throw;
    }
  });
}

namespace {

// Numbers the field mapped from `logical` 1, 2, 3 ... in the current order.
// The records are taken in the order they had when the numbering started: in
// an order by the numbered field itself a renumbered record moves, and a walk
// by "next" would skip records and still report the table as numbered.
void renumber(TForm1& f, const char* logical, const QString& noField) {
  TableWalk walk(f);
  f.Table1.first();
  f.TransferCancelled = 0;
  f.Button3->show();
  try {
    const int n = f.Table1.recordCount();
    std::vector<storage::Bookmark> order;
    order.reserve(static_cast<size_t>(n));
    for (int i = 1; i <= n; ++i) {
      order.push_back(f.Table1.getBookmark());
      f.Table1.next();
    }
    f.Table1.first();
    // One change of the files for the whole numbering: flushed once at the
    // end (or at Stop, or before the record that cannot be numbered).
    if (!f.Table1.readOnly()) f.Table1.beginBatch();
    for (int i = 1; i <= n; ++i) {
      clock_::processEvents();
      if (f.TransferCancelled == 1) {
        f.Table1.endBatch();
        inform(QStringLiteral("Действие прервано"));
        f.Button3->hide();
        return;
      }
      f.Table1.gotoBookmark(order[static_cast<size_t>(i - 1)]);
      try {
        f.Table1.edit();
        f.Table1.fieldByName(f.Ass(logical)).setAsInteger(i);
        f.Table1.post();
      } catch (...) {
        try {
          if (f.Table1.active()) f.Table1.cancel();  // the failing record keeps its value
          f.Table1.endBatch();
        } catch (...) {
        }
        inform(noField);
        f.Button3->hide();
        return;
      }
    }
    f.Table1.endBatch();
  } catch (...) {
    f.Button3->hide();
    try {
      f.Table1.endBatch();  // what was numbered stays numbered
    } catch (...) {
    }
    throw;
  }
  inform(QStringLiteral("Таблица пронумерована."));
  f.Button3->hide();
  f.Table1.refresh();
  f.Table1.first();
}

}  // namespace

namespace {

// The guard and the question of both renumberings: true to go on.
bool renumberingConfirmed(const TForm1& f, const QString& question) {
  if (f.Table1.tableName().empty()) {
    inform(QString::fromUtf8(kNoTableName));
    return false;
  }
  return dialogs::current().question(question) == dialogs::Answer::Yes;
}

}  // namespace

void TForm1::PLU2Click() {
  guarded([this] {
    scalelink::BusyGuard busy(*this);  // another loop over the table runs: refused
    if (busy.refused() || !commitGridEdit()) return;
    if (!renumberingConfirmed(*this, QStringLiteral("ВНИМАНИЕ !\r\nНомера ячеек PLU будут изменены в "
                                                    "соответствии с номером строки таблицы.\r\nПродолжить ?")))
      return;
    renumber(*this, "PLUNO", QStringLiteral("Таблица не содержит номеров PLU."));
  });
}

void TForm1::MSG2Click() {
  guarded([this] {
    scalelink::BusyGuard busy(*this);  // another loop over the table runs: refused
    if (busy.refused() || !commitGridEdit()) return;
    if (!renumberingConfirmed(*this, QStringLiteral("ВНИМАНИЕ !\r\nНомера MSG будут изменены в "
                                                    "соответствии с номером строки таблицы.\r\nПродолжить ?")))
      return;
    // A goods table has a message-number field of its own: only a table
    // without a readable PLU number is renumbered by message.
    bool goods = false;
    try {
      if (storage::Field* plu = Table1.findField(Ass("PLUNO"))) {
        plu->asInteger();
        goods = true;
      }
    } catch (...) {
    }
    if (goods) {
      inform(QStringLiteral("Изменить по номеру MSG можно только таблицу MSG, а не таблицу товаров."));
      return;
    }
    renumber(*this, "MSGNO", QStringLiteral("Таблица не содержит номеров MSG."));
  });
}

void TForm1::Button3Click() { TransferCancelled = 1; }
