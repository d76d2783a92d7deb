// Fuzz target for the write path: any bytes as a Paradox or dBase table with
// any companion files, opened through the table component, then changed the
// way the program changes its bases (append, insert, edit, key change,
// delete, order by every index, refresh). Every step must succeed or fail
// with a DbError, never crash, hang or leak; and a table the engine opened
// writable and changed must open again afterwards.
//
// Input: one byte that picks the format (low bit: 0 Paradox, 1 dBase), the
// opening (high bit: another writer holds the table) and seeds the values
// written, one byte with the number of companion files,
// each companion as one byte for its name, a 4-byte little-endian length and
// its bytes; the rest is the table's main file. A companion may be the
// rollback journal left beside the table; when its name byte has the high
// bit set, the target seals it (appends the end mark and the sum a complete
// journal carries), so that the checks and the playback behind the sum are
// reached too.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_files.h"
#include "storage/backend.h"
#include "storage/file_lock.h"
#include "storage/journal.h"
#include "storage/table.h"

using namespace storage;

namespace {

const std::vector<std::string> kParadoxFiles = {"t.MB", "t.PX", "t.XG0", "t.YG0", "t.XG1", "t.YG1",
                                                "t.X02", "t.Y02", "t.VAL", "t.db-journal"};
const std::vector<std::string> kDbaseFiles = {"t.dbt", "T.FPT", "t.dbf-journal"};

// The end of a complete journal: 'E' and the 64-bit FNV-1a sum of all before.
void seal(std::string& j) {
  j.push_back('E');
  std::uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : j) h = (h ^ c) * 1099511628211ULL;
  for (int i = 0; i < 8; ++i) j.push_back(static_cast<char>(h >> (8 * i)));
}

// Values for the fields, drawn from the input after the files.
class Values {
 public:
  explicit Values(unsigned seed) : state_(seed * 2654435761u + 1) {}
  unsigned next() {
    state_ = state_ * 1103515245u + 12345u;
    return state_ >> 8;
  }
  std::string forField(const Field& f) {
    const unsigned r = next();
    switch (f.dataType()) {
      case FieldType::String: case FieldType::Memo: case FieldType::FmtMemo: {
        static const char* const texts[] = {"", "A", "МОЛОКО", "zz", "Хлеб ржаной", "0000000000000000000001"};
        std::string s = texts[r % 6];
        if (r & 0x100) s += std::to_string(r % 1000);
        return s;
      }
      case FieldType::Date: return std::to_string(1 + r % 28) + ".0" + std::to_string(1 + r % 9) + ".20" +
                                   std::to_string(10 + r % 30);
      case FieldType::Boolean: return r & 1 ? "True" : "False";
      case FieldType::Float: case FieldType::Currency: case FieldType::BCD:
        return std::to_string(int(r % 100000) - 500) + ",25";
      default: return std::to_string(int(r % 70000) - 2000);
    }
  }

 private:
  unsigned state_;
};

template <class F>
void attempt(Table& t, F&& step) {
  try {
    step();
  } catch (const DbError&) {
    try {
      t.cancel();
    } catch (const DbError&) {
    }
  }
}

void fill(Table& t, Values& v, bool keyToo) {
  for (int f = 0; f < t.fieldCount(); ++f) {
    if (!keyToo && f == 0) continue;
    if (v.next() % 3 == 0) continue;
    try {
      t.field(f).setAsString(v.forField(t.field(f)));
    } catch (const DbError&) {
    }
  }
}

void readFields(Table& t) {
  for (int f = 0; f < t.fieldCount(); ++f) (void)t.field(f).asString();
}

void readAll(Table& t) {
  for (t.first(); !t.eof(); t.next()) readFields(t);
}

// The first records in the current order and the last one: what the checks
// between changes look at (see fuzzfiles::looksAt).
void readSome(Table& t) {
  size_t seen = 0;
  for (t.first(); !t.eof() && seen < fuzzfiles::kRecordsLookedAt; t.next(), ++seen) readFields(t);
  if (!t.eof()) {
    t.last();
    readFields(t);
  }
}

