// The component semantics the program relies on.
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include "storage/replaced_table.h"
#include "table_support.h"

using namespace storage;
using namespace tablesupport;
namespace fs = std::filesystem;

namespace {

class TableSemantics : public TableTest {
 protected:
  void SetUp() override {
    t.setTableName(path("goods.db"));
    defineGoods(t);
    t.createTable();
    t.open();
  }
  std::vector<int> plus() {
    std::vector<int> r;
    const Bookmark b = t.getBookmark();
    for (t.first(); !t.eof(); t.next()) r.push_back(t.fieldByName("PLUNO").asInteger());
    if (b.valid()) t.gotoBookmark(b);
    return r;
  }
  Table t;
};

}  // namespace

TEST_F(TableTest, CreateExistsRenameDeleteMoveEveryCompanionFile) {
  Table t;
  t.setTableName(path("base"));
  EXPECT_FALSE(t.exists());
  defineGoods(t);
  t.createTable();
  EXPECT_TRUE(t.exists());
  EXPECT_TRUE(fs::exists(path("base.db")));
  EXPECT_THROW(t.createTable(), DbError);  // never replaces a table
  // A companion with an extension in other letter case moves along.
  { std::ofstream(path("base.tv")) << "x"; }
  { std::ofstream(path("base.xls")) << "not ours"; }
  t.renameTable(path("other.db"));
  EXPECT_EQ(t.tableName(), path("other.db"));
  EXPECT_FALSE(fs::exists(path("base.db")));
  for (const char* f : {"other.db", "other.PX", "other.XG0", "other.YG5", "other.VAL", "other.tv"})
    EXPECT_TRUE(fs::exists(path(f))) << f;
  for (auto& e : fs::directory_iterator(dir.path().toStdString()))
    if (e.path().extension() != ".xls") {
      EXPECT_EQ(e.path().stem().string(), "other") << e.path();
    }
  EXPECT_TRUE(fs::exists(path("base.xls")));
  t.open();
  EXPECT_EQ(t.fieldCount(), 16);
  EXPECT_THROW(t.deleteTable(), DbError);  // open
  EXPECT_THROW(t.renameTable(path("x.db")), DbError);
  t.close();
  t.deleteTable();
  EXPECT_FALSE(t.exists());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path().toStdString()), fs::directory_iterator()), 1);

  // A process killed while a table it replaces is set aside leaves its files
  // under names that say so: no table takes them for its own, and a later
  // replacement onto the name sets its table aside beside them.
  t.setTableName(path("old.db"));
  t.createTable();
  const std::size_t files = t.files().size();
  if (::fork() == 0) {
    try {
      ReplacedTable aside(t);
      ::_exit(0);  // killed: nothing put back, nothing removed
    } catch (...) {
      ::_exit(1);
    }
  }
  ::wait(nullptr);
  EXPECT_FALSE(t.exists());
  t.createTable();
  EXPECT_EQ(t.files().size(), files);
  Table other;
  other.setTableName(path("other.db"));
  defineGoods(other);
  other.createTable();
  other.renameTable(path("old.db"), true);
  for (const char* f : {"old.db-replaced", "old.PX-replaced", "old.YG5-replaced"})
    EXPECT_TRUE(fs::exists(path(f))) << f;
  EXPECT_FALSE(fs::exists(path("old.db-replaced-2")));  // removed once the rename was done
}

TEST_F(TableTest, CreationRefusesBadDefinitions) {
  Table t;
  t.setTableName(path("bad.db"));
  defineGoods(t);
  t.fieldDefs()[3].name = "name1";  // same as NAME1 ignoring case
  EXPECT_THROW(t.createTable(), DbError);
  defineGoods(t);
  t.fieldDefs()[3].name = "";
  EXPECT_THROW(t.createTable(), DbError);
  defineGoods(t);
  t.indexDefs()[3].fields = "PRICEX";
  EXPECT_THROW(t.createTable(), DbError);
  EXPECT_FALSE(t.exists());
  // An order naming a field the new table lacks: created, but it does not open.
  defineMessages(t);
  t.setIndexFieldNames("PLUNO");
  t.createTable();
  EXPECT_THROW(t.open(), DbError);
  EXPECT_FALSE(t.active());
  t.setIndexFieldNames("");
  t.open();
  EXPECT_TRUE(t.active());
}

