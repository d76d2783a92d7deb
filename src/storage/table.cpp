// The table component over a backend: every record of the open table is kept
// in memory in primary order, the current order is a second list over the
// same records, and the one pending record (new or edited) lives in a buffer
// until it is stored or dropped.
#include "storage/table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/intconv.h"
#include "storage/backend.h"
#include "storage/error_text.h"
#include "storage/file_io.h"
#include "storage/file_lock.h"
#include "storage/journal.h"
#include "storage/replaced_table.h"

namespace storage {

namespace fs = std::filesystem;

namespace {

struct Row {
  std::string data;
  long long id = 0;
};

struct FieldState {
  std::string label;
  bool labelSet = false;
  bool visible = true;
  bool alignSet = false;
  Alignment align = Alignment::Left;
  bool readOnly = false;
};

bool isNumeric(FieldType t) {
  switch (t) {
    case FieldType::SmallInt: case FieldType::Integer: case FieldType::Word:
    case FieldType::AutoInc: case FieldType::Float: case FieldType::Currency:
    case FieldType::BCD:
      return true;
    default:
      return false;
  }
}

bool isIntegerType(FieldType t) {
  return t == FieldType::SmallInt || t == FieldType::Integer || t == FieldType::Word ||
         t == FieldType::AutoInc;
}

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && compareTextNoCase(a, b) == 0;
}

bool sameLayout(const std::vector<FieldDef>& a, const std::vector<FieldDef>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!sameName(a[i].name, b[i].name) || a[i].type != b[i].type || a[i].size != b[i].size) return false;
  return true;
}


// Day number (1 = 0001-01-01) to year, month, day (proleptic Gregorian).
void civilFromDays(long long days, int& y, int& m, int& d) {
  const long long z = days - 719163 + 719468;  // days since 0000-03-01
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

long long daysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 719163;
}

// The timestamps a date can show: days 1 (0001-01-01) to 3652059 (9999-12-31).
constexpr double kFirstDayMs = 86400000.0;
constexpr double kEndDayMs = 3652060.0 * 86400000.0;

std::string dateText(long long days) {
  int y, m, d;
  civilFromDays(days, y, m, d);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", d, m, y);
  return buf;
}

std::string timeText(long long ms) {
  ms = ((ms % 86400000) + 86400000) % 86400000;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(ms / 3600000),
                static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60));
  return buf;
}

}  // namespace

std::string formatValue(FieldType type, const Value& v);

struct TableImpl {
  Table* self = nullptr;
  std::string name;
  TableType type = TableType::Default;
  std::vector<FieldDef> fieldDefs;
  std::vector<IndexDef> indexDefs;
  std::string indexFieldNames;

  std::unique_ptr<Backend> be;
  FileLock lock;           // keeps a second writer off the open table
  std::string lockReason;  // why the table is read-only: another writer has it
  std::vector<std::unique_ptr<Row>> primary;  // every stored record, primary order
  std::vector<Row*> order;                    // current order (same rows)
  std::vector<int> orderFields;               // fields of the current index
  std::vector<bool> orderNoCase;
  bool stale = false;  // a failed write could not be taken back: refuse writes
  std::string journalReason;  // why a change left behind could not be taken back
  std::unique_ptr<fileio::Change> batch;  // a job's changes, written together
  std::vector<std::string> stampFiles;   // the table's files as last read
  std::string stamp;                     // their sizes and times then
  bool ordered = false;                       // order differs from primary
  long long nextId = 1;

  int cur = -1;  // index into order; -1 when empty
  bool bofFlag = true, eofFlag = true;

  State state = State::Inactive;
  std::string buf;         // the pending record
  bool bufModified = false;
  Row* editRow = nullptr;  // the record being edited
  int insertPos = 0;       // where a new record shows in the current order
  // The rows a Data notification altered; every row outside notifyRows.
  int changedFrom = 0, changedTo = std::numeric_limits<int>::max();
  int beforeInsert = -1;   // current record before the insert

  std::vector<Field> fields;
  std::vector<FieldState> display;
  std::map<int, std::function<void(Change)>> listeners;
  int nextListener = 1;

  // ---------------------------------------------------------------- helpers

  void notify(Change c) {
    // Copy: a listener may remove itself.
    auto copy = listeners;
    for (auto& [id, fn] : copy)
      if (fn) fn(c);
  }

  // A Data change that altered only the rows from .. to (in either order):
  // a view repaints those, not the whole table.
  void notifyRows(int from, int to) {
    changedFrom = std::min(from, to);
    changedTo = std::max(from, to);
    notify(Change::Data);
    changedFrom = 0;
    changedTo = std::numeric_limits<int>::max();
  }

  void checkActive() const {
    if (!be) throw DbError("Операция невозможна: таблица закрыта");
  }
  void checkInactive() const {
    if (be) throw DbError("Операция невозможна: таблица открыта");
  }

  const Format& format() const {
    TableType t = type;
    if (t == TableType::Default) {
      std::string ext = fs::path(name).extension().string();
      for (char& c : ext) c = static_cast<char>(upper1251(static_cast<unsigned char>(c)));
      t = ext == ".DBF" ? TableType::DBase : TableType::Paradox;
    }
    return t == TableType::DBase ? dbaseFormat() : paradoxFormat();
  }

  // The file name with the format's extension added when it has none.
  std::string path() const {
    if (name.empty()) throw DbError("Не задано имя таблицы");
    if (fs::path(name).has_extension()) return name;
    return name + (&format() == &dbaseFormat() ? ".dbf" : ".db");
  }

  int keyCount() const { return be ? be->keyFieldCount() : 0; }

  int compareKey(const std::string& a, const std::string& b) const {
    for (int i = 0; i < keyCount(); ++i) {
      const int c = be->compare(a, b, i, false);
      if (c) return c;
    }
    return 0;
  }

  // Current-order comparison: the index fields, then primary order.
  bool orderLess(const Row* a, const Row* b) const {
    for (std::size_t i = 0; i < orderFields.size(); ++i) {
      const int c = be->compare(a->data, b->data, orderFields[i], orderNoCase[i]);
      if (c) return c < 0;
    }
    if (keyCount() > 0) return compareKey(a->data, b->data) < 0;
    return false;
  }

  std::size_t primaryPos(const Row* r) const {
    if (keyCount() > 0) {
      auto it = std::lower_bound(primary.begin(), primary.end(), r,
                                 [&](const std::unique_ptr<Row>& x, const Row* y) {
                                   return compareKey(x->data, y->data) < 0;
                                 });
      for (; it != primary.end(); ++it)
        if (it->get() == r) return static_cast<std::size_t>(it - primary.begin());
    }
    for (std::size_t i = 0; i < primary.size(); ++i)
      if (primary[i].get() == r) return i;
    throw DbError("Запись не найдена");
  }

