// The goods and messages bases on the goods page: the two table layouts and
// their creation, opening an existing table, saving, renaming, the grid font
// and the six sort entries.
#include <QComboBox>
#include <QFileInfo>
#include <QTableView>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>

#include "bases/field_labels.h"
#include "platform/ansi.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/guard.h"
#include "shell/string_grid.h"
#include "shell/tform1.h"
#include "storage/replaced_table.h"

using storage::FieldType;

namespace {

// One field of a layout, by its logical name ("NO" is the key, never mapped).
struct FieldSpec {
  const char* logical;
  FieldType type;
  int size;  // characters of a text field; -1: the START width
  bool required;
};

const FieldSpec kGoodsFields[16] = {
    {"NO", FieldType::AutoInc, 0, false},
    {"PLUNO", FieldType::Integer, 0, true},
    {"NAME1", FieldType::String, 28, false},
    {"NAME2", FieldType::String, 28, false},
    {"PRICE", FieldType::Integer, 0, false},
    {"LIFE", FieldType::String, 8, false},
    {"TARE", FieldType::Integer, 0, false},
    {"ICODE", FieldType::Integer, 0, false},
    {"GCODE", FieldType::Integer, 0, false},
    {"MSGNO", FieldType::Integer, 0, false},
    {"LOGOTYPE", FieldType::Integer, 0, false},
    {"RST", FieldType::String, 4, false},
    {"START", FieldType::String, -1, false},
    {"COUNTER", FieldType::Integer, 0, false},
    {"SUMM", FieldType::String, 10, false},
    {"WEIGHT", FieldType::String, 10, false},
};

// The secondary indexes of the goods table: name and logical fields.
const char* const kGoodsIndexes[6][3] = {
    {"indPLUNO", "PLUNO", nullptr}, {"indNAME1", "NAME1", "NAME2"}, {"indPRICE", "PRICE", nullptr},
    {"indICODE", "ICODE", nullptr}, {"indMSGNO", "MSGNO", nullptr}, {"indCOUNTER", "COUNTER", nullptr},
};

storage::FieldDef fieldDef(const TForm1& f, const FieldSpec& s, int startWidth) {
  storage::FieldDef d;
  d.name = std::string(s.logical) == "NO" ? std::string("NO") : f.Ass(s.logical);
  d.type = s.type;
  d.size = s.size < 0 ? startWidth : s.size;
  d.required = s.required;
  return d;
}

// The file format a table name asks for: ".db" Paradox, ".dbf" dBase,
// anything else left to the engine.
storage::TableType typeByExtension(const std::string& fileName) {
  const QString suffix = QFileInfo(QString::fromLocal8Bit(fileName.c_str())).suffix().toLower();
  if (suffix == QLatin1String("db")) return storage::TableType::Paradox;
  if (suffix == QLatin1String("dbf")) return storage::TableType::DBase;
  return storage::TableType::Default;
}

// The directory of a file path without its trailing separator ("D:\Base\a.db"
// gives "D:\Base", "E:\a.db" gives "E:", a bare name gives "").
QString directoryPart(const QString& path) {
  int cut = -1;
  for (int i = path.size() - 1; i >= 0; --i) {
    const QChar c = path[i];
    if (c == QLatin1Char('\\') || c == QLatin1Char('/') || c == QLatin1Char(':')) {
      cut = i;
      break;
    }
  }
  if (cut < 0) return {};
  return path.left(cut);  // up to the separator, which is dropped
}

}  // namespace

std::optional<QString> TForm1::runSaveDialog1() {
  dialogs::FileRequest req;
  req.title = QStringLiteral("Сохранение  базы товаров или сообщений");
  req.filter = QStringLiteral("*.db|*.db|*.dbf|*.dbf");
  req.fileName = SaveDialog1FileName;
  const auto name = dialogs::current().saveFile(req);
  if (!name) return std::nullopt;
  SaveDialog1FileName = QFileInfo(*name).absoluteFilePath();
  return SaveDialog1FileName;
}

