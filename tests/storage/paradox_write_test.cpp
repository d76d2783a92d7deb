// Tables the engine writes, read back by pxlib and checked block by block.
#include <QFile>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "px_verify.h"
#include "storage/backend.h"
#include "table_support.h"

using namespace storage;
using namespace tablesupport;
namespace fs = std::filesystem;

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ParadoxWrite : public TableTest {
 protected:
  std::vector<pxcheck::IndexSpec> goodsIndexes(const std::string& base) const {
    // indPLUNO, indNAME1, indPRICE, indICODE, indMSGNO, indCOUNTER in order.
    const std::vector<std::vector<int>> fields = {{1}, {2, 3}, {4}, {7}, {9}, {13}};
    std::vector<pxcheck::IndexSpec> r;
    for (std::size_t i = 0; i < fields.size(); ++i)
      r.push_back({path(base + ".XG" + std::to_string(i)), path(base + ".YG" + std::to_string(i)), fields[i]});
    return r;
  }
  std::string verifyGoods(const std::string& base) const {
    return pxcheck::verify(path(base + ".db"), path(base + ".PX"), goodsIndexes(base));
  }
  void createGoods(Table& t, const std::string& base) {
    t.setTableName(path(base));  // no extension: the engine adds .db
    defineGoods(t);
    t.createTable();
    t.open();
  }
};

}  // namespace

TEST_F(ParadoxWrite, NewGoodsTableMatchesTheLayoutForPxlib) {
  ASSERT_TRUE(pxcheck::available());
  Table t;
  createGoods(t, "goods");
  EXPECT_TRUE(fs::exists(path("goods.db")));
  t.insert();
  t.fieldByName("PLUNO").setAsInteger(1);
  t.fieldByName("PRICE").setAsInteger(0);
  t.fieldByName("LIFE").setAsString("0");
  t.fieldByName("NAME1").setAsString("\xDF\xE1\xEB\xEE\xEA\xE8");  // Яблоки
  t.post();
  EXPECT_EQ(t.fieldByName("NO").asInteger(), 1);
  t.close();

  auto c = pxcheck::read(path("goods.db"));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->version, 70);
  EXPECT_EQ(c->fileType, 0);
  EXPECT_EQ(c->keyFields, 1);
  EXPECT_EQ(c->codePage, 1251);
  EXPECT_EQ(c->autoInc, 1);
  ASSERT_EQ(c->fields.size(), 16u);
  const char* names[] = {"NO", "PLUNO", "NAME1", "NAME2", "PRICE", "LIFE", "TARE", "ICODE",
                         "GCODE", "MSGNO", "LOGOTYPE", "RST", "START", "COUNTER", "SUMM", "WEIGHT"};
  const int types[] = {0x16, 4, 1, 1, 4, 1, 4, 4, 4, 4, 4, 1, 1, 4, 1, 1};
  const int lens[] = {4, 4, 28, 28, 4, 8, 4, 4, 4, 4, 4, 4, 17, 4, 10, 10};
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(c->fields[static_cast<std::size_t>(i)].name, names[i]);
    EXPECT_EQ(c->fields[static_cast<std::size_t>(i)].type, types[i]) << names[i];
    EXPECT_EQ(c->fields[static_cast<std::size_t>(i)].len, lens[i]) << names[i];
  }
  ASSERT_EQ(c->rows.size(), 1u);
  EXPECT_EQ(c->rows[0][0].l, 1);
  EXPECT_EQ(c->rows[0][1].l, 1);
  EXPECT_EQ(c->rows[0][2].s, "\xDF\xE1\xEB\xEE\xEA\xE8");
  EXPECT_EQ(c->rows[0][5].s, "0");
  EXPECT_EQ(verifyGoods("goods"), "");

  // Each secondary index file carries its name and fields.
  auto x = pxcheck::read(path("goods.XG1"));
  ASSERT_TRUE(x);
  EXPECT_EQ(x->fileType, 8);
  ASSERT_EQ(x->fields.size(), 4u);
  EXPECT_EQ(x->fields[0].name, "NAME1");
  EXPECT_EQ(x->fields[1].name, "NAME2");
  EXPECT_EQ(x->fields[2].name, "NO");
  EXPECT_EQ(x->fields[3].name, "Blk Num");

  // Reopened, the definitions come from the files.
  Table r;
  r.setTableName(path("goods.db"));
  r.open();
  ASSERT_EQ(r.indexDefs().size(), 7u);
  EXPECT_EQ(r.indexDefs()[0].fields, "NO");
  EXPECT_TRUE(r.indexDefs()[0].options & ixPrimary);
  EXPECT_EQ(r.indexDefs()[2].name, "indNAME1");
  EXPECT_EQ(r.indexDefs()[2].fields, "NAME1;NAME2");
  EXPECT_TRUE(r.indexDefs()[2].options & ixCaseInsensitive);
  EXPECT_TRUE(r.fieldByName("PLUNO").required());
  EXPECT_FALSE(r.fieldByName("PRICE").isNull());  // 0 is a value, not empty
  EXPECT_TRUE(r.fieldByName("TARE").isNull());
  EXPECT_FALSE(r.fieldByName("NAME1").required());
  EXPECT_EQ(r.fieldByName("START").size(), 17);
}