  std::size_t orderPos(const Row* r) const {
    if (!ordered) return primaryPos(r);
    if (keyCount() > 0) {
      auto it = std::lower_bound(order.begin(), order.end(), r,
                                 [&](const Row* x, const Row* y) { return orderLess(x, y); });
      for (; it != order.end() && !orderLess(r, *it); ++it)
        if (*it == r) return static_cast<std::size_t>(it - order.begin());
    }
    for (std::size_t i = 0; i < order.size(); ++i)
      if (order[i] == r) return i;
    throw DbError("Запись не найдена");
  }

  void rebuildOrder() {
    order.clear();
    order.reserve(primary.size());
    for (auto& r : primary) order.push_back(r.get());
    if (!ordered || order.empty()) return;
    // Sort by byte keys where the format offers them; ties keep primary order.
    std::vector<std::pair<std::string, Row*>> keyed;
    keyed.reserve(order.size());
    for (Row* r : order) {
      std::string k = be->sortKey(r->data, orderFields, orderNoCase);
      if (k.empty()) {
        keyed.clear();
        break;
      }
      keyed.emplace_back(std::move(k), r);
    }
    if (!keyed.empty()) {
      std::stable_sort(keyed.begin(), keyed.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      for (std::size_t i = 0; i < keyed.size(); ++i) order[i] = keyed[i].second;
      return;
    }
    std::stable_sort(order.begin(), order.end(), [&](const Row* a, const Row* b) {
      for (std::size_t i = 0; i < orderFields.size(); ++i) {
        const int c = be->compare(a->data, b->data, orderFields[i], orderNoCase[i]);
        if (c) return c < 0;
      }
      return false;
    });
  }

  int fieldIndex(const std::string& n) const {
    for (std::size_t i = 0; i < fieldDefs.size(); ++i)
      if (sameName(fieldDefs[i].name, n)) return static_cast<int>(i);
    return -1;
  }

  // Chooses the index for `names` and fills orderFields; throws when none fits.
  void chooseOrder(const std::string& names) {
    if (names.empty()) {
      ordered = false;
      orderFields.clear();
      orderNoCase.clear();
      return;
    }
    for (const std::string& n : splitFieldList(names))
      if (fieldIndex(n) < 0) throw DbError("Поле " + quotedText(n) + " не найдено");
    for (const IndexDef& ix : be->indexes()) {
      if (ix.options & ixDescending) continue;
      const bool fits = (ix.fields.size() == names.size() && compareTextNoCase(ix.fields, names) == 0) ||
                        (ix.fields.size() > names.size() && ix.fields[names.size()] == ';' &&
                         compareTextNoCase(ix.fields.substr(0, names.size()), names) == 0);
      if (!fits) continue;
      std::vector<int> f;
      for (const std::string& n : splitFieldList(ix.fields)) {
        const int i = fieldIndex(n);
        if (i < 0) throw DbError("Поле индекса " + quotedText(n) + " не найдено");
        f.push_back(i);
      }
      orderFields = f;
      orderNoCase.assign(f.size(), (ix.options & ixCaseInsensitive) != 0);
      // The primary index in its own order is the primary order.
      ordered = !(ix.options & ixPrimary);
      if (!ordered) {
        orderFields.clear();
        orderNoCase.clear();
      }
      return;
    }
    throw DbError("Нет индекса по полям " + quotedText(names) + " в таблице " + quotedPath(path()));
  }

  const std::string* currentData() const {
    if (state == State::Edit || state == State::Insert) return &buf;
    if (cur >= 0 && cur < static_cast<int>(order.size())) return &order[static_cast<std::size_t>(cur)]->data;
    return nullptr;
  }

  // The record a grid row shows (the pending record included).
  const std::string* rowData(int row) const {
    if (!be || row < 0) return nullptr;
    if (state == State::Insert) {
      if (row == insertPos) return &buf;
      if (row > insertPos) --row;
    }
    if (row >= static_cast<int>(order.size())) return nullptr;
    const Row* r = order[static_cast<std::size_t>(row)];
    if (state == State::Edit && r == editRow) return &buf;
    return &r->data;
  }

  Value value(int f) const {
    checkActive();
    const std::string* d = currentData();
    if (!d) return Value::null();
    return be->get(*d, f);
  }

  // ---------------------------------------------------------------- open

  void load(std::vector<std::string> all) {
    primary.clear();
    order.clear();
    primary.reserve(all.size());
    for (std::string& s : all) {
      auto r = std::make_unique<Row>();
      r->data = std::move(s);
      r->id = nextId++;
      primary.push_back(std::move(r));
    }
    rebuildOrder();
  }

  // Sizes, times and identity of the table's files: what another program's
  // change of them alters.
  std::string stampNow() const { return stampOf(stampFiles); }
  static std::string stampOf(const std::vector<std::string>& files) {
    std::string out;
    for (const std::string& f : files) {
      struct stat st {};
      if (::stat(f.c_str(), &st) != 0) {
        out += "-;";
        continue;
      }
      out += std::to_string(st.st_ino) + ',' + std::to_string(st.st_size) + ',' +
             std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec) + ',' +
             std::to_string(st.st_ctim.tv_sec) + '.' + std::to_string(st.st_ctim.tv_nsec) + ';';
    }
    return out;
  }