std::optional<std::string> TForm1::askNewBaseName(bool goods) {
  dialogs::message(goods ? QStringLiteral("Укажите имя файла новой базы товаров.")
                         : QStringLiteral("Укажите имя файла новой базы сообщений."));
  const QString lastName = SaveDialog1FileName;
  const auto name = runSaveDialog1();
  auto notCreated = [&] {
    dialogs::message(goods ? QStringLiteral("Новая база товаров не создана.")
                           : QStringLiteral("Новая база сообщений не создана."));
    return std::nullopt;
  };
  if (!name) return notCreated();
  const std::string chosen(name->toLocal8Bit().constData());
  // A new base replaces only a Paradox table of that name: anything else
  // there (a dBase table, a text, a picture) is refused and nothing is
  // deleted.
  const std::string existing = replacedFileIfNotATable(chosen);
  if (!existing.empty()) {
    dialogs::message(QStringLiteral("Файл %1 не является таблицей Paradox и не будет заменен. "
                                    "Новая база не создана: укажите другое имя файла.")
                         .arg(QString::fromLocal8Bit(existing.c_str())));
    return std::nullopt;
  }
  // A table that is there loses its records only when the operator says so;
  // a No ends the entry as a cancelled dialog does.
  storage::Table probe;
  probe.setTableType(storage::TableType::Paradox);
  probe.setTableName(chosen);
  if (!dialogs::confirmReplace(QString::fromLocal8Bit(probe.filePath().c_str()), true)) {
    SaveDialog1FileName = lastName;
    return notCreated();
  }
  return chosen;
}