TEST_F(ParadoxWrite, InsertsEditsAndDeletesKeepEveryIndexInStep) {
  Table t;
  createGoods(t, "g");
  std::mt19937 rng(7);
  const char* words[] = {"\xEC\xEE\xEB\xEE\xEA\xEE", "\xCC\xEE\xEB\xEE\xEA\xEE", "bread", "Bread", "\xF1\xFB\xF0",
                         "apple", "\xB8\xEB\xEA\xE0", "\xC5\xEB\xEA\xE0", "zz", ""};
  for (int i = 0; i < 600; ++i) {
    t.append();
    t.fieldByName("PLUNO").setAsInteger(static_cast<int>(rng() % 50));
    t.fieldByName("NAME1").setAsString(words[rng() % 10]);
    t.fieldByName("NAME2").setAsString(words[rng() % 10]);
    t.fieldByName("PRICE").setAsInteger(static_cast<int>(rng() % 1000) - 500);
    if (rng() % 3) t.fieldByName("ICODE").setAsInteger(static_cast<int>(rng() % 7));
    t.post();
  }
  EXPECT_EQ(verifyGoods("g"), "");
  // Edits that move entries inside the secondary indexes, some in the order
  // they serve.
  t.setIndexFieldNames("NAME1");
  t.first();
  for (int i = 0; i < 300 && !t.eof(); ++i) {
    t.edit();
    t.fieldByName("NAME1").setAsString(words[rng() % 10]);
    t.fieldByName("MSGNO").setAsInteger(static_cast<int>(rng() % 9));
    t.post();
    t.moveBy(static_cast<int>(rng() % 3));
  }
  EXPECT_EQ(verifyGoods("g"), "");
  // Deletes from everywhere, until few are left.
  t.setIndexFieldNames("");
  while (t.recordCount() > 5) {
    t.setRecNo(static_cast<int>(rng() % static_cast<unsigned>(t.recordCount())) + 1);
    t.deleteRecord();
  }
  EXPECT_EQ(verifyGoods("g"), "");
  while (!t.isEmpty()) t.deleteRecord();
  EXPECT_EQ(verifyGoods("g"), "");
  addGoods(t, 9, "again", "", 1);
  EXPECT_EQ(t.fieldByName("NO").asInteger(), 601);  // the counter never goes back
  EXPECT_EQ(verifyGoods("g"), "");
  t.close();
  auto c = pxcheck::read(path("g.db"));
  ASSERT_TRUE(c);
  ASSERT_EQ(c->rows.size(), 1u);
  EXPECT_EQ(c->rows[0][2].s, "again");
}