  // Opens the files and reads every record under the shared data lock, so
  // that another process's change is seen whole or not at all. A change
  // this engine left behind when it was stopped in its middle is taken back
  // first, by the writer only (it alone may write the files, and does so
  // under the exclusive lock); a reader that may not write sees the table
  // without it. The files' stamp is kept in `read` until the caller takes
  // the backend (useStamp()).
  struct ReadStamp {
    std::vector<std::string> files;
    std::string stamp;
  } read;
  void useStamp() {
    stampFiles = std::move(read.files);
    stamp = std::move(read.stamp);
  }
  std::unique_ptr<Backend> readTable(const std::string& p, std::vector<std::string>& records) {
    journal::HoldNotices notices;  // told once the locks below are let go
    journalReason.clear();
    const std::string j = fileio::journalPath(p);
    std::string failed;  // why the change left behind could not be taken back
    for (int attempt = 0;; ++attempt) {
      {
        ReadLock shared(p);
        struct stat st {};
        if (attempt > 0 || !lock.held() || ::lstat(j.c_str(), &st) != 0) {
          // A change that was not taken back is not shown.
          std::optional<journal::CommittedView> view;
          if (!lock.held() || !failed.empty()) view.emplace(j, format().files(p));
          std::unique_ptr<Backend> fresh;
          try {
            fresh = format().open(p);
            records = fresh->readAll();
          } catch (const DbError& e) {
            if (!view || !view->leftBehind()) throw;
            throw DbError(std::string(e.what()) + "; в таблице " + quotedPath(p) + " осталось прерванное изменение" +
                          (failed.empty() ? "" : " (отменить его не удалось: " + failed + ")") +
                          ": его отменит следующая программа, которая откроет таблицу для записи, когда ей будут "
                          "доступны все файлы таблицы");
          }
          read.files = format().files(p);
          read.stamp = stampOf(read.files);
          if (!failed.empty())
            journalReason = "прерванное изменение таблицы " + quotedPath(p) + " отменить не удалось (" + failed +
                            (view->interrupted() ? "); она показана без него"
                                                 : "); она показана такой, какой её хранят файлы, и может "
                                                   "содержать часть этого изменения");
          else if (view && view->leftBehind())
            journalReason = "в таблице " + quotedPath(p) + " осталось прерванное изменение; она показана " +
                            (view->interrupted() ? "без него" : "такой, какой её хранят файлы, и может содержать "
                                                                "часть этого изменения") +
                            ", а отменит его следующая программа, которая откроет таблицу для записи";
          return fresh;
        }
      }
      ChangeLock exclusive(lock);
      if (journal::recover(j, format().files(p), failed) != journal::Recovery::Failed) failed.clear();
    }
  }

  void open() {
    if (be) return;
    journal::HoldNotices notices;  // told once the table is open
    const std::string p = path();
    std::error_code ec;
    // A link whose target is out of reach is opened as far as it goes.
    if (!fs::exists(p, ec) && !fs::is_symlink(fs::symlink_status(p, ec)))
      throw DbError("Таблица " + quotedPath(p) + " не существует");
    lockReason = lockForWriting(lock, p);
    std::vector<std::string> records;
    try {
      be = readTable(p, records);
      useStamp();
    } catch (...) {
      lock.release();
      lockReason.clear();
      throw;
    }
    if (be->readOnly()) lock.release();  // nothing to guard: we do not write
    try {
      fieldDefs = be->fields();
      indexDefs = be->indexes();
      chooseOrder(indexFieldNames);
      load(std::move(records));
    } catch (...) {
      be.reset();
      lock.release();
      lockReason.clear();
      primary.clear();
      order.clear();
      throw;
    }
    fields.clear();
    display.clear();
    for (std::size_t i = 0; i < fieldDefs.size(); ++i) {
      fields.push_back(Field(this, static_cast<int>(i)));
      display.emplace_back();
    }
    state = State::Browse;
    cur = order.empty() ? -1 : 0;
    bofFlag = true;
    eofFlag = order.empty();
    notify(Change::Layout);
  }

  void close() {
    if (!be) return;
    state = State::Inactive;
    editRow = nullptr;
    buf.clear();
    bufModified = false;
    try {
      be->close();
    } catch (...) {
    }
    be.reset();
    stale = false;
    batch.reset();
    journalReason.clear();
    lock.release();
    lockReason.clear();
    primary.clear();
    order.clear();
    fields.clear();
    display.clear();
    cur = -1;
    bofFlag = eofFlag = true;
    notify(Change::Layout);
  }

  // ---------------------------------------------------------------- pending

  void checkWritable() const {
    checkActive();
    if (!lockReason.empty()) throw DbError("Изменение невозможно: " + lockReason);
    if (be->readOnly()) throw DbError("Изменение невозможно: таблица " + quotedPath(path()) + " открыта только для чтения (" + be->readOnlyReason() + ")");
    if (!journalReason.empty()) throw DbError("Изменение невозможно: " + journalReason);
  }

  // One change of the files (insert, update or remove of a record), all or
  // nothing on disk: it is written through a rollback journal beside the
  // table and is on disk when this returns (inside a batch, when the batch
  // ends). When it fails, the files are as they were and are read afresh
  // (a backend learns where the records lie only by reading them all), so
  // that files, backend and the records here agree again. When even putting
  // them back failed, no further change is written until the files are read
  // again by a refresh or an open, which takes the change back first.
  void fileChange(const std::function<void()>& change) {
    if (stale)
      throw DbError("Таблицу " + quotedPath(path()) +
                    " не удалось восстановить после неудачной записи; обновите её или откройте заново");
    lock.checkStillThere();
    std::optional<fileio::Change> c(std::in_place, fileio::journalPath(path()));
    if (c->joined()) {
      try {
        change();
      } catch (...) {
        c.reset();
        dropBatch();
        throw;
      }
      return;
    }
    try {
      change();
      commit(*c);
    } catch (...) {
      stale = c->journalLeft();
      c.reset();  // what it kept is dropped before the files are read again
      readAfresh();
      throw;
    }
  }

  // Writes a change to the files under the table's exclusive lock, and takes
  // the files as they now are for this engine's own. Another process that
  // holds the table longer than a moment refuses the change.
  void commit(fileio::Change& c) {
    ChangeLock exclusive(lock, FileLock::Wait::Brief);
    c.commit();
    stamp = stampNow();
    be->changeWritten();
  }

  // After a failed change: the backend reads the unchanged files again.
  void readAfresh() {
    try {
      std::vector<std::string> records;
      auto fresh = readTable(path(), records);
      be->close();
      be = std::move(fresh);
      useStamp();
      stale = false;  // files and backend agree again
    } catch (...) {
      stale = true;
    }
  }

  // A change inside a batch failed: nothing of the batch is written, and
  // the records are read again as the files hold them.
  void dropBatch() {
    batch.reset();
    state = State::Browse;
    editRow = nullptr;
    buf.clear();
    bufModified = false;
    try {
      rereadFiles();
      cur = order.empty() ? -1 : std::clamp(cur, 0, static_cast<int>(order.size()) - 1);
    } catch (...) {
      stale = true;
    }
    notify(Change::Data);
  }

  void beginBatch() {
    checkWritable();
    if (batch) throw DbError("Пакет изменений таблицы " + quotedPath(path()) + " уже открыт");
    batch = std::make_unique<fileio::Change>(fileio::journalPath(path()));
  }

  std::string changedByOther() const {
    return "Таблица " + path() + " изменена другой программой; изменения не записаны, таблица прочитана заново";
  }