TEST_F(TableSemantics, NavigationAndRecordCount) {
  EXPECT_TRUE(t.isEmpty());
  EXPECT_TRUE(t.eof());
  EXPECT_TRUE(t.bof());
  EXPECT_EQ(t.recNo(), 0);
  for (int i = 1; i <= 5; ++i) addGoods(t, i * 10, "n", "", i);
  EXPECT_EQ(t.recordCount(), 5);
  t.first();
  EXPECT_TRUE(t.bof());
  EXPECT_FALSE(t.eof());
  EXPECT_EQ(t.recNo(), 1);
  t.prior();
  EXPECT_TRUE(t.bof());
  EXPECT_EQ(t.recNo(), 1);
  t.next();
  EXPECT_FALSE(t.bof());
  EXPECT_EQ(t.fieldByName("PLUNO").asInteger(), 20);
  t.last();
  EXPECT_TRUE(t.eof());
  EXPECT_EQ(t.fieldByName("PLUNO").asInteger(), 50);
  t.next();
  EXPECT_TRUE(t.eof());
  EXPECT_EQ(t.recNo(), 5);
  t.moveBy(-2);
  EXPECT_EQ(t.recNo(), 3);
  t.setRecNo(2);
  EXPECT_EQ(t.fieldByName("PLUNO").asInteger(), 20);
  // A walk with first/next visits every record once.
  int n = 0;
  for (t.first(); !t.eof(); t.next()) ++n;
  EXPECT_EQ(n, 5);
}

TEST_F(TableSemantics, PendingRecordIsStoredWhenChangedAndDroppedWhenNot) {
  addGoods(t, 1, "a", "", 1);
  addGoods(t, 2, "b", "", 1);
  // Moving stores a changed new record.
  t.insert();
  t.fieldByName("PLUNO").setAsInteger(3);
  t.first();
  EXPECT_EQ(t.recordCount(), 3);
  // Moving drops an unchanged new record.
  t.append();
  EXPECT_EQ(t.state(), State::Insert);
  t.last();
  EXPECT_EQ(t.state(), State::Browse);
  EXPECT_EQ(t.recordCount(), 3);
  // Inserting another record stores the changed one.
  t.append();
  t.fieldByName("PLUNO").setAsInteger(4);
  t.insert();
  EXPECT_EQ(t.recordCount(), 4);
  t.cancel();
  // Sorting stores an edit; refresh stores an edit.
  t.first();
  t.edit();
  t.fieldByName("NAME1").setAsString("changed");
  t.setIndexFieldNames("PLUNO");
  EXPECT_EQ(t.state(), State::Browse);
  t.first();
  EXPECT_EQ(t.fieldByName("NAME1").asString(), "changed");
  t.fieldByName("NAME2").setAsString("x");  // a setter starts the edit
  EXPECT_EQ(t.state(), State::Edit);
  EXPECT_TRUE(t.modified());
  t.refresh();
  EXPECT_EQ(t.fieldByName("NAME2").asString(), "x");
  // A changed record that cannot be stored stays pending and the action fails.
  t.append();
  t.fieldByName("NAME1").setAsString("no plu");
  EXPECT_THROW(t.first(), DbError);
  EXPECT_THROW(t.setIndexFieldNames(""), DbError);
  EXPECT_THROW(t.refresh(), DbError);
  EXPECT_EQ(t.state(), State::Insert);
  EXPECT_EQ(t.indexFieldNames(), "PLUNO");
  // Close drops it.
  t.close();
  t.open();
  EXPECT_EQ(t.recordCount(), 4);
}

