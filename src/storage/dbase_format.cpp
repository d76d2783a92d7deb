// dBase tables behind the engine's backend interface: the codec of
// dbase_file.h, with the values as the field objects take them.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "storage/backend.h"
#include "storage/dbase_file.h"
#include "storage/error_text.h"

namespace storage {

namespace {

using dbase::DbfFile;
using dbase::FieldInfo;

// Day number with 1 = 0001-01-01 (proleptic Gregorian).
long long dayNumber(int y, int m, int d) {
  static const int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const long long py = y - 1;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return py * 365 + py / 4 - py / 100 + py / 400 + before[m - 1] + (m > 2 && leap ? 1 : 0) + d;
}

bool fromDayNumber(long long n, int& y, int& m, int& d) {
  if (n < 1 || n > dayNumber(9999, 12, 31)) return false;
  // Through the Julian day number (day 1 = JD 1721426).
  long long a = n + 1721425 + 32044, b = (4 * a + 3) / 146097, c = a - 146097 * b / 4;
  long long dd = (4 * c + 3) / 1461, e = c - 1461 * dd / 4, mm = (5 * e + 2) / 153;
  d = int(e - (153 * mm + 2) / 5 + 1);
  m = int(mm + 3 - 12 * (mm / 10));
  y = int(100 * b + dd - 4800 + mm / 10);
  return true;
}

bool digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

class DbaseBackend : public Backend {
 public:
  // The table's lock against a second writer is Table's (file_lock.h).
  explicit DbaseBackend(const std::string& path) : path_(path) {
    file_ = DbfFile::open(path, true);
    for (size_t i = 0; i < file_->fields().size(); ++i) {
      const FieldInfo& f = file_->fields()[i];
      FieldDef d;
      d.name = f.name;
      d.type = file_->fieldType(int(i));
      d.size = d.type == FieldType::String ? f.width : 0;
      fields_.push_back(d);
    }
    for (const auto& x : file_->indexes()) {
      if (x.fields.empty()) continue;  // an expression index gives no field order
      IndexDef d;
      d.name = x.name;
      d.fields = x.fields;
      d.options = (x.descending ? unsigned(ixDescending) : 0u) | (x.unique ? unsigned(ixUnique) : 0u);
      indexes_.push_back(d);
    }
    for (uint32_t r2 = 0; r2 < file_->recordCount(); ++r2)
      if (!file_->isDeleted(r2)) live_.push_back(r2);
    ++memoStore()[path_].users;
  }

  const std::vector<FieldDef>& fields() const override { return fields_; }
  const std::vector<IndexDef>& indexes() const override { return indexes_; }
  int keyFieldCount() const override { return 0; }
  std::size_t recordSize() const override { return file_->recordLength(); }

  bool readOnly() const override { return !file_->writable(); }
  std::string readOnlyReason() const override { return file_->writable() ? std::string() : file_->readOnlyReason(); }

  std::vector<std::string> readAll() override {
    std::vector<std::string> out;
    out.reserve(live_.size());
    for (uint32_t r : live_) out.emplace_back(file_->rawRecord(r));
    return out;
  }

  std::string blankRecord() const override { return std::string(file_->recordLength(), ' '); }