  void endBatch() {
    if (!batch) return;
    settle();
    if (stampNow() != stamp) {
      dropBatch();
      throw DbError(changedByOther());
    }
    std::unique_ptr<fileio::Change> c = std::move(batch);
    try {
      commit(*c);
    } catch (...) {
      stale = c->journalLeft();
      c.reset();
      dropBatch();
      throw;
    }
  }

  // Stores a changed pending record, drops an unchanged one.
  void settle() {
    if (state != State::Edit && state != State::Insert) return;
    if (bufModified) post();
    else cancel();
  }

  void cancel() {
    if (state != State::Edit && state != State::Insert) return;
    const bool wasInsert = state == State::Insert;
    state = State::Browse;
    buf.clear();
    bufModified = false;
    editRow = nullptr;
    if (wasInsert) {
      cur = order.empty() ? -1 : std::clamp(beforeInsert, 0, static_cast<int>(order.size()) - 1);
      eofFlag = order.empty();
      bofFlag = order.empty();
      notify(Change::Data);
    } else {
      notify(Change::Current);
    }
  }

  void startInsert(bool atEnd) {
    checkWritable();
    settle();
    beforeInsert = cur;
    insertPos = atEnd || cur < 0 ? static_cast<int>(order.size()) : cur;
    buf = be->blankRecord();
    bufModified = false;
    editRow = nullptr;
    state = State::Insert;
    bofFlag = eofFlag = false;
    notify(Change::Data);
    if (self->afterInsert) self->afterInsert(*self);
  }

  void edit() {
    checkWritable();
    if (state == State::Edit || state == State::Insert) return;
    if (order.empty() || cur < 0) {
      startInsert(true);
      return;
    }
    editRow = order[static_cast<std::size_t>(cur)];
    buf = editRow->data;
    bufModified = false;
    state = State::Edit;
    notify(Change::Current);
  }

  void checkRequired() const {
    for (std::size_t i = 0; i < fieldDefs.size(); ++i)
      if (fieldDefs[i].required && be->get(buf, static_cast<int>(i)).isNull())
        throw DbError("Поле " + quotedText(fieldDefs[i].name) + " должно быть заполнено");
  }

  // Primary position for a record with this key; throws on a duplicate key.
  std::size_t placeFor(const std::string& rec, const Row* except) const {
    if (keyCount() == 0) return primary.size();
    auto it = std::lower_bound(primary.begin(), primary.end(), rec,
                               [&](const std::unique_ptr<Row>& x, const std::string& y) {
                                 return compareKey(x->data, y) < 0;
                               });
    if (it != primary.end() && it->get() != except && compareKey((*it)->data, rec) == 0)
      throw DbError("Нарушение уникальности ключа в таблице " + quotedPath(path()));
    return static_cast<std::size_t>(it - primary.begin());
  }

  void placeInOrder(Row* r) {
    if (!ordered) {
      cur = static_cast<int>(primaryPos(r));
      return;
    }
    auto it = std::upper_bound(order.begin(), order.end(), r,
                               [&](const Row* x, const Row* y) { return orderLess(x, y); });
    const auto idx = it - order.begin();
    order.insert(it, r);
    cur = static_cast<int>(idx);
  }

  void post() {
    checkActive();
    if (state != State::Edit && state != State::Insert) return;
    checkRequired();
    catchUp(editRow);
    // The rows the stored record moved across; unknown (every row) after a
    // key change, which builds the order anew.
    std::optional<std::pair<int, int>> moved;
    if (state == State::Insert) {
      std::string rec = buf;
      be->completeNew(rec);
      const std::size_t pos = placeFor(rec, nullptr);
      fileChange([&] { be->insert(pos, rec); });
      auto row = std::make_unique<Row>();
      row->data = std::move(rec);
      row->id = nextId++;
      Row* r = row.get();
      primary.insert(primary.begin() + static_cast<std::ptrdiff_t>(pos), std::move(row));
      if (!ordered) {
        order.insert(order.begin() + static_cast<std::ptrdiff_t>(pos), r);
        cur = static_cast<int>(pos);
      } else {
        placeInOrder(r);
      }
      // The pending row at insertPos became the record at cur: the rows
      // between them moved by one.
      moved = {insertPos, cur};
    } else {
      Row* r = editRow;
      if (!bufModified) {
        state = State::Browse;
        editRow = nullptr;
        buf.clear();
        notify(Change::Current);
        return;
      }
      std::string rec = buf;
      const bool keyChanged = keyCount() > 0 && compareKey(r->data, rec) != 0;
      const std::size_t oldPos = primaryPos(r);
      if (keyChanged) {
        // Taking the record out and putting it in at its new place is one
        // change of the files: a failure takes both back, and the record
        // stays here as it was.
        std::size_t pos = placeFor(rec, r);
        if (pos > oldPos) --pos;
        fileChange([&] {
          be->remove(oldPos, r->data);
          be->insert(pos, rec);
        });
        std::unique_ptr<Row> owned = std::move(primary[oldPos]);
        primary.erase(primary.begin() + static_cast<std::ptrdiff_t>(oldPos));
        owned->data = std::move(rec);
        primary.insert(primary.begin() + static_cast<std::ptrdiff_t>(pos), std::move(owned));
        rebuildOrder();
        cur = static_cast<int>(orderPos(r));
      } else {
        const std::size_t p = orderPos(r);
        fileChange([&] { be->update(oldPos, r->data, rec); });
        r->data = std::move(rec);
        const std::size_t n = order.size();
        const bool fits = !ordered || ((p == 0 || !orderLess(r, order[p - 1])) &&
                                       (p + 1 == n || !orderLess(order[p + 1], r)));
        if (fits) {
          cur = static_cast<int>(p);
        } else {
          order.erase(order.begin() + static_cast<std::ptrdiff_t>(p));
          placeInOrder(r);
        }
        moved = {static_cast<int>(p), cur};
      }
    }
    state = State::Browse;
    editRow = nullptr;
    buf.clear();
    bufModified = false;
    bofFlag = eofFlag = false;
    if (moved) notifyRows(moved->first, moved->second);
    else notify(Change::Data);
  }

  void deleteRecord() {
    checkWritable();
    if (state == State::Insert) {
      cancel();
      return;
    }
    if (state == State::Edit) cancel();
    if (order.empty() || cur < 0) throw DbError("Операция невозможна: таблица пуста");
    Row* r = order[static_cast<std::size_t>(cur)];
    catchUp(r);
    const std::size_t pos = primaryPos(r);
    fileChange([&] { be->remove(pos, r->data); });
    order.erase(order.begin() + cur);
    primary.erase(primary.begin() + static_cast<std::ptrdiff_t>(pos));
    if (cur >= static_cast<int>(order.size())) cur = static_cast<int>(order.size()) - 1;
    eofFlag = order.empty();
    bofFlag = order.empty();
    notify(Change::Data);
  }