TEST_F(ParadoxWrite, TenThousandRecordsRenumberedThroughTheirOwnIndex) {
  if (kSanitizedBuild) GTEST_SKIP() << kLargeTableSkipped;
  Table t;
  createGoods(t, "big");
  const int n = 10000;
  for (int i = 0; i < n; ++i) {
    t.append();
    t.fieldByName("PLUNO").setAsInteger(n - i);
    t.fieldByName("NAME1").setAsString("name " + std::to_string((i * 7919) % n));
    t.fieldByName("PRICE").setAsInteger(i % 100);
    t.post();
  }
  EXPECT_EQ(t.recordCount(), n);
  EXPECT_EQ(verifyGoods("big"), "");

  // Renumber PLUNO by row in the order by name, as the renumbering entry does.
  t.setIndexFieldNames("NAME1");
  t.first();
  for (int i = 1; i <= n; ++i) {
    t.edit();
    t.fieldByName("PLUNO").setAsInteger(i);
    t.post();
    t.next();
  }
  EXPECT_EQ(verifyGoods("big"), "");
  t.setIndexFieldNames("PLUNO");
  t.first();
  std::string prevName;
  for (int i = 1; i <= n; ++i, t.next()) {
    ASSERT_EQ(t.fieldByName("PLUNO").asInteger(), i);
    const std::string name = t.fieldByName("NAME1").asString();
    ASSERT_LE(compareTextNoCase(prevName, name), 0);
    prevName = name;
  }
  t.close();
  auto c = pxcheck::read(path("big.db"));
  ASSERT_TRUE(c);
  ASSERT_EQ(static_cast<int>(c->rows.size()), n);
  for (int i = 0; i < n; ++i) ASSERT_EQ(c->rows[static_cast<std::size_t>(i)][0].l, i + 1);
}

TEST_F(ParadoxWrite, PostingOneRecordWritesOnlyItsBlockAndTheHeader) {
  Table t;
  createGoods(t, "p");
  for (int i = 0; i < 200; ++i) addGoods(t, i + 1, "n" + std::to_string(i), "", i);
  const std::string before = slurp(path("p.db"));
  t.setRecNo(150);
  t.edit();
  t.fieldByName("PRICE").setAsInteger(77777);
  t.post();
  const std::string after = slurp(path("p.db"));
  ASSERT_EQ(before.size(), after.size());
  std::vector<std::size_t> diffs;
  for (std::size_t i = 0; i < before.size(); ++i)
    if (before[i] != after[i]) diffs.push_back(i);
  ASSERT_FALSE(diffs.empty());
  // One record of 141 bytes changed: every changed byte lies within it.
  EXPECT_LT(diffs.back() - diffs.front(), 141u);
  EXPECT_EQ(verifyGoods("p"), "");
}

TEST_F(ParadoxWrite, AutoIncrementFollowsExplicitValuesAndNeverGoesDown) {
  Table t;
  createGoods(t, "a");
  addGoods(t, 1, "a", "", 1);
  t.append();
  t.fieldByName("NO").setAsInteger(40);
  t.fieldByName("PLUNO").setAsInteger(2);
  t.post();
  addGoods(t, 3, "c", "", 1);
  EXPECT_EQ(t.fieldByName("NO").asInteger(), 41);
  t.append();
  t.fieldByName("NO").setAsInteger(5);  // lower than the counter: kept as given
  t.fieldByName("PLUNO").setAsInteger(4);
  t.post();
  t.append();
  t.fieldByName("NO").setAsInteger(41);  // taken
  t.fieldByName("PLUNO").setAsInteger(5);
  EXPECT_THROW(t.post(), DbError);
  t.cancel();
  t.last();
  t.deleteRecord();  // 41 goes
  addGoods(t, 6, "d", "", 1);
  EXPECT_EQ(t.fieldByName("NO").asInteger(), 42);
  t.close();
  auto c = pxcheck::read(path("a.db"));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->autoInc, 42);
  // A counter that another program left below the stored values is raised
  // before it hands out a number.
  {
    std::fstream f(path("a.db"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0x49);
    f.put(3).put(0).put(0).put(0);
  }
  t.open();
  addGoods(t, 7, "e", "", 1);
  EXPECT_EQ(t.fieldByName("NO").asInteger(), 43);
  t.close();
  c = pxcheck::read(path("a.db"));
  ASSERT_TRUE(c);
  std::vector<long> nos;
  for (auto& r : c->rows) nos.push_back(r[0].l);
  EXPECT_EQ(nos, (std::vector<long>{1, 5, 40, 42, 43}));
  EXPECT_EQ(verifyGoods("a"), "");
}