TEST_F(TableSemantics, CancelDeleteAndEditOfAnEmptyTable) {
  t.edit();  // an empty table gets a new record
  EXPECT_EQ(t.state(), State::Insert);
  t.cancel();
  EXPECT_EQ(t.state(), State::Browse);
  EXPECT_THROW(t.deleteRecord(), DbError);
  for (int i = 1; i <= 3; ++i) addGoods(t, i, "n", "", i);
  t.first();
  t.edit();
  t.fieldByName("PRICE").setAsInteger(99);
  t.cancel();
  EXPECT_EQ(t.fieldByName("PRICE").asInteger(), 1);
  t.next();
  t.deleteRecord();
  EXPECT_EQ(t.recordCount(), 2);
  EXPECT_EQ(t.fieldByName("PLUNO").asInteger(), 3);  // the next one is current
  t.deleteRecord();
  EXPECT_EQ(t.fieldByName("PLUNO").asInteger(), 1);  // the last one went: back one
  t.close();
  t.open();
  EXPECT_EQ(plus(), std::vector<int>{1});
}

TEST_F(TableSemantics, InsertAndAppendRunAfterInsert) {
  int calls = 0;
  t.afterInsert = [&](Table& tab) {
    ++calls;
    EXPECT_EQ(tab.state(), State::Insert);
    EXPECT_TRUE(tab.fieldByName("PLUNO").isNull());  // every field starts empty
  };
  t.insert();
  t.append();
  EXPECT_EQ(calls, 2);
}

TEST_F(TableSemantics, FieldsByNameIgnoringCaseWithValueRules) {
  EXPECT_EQ(t.findField("pluno"), &t.fieldByName("PLUNO"));
  EXPECT_EQ(t.findField("Name1")->index(), 2);
  EXPECT_EQ(t.findField("NOPE"), nullptr);
  EXPECT_THROW(t.fieldByName("NOPE"), DbError);
  t.append();
  Field& plu = t.fieldByName("PLUNO");
  Field& life = t.fieldByName("LIFE");
  EXPECT_EQ(plu.asInteger(), 0);  // empty integer reads 0
  EXPECT_EQ(plu.asString(), "");
  EXPECT_EQ(life.asString(), "");
  EXPECT_EQ(life.asInteger(), 0);  // empty text reads 0 as an integer
  life.setAsString("12");
  EXPECT_EQ(life.asInteger(), 12);
  life.setAsString("1.5");
  EXPECT_THROW(life.asInteger(), DbError);
  life.setAsString(" 7 ");
  EXPECT_THROW(life.asInteger(), DbError);  // a trailing blank fails
  life.setAsInteger(-5);
  EXPECT_EQ(life.asString(), "-5");
  plu.setAsString("42");
  EXPECT_EQ(plu.asInteger(), 42);
  EXPECT_THROW(plu.setAsString("4x"), DbError);
  EXPECT_EQ(plu.asInteger(), 42);
  plu.setAsString("");
  EXPECT_TRUE(plu.isNull());
  life.setAsString("toolongtext");
  EXPECT_EQ(life.asString(), "toolongt");  // cut to the field's size
  // Texts are bytes: Cyrillic Windows-1251 goes through unchanged.
  t.fieldByName("NAME1").setAsString("\xCC\xEE\xEB\xEE\xEA\xEE");
  EXPECT_EQ(t.fieldByName("NAME1").asString(), "\xCC\xEE\xEB\xEE\xEA\xEE");
  t.fieldByName("PLUNO").clear();
  EXPECT_TRUE(t.fieldByName("PLUNO").isNull());
  t.close();
  EXPECT_EQ(t.findField("PLUNO"), nullptr);  // no table open
  EXPECT_THROW(t.fieldByName("PLUNO"), DbError);
}