  // Reads the files afresh: the records keep their bookmarks.
  void rereadFiles() {
    // The files are opened afresh before the old view is let go, so that a
    // failure leaves the table open as it was.
    std::vector<std::string> records;
    std::unique_ptr<Backend> fresh = readTable(path(), records);
    // The field objects, the display settings and every record here stand on
    // the fields the table had when it was opened.
    if (!sameLayout(fresh->fields(), fieldDefs) || fresh->recordSize() != be->recordSize()) {
      fresh->close();
      throw DbError("Поля таблицы " + quotedPath(path()) + " изменены другой программой; откройте её заново");
    }
    be->close();
    be = std::move(fresh);
    useStamp();
    std::vector<std::unique_ptr<Row>> before;
    before.swap(primary);
    try {
      load(std::move(records));
    } catch (...) {
      close();  // nothing trustworthy is left to show
      throw;
    }
    keepBookmarks(before);
    stale = false;  // files, backend and records agree again
  }

  // Another program changed the files since they were last read (it took no
  // lock): they are read afresh before a change is made, so that nothing is
  // written over bytes this engine did not write. A pending new record stays
  // pending; an edited or deleted record that the other program changed or
  // removed meanwhile is left alone, with a message.
  // Inside a batch the files are looked at once, when it is written.
  void catchUp(Row*& target) {
    if (batch || stampNow() == stamp) return;
    const long long id = target ? target->id : -1;
    const std::string data = target ? target->data : std::string();
    rereadFiles();
    target = nullptr;
    for (Row* r : order)
      if (r->id == id && r->data == data) target = r;
    const int n = static_cast<int>(order.size());
    if (id >= 0 && !target) {
      if (state == State::Edit) {
        state = State::Browse;
        editRow = nullptr;
        buf.clear();
        bufModified = false;
      }
      cur = n ? std::clamp(cur, 0, n - 1) : -1;
      notify(Change::Data);
      throw DbError("Запись таблицы " + path() +
                    " изменена или удалена другой программой; таблица прочитана заново, изменение не записано");
    }
    if (target) cur = static_cast<int>(orderPos(target));
    else cur = n ? std::clamp(cur, 0, n - 1) : -1;
    insertPos = std::clamp(insertPos, 0, n);
    notify(Change::Data);
  }

  void refresh() {
    checkActive();
    settle();
    endBatch();  // what the batch changed is written before the files are read
    std::string keep = cur >= 0 ? order[static_cast<std::size_t>(cur)]->data : std::string();
    const int oldCur = cur;
    rereadFiles();
    stale = false;  // files, backend and records agree again
    cur = order.empty() ? -1 : std::clamp(oldCur, 0, static_cast<int>(order.size()) - 1);
    if (!keep.empty() && keyCount() > 0) {
      for (std::size_t i = 0; i < order.size(); ++i)
        if (compareKey(order[i]->data, keep) == 0) {
          cur = static_cast<int>(i);
          break;
        }
    }
    bofFlag = eofFlag = order.empty();
    notify(Change::Data);
  }

  // Records read again keep the bookmarks they had: by key in a keyed table,
  // by place and contents otherwise.
  void keepBookmarks(const std::vector<std::unique_ptr<Row>>& before) {
    if (keyCount() > 0) {
      std::size_t i = 0;
      for (auto& r : primary) {
        while (i < before.size() && compareKey(before[i]->data, r->data) < 0) ++i;
        if (i < before.size() && compareKey(before[i]->data, r->data) == 0) r->id = before[i++]->id;
      }
      return;
    }
    for (std::size_t i = 0; i < primary.size() && i < before.size(); ++i)
      if (primary[i]->data == before[i]->data) primary[i]->id = before[i]->id;
  }

  void moveTo(int target) {
    checkActive();
    settle();
    const int n = static_cast<int>(order.size());
    if (n == 0) {
      cur = -1;
      bofFlag = eofFlag = true;
      notify(Change::Current);
      return;
    }
    bofFlag = target < 0;
    eofFlag = target >= n;
    cur = std::clamp(target, 0, n - 1);
    notify(Change::Current);
  }

  void setValue(int f, const Value& v) {
    checkActive();
    if (display[static_cast<std::size_t>(f)].readOnly)
      throw DbError("Поле " + quotedText(fieldDefs[static_cast<std::size_t>(f)].name) + " нельзя изменять");
    if (state == State::Browse) edit();
    if (state != State::Edit && state != State::Insert) throw DbError("Таблица не в режиме правки или вставки");
    be->set(buf, f, v);
    bufModified = true;
    notify(Change::Current);
  }
};

// ====================================================================== Field

const std::string& Field::fieldName() const { return t_->fieldDefs[static_cast<std::size_t>(index_)].name; }
FieldType Field::dataType() const { return t_->fieldDefs[static_cast<std::size_t>(index_)].type; }
int Field::size() const { return t_->fieldDefs[static_cast<std::size_t>(index_)].size; }
int Field::index() const { return index_; }
bool Field::required() const { return t_->fieldDefs[static_cast<std::size_t>(index_)].required; }

namespace {
FieldState& stateOf(TableImpl* t, int index) { return t->display[static_cast<std::size_t>(index)]; }
}  // namespace

std::string Field::displayLabel() const {
  const FieldState& s = stateOf(t_, index_);
  return s.labelSet ? s.label : fieldName();
}
void Field::setDisplayLabel(const std::string& label) {
  stateOf(t_, index_).label = label;
  stateOf(t_, index_).labelSet = true;
  t_->notify(Change::Layout);
}
bool Field::visible() const { return stateOf(t_, index_).visible; }
void Field::setVisible(bool v) {
  stateOf(t_, index_).visible = v;
  t_->notify(Change::Layout);
}
Alignment Field::alignment() const {
  const FieldState& s = stateOf(t_, index_);
  if (s.alignSet) return s.align;
  return isNumeric(dataType()) ? Alignment::Right : Alignment::Left;
}
void Field::setAlignment(Alignment a) {
  stateOf(t_, index_).align = a;
  stateOf(t_, index_).alignSet = true;
  t_->notify(Change::Layout);
}
bool Field::readOnly() const { return stateOf(t_, index_).readOnly; }
void Field::setReadOnly(bool ro) {
  stateOf(t_, index_).readOnly = ro;
  t_->notify(Change::Layout);
}

bool Field::isNull() const { return t_->value(index_).isNull(); }