TEST_F(ParadoxWrite, ChangingAnotherProgramsTableKeepsItsHeaderBytes) {
  for (const char* ext : {"db", "px", "val", "XG0", "YG0"})
    fs::copy_file(testData(std::string("paradox/fk4.") + ext), path(std::string("fk4.") + ext));
  for (auto& e : fs::directory_iterator(dir.path().toStdString()))
    fs::permissions(e.path(), fs::perms::owner_read | fs::perms::owner_write);
  const std::string before = slurp(path("fk4.db"));
  Table t;
  t.setTableName(path("fk4.db"));
  t.open();
  ASSERT_FALSE(t.readOnly());
  t.append();
  t.fieldByName("ID").setAsInteger(3);
  t.fieldByName("FK1").setAsInteger(10);
  t.fieldByName("B1").setAsString("x");
  t.post();
  t.first();
  t.edit();
  t.fieldByName("FK1").setAsInteger(20);
  t.post();
  t.close();
  const std::string after = slurp(path("fk4.db"));
  const int headerSize = 0x800;
  // Bytes the engine owns: record and block counts, chain ends, free list,
  // auto-increment, maximum blocks.
  auto owned = [](int i) {
    return (i >= 0x06 && i < 0x12) || (i >= 0x3A && i < 0x3C) || (i >= 0x49 && i < 0x4F);
  };
  for (int i = 0; i < headerSize; ++i)
    if (!owned(i)) {
      ASSERT_EQ(before[static_cast<std::size_t>(i)], after[static_cast<std::size_t>(i)]) << "header byte " << i;
    }
  EXPECT_EQ(after[0x39], 0x0B);  // still a 5.0 table
  EXPECT_EQ(pxcheck::verify(path("fk4.db"), path("fk4.px"),
                            {{path("fk4.XG0"), path("fk4.YG0"), {1, 3}}}),
            "");
  auto c = pxcheck::read(path("fk4.db"));
  ASSERT_TRUE(c);
  ASSERT_EQ(c->rows.size(), 3u);
  EXPECT_EQ(c->rows[0][1].l, 20);
  EXPECT_EQ(c->rows[2][2].s, "x");
}

TEST_F(ParadoxWrite, RequiredFlagsSurviveInTheValidityFile) {
  Table t;
  t.setTableName(path("m.db"));
  defineMessages(t);
  t.createTable();
  ASSERT_TRUE(fs::exists(path("m.VAL")));
  t.open();
  EXPECT_TRUE(t.fieldByName("MSGNO").required());
  EXPECT_FALSE(t.fieldByName("LINE1").required());
  t.append();
  t.fieldByName("LINE1").setAsString("text");
  EXPECT_THROW(t.post(), DbError);
  EXPECT_EQ(t.state(), State::Insert);  // stays pending
  t.fieldByName("MSGNO").setAsInteger(1);
  t.post();
  EXPECT_EQ(t.recordCount(), 1);
}

TEST_F(ParadoxWrite, InsertsInsideTheKeyOrderSplitBlocksAndMoveTheBlockHints) {
  Table t;
  t.setTableName(path("k.db"));
  auto& f = t.fieldDefs();
  f.push_back({"CODE", FieldType::Integer, 0, false});
  f.push_back({"NAME", FieldType::String, 120, false});
  f.push_back({"QTY", FieldType::SmallInt, 0, false});
  t.indexDefs().push_back({"", "CODE", ixPrimary});
  t.indexDefs().push_back({"byName", "NAME", ixCaseInsensitive});
  t.indexDefs().push_back({"byQty", "QTY;NAME", 0});
  t.createTable();
  t.open();
  std::mt19937 rng(11);
  std::vector<int> codes(3000);
  for (int i = 0; i < 3000; ++i) codes[static_cast<std::size_t>(i)] = i * 3 + 1;
  std::shuffle(codes.begin(), codes.end(), rng);
  for (int c : codes) {
    t.insert();
    t.fieldByName("CODE").setAsInteger(c);
    t.fieldByName("NAME").setAsString((rng() % 2 ? "N" : "n") + std::to_string(rng() % 400));
    t.fieldByName("QTY").setAsInteger(static_cast<int>(rng() % 100) - 50);
    t.post();
  }
  const std::vector<pxcheck::IndexSpec> ix = {{path("k.XG0"), path("k.YG0"), {1}},
                                              {path("k.XG1"), path("k.YG1"), {2, 1}}};
  EXPECT_EQ(pxcheck::verify(path("k.db"), path("k.PX"), ix), "");
  EXPECT_GT(pxcheck::chainOf(path("k.db")).size(), 100u);
  // Key changes move records to other blocks; duplicates are refused.
  for (int i = 0; i < 300; ++i) {
    t.setRecNo(static_cast<int>(rng() % 3000) + 1);
    t.edit();
    t.fieldByName("CODE").setAsInteger(static_cast<int>(rng() % 9000) * 3 + 2);
    try {
      t.post();
    } catch (const DbError&) {
      t.cancel();  // the new key was taken
    }
  }
  t.setRecNo(1);
  const int taken = t.fieldByName("CODE").asInteger();
  t.next();
  t.edit();
  t.fieldByName("CODE").setAsInteger(taken);
  EXPECT_THROW(t.post(), DbError);
  t.cancel();
  EXPECT_EQ(t.recordCount(), 3000);
  for (int i = 0; i < 1500; ++i) {
    t.setRecNo(static_cast<int>(rng() % static_cast<unsigned>(t.recordCount())) + 1);
    t.deleteRecord();
  }
  EXPECT_EQ(pxcheck::verify(path("k.db"), path("k.PX"), ix), "");
  t.close();
  t.open();
  EXPECT_EQ(t.recordCount(), 1500);
  int prev = -1;
  for (t.first(); !t.eof(); t.next()) {
    ASSERT_GT(t.fieldByName("CODE").asInteger(), prev);
    prev = t.fieldByName("CODE").asInteger();
  }
}