TEST_F(TableSemantics, DisplaySettingsBelongToTheOpenTable) {
  Field& no = t.fieldByName("NO");
  Field& life = t.fieldByName("LIFE");
  EXPECT_EQ(no.displayLabel(), "NO");
  EXPECT_TRUE(no.visible());
  EXPECT_EQ(t.fieldByName("PRICE").alignment(), Alignment::Right);
  EXPECT_EQ(life.alignment(), Alignment::Left);
  no.setVisible(false);
  life.setDisplayLabel("\xD1\xF0\xEE\xEA");
  life.setAlignment(Alignment::Right);
  t.fieldByName("START").setReadOnly(true);
  EXPECT_EQ(life.displayLabel(), "\xD1\xF0\xEE\xEA");
  t.append();
  EXPECT_THROW(t.fieldByName("START").setAsString("x"), DbError);
  EXPECT_THROW(t.fieldByName("START").setAsInteger(1), DbError);
  t.fieldByName("PLUNO").setAsInteger(1);
  t.post();
  t.close();
  t.open();
  EXPECT_TRUE(t.fieldByName("NO").visible());
  EXPECT_EQ(t.fieldByName("LIFE").displayLabel(), "LIFE");
  EXPECT_EQ(t.fieldByName("LIFE").alignment(), Alignment::Left);
  EXPECT_FALSE(t.fieldByName("START").readOnly());
}

