// Companion files and headers that do not belong to their table: each opens
// the table read-only with the reason, and nothing is written. Also the
// readings of timestamps that hold no moment.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "dbase_test_util.h"
#include "px_verify.h"
#include "table_support.h"

using storage::DbError;
using storage::Table;
using namespace tablesupport;
namespace fs = std::filesystem;

namespace {

class CompanionCheck : public TableTest {
 protected:
  void makeGoods(const std::string& base, int records) {
    Table t;
    t.setTableName(path(base + ".db"));
    defineGoods(t);
    t.createTable();
    t.open();
    for (int i = 1; i <= records; ++i) addGoods(t, i, "ТОВАР " + std::to_string(i), "", i * 10);
  }
  std::string copyReal(const std::string& name) {
    const std::string to = path(name);
    fs::copy_file(testData("paradox/" + name), to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
    return to;
  }
  // Every file of the directory, to show that nothing was written.
  std::string contents() const {
    std::string all;
    for (const auto& e : fs::recursive_directory_iterator(dir.path().toStdString()))
      if (e.is_regular_file()) all += e.path().string() + ":" + dbtest::readBytes(e.path().string());
    return all;
  }
};

// Opens the table; expects it read-only with a reason that holds `why`,
// readable, and refusing a change; returns the records it shows.
int expectReadOnly(const std::string& table, const std::string& why) {
  Table t;
  t.setTableName(table);
  t.open();
  EXPECT_TRUE(t.readOnly()) << table;
  EXPECT_NE(t.readOnlyReason().find(why), std::string::npos) << t.readOnlyReason();
  int n = 0;
  for (t.first(); !t.eof(); t.next()) {
    for (int f = 0; f < t.fieldCount(); ++f) (void)t.field(f).asString();
    ++n;
  }
  EXPECT_THROW(t.append(), DbError);
  if (n > 0) {
    t.first();
    EXPECT_THROW(t.deleteRecord(), DbError);
  }
  return n;
}

void patch(const std::string& path, std::size_t at, const std::string& bytes) {
  std::string all = dbtest::readBytes(path);
  all.replace(at, bytes.size(), bytes);
  dbtest::writeBytes(path, all);
}

}  // namespace

// The checks find nothing to refuse in real tables whose companions belong
// to them, nor in the goods table the engine creates.
TEST_F(CompanionCheck, TablesWhoseCompanionsAgreeStayWritable) {
  for (const auto& e : fs::directory_iterator(testData("paradox"))) copyReal(e.path().filename().string());
  makeGoods("goods", 50);
  for (const char* name : {"C.DB", "fk4.db", "TypSammlung.DB", "NOTE1251.DB", "memo.db", "primary.db", "goods.db"}) {
    Table t;
    t.setTableName(path(name));
    t.open();
    EXPECT_FALSE(t.readOnly()) << name << ": " << t.readOnlyReason();
  }
  dbtest::ScratchDir d;
  for (const char* name : {"cars.dbf", "dbase_83.dbf", "dbase_03.dbf", "cp1251.dbf", "PYACFL.DBF"}) {
    std::vector<std::string> files = {name};
    const std::string memo = std::string(name).substr(0, std::string(name).size() - 3) + "dbt";
    if (fs::exists(dbtest::sample(memo))) files.push_back(memo);
    Table t;
    t.setTableName(d.copy(files));
    t.open();
    EXPECT_EQ(t.readOnlyReason().find("ширину 0"), std::string::npos) << name;
    EXPECT_EQ(t.readOnlyReason().find("длина заголовка"), std::string::npos) << name;
    EXPECT_EQ(t.readOnlyReason().find("указатель на свободный блок"), std::string::npos) << name;
  }
}

TEST_F(CompanionCheck, SecondaryIndexOfAnotherGoodsTable) {
  makeGoods("goods", 300);
  fs::create_directories(path("other"));
  makeGoods("other/goods", 589);
  for (const char* ext : {".XG0", ".YG0"})
    fs::copy_file(path(std::string("other/goods") + ext), path(std::string("goods") + ext),
                  fs::copy_options::overwrite_existing);
  fs::remove_all(path("other"));
  const std::string before = contents();
  EXPECT_EQ(expectReadOnly(path("goods.db"), "индекс goods.XG0 не соответствует таблице goods.db: в индексе 589 записей, в таблице 300"),
            300);
  EXPECT_EQ(contents(), before);
}

TEST_F(CompanionCheck, SecondaryIndexCutShort) {
  makeGoods("goods", 300);
  const std::string x = path("goods.XG1");
  fs::resize_file(x, fs::file_size(x) / 2);
  const std::string before = contents();
  EXPECT_EQ(expectReadOnly(path("goods.db"), "индекс goods.XG1 не соответствует таблице goods.db: файл обрезан"), 300);
  EXPECT_EQ(contents(), before);
}

TEST_F(CompanionCheck, SecondaryIndexWithOtherFields) {
  // fk4.XG0 indexes two fields of fk4.db; put beside a copy of the goods
  // table under its name, its fields are not the goods table's.
  makeGoods("goods", 3);
  fs::copy_file(testData("paradox/fk4.XG0"), path("goods.XG2"), fs::copy_options::overwrite_existing);
  const std::string before = contents();
  const std::string reason = [&] {
    Table t;
    t.setTableName(path("goods.db"));
    t.open();
    EXPECT_TRUE(t.readOnly());
    return t.readOnlyReason();
  }();
  EXPECT_NE(reason.find("goods.XG2"), std::string::npos) << reason;
  EXPECT_EQ(contents(), before);
}

TEST_F(CompanionCheck, TableFileCutShort) {
  makeGoods("goods", 3000);
  const std::string db = path("goods.db");
  fs::resize_file(db, fs::file_size(db) - 3000);
  const std::string before = contents();
  EXPECT_GT(expectReadOnly(db, "файл таблицы goods.db обрезан"), 2900);
  EXPECT_EQ(contents(), before);

  // A real table cut inside its only block.
  const std::string real = copyReal("fk4.db");
  copyReal("fk4.px");
  fs::resize_file(real, fs::file_size(real) - 100);
  expectReadOnly(real, "файл таблицы fk4.db обрезан");
}

TEST_F(CompanionCheck, PrimaryIndexOfAnotherTable) {
  // fk4.px is keyed on a long integer; NOTE1251.DB on an auto-increment.
  const std::string db = copyReal("NOTE1251.DB");
  copyReal("NOTE1251.MB");
  fs::copy_file(testData("paradox/fk4.px"), path("NOTE1251.PX"));
  const std::string before = contents();
  EXPECT_EQ(expectReadOnly(db, "первичный индекс NOTE1251.PX не соответствует таблице NOTE1251.DB"), 2);
  EXPECT_EQ(contents(), before);
}

// A primary index in other blocks than its table (2 KB against the engine's
// 4 KB, or a real 4 KB index over 2 KB data) is rebuilt in the table's block
// size, and its header says so: readers walk it whole.
TEST_F(CompanionCheck, PrimaryIndexWithOtherBlockSizeIsRebuiltInTheTablesSize) {
  ASSERT_TRUE(pxcheck::available());
  makeGoods("goods", 5);
  // NOTE1251.PX: an auto-increment key like the goods table's, in 2 KB blocks.
  fs::copy_file(testData("paradox/NOTE1251.PX"), path("goods.PX"), fs::copy_options::overwrite_existing);
  {
    Table t;
    t.setTableName(path("goods.db"));
    t.open();
    ASSERT_FALSE(t.readOnly()) << t.readOnlyReason();
    for (int i = 6; i <= 400; ++i) addGoods(t, i, "ЕЩЁ " + std::to_string(i), "", i);
  }
  EXPECT_EQ(dbtest::readBytes(path("goods.PX"))[5], 4);
  std::vector<pxcheck::IndexSpec> ix;
  const std::vector<std::vector<int>> fields = {{1}, {2, 3}, {4}, {7}, {9}, {13}};
  for (std::size_t i = 0; i < fields.size(); ++i)
    ix.push_back({path("goods.XG" + std::to_string(i)), path("goods.YG" + std::to_string(i)), fields[i]});
  EXPECT_EQ(pxcheck::verify(path("goods.db"), path("goods.PX"), ix), "");

  const std::string memo = copyReal("memo.db");
  copyReal("memo.mb");
  copyReal("memo.px");  // 4 KB blocks over 2 KB data
  {
    Table t;
    t.setTableName(memo);
    t.open();
    ASSERT_FALSE(t.readOnly()) << t.readOnlyReason();
    t.append();
    t.field(0).setAsInteger(50);
    t.post();
  }
  EXPECT_EQ(dbtest::readBytes(path("memo.px"))[5], 2);
  EXPECT_EQ(pxcheck::verify(memo, path("memo.px"), {}), "");
  auto c = pxcheck::read(path("memo.px"));
  ASSERT_TRUE(c);
}

// Companions that would refuse every change after a writable open: the open
// finds them and gives the table read-only with the reason, and nothing is
// written. A secondary index whose header count or block numbers lie; rules
// of required fields that cannot be read (the process's memory at address 0
// fails every read); a dBase table on a disk that turned read-only names the
// cause.
TEST_F(CompanionCheck, LiesFoundAtTheOpen) {
  makeGoods("goods", 300);
  const std::string x = path("goods.XG0");
  const std::string whole = dbtest::readBytes(x);
  auto le = [](unsigned v, int n) {
    std::string b;
    for (int i = 0; i < n; ++i) b += char((v >> (8 * i)) & 0xFF);
    return b;
  };
  const struct {
    std::size_t at;
    std::string bytes;
  } lies[] = {{0x06, le(299, 4)}, {0x06, le(0, 4)}, {0x0C, le(0, 2)}, {0x0E, le(2, 2)}, {2048 + 4, le(0x7FF0, 2)}};
  for (const auto& l : lies) {
    dbtest::writeBytes(x, whole);
    patch(x, l.at, l.bytes);
    const std::string before = contents();
    EXPECT_EQ(expectReadOnly(path("goods.db"), "индексный файл «goods.XG0» повреждён"), 300) << l.at;
    EXPECT_TRUE(contents() == before) << l.at;
  }
  dbtest::writeBytes(x, whole);

  const std::string val = path("goods.VAL");
  fs::remove(val);
  fs::create_symlink("/proc/self/mem", val);
  EXPECT_EQ(expectReadOnly(path("goods.db"), "файл правил проверки полей goods.VAL недоступен для чтения"), 300);

  const bool ran = dbtest::inSmallTmpfs("1m", [](const dbtest::ScratchDir& d) -> std::string {
    d.copy({"cars.dbf", "cars.dbt"});
    for (const char* f : {"fk4.db", "fk4.px"}) fs::copy_file(testData(std::string("paradox/") + f), d.file(f));
    if (mount("tmpfs", d.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) return dbtest::kSkip;
    std::string out;
    for (const char* f : {"cars.dbf", "fk4.db"}) {
      Table t;
      t.setTableName(d.file(f));
      t.open();
      if (t.readOnlyReason().find("диск доступен только для чтения") == std::string::npos) out += t.readOnlyReason() + "; ";
    }
    return out;
  });
  if (!ran) GTEST_SKIP() << "no mount namespace here";
}

// Files the user may read but not write (checked in a child without root's
// rights, which would write anyway): the table opens read-only with the
// reason instead of failing, or of failing at every change.
TEST_F(CompanionCheck, IndexFilesWithoutWritePermission) {
  for (const char* ext : {"PX", "XG0", "YG0"}) {
    const std::string sub = std::string("ro") + ext;
    fs::create_directories(path(sub));
    makeGoods(sub + "/goods", 20);
    fs::permissions(dir.path().toStdString(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(path(sub), fs::perms::all);
    for (const auto& e : fs::directory_iterator(path(sub)))
      fs::permissions(e.path(), e.path().extension() == std::string(".") + ext
                                    ? fs::perms::owner_read | fs::perms::others_read
                                    : fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read |
                                          fs::perms::others_write);
    const std::string goods = path(sub + "/goods.db");
    const std::string before = contents();
    const bool ran = dbtest::inChild([&]() -> std::string {
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return dbtest::kSkip;
      std::string out;
      try {
        Table t;
        t.setTableName(goods);
        t.open();
        if (!t.readOnly()) out += std::string(ext) + ": opened writable; ";
        if (t.readOnlyReason().find(std::string("goods.") + ext + " защищён от записи") == std::string::npos)
          out += std::string(ext) + ": reason '" + t.readOnlyReason() + "'; ";
        if (t.recordCount() != 20) out += std::string(ext) + ": records lost; ";
        try {
          t.append();
          out += std::string(ext) + ": took an append; ";
        } catch (const DbError&) {
        }
      } catch (const DbError& e) {
        out += std::string(ext) + ": " + e.what() + "; ";
      }
      return out;
    });
    if (!ran) GTEST_SKIP() << "cannot drop root's rights here";
    EXPECT_EQ(contents(), before) << ext;
  }
  // A primary index the user may not even read: the records still show.
  fs::permissions(path("roPX/goods.PX"), fs::perms::owner_read);
  const bool ran = dbtest::inChild([&]() -> std::string {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return dbtest::kSkip;
    try {
      Table t;
      t.setTableName(path("roPX/goods.db"));
      t.open();
      if (!t.readOnly() || t.recordCount() != 20) return "opened writable or lost records";
      if (t.readOnlyReason().find("goods.PX недоступен для чтения") == std::string::npos) return t.readOnlyReason();
    } catch (const DbError& e) {
      return e.what();
    }
    return {};
  });
  EXPECT_TRUE(ran);
}

// ---------------------------------------------------------------- dBase

namespace {

struct DbaseCase {
  dbtest::ScratchDir dir;
  std::string dbf, dbt;
  DbaseCase() {
    dbf = dir.copy({"cars.dbf", "cars.dbt"});
    dbt = dir.file("cars.dbt");
  }
  std::string files() const { return dbtest::readBytes(dbf) + dbtest::readBytes(dbt); }
};

}  // namespace

TEST(DbaseCompanionCheck, FieldOfWidthZero) {
  DbaseCase c;
  // The second field descriptor's width byte.
  patch(c.dbf, 32 + 32 + 16, std::string(1, '\0'));
  const std::string before = c.files();
  EXPECT_EQ(expectReadOnly(c.dbf, "имеет ширину 0"), 4);
  EXPECT_EQ(c.files(), before);
}

TEST(DbaseCompanionCheck, HeaderLengthTooSmallForTheFields) {
  DbaseCase c;
  std::string h = dbtest::readBytes(c.dbf);
  const int fields = (uint8_t(h[8]) | uint8_t(h[9]) << 8) / 32 - 1;
  ASSERT_GT(fields, 2);
  // Records would start inside the third field descriptor.
  const int shortLength = 32 + 2 * 32 + 8;
  patch(c.dbf, 8, std::string{char(shortLength & 0xFF), char(shortLength >> 8)});
  const std::string before = c.files();
  Table t;
  t.setTableName(c.dbf);
  t.open();
  EXPECT_TRUE(t.readOnly());
  EXPECT_NE(t.readOnlyReason().find("длина заголовка таблицы cars.dbf"), std::string::npos) << t.readOnlyReason();
  EXPECT_THROW(t.append(), DbError);
  t.close();
  EXPECT_EQ(c.files(), before);
}

// A header that counts fewer records than the file holds: an append would
// land on the first record it does not count and overwrite it.
TEST(DbaseCompanionCheck, HeaderCountingFewerRecordsThanTheFile) {
  for (int counted : {3, 0}) {
    DbaseCase c;
    patch(c.dbf, 4, std::string{char(counted), '\0', '\0', '\0'});
    const std::string before = c.files();
    EXPECT_EQ(expectReadOnly(c.dbf, "в файле cars.dbf больше записей (4), чем указано в его заголовке (" +
                                        std::to_string(counted) + ")"),
              counted);
    EXPECT_EQ(c.files(), before);
  }
}

TEST(DbaseCompanionCheck, MemoFileWhoseFreeBlockPointerLies) {
  DbaseCase c;
  patch(c.dbt, 0, std::string{'\x00', '\x00', '\x20', '\x00'});  // block 2,097,152: 1 GB on
  const std::string before = c.files();
  EXPECT_EQ(expectReadOnly(c.dbf, "в файле cars.dbt указатель на свободный блок (2097152) указывает за конец файла"), 4);
  EXPECT_EQ(c.files(), before);
  // The same file with its pointer true takes the edit.
  patch(c.dbt, 0, std::string{'\x03', '\x00', '\x00', '\x00'});
  Table t;
  t.setTableName(c.dbf);
  t.open();
  EXPECT_FALSE(t.readOnly()) << t.readOnlyReason();
}

// ---------------------------------------------------------------- timestamps

// A timestamp whose bytes hold no moment (a NaN pattern, infinity, a value
// beyond the year 9999 or before the year 1) reads as empty, as every
// reader of the table sees it, and orders without harm.
TEST_F(CompanionCheck, TimestampsThatHoldNoMomentReadEmpty) {
  const std::string db = copyReal("timestamp.db");
  // Records start at 0x800 + 6; each is the one 8-byte timestamp field,
  // stored big-endian with the sign bit flipped for positive values.
  auto stored = [](double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    u = (u & (1ULL << 63)) ? ~u : u | (1ULL << 63);
    std::string b(8, '\0');
    for (int i = 7; i >= 0; --i, u >>= 8) b[static_cast<std::size_t>(i)] = static_cast<char>(u & 0xFF);
    return b;
  };
  for (double v : {std::nan(""), -std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, -1e300, 9.3e18, 3652060.0 * 86400000.0,
                   -1.0}) {
    patch(db, 0x806 + 8, stored(v));
    Table t;
    t.setTableName(db);
    t.open();
    t.setIndexFieldNames("");
    std::vector<std::string> texts;
    for (t.first(); !t.eof(); t.next()) texts.push_back(t.fieldByName("Timestamp").asString());
    EXPECT_EQ(texts, (std::vector<std::string>{"", ""})) << v;
  }
  patch(db, 0x806 + 8, stored(3652059.0 * 86400000.0 + 1000.0));  // the last day the dates show
  Table t;
  t.setTableName(db);
  t.open();
  t.last();
  EXPECT_EQ(t.fieldByName("Timestamp").asString(), "31.12.9999 00:00:01");
}

// A FIFO where a table's file is looked for is not waited on: the open
// returns, the table read-only with the reason or refused with it.
TEST_F(CompanionCheck, SpecialFileAtATableFilesNameIsNotWaitedOn) {
  makeGoods("goods", 20);
  DbaseCase cars;
  const struct {
    std::string file, table, why;  // why: a part of the reason
  } cases[] = {{path("goods.XG0"), path("goods.db"), "«goods.XG0» недоступен"},
               {path("goods.YG0"), path("goods.db"), "goods.YG0"},
               {path("goods.PX"), path("goods.db"), "goods.PX недоступен для чтения"},
               {path("goods.VAL"), path("goods.db"), "goods.VAL недоступен для чтения"},
               {path("goods.db"), path("goods.db"), "не обычный файл"},
               {cars.dbt, cars.dbf, "не обычный файл"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string kept = c.file + ".kept";
    if (fs::exists(c.file)) fs::rename(c.file, kept);
    ASSERT_EQ(::mkfifo(c.file.c_str(), 0644), 0);
    EXPECT_TRUE(dbtest::inChild([&]() -> std::string {
      ::alarm(20);
      try {
        Table t;
        t.setTableName(c.table);
        t.open();
        return t.readOnlyReason().find(c.why) == std::string::npos ? "reason: " + t.readOnlyReason() : "";
      } catch (const DbError& e) {
        return std::string(e.what()).find(c.why) == std::string::npos ? e.what() : "";
      }
    }));
    fs::remove(c.file);
    if (fs::exists(kept)) fs::rename(kept, c.file);
  }
}