int Field::asInteger() const {
  const Value v = t_->value(index_);
  long long r = 0;
  switch (v.kind) {
    case Value::Kind::Null: return 0;
    case Value::Kind::Integer: r = v.i; break;
    case Value::Kind::Float:
      if (!std::isfinite(v.f) || std::fabs(v.f) > 2147483647.0)
        throw DbError("Поле " + quotedText(fieldName()) + ": значение вне диапазона целых чисел");
      r = std::llround(v.f);
      break;
    case Value::Kind::Text: {
      const auto p = intconv::tryParse(v.s);
      if (!p) throw DbError("Поле " + quotedText(fieldName()) + ": " + quotedText(v.s) + " — не целое число");
      return *p;
    }
  }
  if (r < -2147483648LL || r > 2147483647LL) throw DbError("Поле " + quotedText(fieldName()) + ": значение вне диапазона целых чисел");
  return static_cast<int>(r);
}

std::string Field::asString() const { return formatValue(dataType(), t_->value(index_)); }

std::string formatValue(FieldType type, const Value& v) {
  switch (v.kind) {
    case Value::Kind::Null: return {};
    case Value::Kind::Text: return v.s;
    case Value::Kind::Integer:
      switch (type) {
        case FieldType::Date: return dateText(v.i);
        case FieldType::Time: return timeText(v.i);
        case FieldType::Boolean: return v.i ? "True" : "False";
        default: return std::to_string(v.i);
      }
    case Value::Kind::Float: {
      if (type == FieldType::DateTime) {
        const double ms = v.f;
        // A moment outside 0001-01-01 .. 9999-12-31 (or no number at all: a
        // NaN pattern in the file) has no date to show.
        if (!(ms >= kFirstDayMs && ms < kEndDayMs)) return {};
        const long long day = static_cast<long long>(std::floor(ms / 86400000.0));
        const long long rest = static_cast<long long>(ms - static_cast<double>(day) * 86400000.0);
        return rest == 0 ? dateText(day) : dateText(day) + " " + timeText(rest);
      }
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", v.f);
      return buf;
    }
  }
  return {};
}

void Field::setAsInteger(int value) {
  const FieldType t = dataType();
  if (t == FieldType::String || t == FieldType::Memo || t == FieldType::FmtMemo)
    t_->setValue(index_, Value::text(std::to_string(value)));
  else if (isIntegerType(t) || t == FieldType::Boolean)
    t_->setValue(index_, Value::integer(t == FieldType::Boolean ? (value != 0) : value));
  else if (t == FieldType::Float || t == FieldType::Currency || t == FieldType::BCD)
    t_->setValue(index_, Value::real(value));
  else
    throw DbError("Поле " + quotedText(fieldName()) + " не принимает целое значение");
}

void Field::setAsString(const std::string& value) {
  const FieldType t = dataType();
  if (t == FieldType::String || t == FieldType::Memo || t == FieldType::FmtMemo ||
      t == FieldType::Bytes) {
    t_->setValue(index_, value.empty() ? Value::null() : Value::text(value));
    return;
  }
  if (value.empty()) {
    t_->setValue(index_, Value::null());
    return;
  }
  if (isIntegerType(t)) {
    const auto p = intconv::tryParse(value);
    if (!p) throw DbError("Поле " + quotedText(fieldName()) + ": " + quotedText(value) + " — не целое число");
    t_->setValue(index_, Value::integer(*p));
  } else if (t == FieldType::Float || t == FieldType::Currency || t == FieldType::BCD) {
    std::string s = value;
    std::replace(s.begin(), s.end(), ',', '.');
    char* end = nullptr;
    const double d = std::strtod(s.c_str(), &end);
    if (s.empty() || !end || *end != '\0' || !std::isfinite(d))
      throw DbError("Поле " + quotedText(fieldName()) + ": " + quotedText(value) + " — не число");
    t_->setValue(index_, Value::real(d));
  } else if (t == FieldType::Boolean) {
    if (compareTextNoCase(value, "True") == 0) t_->setValue(index_, Value::integer(1));
    else if (compareTextNoCase(value, "False") == 0) t_->setValue(index_, Value::integer(0));
    else throw DbError("Поле " + quotedText(fieldName()) + ": " + quotedText(value) + " — не логическое значение (True или False)");
  } else if (t == FieldType::Date) {
    int d = 0, m = 0, y = 0;
    char tail = 0;
    if (std::sscanf(value.c_str(), "%d.%d.%d%c", &d, &m, &y, &tail) != 3 || m < 1 || m > 12 || d < 1 ||
        d > 31 || y < 1 || y > 9999)
      throw DbError("Поле " + quotedText(fieldName()) + ": " + quotedText(value) + " — не дата");
    const long long days = daysFromCivil(y, m, d);
    int cy, cm, cd;
    civilFromDays(days, cy, cm, cd);
    if (cd != d || cm != m) throw DbError("Поле " + quotedText(fieldName()) + ": " + quotedText(value) + " — не дата");
    t_->setValue(index_, Value::integer(days));
  } else {
    throw DbError("Поле " + quotedText(fieldName()) + " не принимает текстовое значение");
  }
}

void Field::clear() { t_->setValue(index_, Value::null()); }

// ====================================================================== Table

Table::Table() : d_(std::make_unique<TableImpl>()) { d_->self = this; }
Table::~Table() {
  try {
    d_->close();
  } catch (...) {
  }
}

void Table::setTableName(const std::string& path) {
  d_->checkInactive();
  d_->name = path;
}
const std::string& Table::tableName() const { return d_->name; }
void Table::setTableType(TableType type) {
  d_->checkInactive();
  d_->type = type;
}
TableType Table::tableType() const { return d_->type; }
std::vector<FieldDef>& Table::fieldDefs() { return d_->fieldDefs; }
std::vector<IndexDef>& Table::indexDefs() { return d_->indexDefs; }

void checkDefinitions(const std::vector<FieldDef>& fields, const std::vector<IndexDef>& indexes) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].name.empty()) throw DbError("Не задано имя поля");
    for (std::size_t k = 0; k < i; ++k)
      if (sameName(fields[k].name, fields[i].name)) throw DbError("Повторяющееся имя поля " + quotedText(fields[i].name));
  }
  for (const IndexDef& ix : indexes)
    for (const std::string& n : splitFieldList(ix.fields))
      if (std::none_of(fields.begin(), fields.end(), [&](const FieldDef& f) { return sameName(f.name, n); }))
        throw DbError("Поле индекса " + quotedText(n) + " не найдено");
}