namespace {

// Whether the named table exists and opens as a table of its type.
bool opensAsTable(storage::Table& probe) {
  if (!probe.exists()) return false;
  try {
    probe.open();
    probe.close();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::string TForm1::replacedFileIfNotATable(const std::string& fileName) {
  storage::Table probe;
  probe.setTableType(storage::TableType::Paradox);
  probe.setTableName(fileName);
  if (!probe.exists() || opensAsTable(probe)) return {};
  probe.checkReplace();  // a table another program holds is reported as held
  return probe.filePath();
}

void TForm1::createGoodsTable(const std::string& fileName, int startWidth, bool passEvents) {
  std::vector<storage::FieldDef> fields;
  for (const FieldSpec& s : kGoodsFields) fields.push_back(fieldDef(*this, s, startWidth));
  std::vector<storage::IndexDef> indexes = {{"", "NO", storage::ixPrimary}};
  for (const auto& ix : kGoodsIndexes) {
    std::string list = Ass(ix[1]);
    if (ix[2]) list += ";" + Ass(ix[2]);
    indexes.push_back({ix[0], list, storage::ixCaseInsensitive});
  }
  createTable(fileName, fields, indexes, passEvents);
}

void TForm1::createMessagesTable(const std::string& fileName) {
  std::vector<storage::FieldDef> fields = {{"NO", FieldType::AutoInc, 0, false},
                                           {Ass("MSGNO"), FieldType::Integer, 0, true}};
  for (int i = 1; i <= 8; ++i)
    fields.push_back({Ass("LINE" + std::to_string(i)), FieldType::String, 50, false});
  const std::vector<storage::IndexDef> indexes = {{"", "NO", storage::ixPrimary},
                                                  {"indMSGNO", Ass("MSGNO"), storage::ixCaseInsensitive}};
  createTable(fileName, fields, indexes, false);
}

void TForm1::createTable(const std::string& fileName, const std::vector<storage::FieldDef>& fields,
                         const std::vector<storage::IndexDef>& indexes, bool passEvents) {
  // A field map that cannot make a table, or a table there that another
  // program holds, is refused while the open table is still open.
  storage::checkDefinitions(fields, indexes);
  storage::Table target;
  target.setTableType(storage::TableType::Paradox);  // "db1" means db1.db, whatever base was open
  target.setTableName(fileName);
  std::error_code ec;
  const bool replacesOpen = Table1.active() && target.exists() &&
                            std::filesystem::equivalent(target.filePath(), Table1.filePath(), ec);
  (replacesOpen ? Table1 : target).checkReplace();
  const OpenedBase before = openedBase();
  Table1.close();
  // The table of that name is only moved aside until the new one is made; a
  // failure before puts it back and opens the old base again.
  std::optional<storage::ReplacedTable> replaced;
  try {
    if (target.exists()) replaced.emplace(target);
    if (passEvents) clock_::processEvents();
    Table1.setTableType(storage::TableType::Paradox);
    Table1.setTableName(fileName);
    Table1.fieldDefs() = fields;
    Table1.indexDefs() = indexes;
    Table1.createTable();
  } catch (...) {
    const std::string kept = replaced ? replaced->restore() : std::string();
    const QString notReopened = reopenBase(before);
    if (kept.empty() && notReopened.isEmpty()) throw;
    QString why = errorTextToUnicode(kept.empty() ? currentErrorText() : currentErrorText() + "; " + kept);
    if (!notReopened.isEmpty()) why += "\r\n" + notReopened;
    throw storage::DbError(why.toStdString());
  }
  if (replaced) replaced->drop();
  if (passEvents) clock_::processEvents();
  // An order chosen for an earlier table must not keep the new one closed.
  Table1.setIndexFieldNames("");
  Table1.open();
}

void TForm1::labelGoodsFields(bool firstRecord) {
  Table1.fieldByName("NO").setVisible(false);
  for (const FieldSpec& s : kGoodsFields) {
    const std::string logical = s.logical;
    if (logical == "NO") continue;
    storage::Field& f = Table1.fieldByName(Ass(logical));
    f.setDisplayLabel(fieldDisplayLabel(logical));
    if (logical == "LIFE") f.setAlignment(storage::Alignment::Right);
    if (!firstRecord) continue;
    if (logical == "PLUNO") f.setAsInteger(1);
    else if (logical == "LIFE") f.setAsString("0");
    else if (logical == "PRICE" || logical == "TARE" || logical == "ICODE" || logical == "GCODE" ||
             logical == "MSGNO" || logical == "LOGOTYPE")
      f.setAsInteger(0);
  }
}

void TForm1::N3Click() {
  guarded([this] {
    if (ScaleBusy) return;  // a new table now would pull the running one away
    if (!commitGridEdit()) return;
    const auto name = askNewBaseName(true);
    if (!name) return;
    storeChangedRecord();
    try {
      createGoodsTable(*name, 17, true);
      Table1.insert();
      labelGoodsFields(true);
      Table1.post();
    } catch (...) {
      showCurrentError();
    }
    Button22Click();
  });
}

void TForm1::N4Click() {
  guarded([this] {
    if (ScaleBusy) return;  // a new table now would pull the running one away
    if (!commitGridEdit()) return;
    const auto name = askNewBaseName(false);
    if (!name) return;
    storeChangedRecord();
    try {
      createMessagesTable(*name);
      Table1.insert();
      Table1.fieldByName("NO").setVisible(false);
      Table1.fieldByName(Ass("MSGNO")).setAsInteger(1);  // left unstored in the grid
    } catch (...) {
      showCurrentError();
    }
    Button22Click();
  });
}

void TForm1::showCurrentError() { dialogs::error(errorTextToUnicode(currentErrorText())); }

TForm1::OpenedBase TForm1::openedBase() const {
  return {Table1.tableName(), Table1.indexFieldNames(), Table1.tableType(), Table1.active(),
          Table1.active() ? Table1.recNo() : 0};
}

QString TForm1::reopenBase(const OpenedBase& base) {
  try {
    Table1.close();
    Table1.setTableType(base.type);
    Table1.setTableName(base.name);
    Table1.setIndexFieldNames(base.order);
    if (base.open) {
      Table1.open();
      Button22Click();
      // Back on the record the operator was on (the last one when the
      // table has fewer now).
      if (base.recNo > 1) Table1.setRecNo(std::min(base.recNo, Table1.recordCount()));
    }
  } catch (...) {
    return QStringLiteral("База %1, которая была открыта, не открыта снова: %2")
        .arg(QString::fromLocal8Bit(base.name.c_str()), errorTextToUnicode(currentErrorText()));
  }
  return {};
}

void TForm1::ToolButton2Click() {
  guarded([this] {
    if (ScaleBusy) return;  // a new table now would pull the running one away
    if (!commitGridEdit()) return;
    ComboBox2->showPopup();
    try {
      const int row = ComboBox2->currentIndex() + 1;
      const QString dir = directoryPart(StringGrid1->cellText(6, row));
      if (ComboBox2->currentIndex() > -1) OpenDialog1InitialDir = dir;
    } catch (...) {
    }
    ComboBox2->hidePopup();
    const auto name = runOpenDialog1();
    if (!name) return;
    // What was typed is stored first: a record that cannot be stored keeps
    // the old table open with it, and the reason is shown.
    storeChangedRecord();
    const OpenedBase before = openedBase();
    try {
      Table1.setIndexFieldNames("");
      Table1.close();
      const std::string file = name->toLocal8Bit().constData();
      Table1.setTableName(file);
      const storage::TableType type = typeByExtension(file);
      Table1.setTableType(type);
      try {
        Table1.open();
      } catch (...) {
        // The creation entries make Paradox tables whatever name is chosen,
        // so a ".dbf" may hold one (and a ".db" a dBase table): try the other.
        // When that fails too, the reason given is the one for the name's kind.
        if (type == storage::TableType::Default) throw;
        const std::exception_ptr first = std::current_exception();
        Table1.setTableType(type == storage::TableType::Paradox ? storage::TableType::DBase
                                                                : storage::TableType::Paradox);
        try {
          Table1.open();
        } catch (...) {
          std::rethrow_exception(first);
        }
      }
      Button22Click();
    } catch (...) {
      // A table that cannot be opened is refused with its reason, and the
      // base that was open stays open.
      const QString notReopened = reopenBase(before);
      dialogs::error(errorTextToUnicode(currentErrorText()) +
                     (notReopened.isEmpty() ? QString() : "\r\n" + notReopened));
      return;
    }
    if (Table1.active() && Table1.lockedByOtherWriter())
      dialogs::message(QStringLiteral("База данных открыта только для чтения: её изменяет другой пользователь или программа."));
  });
}

void TForm1::N10Click() {
  guarded([this] {
    if (TableWalking || !commitGridEdit()) return;
    if (!Table1.active()) return;  // nothing open, nothing to store
    // A record that cannot be stored stays pending; the reason is shown.
    Table1.refresh();
  });
}

void TForm1::N11Click() {
  guarded([this] {
    if (ScaleBusy) return;  // a new table now would pull the running one away
    if (!commitGridEdit()) return;
    const QString lastName = SaveDialog1FileName;
    const auto name = runSaveDialog1();
    if (!name || Table1.tableName().empty()) return;
    const std::string target = name->toLocal8Bit().constData();
    storage::Table replaced;
    replaced.setTableType(Table1.tableType());
    replaced.setTableName(target);
    const bool replacing = replaced.exists();
    if (replacing) {
      std::error_code ec;
      // The open table under its own name: there is nothing to rename.
      if (std::filesystem::equivalent(replaced.filePath(), Table1.filePath(), ec)) return;
      // Only a table of the open table's kind is replaced, and only when the
      // operator says so; a No ends the entry as a cancelled dialog does.
      if (!opensAsTable(replaced)) {
        replaced.checkReplace();  // a table another program holds is reported as held
        const storage::TableType kind = Table1.tableType() == storage::TableType::Default
                                            ? typeByExtension(Table1.filePath())
                                            : Table1.tableType();
        dialogs::message(QStringLiteral("Файл %1 не является таблицей %2 и не будет заменен. "
                                        "База не переименована: укажите другое имя файла.")
                             .arg(QString::fromLocal8Bit(replaced.filePath().c_str()),
                                  kind == storage::TableType::DBase ? QStringLiteral("dBase")
                                                                    : QStringLiteral("Paradox")));
        return;
      }
      if (!dialogs::confirmReplace(QString::fromLocal8Bit(replaced.filePath().c_str()), true)) {
        SaveDialog1FileName = lastName;
        return;
      }
    }
    // What was typed is stored first, and every check that can refuse the
    // rename runs before anything is deleted or closed: a refusal shows its
    // reason and leaves both tables as they were, the open one open.
    storeChangedRecord();
    Table1.checkRename(target, replacing);
    const OpenedBase before = openedBase();
    Table1.close();
    try {
      // The replaced table is deleted only once the rename is done.
      Table1.renameTable(target, replacing);
    } catch (...) {
      // Both tables stay as they were, the open one open under its own
      // name and shown as after opening it; the rename's reason is shown.
      const QString notReopened = reopenBase(before);
      if (notReopened.isEmpty()) throw;
      throw storage::DbError((errorTextToUnicode(currentErrorText()) + "\r\n" + notReopened).toStdString());
    }
    Table1.open();
  });
}

void TForm1::ToolButton16Click() {
  guarded([this] {
    if (const auto f = runFontDialog1()) {
      DBGrid1->setFont(*f);
      fitGridColumns(true);
    }
  });
}

namespace {

void sortBy(TForm1& f, const char* logical) {
  guarded([&] {
    // A new order under a running walk would make it skip or repeat records.
    if (f.ScaleBusy || !f.commitGridEdit()) return;
    const std::string name = f.Ass(logical);
    // A record that cannot be stored keeps the order as it is, with the
    // reason: the message below is for the field and its index.
    f.storeChangedRecord();
    try {
      f.Table1.setIndexFieldNames(name);
    } catch (...) {
      dialogs::message(QStringLiteral("Поле ") + ansi::U(name) +
                       QStringLiteral(" отсутствует в выбранной базе данных или не проиндксировано. "
                                      "Проверьте настройку совместимости полей БД или не пользуйтесь "
                                      "данной функцией сортировки."));
    }
  });
}

}  // namespace

void TForm1::PLU1Click() { sortBy(*this, "PLUNO"); }
void TForm1::MSG1Click() { sortBy(*this, "MSGNO"); }
void TForm1::N5Click() { sortBy(*this, "NAME1"); }
void TForm1::N6Click() { sortBy(*this, "PRICE"); }
void TForm1::N7Click() { sortBy(*this, "ICODE"); }
void TForm1::N8Click() { sortBy(*this, "COUNTER"); }

void TForm1::Table1AfterInsert() {
  // A new record starts empty: the program fills in no defaults.
}