TEST_F(ParadoxWrite, TablesWithoutKeyAndOlderTablesTakeChanges) {
  Table u;
  u.setTableName(path("plain.db"));
  u.fieldDefs().push_back({"N", FieldType::Integer, 0, false});
  u.fieldDefs().push_back({"T", FieldType::String, 10, false});
  u.createTable();
  u.open();
  for (int i = 0; i < 500; ++i) {
    u.append();
    u.fieldByName("N").setAsInteger(500 - i);
    u.post();
  }
  u.setRecNo(10);
  u.deleteRecord();
  u.close();
  auto c = pxcheck::read(path("plain.db"));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->fileType, 2);
  ASSERT_EQ(c->rows.size(), 499u);
  EXPECT_EQ(c->rows[0][0].l, 500);  // file order, as added
  EXPECT_EQ(c->rows[9][0].l, 490);

  // A Paradox 3.0 table with 1 KiB blocks and no .PX gets its record in key
  // order and a primary index.
  fs::copy_file(testData("paradox/STATES.DB"), path("STATES.DB"));
  fs::permissions(path("STATES.DB"), fs::perms::owner_read | fs::perms::owner_write);
  Table s;
  s.setTableName(path("STATES.DB"));
  s.open();
  s.insert();
  s.fieldByName("Abv").setAsString("CX");
  s.fieldByName("State").setAsString("Nowhere");
  s.post();
  EXPECT_EQ(s.recNo(), 8);  // after CA, CO, CT
  s.close();
  EXPECT_EQ(pxcheck::verify(path("STATES.DB"), path("STATES.PX"), {}), "");
  auto st = pxcheck::read(path("STATES.DB"));
  ASSERT_TRUE(st);
  ASSERT_EQ(st->rows.size(), 54u);
  EXPECT_EQ(st->rows[7][0].s, "CX");
  EXPECT_EQ(st->version, 30);
}

TEST_F(ParadoxWrite, SingleFieldIndexesOfAnotherProgramFollowEdits) {
  for (const char* ext : {"DB", "PX", "VAL", "X02", "Y02", "X03", "Y03"})
    fs::copy_file(testData(std::string("paradox/C.") + ext), path(std::string("C.") + ext));
  for (auto& e : fs::directory_iterator(dir.path().toStdString()))
    fs::permissions(e.path(), fs::perms::owner_read | fs::perms::owner_write);
  Table t;
  t.setTableName(path("C.DB"));
  t.open();
  for (int i = 10; i < 200; ++i) {
    t.append();
    t.fieldByName("C").setAsInteger(i);
    t.fieldByName("A").setAsInteger((i * 31) % 97);
    t.fieldByName("B").setAsInteger(-i);
    t.post();
  }
  t.setIndexFieldNames("A");
  t.first();
  for (int i = 0; i < 50; ++i) {
    t.edit();
    t.fieldByName("A").setAsInteger(1000 - i);
    t.post();
    t.first();
  }
  t.setRecNo(3);
  t.deleteRecord();
  t.close();
  EXPECT_EQ(pxcheck::verify(path("C.DB"), path("C.PX"),
                            {{path("C.X02"), path("C.Y02"), {1}}, {path("C.X03"), path("C.Y03"), {2}}}),
            "");
}