  Value get(std::string_view rec, int field) const override {
    const FieldInfo& f = file_->fields().at(size_t(field));
    if (rec.size() != file_->recordLength()) throw DbError("Неверный размер записи");
    std::string_view raw = rec.substr(size_t(f.offset), size_t(f.width));
    if (f.type == 'M' && !raw.empty() && raw[0] == kPending) {
      auto it = pendingMemos().find(std::string(raw));
      return it == pendingMemos().end() || it->second.empty() ? Value::null() : Value::text(it->second);
    }
    switch (f.type) {
      case 'D': {
        if (raw.size() != 8 || !digits(raw)) return Value::null();
        int y = std::atoi(std::string(raw.substr(0, 4)).c_str());
        int m = std::atoi(std::string(raw.substr(4, 2)).c_str());
        int d = std::atoi(std::string(raw.substr(6, 2)).c_str());
        int y2, m2, d2;
        if (m < 1 || m > 12 || d < 1 || d > 31) return Value::null();
        long long n = dayNumber(y, m, d);
        if (!fromDayNumber(n, y2, m2, d2) || d2 != d) return Value::null();
        return Value::integer(n);
      }
      case 'L': {
        auto v = file_->value(rec, field);
        return v ? Value::integer(*v == "True") : Value::null();
      }
      case 'N': case 'F': case 'I': case 'B': case 'Y': {
        auto v = file_->value(rec, field);
        if (!v) return Value::null();
        const FieldType t = file_->fieldType(field);
        char* end = nullptr;
        if (t == FieldType::Integer || t == FieldType::SmallInt) {
          long long i = std::strtoll(v->c_str(), &end, 10);
          if (end && *end == 0) return Value::integer(i);
        }
        if (t == FieldType::Blob) return Value::text(*v);
        double d = std::strtod(v->c_str(), &end);
        if (end && *end == 0 && std::isfinite(d)) return Value::real(d);
        return Value::null();  // not a number ("*****" for an overflow)
      }
      case 'T': {
        auto v = file_->value(rec, field);
        if (!v) return Value::null();
        int d, m, y, hh, mi, ss;
        if (std::sscanf(v->c_str(), "%d.%d.%d %d:%d:%d", &d, &m, &y, &hh, &mi, &ss) != 6) return Value::null();
        return Value::real(double(dayNumber(y, m, d)) * 86400000.0 + (hh * 3600.0 + mi * 60 + ss) * 1000.0);
      }
      default: {
        auto v = file_->value(rec, field);
        return v ? Value::text(*v) : Value::null();
      }
    }
  }

  void set(std::string& rec, int field, const Value& v) const override {
    const FieldInfo& f = file_->fields().at(size_t(field));
    if (rec.size() != file_->recordLength()) throw DbError("Неверный размер записи");
    std::optional<std::string> text;
    switch (v.kind) {
      case Value::Kind::Null: break;
      case Value::Kind::Text: text = v.s; break;
      case Value::Kind::Integer:
        if (f.type == 'D') {
          int y, m, d;
          if (!fromDayNumber(v.i, y, m, d)) throw DbError("Поле " + quotedText(f.name) + ": недопустимая дата");
          char b[48];
          std::snprintf(b, sizeof b, "%04d%02d%02d", y, m, d);
          text = b;
        } else if (f.type == 'L') {
          text = v.i ? "T" : "F";
        } else {
          text = std::to_string(v.i);
        }
        break;
      case Value::Kind::Float: {
        if (!std::isfinite(v.f)) throw DbError("Поле " + quotedText(f.name) + ": недопустимое число");
        char b[400];
        std::snprintf(b, sizeof b, "%.*f", f.type == 'C' ? 6 : std::min(f.decimals + 1, 30), v.f);
        text = b;
        break;
      }
    }
    std::string bytes;
    if (f.type == 'M') {
      if (f.width != 10) throw DbError("Поле " + quotedText(f.name) + " не может быть записано");
      if (!text || text->empty()) {
        bytes.assign(size_t(f.width), ' ');
      } else {
        // The text waits here until the record is stored; then it goes to
        // the memo file and the field points to it.
        char key[16];
        static unsigned tokens = 0;
        std::snprintf(key, sizeof key, "%c%09u", kPending, ++tokens % 1000000000u);
        bytes.assign(key, size_t(f.width));
        pendingMemos()[bytes] = *text;
      }
    } else {
      bytes = file_->encode(field, text);
    }
    rec.replace(size_t(f.offset), size_t(f.width), bytes);
  }

  void insert(std::size_t pos, std::string& rec) override {
    refuseIfReadOnly();
    if (pos > live_.size()) throw DbError("Позиция записи вне таблицы");
    const auto keys = storeMemos(rec);
    const uint32_t phys = file_->appendRecord(rec);
    live_.insert(live_.begin() + long(pos), phys);
    written_.insert(written_.end(), keys.begin(), keys.end());
  }

