// Paradox tables made by other programs, and damaged files.
#include <QFile>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "table_support.h"

using namespace storage;
using namespace tablesupport;
namespace fs = std::filesystem;

namespace {

struct Opened {
  Table t;
  explicit Opened(const std::string& name) {
    t.setTableName(testData("paradox/" + name));
    t.open();
  }
  std::vector<std::string> column(const std::string& field) {
    std::vector<std::string> r;
    for (t.first(); !t.eof(); t.next()) r.push_back(t.fieldByName(field).asString());
    return r;
  }
};

std::vector<std::string> names(Table& t) {
  std::vector<std::string> r;
  for (int i = 0; i < t.fieldCount(); ++i) r.push_back(t.field(i).fieldName());
  return r;
}

}  // namespace

TEST(ParadoxRead, AllFieldTypesOfAVersion7Table) {
  Opened o("TypSammlung.DB");
  Table& t = o.t;
  EXPECT_EQ(t.recordCount(), 5);
  const std::vector<FieldType> types = {
      FieldType::String, FieldType::Float, FieldType::Currency, FieldType::SmallInt,
      FieldType::Integer, FieldType::BCD, FieldType::Date, FieldType::Time,
      FieldType::DateTime, FieldType::Memo, FieldType::Boolean, FieldType::AutoInc,
      FieldType::Blob, FieldType::Bytes};
  ASSERT_EQ(t.fieldCount(), 14);
  for (int i = 0; i < 14; ++i) EXPECT_EQ(t.field(i).dataType(), types[static_cast<std::size_t>(i)]) << i;
  EXPECT_EQ(t.field(0).fieldName(), "Alpha");
  EXPECT_EQ(t.field(2).fieldName(), "W\xE4hrung");
  EXPECT_EQ(t.field(0).size(), 30);
  // Key order: Alpha.
  EXPECT_EQ(o.column("Alpha"), (std::vector<std::string>{"AAA Irgendein Text", "Erste Zeile", "F\xFCnfter Datensatz",
                                                         "Null-Werte", "Zweite Zeile"}));
  EXPECT_EQ(o.column("Z\xE4hler"), (std::vector<std::string>{"1", "3", "5", "4", "2"}));
  t.first();
  EXPECT_EQ(t.fieldByName("Numerisch").asInteger(), 40);
  EXPECT_EQ(t.fieldByName("BCD").asString(), "40");
  EXPECT_EQ(t.fieldByName("Datum").asString(), "01.01.1970");
  EXPECT_EQ(t.fieldByName("Zeit").asString(), "00:00:00");
  EXPECT_FALSE(t.fieldByName("Zeit").isNull());  // midnight is a value
  EXPECT_EQ(t.fieldByName("Datum/Zeit").asString(), "01.01.1970 11:00:00");
  EXPECT_TRUE(t.fieldByName("Memo").isNull());
  EXPECT_TRUE(t.fieldByName("Logisch").isNull());
  t.next();  // "Erste Zeile": nearly everything empty
  EXPECT_EQ(t.fieldByName("Numerisch").asInteger(), 23);
  EXPECT_EQ(t.fieldByName("Logisch").asString(), "False");
  EXPECT_TRUE(t.fieldByName("BCD").isNull());
  EXPECT_TRUE(t.fieldByName("Integer kurz").isNull());
  EXPECT_EQ(t.fieldByName("Integer kurz").asInteger(), 0);
  t.next();
  EXPECT_EQ(t.fieldByName("Numerisch").asString(), "1.34");
  EXPECT_EQ(t.fieldByName("W\xE4hrung").asString(), "13.002");
  EXPECT_NEAR(std::stod(t.fieldByName("BCD").asString()), 13.123457, 1e-9);
  EXPECT_EQ(t.fieldByName("Zeit").asString(), "01:10:12");
  EXPECT_EQ(t.fieldByName("Memo").asString(), "Dies ist eine Memo im 'F\xFCnften Datensat'");
  t.next();
  EXPECT_EQ(t.fieldByName("Integer lang").asInteger(), 0);
  EXPECT_FALSE(t.fieldByName("Integer lang").isNull());
  EXPECT_EQ(t.fieldByName("BCD").asString(), "0");
  t.next();
  EXPECT_EQ(t.fieldByName("Integer kurz").asInteger(), -40);
  EXPECT_EQ(t.fieldByName("Integer lang").asInteger(), -40);
  EXPECT_EQ(t.fieldByName("Numerisch").asString(), "-40");
  EXPECT_EQ(t.fieldByName("BCD").asString(), "-40");
  EXPECT_EQ(t.fieldByName("Datum").asString(), "09.09.1999");
  EXPECT_EQ(t.fieldByName("Datum/Zeit").asString(), "10.06.2003 11:11:11");
  EXPECT_EQ(t.fieldByName("Logisch").asString(), "True");
  // The primary index of two fields is known.
  ASSERT_FALSE(t.indexDefs().empty());
  EXPECT_EQ(t.indexDefs()[0].fields, "Alpha;Numerisch");
}