void Table::createTable() {
  d_->checkInactive();
  const std::string p = d_->path();
  std::error_code ec;
  if (fs::exists(p, ec)) throw DbError("Таблица " + quotedPath(p) + " уже существует");
  checkDefinitions(d_->fieldDefs, d_->indexDefs);
  // A journal left by an earlier table of that name is not this table's.
  journal::discard(fileio::journalPath(p), {p});
  // A creation that fails part-way (a full disk) takes away the files it
  // made, so no half-made table is left to be opened later.
  const std::vector<std::string> before = d_->format().files(p);
  try {
    d_->format().create(p, d_->fieldDefs, d_->indexDefs);
  } catch (...) {
    for (const std::string& f : d_->format().files(p))
      if (std::find(before.begin(), before.end(), f) == before.end()) fs::remove(f, ec);
    throw;
  }
}

bool Table::exists() const {
  if (d_->name.empty()) return false;
  std::error_code ec;
  return fs::exists(d_->path(), ec);
}

std::string Table::filePath() const { return d_->path(); }
std::vector<std::string> Table::files() const { return d_->format().files(d_->path()); }

void Table::checkReplace() const {
  const std::string p = d_->path();
  // Without the writer's lock of its own (a table open for reading only, or
  // files this user may not write) the table may still be another
  // program's: that is asked of the file.
  if ((d_->be && !d_->lockReason.empty()) || (!d_->lock.held() && exists() && FileLock::lockedByOther(p)))
    throw DbError("Таблица " + quotedPath(p) + " открыта для записи другим пользователем или программой");
}

void Table::deleteTable() {
  d_->checkInactive();
  const std::string p = d_->path();
  std::error_code ec;
  if (!fs::exists(p, ec)) throw DbError("Таблица " + quotedPath(p) + " не существует");
  checkReplace();
  for (const std::string& f : d_->format().files(p)) {
    fs::remove(f, ec);
    if (ec) throw DbError(fileio::errorText("удалить файл", f, ec.value()));
  }
  journal::discard(fileio::journalPath(p), {p});
}

// The files of the table and the names a rename to newName gives them,
// main file first; every check that can refuse that rename (before any
// change left behind is taken back) throws its reason. With replacing, a
// table at the new name counts as deleted, and must be free to delete.
std::vector<std::pair<std::string, std::string>> Table::renameMoves(const std::string& newName,
                                                                    bool replacing) const {
  const std::string from = d_->path();
  TableImpl probe;
  probe.name = newName;
  probe.type = d_->type;
  const std::string to = probe.path();
  std::error_code ec;
  if (!fs::exists(from, ec)) throw DbError("Таблица " + quotedPath(from) + " не существует");
  std::vector<std::string> replaced;
  if (fs::exists(to, ec)) {
    if (!replacing) throw DbError("Таблица " + quotedPath(to) + " уже существует");
    if (FileLock::lockedByOther(to))
      throw DbError("Таблица " + quotedPath(to) + " открыта для записи другим пользователем или программой");
    replaced = probe.format().files(to);
  }
  // The open table's own writer lock is no other program's.
  if (!d_->lock.held() && FileLock::lockedByOther(from))
    throw DbError("Таблица " + quotedPath(from) + " открыта для записи другим пользователем или программой");
  if (!d_->journalReason.empty()) throw DbError("Таблицу " + from + " нельзя переименовать: " + d_->journalReason);
  const fs::path toPath(to);
  // A rename moves names within one disk; refused before anything is
  // deleted, since a table being replaced there would be gone for nothing.
  const auto deviceOf = [](const fs::path& file) {
    struct stat st {};
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    return ::stat(folder.c_str(), &st) == 0 ? std::optional<dev_t>(st.st_dev) : std::nullopt;
  };
  const std::optional<dev_t> fromDevice = deviceOf(from), toDevice = deviceOf(toPath);
  if (fromDevice && toDevice && *fromDevice != *toDevice)
    throw DbError("Таблицу " + quotedPath(from) + " нельзя переименовать в " + quotedPath(to) +
                  ": новое имя указывает на другой диск");
  const std::string toStem = (toPath.parent_path() / toPath.stem()).string();
  std::vector<std::pair<std::string, std::string>> moves;
  for (const std::string& f : d_->format().files(from)) {
    if (f == from) moves.emplace_back(f, to);
    else moves.emplace_back(f, toStem + fs::path(f).extension().string());
  }
  for (auto& [a, b] : moves)
    if (a != from && fs::exists(b, ec) && std::find(replaced.begin(), replaced.end(), b) == replaced.end())
      throw DbError("Файл " + quotedPath(b) + " уже существует");
  return moves;
}

void Table::checkRename(const std::string& newName, bool replacing) const { renameMoves(newName, replacing); }

void Table::renameTable(const std::string& newName, bool replacing) {
  d_->checkInactive();
  const std::string from = d_->path();
  renameMoves(newName, replacing);
  // The table is held for the rename, so that no other program starts
  // writing it between the checks and the last file moved.
  struct Unlock {
    FileLock& lock;
    ~Unlock() { lock.release(); }
  } unlock{d_->lock};
  lockForReplacing(d_->lock, from);
  // A change left behind names the files as they are called now: it is
  // taken back before they are renamed.
  std::string why;
  if (journal::recover(fileio::journalPath(from), d_->format().files(from), why) == journal::Recovery::Failed)
    throw DbError("Таблицу " + from + " нельзя переименовать: прерванное изменение не отменено: " + why);
  // A table being replaced is only moved aside until the rename is done.
  std::optional<ReplacedTable> replaced;
  if (replacing) {
    Table target;
    target.setTableType(d_->type);
    target.setTableName(newName);
    if (target.exists()) replaced.emplace(target);
  }
  std::vector<std::pair<std::string, std::string>> done;
  try {
    const std::vector<std::pair<std::string, std::string>> moves = renameMoves(newName, false);
    std::error_code ec;
    for (auto& [a, b] : moves) {
      fs::rename(a, b, ec);
      if (ec) throw DbError(fileio::errorText("переименовать файл", a, ec.value()));
      done.emplace_back(a, b);
    }
  } catch (const DbError& e) {
    std::error_code ec;
    for (auto& [x, y] : done) fs::rename(y, x, ec);
    const std::string kept = replaced ? replaced->restore() : std::string();
    if (!kept.empty()) throw DbError(std::string(e.what()) + "; " + kept);
    throw;
  }
  d_->name = newName;
  if (replaced) replaced->drop();
}

void Table::open() { d_->open(); }
void Table::close() { d_->close(); }
bool Table::active() const { return d_->be != nullptr; }
bool Table::lockedByOtherWriter() const {
  return d_->be && (!d_->lockReason.empty() || (!d_->lock.held() && FileLock::lockedByOther(d_->path())));
}