TEST_F(ParadoxWrite, SortKeysOrderAsTheFieldComparison) {
  Table t;
  createGoods(t, "s");
  t.close();
  auto be = paradoxFormat().open(path("s.db"));
  std::mt19937 rng(5);
  const std::string letters = "aAzZ\xE0\xC0\xE5\xC5\xB8\xA8\xE6\xC6\xFF\xDF 0-";
  auto randomRecord = [&] {
    std::string r = be->blankRecord();
    std::string name;
    for (unsigned n = rng() % 6; n > 0; --n) name += letters[rng() % letters.size()];
    be->set(r, 2, name.empty() ? Value::null() : Value::text(name));
    if (rng() % 4) be->set(r, 4, Value::integer(static_cast<int>(rng() % 2001) - 1000));
    return r;
  };
  const std::vector<std::vector<int>> orders = {{2}, {4}, {2, 4}, {4, 2}};
  for (int i = 0; i < 3000; ++i) {
    const std::string a = randomRecord(), b = randomRecord();
    for (const auto& fields : orders)
      for (bool ci : {true, false}) {
        const std::vector<bool> noCase(fields.size(), ci);
        int want = 0;
        for (int f : fields)
          if ((want = be->compare(a, b, f, ci)) != 0) break;
        const int got = be->sortKey(a, fields, noCase).compare(be->sortKey(b, fields, noCase));
        ASSERT_EQ(want < 0, got < 0) << i;
        ASSERT_EQ(want == 0, got == 0) << i;
      }
  }
}

