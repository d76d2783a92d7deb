// Writing dBase tables in place: edits, appends, deletes and memos, checked
// byte by byte, by reading the files again, and by an independent reader
// (Debian's python3-dbf).
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>

#include "dbase_test_util.h"
#include "storage/dbase_file.h"

using storage::DbError;
using storage::dbase::DbfFile;
using storage::dbase::Values;
using namespace dbtest;

namespace {

// Runs python3-dbf on the table and returns what the script prints.
std::string pythonDbf(const std::string& table, const std::string& body) {
  const std::string script = "/tmp/dbase-readback-" + std::to_string(getpid()) + ".py";
  writeBytes(script, "import dbf, sys\nt = dbf.Table(sys.argv[1])\nt.open()\n" + body);
  std::string out;
  if (FILE* p = popen(("/usr/bin/python3 " + script + " " + table + " 2>&1").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  std::remove(script.c_str());
  return out;
}

Values carsRecord(const char* name, const char* year, const char* sedan, const char* date, const char* cc,
                  const char* descr) {
  auto opt = [](const char* s) { return s ? std::optional<std::string>(s) : std::nullopt; };
  return {opt(name), opt(year), opt(sedan), opt(date), opt(cc), opt(descr)};
}

}  // namespace

TEST(DbaseWrite, EditAppendDeleteReadBackByAnIndependentReader) {
  ScratchDir dir;
  const std::string path = dir.copy({"cars.dbf", "cars.dbt"});
  const std::string before = readBytes(path);
  {
    auto t = DbfFile::open(path, true);
    ASSERT_TRUE(t->writable()) << t->readOnlyReason();
    // POLO gets a memo and new values; JETTA is deleted; GOLF is added.
    t->update(1, carsRecord("POLO GT", "2001", "True", "04.12.1901", "1.2345", "A new memo text\r\nline 2"));
    t->setDeleted(2, true);
    EXPECT_EQ(t->append(carsRecord("GOLF", "-12", "False", "19990228", "12", "Golf memo")), 4u);
  }
  auto t = DbfFile::open(path, false);
  ASSERT_EQ(t->recordCount(), 5u);
  EXPECT_EQ(*t->value(1, 0), "POLO GT");
  EXPECT_EQ(*t->value(1, 4), "1.235");  // rounded to the field's 3 places
  EXPECT_EQ(*t->value(1, 5), "A new memo text\r\nline 2");
  EXPECT_TRUE(t->isDeleted(2));
  EXPECT_EQ(*t->value(4, 3), "28.02.1999");
  EXPECT_EQ(*t->value(4, 1), "-12");
  // Untouched records keep their bytes, the old memo texts stay readable.
  const std::string after = readBytes(path);
  const size_t hl = 0xE1, rl = 0x2E;
  EXPECT_EQ(after.substr(hl, rl), before.substr(hl, rl));
  EXPECT_EQ(after.substr(hl + 3 * rl, rl), before.substr(hl + 3 * rl, rl));
  EXPECT_EQ(after.substr(hl + 2 * rl + 1, rl - 1), before.substr(hl + 2 * rl + 1, rl - 1));
  EXPECT_EQ(after.size(), hl + 5 * rl + 1);
  EXPECT_EQ(after.back(), '\x1A');
  EXPECT_EQ(*t->value(0, 5), *DbfFile::open(sample("cars.dbf"), false)->value(0, 5));
  // The header carries the count and today's date.
  std::time_t now = std::time(nullptr);
  std::tm tm {};
  localtime_r(&now, &tm);
  EXPECT_EQ(uint8_t(after[1]), tm.tm_year);
  EXPECT_EQ(uint8_t(after[2]), tm.tm_mon + 1);
  EXPECT_EQ(uint8_t(after[3]), tm.tm_mday);
  EXPECT_EQ(uint8_t(after[4]), 5);

  const std::string out = pythonDbf(path,
                                    "for r in t:\n"
                                    "    print('%s|%s|%s|%s|%s|%s|%s' % (dbf.is_deleted(r), r.name.strip(), r.year,"
                                    " r.sedan, r.prod_date, r.cc, (r.descr or '').replace('\\r\\n', '/')))\n");
  std::string passat = *DbfFile::open(sample("cars.dbf"), false)->value(0, 5);
  for (size_t at; (at = passat.find("\r\n")) != std::string::npos;) passat.replace(at, 2, "/");
  EXPECT_EQ(out, "False|PASSAT|0|False|1977-01-01|0.0|" + passat + "\n"
                "False|POLO GT|2001|True|1901-12-04|1.235|A new memo text/line 2\n"
                "True|JETTA|1990|True|1990-02-12|999.999|DESCRIPTION OF VOLKSAWGEN JETTA, YEAR MODEL 1990\n"
                "False||None|None|None|None|\n"
                "False|GOLF|-12|False|1999-02-28|12.0|Golf memo\n");
}

TEST(DbaseWrite, DeletedRecordsStayForOtherReaders) {
  ScratchDir dir;
  const std::string path = dir.copy({"PYACFL.DBF"});
  {
    auto t = DbfFile::open(path, true);
    ASSERT_TRUE(t->writable()) << t->readOnlyReason();
    t->setDeleted(30, true);
    t->setDeleted(0, false);  // undelete, as another program may
    Values v(t->fields().size());
    v[0] = "99";
    v[3] = "1.5";
    v[11] = "01.02.2026";
    t->update(44, v);
  }
  const std::string out = pythonDbf(path,
                                    "print(len(t), sum(1 for r in t if dbf.is_deleted(r)))\n"
                                    "print(dbf.is_deleted(t[0]), dbf.is_deleted(t[30]))\n"
                                    "r = t[44]\nprint(r.afaccd.strip(), r.afhrpw, r.afcrda, repr(r.aflvcl))\n");
  EXPECT_EQ(out, "45 30\nFalse True\n99 1.5 2026-02-01 None\n");
}

TEST(DbaseWrite, ValuesThatDoNotFitAreRefusedAndChangeNothing) {
  ScratchDir dir;
  const std::string path = dir.copy({"cars.dbf", "cars.dbt"});
  const std::string before = readBytes(path), memoBefore = readBytes(dir.file("cars.dbt"));
  auto t = DbfFile::open(path, true);
  EXPECT_THROW(t->update(0, carsRecord("X", "12345", nullptr, nullptr, nullptr, "memo")), DbError);  // N4
  EXPECT_THROW(t->update(0, carsRecord("X", "1e3", nullptr, nullptr, nullptr, nullptr)), DbError);
  EXPECT_THROW(t->update(0, carsRecord("X", nullptr, "maybe", nullptr, nullptr, nullptr)), DbError);
  EXPECT_THROW(t->update(0, carsRecord("X", nullptr, nullptr, "30.02.2020", nullptr, nullptr)), DbError);
  EXPECT_THROW(t->update(0, carsRecord("X", nullptr, nullptr, "2020-01-01", nullptr, nullptr)), DbError);
  EXPECT_THROW(t->append(carsRecord("X", nullptr, nullptr, nullptr, "99999.5", "memo")), DbError);  // N7.3
  EXPECT_THROW(t->update(9, carsRecord("X", nullptr, nullptr, nullptr, nullptr, nullptr)), DbError);
  EXPECT_EQ(readBytes(path), before);
  EXPECT_EQ(readBytes(dir.file("cars.dbt")), memoBefore);
  // A text longer than its field is cut to the field, as the engine's text
  // fields are; numbers round half away from zero.
  EXPECT_EQ(t->encode(0, std::string("ABCDEFGHIJKLMNOPQRS")), "ABCDEFGHIJKLMNO");
  EXPECT_EQ(t->encode(4, std::string("-0.0004")), "  0.000");
  EXPECT_EQ(t->encode(4, std::string("-1.9995")), " -2.000");
  EXPECT_THROW(t->encode(4, std::string("999.9995")), DbError);  // 1000.000 is too wide
  EXPECT_THROW(t->encode(1, std::string("9999.5")), DbError);  // rounds to 10000: too wide for N4
  EXPECT_EQ(t->encode(1, std::string("+7")), "   7");
  EXPECT_EQ(t->encode(1, std::nullopt), "    ");
}

TEST(DbaseWrite, MemosAppendToEveryMemoFormat) {
  ScratchDir dir;
  // dBase IV: block size from the memo header, blocks with a length header.
  const std::string path = dir.copy({"dbase_8b.dbf", "dbase_8b.dbt"});
  const std::string text(700, 'q');
  {
    auto t = DbfFile::open(path, true);
    ASSERT_TRUE(t->writable()) << t->readOnlyReason();
    Values v(t->fields().size());
    v[0] = "Eleven";
    v[5] = text;
    EXPECT_EQ(t->append(v), 10u);
    v[5] = "short";
    EXPECT_EQ(t->append(v), 11u);
  }
  auto t = DbfFile::open(path, false);
  EXPECT_EQ(*t->value(10, 5), text);
  EXPECT_EQ(*t->value(11, 5), "short");
  EXPECT_EQ(*t->value(0, 5), "First memo\r\n");
  const std::string dbt = readBytes(dir.file("dbase_8b.dbt"));
  EXPECT_EQ(dbt.size() % 512, 0u);
  EXPECT_EQ(uint8_t(dbt[0]), dbt.size() / 512);  // next free block

  // FoxPro: big-endian header and blocks.
  std::string fpt(8, '\0');
  fpt[3] = 1;  // next free block 1 (block size 64: the header takes block 0)
  fpt[7] = 64;
  fpt.resize(64, '\0');
  writeBytes(dir.file("fox.dbf"), makeDbf({{"M", 'M', 10}}, {"          "}, 0xF5));
  writeBytes(dir.file("FOX.FPT"), fpt);
  {
    auto f = DbfFile::open(dir.file("fox.dbf"), true);
    ASSERT_TRUE(f->writable()) << f->readOnlyReason();
    f->update(0, {std::string(100, 'z')});
  }
  auto f = DbfFile::open(dir.file("fox.dbf"), false);
  EXPECT_EQ(*f->value(0, 0), std::string(100, 'z'));
  const std::string out = readBytes(dir.file("FOX.FPT"));
  EXPECT_EQ(out.size(), 64u * 3);
  EXPECT_EQ(uint8_t(out[3]), 3);                  // next free block
  EXPECT_EQ(out.substr(64, 8), std::string("\0\0\0\1\0\0\0\x64", 8));
}