void change(Table& t, Values& v) {
  for (int round = 0; round < 3; ++round) {
    attempt(t, [&] { t.append(); fill(t, v, true); t.post(); });
    attempt(t, [&] { t.first(); t.moveBy(int(v.next() % 8)); t.insert(); fill(t, v, true); t.post(); });
    attempt(t, [&] { t.first(); t.moveBy(int(v.next() % 8)); t.edit(); fill(t, v, false); t.post(); });
    attempt(t, [&] {  // a key change
      t.last();
      t.edit();
      if (t.fieldCount() > 0) t.field(0).setAsString(v.forField(t.field(0)));
      t.post();
    });
    attempt(t, [&] { t.first(); t.moveBy(int(v.next() % 5)); if (!t.isEmpty()) t.deleteRecord(); });
  }
  std::vector<std::string> orders;
  for (const IndexDef& i : t.indexDefs()) orders.push_back(i.fields);
  for (const std::string& o : orders) attempt(t, [&] { t.setIndexFieldNames(o); readSome(t); });
  attempt(t, [&] { t.setIndexFieldNames(""); t.refresh(); readSome(t); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool dbase = data[0] & 1;
  const std::vector<std::string>& names = dbase ? kDbaseFiles : kParadoxFiles;
  const std::string dir = fuzzfiles::scratchDir();
  const std::string main = dir + (dbase ? "/t.dbf" : "/t.db");
  for (const std::string& n : kParadoxFiles) ::unlink((dir + "/" + n).c_str());
  for (const std::string& n : kDbaseFiles) ::unlink((dir + "/" + n).c_str());
  for (const char* n : {"/t.db-journal-set-aside", "/t.dbf-journal-set-aside"}) ::unlink((dir + n).c_str());
  static const bool quiet = (journal::setNotifier([](const std::string&) {}), true);
  (void)quiet;
  ::unlink((dir + "/t.db").c_str());
  ::unlink((dir + "/t.dbf").c_str());

  size_t at = 2;
  for (int n = data[1] % 8; n > 0 && size - at >= 5; --n) {
    const std::string& name = names[(data[at] & 0x7F) % names.size()];
    const bool sealed = data[at] & 0x80;
    size_t len = size_t(data[at + 1]) | size_t(data[at + 2]) << 8 | size_t(data[at + 3]) << 16 |
                 size_t(data[at + 4]) << 24;
    at += 5;
    if (len > size - at) len = size - at;
    std::string bytes(reinterpret_cast<const char*>(data + at), len);
    if (sealed) seal(bytes);
    fuzzfiles::writeFile(dir + "/" + name, bytes);
    at += len;
  }
  fuzzfiles::writeFile(main, std::string(reinterpret_cast<const char*>(data + at), size - at));

  Values values(data[0] >> 1);
  bool changed = false, readable = false;
  {
    // The high bit of the first byte: another writer holds the table, so it
    // opens read-only (and shows the state before a journal's change).
    FileLock other;
    if (data[0] & 0x80) other.acquire(main);
    Table t;
    t.setTableName(main);
    try {
      t.open();
    } catch (const DbError&) {
      return 0;
    }
    try {
      readAll(t);
      readable = true;
    } catch (const DbError&) {
    }
    if (!t.readOnly()) {
      change(t, values);
      changed = true;
    }
    attempt(t, [&] { readSome(t); });
    t.close();
  }
  if (changed) {
    // What the engine wrote, it reads back: the table opens again, and reads
    // whole when it did before the changes.
    Table again;
    again.setTableName(main);
    try {
      again.open();
      if (readable) readAll(again);
    } catch (const DbError& e) {
      std::fprintf(stderr, "table written by the engine no longer opens: %s\n", e.what());
      std::abort();
    }
  }
  return 0;
}