TEST_F(TableSemantics, IndexFieldNamesOrdersByAFittingIndex) {
  addGoods(t, 3, "\xE1\xF3\xEB\xEA\xE0", "b", 30);  // булка
  addGoods(t, 1, "\xC1\xF3\xEB\xEA\xE0", "a", 10);  // Булка
  addGoods(t, 2, "apple", "", 20);
  addGoods(t, 4, "\xE0\xE9\xE2\xE0", "", 5);  // айва
  t.setIndexFieldNames("PLUNO");
  EXPECT_EQ(plus(), (std::vector<int>{1, 2, 3, 4}));
  // NAME1 alone is served by indNAME1 (NAME1;NAME2), letter case ignored.
  t.setIndexFieldNames("NAME1");
  EXPECT_EQ(plus(), (std::vector<int>{2, 4, 1, 3}));
  t.setIndexFieldNames("name1;name2");
  EXPECT_EQ(plus(), (std::vector<int>{2, 4, 1, 3}));
  t.setIndexFieldNames("PRICE");
  EXPECT_EQ(plus(), (std::vector<int>{4, 1, 2, 3}));
  // No fitting index, or no such field: an error, the order stays.
  EXPECT_THROW(t.setIndexFieldNames("NAME2"), DbError);
  EXPECT_THROW(t.setIndexFieldNames("NAME"), DbError);
  EXPECT_THROW(t.setIndexFieldNames("NAME1;NAME"), DbError);
  EXPECT_EQ(t.indexFieldNames(), "PRICE");
  EXPECT_EQ(plus(), (std::vector<int>{4, 1, 2, 3}));
  t.setIndexFieldNames("");
  EXPECT_EQ(plus(), (std::vector<int>{3, 1, 2, 4}));
  // The order stays across close and open; a posted record takes its place.
  t.setIndexFieldNames("PLUNO");
  addGoods(t, 0, "z", "", 1);
  EXPECT_EQ(t.recNo(), 1);
  t.close();
  EXPECT_EQ(t.indexFieldNames(), "PLUNO");
  t.open();
  EXPECT_EQ(plus(), (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST_F(TableSemantics, EditInAnOrderFollowsTheRecord) {
  for (int i = 1; i <= 5; ++i) addGoods(t, i, "n", "", i);
  t.setIndexFieldNames("PLUNO");
  t.first();
  t.edit();
  t.fieldByName("PLUNO").setAsInteger(10);
  t.post();
  EXPECT_EQ(t.recNo(), 5);
  EXPECT_EQ(t.fieldByName("PLUNO").asInteger(), 10);
  EXPECT_EQ(plus(), (std::vector<int>{2, 3, 4, 5, 10}));
}

TEST_F(TableSemantics, BookmarksReturnToTheRecord) {
  for (int i = 1; i <= 10; ++i) addGoods(t, i, "n", "", i);
  t.setRecNo(7);
  const Bookmark b = t.getBookmark();
  EXPECT_TRUE(b.valid());
  t.setIndexFieldNames("PRICE");
  t.first();
  t.gotoBookmark(b);
  EXPECT_EQ(t.fieldByName("PLUNO").asInteger(), 7);
  t.deleteRecord();
  EXPECT_THROW(t.gotoBookmark(b), DbError);
}

TEST_F(TableSemantics, ClosedTableRefusesWork) {
  t.close();
  EXPECT_THROW(t.first(), DbError);
  EXPECT_THROW(t.recordCount(), DbError);
  EXPECT_THROW(t.insert(), DbError);
  EXPECT_THROW(t.refresh(), DbError);
  EXPECT_EQ(t.state(), State::Inactive);
  t.setIndexFieldNames("NOSUCH");  // only recorded while closed
  EXPECT_EQ(t.indexFieldNames(), "NOSUCH");
  Table missing;
  missing.setTableName(path("nothing.db"));
  EXPECT_FALSE(missing.exists());
  EXPECT_THROW(missing.open(), DbError);
}

TEST_F(TableSemantics, RefreshThatCannotReadTheFilesKeepsTheOpenTable) {
  addGoods(t, 1, "a", "", 1);
  fs::rename(path("goods.db"), path("moved.db"));
  EXPECT_THROW(t.refresh(), DbError);
  EXPECT_TRUE(t.active());
  EXPECT_EQ(t.fieldByName("NAME1").asString(), "a");
  fs::rename(path("moved.db"), path("goods.db"));
  t.refresh();
  EXPECT_EQ(t.recordCount(), 1);
}

TEST_F(TableSemantics, ListenersHearChanges) {
  std::vector<Change> seen;
  const int id = t.addListener([&](Change c) { seen.push_back(c); });
  addGoods(t, 1, "a", "", 1);
  EXPECT_FALSE(seen.empty());
  t.removeListener(id);
  seen.clear();
  t.first();
  EXPECT_TRUE(seen.empty());
}

TEST_F(TableSemantics, LastAndBookmarksAfterStoringAndRefreshing) {
  for (int i = 1; i <= 3; ++i) addGoods(t, i, "n", "", i);
  // Last stores a changed new record and then stands on the last record,
  // which is that record (it is numbered last).
  t.first();
  t.insert();
  t.fieldByName("PLUNO").setAsInteger(9);
  t.last();
  EXPECT_EQ(t.state(), State::Browse);
  EXPECT_EQ(t.recordCount(), 4);
  EXPECT_EQ(t.recNo(), 4);
  EXPECT_TRUE(t.eof());
  EXPECT_EQ(t.fieldByName("PLUNO").asInteger(), 9);
  // Bookmarks still find their records after the files are read again.
  t.setRecNo(2);
  const Bookmark b = t.getBookmark();
  t.setRecNo(3);
  const Bookmark gone = t.getBookmark();
  t.deleteRecord();
  t.refresh();
  t.first();
  t.gotoBookmark(b);
  EXPECT_EQ(t.fieldByName("PLUNO").asInteger(), 2);
  EXPECT_THROW(t.gotoBookmark(gone), DbError);
}

TEST_F(TableSemantics, RefreshRefusesATableWhoseFieldsChangedUnderIt) {
  addGoods(t, 7, "seven", "", 70);
  Table m;
  m.setTableName(path("m.db"));
  defineMessages(m);
  m.createTable();
  // Another program puts a table of other fields in place of the open one.
  for (auto& e : fs::directory_iterator(dir.path().toStdString()))
    if (e.path().stem() == "goods" && e.path().extension() != ".db") fs::remove(e.path());
  fs::copy_file(path("m.db"), path("goods.db"), fs::copy_options::overwrite_existing);
  EXPECT_THROW(t.refresh(), DbError);
  EXPECT_TRUE(t.active());
  EXPECT_EQ(t.fieldByName("WEIGHT").asString(), "");
  EXPECT_EQ(t.fieldByName("NAME1").asString(), "seven");
  EXPECT_EQ(t.textAt(0, 15), "");
}