TEST(ParadoxRead, MemosInTheBlobFileAndInTheRecord) {
  Opened n("NOTE1251.DB");
  EXPECT_EQ(names(n.t), (std::vector<std::string>{"Id", "Note"}));
  const auto notes = n.column("Note");
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].size(), 430u);
  // "Удивительное устройство USB-флешки Kingston DataTraveler" in Windows-1251.
  EXPECT_EQ(notes[1], "\xD3\xE4\xE8\xE2\xE8\xF2\xE5\xEB\xFC\xED\xEE\xE5 \xF3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xEE "
                      "USB-\xF4\xEB\xE5\xF8\xEA\xE8 Kingston DataTraveler");
  Opened m("memo.db");
  const auto memos = m.column("MEMO");
  ASSERT_EQ(memos.size(), 2u);
  EXPECT_EQ(memos[0].size(), 555u);
  EXPECT_EQ(memos[0].substr(0, 22), "0123456789001234567890");  // as the blob file holds it
  EXPECT_EQ(memos[1], "01234567890\n");
}

TEST(ParadoxRead, SecondaryIndexesAndRequiredFlagsFromCompanionFiles) {
  Opened c("C.DB");
  EXPECT_EQ(names(c.t), (std::vector<std::string>{"C", "A", "B"}));
  EXPECT_EQ(c.column("B"), (std::vector<std::string>{"4", "5", "6"}));
  const auto& ix = c.t.indexDefs();
  ASSERT_EQ(ix.size(), 3u);
  EXPECT_EQ(ix[1].fields, "A");
  EXPECT_EQ(ix[2].fields, "B");
  c.t.setIndexFieldNames("B");
  EXPECT_EQ(c.column("C"), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_THROW(c.t.setIndexFieldNames("A;B"), DbError);

  Opened f("fk4.db");
  EXPECT_EQ(names(f.t), (std::vector<std::string>{"ID", "FK1", "B1", "FK"}));
  EXPECT_EQ(f.column("B1"), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(f.column("FK1"), (std::vector<std::string>{"", ""}));
  ASSERT_EQ(f.t.indexDefs().size(), 2u);
  EXPECT_EQ(f.t.indexDefs()[1].name, "reference");
  EXPECT_EQ(f.t.indexDefs()[1].fields, "FK1;FK");
  f.t.setIndexFieldNames("FK1");  // the start of a composite index

  Opened p("primary.db");
  EXPECT_EQ(p.t.recordCount(), 0);
  EXPECT_EQ(names(p.t), (std::vector<std::string>{"ID", "Name"}));
  EXPECT_EQ(p.t.field(0).dataType(), FieldType::AutoInc);
  EXPECT_EQ(p.t.field(1).size(), 50);

  // A descending index is known but never used for an order.
  Opened d("indexed.db");
  ASSERT_EQ(d.t.indexDefs().size(), 1u);
  EXPECT_TRUE(d.t.indexDefs()[0].options & ixDescending);
  EXPECT_THROW(d.t.setIndexFieldNames("Indexed"), DbError);
  Opened k("case.db");
  EXPECT_EQ(k.column("C"), std::vector<std::string>{"case"});
  k.t.setIndexFieldNames("c");
}

TEST(ParadoxRead, OlderVersionsAndUnkeyedTables) {
  Opened b("bcd.db");
  EXPECT_EQ(b.column("A"), (std::vector<std::string>{"1.23", "-1.23", "0"}));
  EXPECT_EQ(b.column("B"), (std::vector<std::string>{"1", "-1", ""}));
  const auto cs = b.column("C");
  EXPECT_NEAR(std::stod(cs[0]), 0.123, 1e-3);
  EXPECT_NEAR(std::stod(cs[1]), -0.123, 1e-3);
  EXPECT_NEAR(std::stod(cs[2]), 0.9999, 1e-3);
  Opened ts("timestamp.db");
  EXPECT_EQ(ts.column("Timestamp"), (std::vector<std::string>{"", "01.02.2020 01:00:01"}));
  for (const char* n : {"date4.db", "date35.db"}) {
    Opened d(n);
    EXPECT_EQ(d.column("DATE"), (std::vector<std::string>{"01.01.2018", "01.02.2018", "02.01.2018"})) << n;
  }
  Opened s("STATES.DB");  // version 3.0, keyed, without its .PX
  EXPECT_EQ(names(s.t), (std::vector<std::string>{"Abv", "State", "Zip From", "Zip To"}));
  EXPECT_EQ(s.t.recordCount(), 53);
  s.t.first();
  EXPECT_EQ(s.t.fieldByName("State").asString(), "Alaska");
  EXPECT_EQ(s.t.fieldByName("zip from").asString(), "995");
  s.t.last();
  EXPECT_EQ(s.t.fieldByName("Abv").asString(), "WY");
  EXPECT_EQ(s.t.fieldByName("Zip To").asString(), "831");
}

namespace {

class Damaged : public TableTest {
 protected:
  // A copy of a table with some bytes changed; true when it opened and every
  // field of every record could be read.
  std::string copy(const std::string& from, const std::string& name) {
    const std::string to = path(name);
    fs::copy_file(testData("paradox/" + from), to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
    return to;
  }
  static void poke(const std::string& file, std::size_t off, std::initializer_list<int> bytes) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(off));
    for (int b : bytes) f.put(static_cast<char>(b));
  }
  static std::string openAll(const std::string& file) {
    try {
      Table t;
      t.setTableName(file);
      t.open();
      for (t.first(); !t.eof(); t.next())
        for (int i = 0; i < t.fieldCount(); ++i) (void)t.field(i).asString();
      return "ok";
    } catch (const DbError& e) {
      return e.what();
    }
  }
};

}  // namespace

TEST_F(Damaged, BrokenChainsCountsAndHeadersGiveClearErrors) {
  // STATES.DB: header 221 bytes, two 1 KiB blocks.
  const std::string loop = copy("STATES.DB", "loop.db");
  poke(loop, 221 + 1024, {2, 0});  // block 2 points to itself
  EXPECT_NE(openAll(loop).find("зациклена"), std::string::npos) << openAll(loop);

  const std::string count = copy("STATES.DB", "count.db");
  poke(count, 0x06, {54, 0, 0, 0});
  EXPECT_NE(openAll(count).find("число записей"), std::string::npos);

  const std::string huge = copy("STATES.DB", "huge.db");
  poke(huge, 0x06, {0xFF, 0xFF, 0xFF, 0x7F});
  EXPECT_NE(openAll(huge), "ok");

  const std::string type = copy("STATES.DB", "type.db");
  poke(type, 0x58, {0x7E});  // first field's type
  EXPECT_NE(openAll(type).find("тип поля"), std::string::npos);

  const std::string size = copy("STATES.DB", "size.db");
  poke(size, 0x00, {0x30, 0x00});  // record size disagrees with the fields
  EXPECT_NE(openAll(size).find("размер"), std::string::npos);

  const std::string past = copy("STATES.DB", "past.db");
  poke(past, 0x0E, {9, 0});  // chain starts beyond the file
  EXPECT_NE(openAll(past), "ok");

  const std::string block = copy("STATES.DB", "block.db");
  poke(block, 221 + 4, {0x01, 0x7F});  // a block claims too many records
  EXPECT_NE(openAll(block).find("число записей"), std::string::npos);

  // Cut in the middle of the header, and cut before the second block.
  const std::string cut = copy("STATES.DB", "cut.db");
  fs::resize_file(cut, 100);
  EXPECT_NE(openAll(cut), "ok");
  const std::string cut2 = copy("STATES.DB", "cut2.db");
  fs::resize_file(cut2, 221 + 1024);
  EXPECT_NE(openAll(cut2), "ok");
  // The last block only partly on disk is still read.
  const std::string tail = copy("STATES.DB", "tail.db");
  fs::resize_file(tail, 221 + 1024 + 900);
  EXPECT_EQ(openAll(tail), "ok");

  const std::string crypt = copy("fk4.db", "crypt.db");
  poke(crypt, 0x5C, {0x12, 0x34, 0x56, 0x78});  // a password checksum
  EXPECT_NE(openAll(crypt).find("зашифрована"), std::string::npos);
  const std::string version = copy("fk4.db", "version.db");
  poke(version, 0x39, {0x20});
  EXPECT_NE(openAll(version).find("версия"), std::string::npos);

  // A damaged index file: the records still read, but nothing may change.
  const std::string c = copy("C.DB", "c.db");
  copy("C.X02", "c.X02");
  poke(path("c.X02"), 0x04, {0x42});
  EXPECT_EQ(openAll(c), "ok");
  {
    Table t;
    t.setTableName(c);
    t.open();
    EXPECT_TRUE(t.readOnly());
    EXPECT_NE(t.readOnlyReason().find("c.X02"), std::string::npos);
    EXPECT_THROW(t.append(), DbError);
  }

  // A memo pointer into nowhere.
  const std::string memo = copy("memo.db", "memo.db");
  copy("memo.mb", "memo.mb");
  copy("memo.px", "memo.px");
  fs::resize_file(path("memo.mb"), 4096);
  EXPECT_NE(openAll(memo), "ok");
}

TEST_F(Damaged, RandomDamageNeverCrashesOrHangs) {
  std::mt19937 rng(2024);
  const char* sources[] = {"TypSammlung.DB", "STATES.DB", "fk4.db", "memo.db", "date35.db"};
  std::ifstream base(testData("paradox/TypSammlung.MB"), std::ios::binary);
  int opened = 0, refused = 0;
  for (int round = 0; round < 400; ++round) {
    const std::string src = sources[round % 5];
    const std::string file = copy(src, "fuzz" + fs::path(src).extension().string());
    if (src == "memo.db") copy("memo.mb", "fuzz.mb");
    if (src == "TypSammlung.DB") copy("TypSammlung.MB", "fuzz.MB");
    const auto size = fs::file_size(file);
    const int hits = 1 + static_cast<int>(rng() % 4);
    for (int h = 0; h < hits; ++h) {
      // Mostly the header and the first block, where the structure lives.
      const std::size_t off = rng() % 3 ? rng() % std::min<std::uintmax_t>(size, 0x900) : rng() % size;
      poke(file, off, {static_cast<int>(rng() & 0xFF)});
    }
    (openAll(file) == "ok" ? opened : refused)++;
    for (auto& e : fs::directory_iterator(dir.path().toStdString())) fs::remove(e.path());
  }
  EXPECT_EQ(opened + refused, 400);
}