bool Table::readOnly() const {
  return d_->be && (!d_->lockReason.empty() || d_->be->readOnly() || !d_->journalReason.empty());
}
std::string Table::readOnlyReason() const {
  if (!d_->be) return {};
  // An interrupted change outweighs a writer that may be gone since.
  if (!d_->journalReason.empty()) return d_->journalReason;
  if (!d_->lockReason.empty()) return d_->lockReason;
  return d_->be->readOnly() ? d_->be->readOnlyReason() : std::string();
}

void Table::first() { d_->moveTo(0); d_->bofFlag = true; }
void Table::prior() {
  d_->checkActive();
  d_->settle();
  d_->moveTo(d_->cur - 1);
}
void Table::next() {
  d_->checkActive();
  d_->settle();
  d_->moveTo(d_->cur + 1);
}
void Table::last() {
  // Storing a pending new record first changes the number of records.
  d_->checkActive();
  d_->settle();
  d_->moveTo(static_cast<int>(d_->order.size()) - 1);
  d_->eofFlag = true;
}
void Table::moveBy(int distance) {
  d_->checkActive();
  d_->settle();
  d_->moveTo(d_->cur + distance);
}
int Table::recNo() const {
  if (!d_->be) return 0;
  if (d_->state == State::Insert) return d_->insertPos + 1;
  return d_->cur + 1;
}
void Table::setRecNo(int recNo) {
  d_->checkActive();
  d_->settle();
  d_->moveTo(recNo - 1);
  d_->bofFlag = d_->eofFlag = d_->order.empty();
}
int Table::recordCount() const {
  d_->checkActive();
  return static_cast<int>(d_->order.size());
}
bool Table::eof() const { return !d_->be || d_->eofFlag; }
bool Table::bof() const { return !d_->be || d_->bofFlag; }

State Table::state() const { return d_->state; }
void Table::insert() { d_->startInsert(false); }
void Table::append() { d_->startInsert(true); }
void Table::edit() { d_->edit(); }
void Table::post() { d_->post(); }
void Table::cancel() { d_->cancel(); }
void Table::deleteRecord() { d_->deleteRecord(); }
void Table::refresh() { d_->refresh(); }
void Table::beginBatch() { d_->beginBatch(); }
void Table::endBatch() { d_->endBatch(); }
bool Table::modified() const { return d_->bufModified; }

void Table::setIndexFieldNames(const std::string& names) {
  if (!d_->be) {
    d_->indexFieldNames = names;
    return;
  }
  d_->settle();
  const bool oldOrdered = d_->ordered;
  const auto oldFields = d_->orderFields;
  const auto oldNoCase = d_->orderNoCase;
  try {
    d_->chooseOrder(names);
  } catch (...) {
    d_->ordered = oldOrdered;
    d_->orderFields = oldFields;
    d_->orderNoCase = oldNoCase;
    throw;
  }
  Row* keep = d_->cur >= 0 ? d_->order[static_cast<std::size_t>(d_->cur)] : nullptr;
  d_->indexFieldNames = names;
  d_->rebuildOrder();
  if (keep) d_->cur = static_cast<int>(d_->orderPos(keep));
  d_->notify(Change::Data);
}
const std::string& Table::indexFieldNames() const { return d_->indexFieldNames; }

Bookmark Table::getBookmark() const {
  Bookmark b;
  if (d_->be && d_->cur >= 0 && d_->state != State::Insert) b.key = d_->order[static_cast<std::size_t>(d_->cur)]->id;
  return b;
}
void Table::gotoBookmark(const Bookmark& b) {
  d_->checkActive();
  d_->settle();
  // A walk through saved bookmarks mostly goes to a neighbour of the current
  // record: look there before looking everywhere.
  const auto n = static_cast<int>(d_->order.size());
  for (int i = std::max(d_->cur - 1, 0); i < std::min(d_->cur + 3, n); ++i)
    if (d_->order[static_cast<std::size_t>(i)]->id == b.key) {
      d_->moveTo(i);
      return;
    }
  for (std::size_t i = 0; i < d_->order.size(); ++i)
    if (d_->order[i]->id == b.key) {
      d_->moveTo(static_cast<int>(i));
      return;
    }
  throw DbError("Запись не найдена");
}

int Table::fieldCount() const { return static_cast<int>(d_->fields.size()); }
Field& Table::field(int index) {
  d_->checkActive();
  if (index < 0 || index >= fieldCount()) throw DbError("Номер поля " + std::to_string(index) + " вне диапазона");
  return d_->fields[static_cast<std::size_t>(index)];
}
Field* Table::findField(const std::string& name) {
  if (!d_->be) return nullptr;
  const int i = d_->fieldIndex(name);
  return i < 0 ? nullptr : &d_->fields[static_cast<std::size_t>(i)];
}
Field& Table::fieldByName(const std::string& name) {
  d_->checkActive();
  Field* f = findField(name);
  if (!f) throw DbError("Поле " + quotedText(name) + " не найдено");
  return *f;
}

std::pair<int, int> Table::changedRows() const { return {d_->changedFrom, d_->changedTo}; }

int Table::rowCount() const {
  if (!d_->be) return 0;
  return static_cast<int>(d_->order.size()) + (d_->state == State::Insert ? 1 : 0);
}

int Table::currentRow() const {
  if (!d_->be) return -1;
  if (d_->state == State::Insert) return d_->insertPos;
  return d_->cur;
}

std::string Table::textAt(int row, int field) const {
  if (field < 0 || field >= static_cast<int>(d_->fieldDefs.size())) return {};
  const std::string* data = d_->rowData(row);
  if (!data) return {};
  return formatValue(d_->fieldDefs[static_cast<std::size_t>(field)].type, d_->be->get(*data, field));
}

void Table::goToRow(int row) {
  d_->checkActive();
  if (row == currentRow()) return;
  int r = row;
  if (d_->state == State::Insert && row > d_->insertPos) --r;
  const Row* target =
      r >= 0 && r < static_cast<int>(d_->order.size()) ? d_->order[static_cast<std::size_t>(r)] : nullptr;
  d_->settle();  // storing may move records: find the target again
  d_->moveTo(target ? static_cast<int>(d_->orderPos(target)) : r);
}

int Table::addListener(std::function<void(Change)> listener) {
  const int id = d_->nextListener++;
  d_->listeners[id] = std::move(listener);
  return id;
}
void Table::removeListener(int id) { d_->listeners.erase(id); }

}  // namespace storage