  void update(std::size_t pos, const std::string&, std::string& rec) override {
    refuseIfReadOnly();
    if (pos >= live_.size()) throw DbError("Позиция записи вне таблицы");
    const auto keys = storeMemos(rec);
    file_->writeRecord(live_[pos], rec);
    written_.insert(written_.end(), keys.begin(), keys.end());
  }

  // The memo texts of a record are forgotten only once the record is on
  // disk: a change that fails to be written is tried again with them.
  void changeWritten() override {
    for (const auto& k : written_) pendingMemos().erase(k);
    written_.clear();
  }

  void remove(std::size_t pos, const std::string&) override {
    refuseIfReadOnly();
    if (pos >= live_.size()) throw DbError("Позиция записи вне таблицы");
    file_->setDeleted(live_[pos], true);
    live_.erase(live_.begin() + long(pos));
  }

  void close() override {
    if (closed_) return;
    closed_ = true;
    auto it = memoStore().find(path_);
    if (it != memoStore().end() && --it->second.users == 0) memoStore().erase(it);
  }
  ~DbaseBackend() override { close(); }

 private:
  static constexpr char kPending = '\x01';

  void refuseIfReadOnly() const {
    if (readOnly()) throw DbError("Таблица " + quotedPath(path_) + " открыта только для чтения: " + readOnlyReason());
  }

  // Memo texts of pending records, by the key their field holds until the
  // record is stored. They belong to the table's path rather than to one
  // backend: after a failed write the table opens its files afresh (the new
  // backend opens before the old one closes) and the pending record may be
  // posted again. They go when the last backend of the path closes.
  struct PathMemos {
    int users = 0;
    std::map<std::string, std::string> texts;
  };
  static std::map<std::string, PathMemos>& memoStore() {
    static std::map<std::string, PathMemos> store;
    return store;
  }
  std::map<std::string, std::string>& pendingMemos() const { return memoStore()[path_].texts; }

  // Memo texts set on the record go to the memo file before the record is
  // written; the record then points to them. Returns the keys used, to be
  // forgotten once the record is stored.
  std::vector<std::string> storeMemos(std::string& rec) {
    rec[0] = ' ';
    std::vector<std::string> keys;
    for (size_t i = 0; i < file_->fields().size(); ++i) {
      const FieldInfo& f = file_->fields()[i];
      if (f.type != 'M' || rec[size_t(f.offset)] != kPending) continue;
      const std::string key = rec.substr(size_t(f.offset), size_t(f.width));
      auto it = pendingMemos().find(key);
      const std::string ptr = file_->writeMemo(int(i), it == pendingMemos().end() ? std::string() : it->second);
      rec.replace(size_t(f.offset), size_t(f.width), ptr);
      keys.push_back(key);
    }
    return keys;
  }

  std::string path_;
  bool closed_ = false;
  std::vector<std::string> written_;  // memo keys of changes not yet on disk
  std::unique_ptr<DbfFile> file_;
  std::vector<FieldDef> fields_;
  std::vector<IndexDef> indexes_;
  std::vector<uint32_t> live_;  // file record numbers of the live records, in file order

};

std::unique_ptr<Backend> openDbf(const std::string& path) {
  return std::make_unique<DbaseBackend>(path);
}

void createDbf(const std::string&, const std::vector<FieldDef>&, const std::vector<IndexDef>&) {
  throw DbError("Программа создаёт только таблицы Paradox");
}

std::vector<std::string> dbfFiles(const std::string& path) {
  std::vector<std::string> r = companionFiles(path, {"DBT", "MDX", "NDX", "FPT", "CDX"});
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) r.insert(r.begin(), path);  // a link out of reach too
  return r;
}

}  // namespace

const Format& dbaseFormat() {
  static const Format f{openDbf, createDbf, dbfFiles};
  return f;
}

}  // namespace storage