TEST_F(ParadoxWrite, AFreeListIntoLiveBlocksIsNeverUsed) {
  Table t;
  createGoods(t, "f");
  for (int i = 1; i <= 100; ++i) addGoods(t, i, "n" + std::to_string(i), "", i);
  t.close();
  {
    std::fstream f(path("f.db"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0x4D);
    f.put(1).put(0);  // the head of the free list: block 1, which holds records
  }
  t.open();
  for (int i = 101; i <= 200; ++i) addGoods(t, i, "n" + std::to_string(i), "", i);
  t.close();
  EXPECT_EQ(verifyGoods("f"), "");
  auto c = pxcheck::read(path("f.db"));
  ASSERT_TRUE(c);
  ASSERT_EQ(c->rows.size(), 200u);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(c->rows[static_cast<std::size_t>(i)][2].s, "n" + std::to_string(i + 1));
}

// A table past the size where its primary index needs a second level: pxlib
// reads the index, finds its levels' counts in agreement and fetches every
// record through it; a post rewrites only a few index blocks.
TEST_F(ParadoxWrite, HundredThousandRecordsKeepAnIndexPxlibReads) {
  if (kSanitizedBuild) GTEST_SKIP() << kLargeTableSkipped;
  ASSERT_TRUE(pxcheck::available());
  Table t;
  t.setTableName(path("h.db"));
  t.fieldDefs() = {{"CODE", FieldType::Integer, 0, false}, {"NAME", FieldType::String, 60, false}};
  t.indexDefs() = {{"", "CODE", ixPrimary}, {"byName", "NAME", ixCaseInsensitive}};
  t.createTable();
  t.open();
  const int n = 100000;
  for (int i = 0; i < n; ++i) {
    t.append();
    t.fieldByName("CODE").setAsInteger(2 * i);
    t.fieldByName("NAME").setAsString("name " + std::to_string((i * 7919) % n));
    t.post();
  }
  const std::string px = slurp(path("h.PX"));
  ASSERT_GE(px.size(), 0x800u);
  EXPECT_EQ(static_cast<unsigned char>(px[0x20]), 2);  // two levels
  EXPECT_EQ(px.substr(0x1E, 2), px.substr(0x0E, 2));   // the root heads the chain
  auto through = pxcheck::readThroughIndex(path("h.db"), path("h.PX"));
  EXPECT_TRUE(through.complaints.empty()) << through.complaints.front();
  ASSERT_TRUE(through.contents);
  ASSERT_EQ(static_cast<int>(through.contents->rows.size()), n);
  EXPECT_EQ(through.contents->rows[n - 1][0].l, 2 * (n - 1));

  // Inserts in the middle of the key order split blocks: each post changes
  // the .PX and the .YG0 in a few blocks only.
  auto changedBlocks = [](const std::string& a, const std::string& b) {
    std::size_t count = 0;
    for (std::size_t off = 0x800; off < std::max(a.size(), b.size()); off += 4096)
      if (off >= a.size() || off >= b.size() || a.compare(off, 4096, b, off, 4096) != 0) ++count;
    return count;
  };
  std::size_t most = 0, mostY = 0;
  std::string lastPx = px, lastY = slurp(path("h.YG0"));
  for (int i = 0; i < 200; ++i) {
    t.insert();
    t.fieldByName("CODE").setAsInteger(2 * ((i * 4973) % n) + 1);
    t.fieldByName("NAME").setAsString("inserted " + std::to_string(i));
    t.post();
    std::string nowPx = slurp(path("h.PX")), nowY = slurp(path("h.YG0"));
    most = std::max(most, changedBlocks(lastPx, nowPx));
    mostY = std::max(mostY, changedBlocks(lastY, nowY));
    lastPx = std::move(nowPx);
    lastY = std::move(nowY);
  }
  EXPECT_LE(most, 4u);
  EXPECT_LE(mostY, 5u);
  t.close();
  through = pxcheck::readThroughIndex(path("h.db"), path("h.PX"));
  EXPECT_TRUE(through.complaints.empty()) << through.complaints.front();
  EXPECT_EQ(pxcheck::verify(path("h.db"), path("h.PX"), {{path("h.XG0"), path("h.YG0"), {1}}}), "");

  // Opened again, the table goes on from the indexes as they stand.
  t.open();
  t.append();
  t.fieldByName("CODE").setAsInteger(3 * n);
  t.fieldByName("NAME").setAsString("last");
  t.post();
  t.close();
  EXPECT_LE(changedBlocks(lastPx, slurp(path("h.PX"))), 2u);
  EXPECT_LE(changedBlocks(lastY, slurp(path("h.YG0"))), 3u);
  EXPECT_EQ(pxcheck::verify(path("h.db"), path("h.PX"), {{path("h.XG0"), path("h.YG0"), {1}}}), "");
}

// A secondary index left behind its data (a program stopped between writing
// the data and the index) is built again from the data at the first change,
// whether it misses records or holds stale entries, and every later edit and
// delete goes on.
TEST_F(ParadoxWrite, SecondaryIndexBehindItsDataIsRebuilt) {
  Table t;
  createGoods(t, "g");
  for (int i = 1; i <= 300; ++i) addGoods(t, i, "n" + std::to_string(i), "", i);
  const std::string oldXg0 = slurp(path("g.XG0"));
  for (int i = 301; i <= 320; ++i) addGoods(t, i, "n" + std::to_string(i), "", i);
  const std::string oldXg2 = slurp(path("g.XG2"));
  t.setRecNo(5);
  t.fieldByName("PRICE").setAsInteger(99999);
  t.post();
  t.setRecNo(7);
  t.fieldByName("PRICE").setAsInteger(77777);
  t.post();
  t.close();
  // XG0 misses 20 records; XG2 holds every record, two of them stale.
  std::ofstream(path("g.XG0"), std::ios::binary | std::ios::trunc) << oldXg0;
  std::ofstream(path("g.XG2"), std::ios::binary | std::ios::trunc) << oldXg2;
  t.open();
  EXPECT_FALSE(t.readOnly()) << t.readOnlyReason();
  t.setRecNo(7);
  t.fieldByName("PRICE").setAsInteger(1);  // its old entry (price 7) is found
  t.post();
  t.setRecNo(5);
  t.fieldByName("PRICE").setAsInteger(2);  // the index has price 5, not 99999
  t.post();
  t.setRecNo(310);
  t.deleteRecord();
  t.setRecNo(9);
  t.fieldByName("PLUNO").setAsInteger(9000);
  t.post();
  t.close();
  EXPECT_EQ(verifyGoods("g"), "");
  t.open();
  t.setIndexFieldNames("PRICE");
  t.first();
  EXPECT_EQ(t.fieldByName("PRICE").asInteger(), 1);
  EXPECT_EQ(t.recordCount(), 319);
}

// A keyed table holds no more data blocks than its primary index can name
// (32,767: the index holds block numbers in short fields). Records of one
// block each fill a table to that limit quickly: pxlib reads every record
// through the index, the next add is refused by name with nothing written,
// and a table past the limit (as an earlier version wrote them) is only read.
TEST_F(ParadoxWrite, KeyedTableStopsAtTheBlocksItsIndexCanName) {
  if (kSanitizedBuild) GTEST_SKIP() << kLargeTableSkipped;
  ASSERT_TRUE(pxcheck::available());
  const int limit = 32767;
  Table t;
  t.setTableName(path("big.db"));
  t.fieldDefs() = {{"CODE", FieldType::Integer, 0, false}};
  for (int i = 0; i < 9; ++i) t.fieldDefs().push_back({"T" + std::to_string(i), FieldType::String, i < 8 ? 255 : 10, false});
  t.indexDefs() = {{"", "CODE", ixPrimary}};
  t.createTable();
  t.open();
  auto add = [&](int code) {
    t.append();
    t.fieldByName("CODE").setAsInteger(code);
    t.post();
  };
  t.beginBatch();
  for (int i = 1; i <= limit; ++i) add(i);
  t.endBatch();
  const std::string db = slurp(path("big.db")), px = slurp(path("big.PX"));
  const auto u16 = [](const std::string& d, std::size_t o) {
    return static_cast<int>(static_cast<unsigned char>(d[o]) | (static_cast<unsigned char>(d[o + 1]) << 8));
  };
  ASSERT_EQ(u16(db, 0x0C), limit);  // one record a block

  try {
    add(limit + 1);
    ADD_FAILURE() << "a record past the limit was added";
  } catch (const DbError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("big.db"), std::string::npos) << what;
    EXPECT_NE(what.find("32767"), std::string::npos) << what;
  }
  t.cancel();
  EXPECT_TRUE(slurp(path("big.db")) == db && slurp(path("big.PX")) == px) << "the refused add wrote";
  EXPECT_EQ(t.recordCount(), limit);
  t.close();
  EXPECT_EQ(pxcheck::verify(path("big.db"), path("big.PX"), {}), "");
  t.open();
  EXPECT_FALSE(t.readOnly()) << t.readOnlyReason();
  t.last();
  EXPECT_EQ(t.fieldByName("CODE").asInteger(), limit);
  t.close();

  // One block more, linked after the last, with the index left as it was.
  const std::size_t hs = static_cast<std::size_t>(u16(db, 2)), bs = static_cast<std::size_t>(db[5]) * 1024;
  ASSERT_EQ(db.size(), hs + limit * bs);
  std::string past = db, block = db.substr(hs + (limit - 1) * bs, bs);
  past[hs + (limit - 1) * bs] = static_cast<char>((limit + 1) & 0xFF);
  past[hs + (limit - 1) * bs + 1] = static_cast<char>((limit + 1) >> 8);
  block[0] = block[1] = 0;
  block[2] = static_cast<char>(limit & 0xFF);
  block[3] = static_cast<char>(limit >> 8);
  block[6 + 2] = static_cast<char>(0x80), block[6 + 3] = 0;  // CODE 32768
  past += block;
  for (std::size_t at : {0x0A, 0x0C, 0x10}) past[at] = 0, past[at + 1] = static_cast<char>(0x80);
  past[0x06] = 0, past[0x07] = static_cast<char>(0x80);  // 32768 records
  std::ofstream(path("big.db"), std::ios::binary | std::ios::trunc) << past;
  t.open();
  EXPECT_TRUE(t.readOnly());
  EXPECT_NE(t.readOnlyReason().find("32768"), std::string::npos) << t.readOnlyReason();
  EXPECT_EQ(t.recordCount(), limit + 1);
  EXPECT_THROW(add(limit + 2), DbError);
  t.close();
  EXPECT_TRUE(slurp(path("big.PX")) == px);
}
