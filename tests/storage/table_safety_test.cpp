// The engine's safety rules on the tables the program creates: the writer
// lock and writes that fail on a full disk.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dbase_test_util.h"
#include "pxlib_reader.h"
#include "storage/file_io.h"
#include "storage/file_lock.h"
#include "table_support.h"

using storage::DbError;
using storage::FileLock;
using storage::Table;
using namespace tablesupport;

namespace {

std::vector<int> plus(Table& t) {
  std::vector<int> out;
  for (t.first(); !t.eof(); t.next()) out.push_back(t.fieldByName("PLUNO").asInteger());
  return out;
}

}  // namespace

TEST_F(TableTest, SecondWriterOfAGoodsTableGetsItReadOnly) {
  const std::string p = path("goods.db");
  makeGoods(p, 3);
  Table a, b;
  a.setTableName(p);
  a.open();
  EXPECT_FALSE(a.readOnly());
  b.setTableName(p);
  b.open();
  EXPECT_TRUE(b.readOnly());
  EXPECT_NE(b.readOnlyReason().find("другим пользователем или программой"), std::string::npos);
  EXPECT_EQ(b.recordCount(), 3);
  EXPECT_THROW(b.append(), DbError);
  EXPECT_THROW(b.fieldByName("PRICE").setAsInteger(1), DbError);
  // Nor is the table deleted or renamed under its writer.
  Table c;
  c.setTableName(p);
  EXPECT_THROW(c.deleteTable(), DbError);
  EXPECT_THROW(c.renameTable(path("other.db")), DbError);
  EXPECT_TRUE(c.exists());
  a.close();
  EXPECT_FALSE(FileLock::lockedByOther(p));
  c.renameTable(path("other.db"));
  c.deleteTable();
  EXPECT_FALSE(c.exists());
}

// Another process holds the table (a reading that does not end): a change
// waits a moment, then is refused with a message that names the table; the
// files stay as they were, the edited record keeps its state and value, and
// the same change goes through once the other process lets go.
TEST_F(TableTest, ChangeRefusedWhileAnotherProcessHoldsTheTable) {
  const std::string p = path("goods.db");
  makeGoods(p, 3);
  Table t;
  t.setTableName(p);
  t.open();
  ASSERT_FALSE(t.readOnly()) << t.readOnlyReason();
  auto files = [&] {
    std::string all;
    for (const char* ext : {".db", ".PX", ".XG0", ".YG0"}) all += dbtest::readBytes(path(std::string("goods") + ext));
    return all;
  };
  const std::string before = files();
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    storage::ReadLock hold(p);
    if (::write(ready[1], "y", 1) != 1) _exit(2);
    // Held until told, or for ten seconds at most.
    struct pollfd pf = {release[0], POLLIN, 0};
    ::poll(&pf, 1, 10000);
    _exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);

  const std::string busy = "Таблица «" + p + "» занята: её читает или изменяет другая программа";
  t.last();
  EXPECT_TRUE(dbtest::contains(dbtest::errorOf([&] { t.deleteRecord(); }), busy));
  EXPECT_TRUE(dbtest::contains(dbtest::errorOf([&] { addGoods(t, 9, "NEW", "", 1); }), busy));
  t.cancel();
  t.first();
  t.edit();
  t.fieldByName("PRICE").setAsInteger(555);
  EXPECT_TRUE(dbtest::contains(dbtest::errorOf([&] { t.post(); }), busy));
  EXPECT_EQ(t.state(), storage::State::Edit);
  EXPECT_EQ(t.fieldByName("PRICE").asInteger(), 555);
  EXPECT_EQ(t.recordCount(), 3);
  EXPECT_TRUE(files() == before);

  ::close(release[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  t.post();
  EXPECT_EQ(plus(t), (std::vector<int>{1, 2, 3}));
  t.close();
  t.open();
  EXPECT_EQ(t.fieldByName("PRICE").asInteger(), 555);
}

// Each append on a full disk either lands whole or fails with the error and
// leaves every record stored before readable; afterwards the table works on.
TEST_F(TableTest, FullDiskWhileAppendingGoods) {
  for (size_t budget : {size_t(0), size_t(100), size_t(4096), size_t(5000), size_t(12000)}) {
    const std::string p = path("full" + std::to_string(budget) + ".db");
    makeGoods(p, 40);
    int stored = 40;
    std::string err;
    {
      Table t;
      t.setTableName(p);
      t.open();
      dbtest::FullDisk disk(budget);
      try {
        for (int i = 41; i <= 400; ++i) {
          addGoods(t, i, "MORE " + std::to_string(i), "", i);
          stored = i;
        }
      } catch (const DbError& e) {
        err = e.what();
      }
      t.close();
    }
    EXPECT_NE(err.find("на диске нет места"), std::string::npos) << budget << ": " << err;
    Table t;
    t.setTableName(p);
    ASSERT_NO_THROW(t.open()) << budget;
    std::vector<int> want;
    for (int i = 1; i <= stored; ++i) want.push_back(i);
    EXPECT_EQ(plus(t), want) << budget;
    t.setIndexFieldNames("PLUNO");
    EXPECT_EQ(plus(t), want) << budget;
    // Another program's reader agrees: data file and primary index.
    if (pxcheck::available()) {
      auto db = pxcheck::read(p);
      ASSERT_TRUE(db) << budget;
      EXPECT_EQ(db->numRecords, stored) << budget;
      auto px = pxcheck::read(p.substr(0, p.size() - 3) + ".PX");
      ASSERT_TRUE(px) << budget;
      long below = 0;
      for (const auto& row : px->rows) below += row.size() >= 2 ? row[row.size() - 2].l : 0;
      EXPECT_EQ(below, stored) << budget;
    }
    addGoods(t, 1000, "AFTER", "", 1);
    EXPECT_EQ(t.recordCount(), stored + 1) << budget;
  }
}

// A real full file system (a small tmpfs in a mount namespace of a child
// process): creating and filling goods tables until the disk is full leaves
// no half-made table, and every table stays readable with what was stored.
TEST(TableSafety, FullFileSystemWhileCreatingAndFillingTables) {
  const bool ran = dbtest::inSmallTmpfs("160k", [](const dbtest::ScratchDir& dir) -> std::string {
    std::vector<std::pair<std::string, int>> made;  // table, records stored
    std::string err;
    for (int n = 0; n < 100 && err.empty(); ++n) {
      const std::string p = dir.file("g" + std::to_string(n) + ".db");
      try {
        Table t;
        t.setTableName(p);
        defineGoods(t);
        t.createTable();
        made.emplace_back(p, 0);
        t.open();
        for (int i = 1; i <= 30; ++i) {
          addGoods(t, i, "N", "", i);
          made.back().second = i;
        }
      } catch (const DbError& e) {
        err = e.what();
      }
    }
    if (err.empty()) return "the disk never filled";
    for (const auto& [p, count] : made) {
      try {
        Table t;
        t.setTableName(p);
        t.open();
        if (t.recordCount() != count)
          return p + ": " + std::to_string(t.recordCount()) + " records, " + std::to_string(count) + " stored";
      } catch (const DbError& e) {
        return p + " unreadable: " + e.what() + " (after: " + err + ")";
      }
    }
    // The table whose creation failed left nothing behind.
    const std::string next = dir.file("g" + std::to_string(made.size()) + ".db");
    if (made.back().second == 30 && std::filesystem::exists(next)) return "half-made table left: " + next;
    return "";
  });
  if (!ran) GTEST_SKIP() << "no mount namespace here";
}

// Paradox tables whose companion files the engine does not keep in agreement
// open read-only; the first edit is refused and no byte changes.
TEST_F(TableTest, ParadoxIndexKindsTheEngineDoesNotMaintainKeepTheTableReadOnly) {
  auto filesOf = [](const std::string& p) {
    std::string all;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(p).parent_path()))
      all += e.path().filename().string() + ":" + dbtest::readBytes(e.path().string());
    return all;
  };
  // A descending secondary index.
  {
    const std::string p = path("desc/goods.db");
    std::filesystem::create_directories(path("desc"));
    Table t;
    t.setTableName(p);
    defineGoods(t);
    t.indexDefs().push_back({"indDESC", "PRICE", storage::ixDescending});
    t.createTable();
    const std::string before = filesOf(p);
    t.open();
    EXPECT_TRUE(t.readOnly());
    EXPECT_NE(t.readOnlyReason().find("порядок по убыванию"), std::string::npos) << t.readOnlyReason();
    EXPECT_THROW(t.append(), DbError);
    t.close();
    EXPECT_EQ(filesOf(p), before);
  }
  // An index file whose fields are not the table's.
  {
    const std::string p = path("alien/goods.db");
    std::filesystem::create_directories(path("alien"));
    makeGoods(p, 2);
    std::filesystem::copy_file(testData("paradox/indexed.xg0"), path("alien/goods.XG9"));
    const std::string before = filesOf(p);
    Table t;
    t.setTableName(p);
    t.open();
    EXPECT_TRUE(t.readOnly());
    EXPECT_NE(t.readOnlyReason().find("goods.XG9"), std::string::npos) << t.readOnlyReason();
    EXPECT_EQ(t.recordCount(), 2);
    std::string err;
    try {
      t.fieldByName("PRICE").setAsInteger(5);
    } catch (const DbError& e) {
      err = e.what();
    }
    EXPECT_NE(err.find("Изменение невозможно"), std::string::npos) << err;
    t.close();
    EXPECT_EQ(filesOf(p), before);
  }
}

TEST_F(TableTest, EncryptedParadoxTableIsRefusedUntouched) {
  const std::string p = path("secret.db");
  std::string bytes = dbtest::readBytes(testData("paradox/date4.db"));
  bytes[0x5C] = 0x12;  // a password checksum: the blocks are encrypted
  dbtest::writeBytes(p, bytes);
  Table t;
  t.setTableName(p);
  std::string err;
  try {
    t.open();
  } catch (const DbError& e) {
    err = e.what();
  }
  EXPECT_NE(err.find("зашифрована"), std::string::npos) << err;
  EXPECT_FALSE(t.active());
  EXPECT_FALSE(FileLock::lockedByOther(p));
  EXPECT_EQ(dbtest::readBytes(p), bytes);
}

// A table whose file was removed (or replaced) under the open table: the
// change is refused with the error, not written where no one reads it.
TEST_F(TableTest, RemovedTableFileRefusesTheChange) {
  const std::string p = path("gone.db");
  makeGoods(p, 2);
  Table t;
  t.setTableName(p);
  t.open();
  std::filesystem::rename(p, path("moved.db"));
  t.append();
  t.fieldByName("PLUNO").setAsInteger(7);
  std::string err;
  try {
    t.post();
  } catch (const DbError& e) {
    err = e.what();
  }
  EXPECT_NE(err.find(p), std::string::npos) << err;
  EXPECT_EQ(t.state(), storage::State::Insert);
  t.close();
  Table moved;
  moved.setTableName(path("moved.db"));
  moved.open();
  EXPECT_EQ(moved.recordCount(), 2);
}

// Files the user may not write (checked in a child process without root's
// rights, which would write anyway): the table opens read-only with the
// reason and refuses the first edit; nothing changes.
TEST_F(TableTest, TablesWithoutWritePermissionOpenReadOnly) {
  const std::string goods = path("ro/goods.db");
  std::filesystem::create_directories(path("ro"));
  makeGoods(goods, 2);
  std::filesystem::copy_file(dbtest::sample("cars.dbf"), path("ro/cars.dbf"));
  std::filesystem::copy_file(dbtest::sample("cars.dbt"), path("ro/cars.dbt"));
  namespace fs = std::filesystem;
  fs::permissions(dir.path().toStdString(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(path("ro"), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  for (const auto& e : fs::directory_iterator(path("ro")))
    fs::permissions(e.path(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  // Files the user may write in a folder where the journal cannot be made.
  const std::string inFolder = path("rofolder/goods.db");
  fs::create_directories(path("rofolder"));
  makeGoods(inFolder, 2);
  for (const auto& e : fs::directory_iterator(path("rofolder"))) fs::permissions(e.path(), fs::perms::all);
  fs::permissions(path("rofolder"), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  std::string before;
  for (const auto& e : fs::directory_iterator(path("ro"))) before += dbtest::readBytes(e.path().string());
  const bool ran = dbtest::inChild([&]() -> std::string {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return dbtest::kSkip;
    std::string out;
    for (const std::string& p : {goods, path("ro/cars.dbf"), inFolder}) {
      try {
        Table t;
        t.setTableName(p);
        t.open();
        if (!t.readOnly()) out += p + " opened writable; ";
        if (p == inFolder && !dbtest::contains(t.readOnlyReason(), "папка «" + path("rofolder") + "»"))
          out += "the reason does not name the folder: " + t.readOnlyReason() + "; ";
        if (t.recordCount() < 2) out += p + " lost records; ";
        try {
          t.append();
          out += p + " took an append; ";
        } catch (const DbError& e) {
          if (std::string(e.what()).find("только для чтения") == std::string::npos) out += e.what();
        }
      } catch (const DbError& e) {
        out += p + ": " + e.what() + "; ";
      }
    }
    return out;
  });
  if (!ran) GTEST_SKIP() << "cannot drop root's rights here";
  std::string after;
  for (const auto& e : fs::directory_iterator(path("ro"))) after += dbtest::readBytes(e.path().string());
  EXPECT_EQ(after, before);
}

// A change of the key moves the record: out of its place and into another.
// When the device fails anywhere in that change, the open table still shows
// every record as it was, the moved one included, and never writes through a
// view of the files that the failure left behind. (The change rewrites the
// index files twice, so the budget steps through both halves.)
TEST_F(TableTest, KeyChangeThatFailsPartWayKeepsTheRecord) {
  int failures = 0, refused = 0;
  bool done = false;
  for (size_t budget = 0; !done && budget < 2000000; budget += 3000) {
    const std::string p = path("key" + std::to_string(budget) + ".db");
    makeGoods(p, 30);
    Table t;
    t.setTableName(p);
    t.open();
    t.first();
    bool stored = true;
    {
      dbtest::BrokenDevice dev(budget, false);
      try {
        t.edit();
        t.fieldByName("NO").setAsInteger(100);
        t.post();
      } catch (const DbError&) {
        stored = false;
      }
    }
    if (stored) {  // the device held out for the whole change
      t.last();
      EXPECT_EQ(t.fieldByName("NO").asInteger(), 100);
      EXPECT_EQ(t.fieldByName("PLUNO").asInteger(), 1);
      done = true;
      continue;
    }
    ++failures;
    t.cancel();
    EXPECT_EQ(t.recordCount(), 30) << budget;
    std::vector<int> want;
    for (int i = 1; i <= 30; ++i) want.push_back(i);
    EXPECT_EQ(plus(t), want) << budget;
    t.first();
    EXPECT_EQ(t.fieldByName("NO").asInteger(), 1) << budget;
    // The device works again. A further change is either refused (the files
    // could not be put back as they were) or lands where it belongs.
    bool changed = true;
    try {
      t.setRecNo(5);
      t.fieldByName("PRICE").setAsInteger(5555);
      t.post();
    } catch (const DbError&) {
      changed = false;
      t.cancel();
    }
    if (!changed) {
      ++refused;
      continue;
    }
    t.close();
    Table check;
    check.setTableName(p);
    ASSERT_NO_THROW(check.open()) << budget;
    EXPECT_EQ(plus(check), want) << budget;
    check.setRecNo(5);
    EXPECT_EQ(check.fieldByName("PRICE").asInteger(), 5555) << budget;
  }
  EXPECT_TRUE(done);
  EXPECT_GT(failures, 3);
  EXPECT_GT(refused, 0);
}

// A write that fails on a full disk is taken back; when room is made, the
// same table object goes on: the pending record is stored with every record
// stored before, and edits and deletes find their records.
TEST_F(TableTest, TableWorksOnAfterAFailedWrite) {
  const std::string p = path("goods.db");
  makeGoods(p, 40);
  Table t;
  t.setTableName(p);
  t.open();
  int failedAt = 0;
  {
    dbtest::FullDisk disk(60000);  // room for some changes and their journals
    for (int i = 41; i < 2000 && !failedAt; ++i) {
      t.append();
      t.fieldByName("PLUNO").setAsInteger(i);
      try {
        t.post();
      } catch (const DbError&) {
        failedAt = i;
      }
    }
  }
  ASSERT_GT(failedAt, 41);
  EXPECT_EQ(t.state(), storage::State::Insert);
  t.post();
  t.setRecNo(10);
  t.fieldByName("PRICE").setAsInteger(1234);
  t.post();
  t.setRecNo(20);
  t.deleteRecord();
  t.close();
  t.open();
  std::vector<int> want;
  for (int i = 1; i <= failedAt; ++i)
    if (i != 20) want.push_back(i);
  EXPECT_EQ(plus(t), want);
  t.setRecNo(10);
  EXPECT_EQ(t.fieldByName("PRICE").asInteger(), 1234);
  t.setIndexFieldNames("PLUNO");
  EXPECT_EQ(plus(t), want);
}

// Another program that takes no lock changes a table the engine holds open:
// before its next change the engine reads the files afresh, so both changes
// are kept and nothing is written over the other program's bytes.
TEST(OtherPrograms, ParadoxTableChangedWithoutALockIsReadAfresh) {
  dbtest::ScratchDir dir, elsewhere;
  const std::vector<std::string> files = {"fk4.db", "fk4.px", "fk4.val", "fk4.XG0", "fk4.YG0"};
  for (const std::string& f : files) {
    dbtest::writeBytes(dir.file(f), dbtest::readBytes(tablesupport::testData("paradox/" + f)));
    dbtest::writeBytes(elsewhere.file(f), dbtest::readBytes(tablesupport::testData("paradox/" + f)));
  }
  const std::string p = dir.file("fk4.db"), q = elsewhere.file("fk4.db");
  Table t;
  t.setTableName(p);
  t.open();
  ASSERT_FALSE(t.readOnly()) << t.readOnlyReason();
  t.last();
  t.edit();  // an edit begun before the other program's change
  t.fieldByName("B1").setAsString("ed");
  {
    // The other program adds two records, then its files land in place.
    Table other;
    other.setTableName(q);
    other.open();
    for (int id : {3, 4}) {
      other.append();
      other.fieldByName("ID").setAsInteger(id);
      other.fieldByName("B1").setAsString("o" + std::to_string(id));
      other.post();
    }
    other.close();
    for (const std::string& f : files) dbtest::writeBytes(dir.file(f), dbtest::readBytes(elsewhere.file(f)));
  }
  t.post();  // record 2 is unchanged by the other program: the edit lands
  t.append();
  t.fieldByName("ID").setAsInteger(5);
  t.fieldByName("B1").setAsString("me");
  t.post();
  EXPECT_EQ(t.recordCount(), 5);
  // An edit of a record the other program changed meanwhile is refused.
  t.setRecNo(3);
  t.edit();
  t.fieldByName("B1").setAsString("no");
  std::string bytes = dbtest::readBytes(p);
  const std::size_t at = bytes.find(std::string("o3\0", 3));
  ASSERT_NE(at, std::string::npos);
  bytes[at + 1] = '9';
  dbtest::writeBytes(p, bytes);  // in place, as a program without a lock would
  try {
    t.post();
    ADD_FAILURE() << "an edit over another program's change was written";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("изменена или удалена другой программой"), std::string::npos) << e.what();
  }
  EXPECT_EQ(t.state(), storage::State::Browse);
  t.close();
  auto db = pxcheck::read(p);
  ASSERT_TRUE(db);
  EXPECT_EQ(db->numRecords, 5);
  t.open();
  std::vector<std::string> b1;
  for (t.first(); !t.eof(); t.next()) b1.push_back(t.fieldByName("B1").asString());
  EXPECT_EQ(b1, (std::vector<std::string>{"1", "ed", "o9", "o4", "me"}));
}

// A job over the whole table posts as one change: other readers see the
// table before it until it ends; a change that fails inside it drops all of
// it, and the records read again are those of the files.
TEST_F(TableTest, BatchOfPostsIsOneChange) {
  const std::string p = path("goods.db");
  makeGoods(p, 50);
  Table t, reader;
  t.setTableName(p);
  t.open();
  reader.setTableName(p);
  std::vector<int> numbered;
  t.beginBatch();
  for (int i = 1; i <= 50; ++i) {
    t.setRecNo(i);
    t.fieldByName("PLUNO").setAsInteger(1000 + i);
    t.post();
    numbered.push_back(1000 + i);
  }
  reader.open();
  EXPECT_EQ(plus(reader).front(), 1);  // nothing of the batch on disk yet
  EXPECT_EQ(plus(t), numbered);
  t.endBatch();
  reader.refresh();
  EXPECT_EQ(plus(reader), numbered);
  EXPECT_EQ(::access((p + "-journal").c_str(), F_OK), -1);

  t.beginBatch();
  for (int i = 1; i <= 10; ++i) {
    t.setRecNo(i);
    t.fieldByName("PLUNO").setAsInteger(i);
    t.post();
  }
  {
    dbtest::FullDisk disk(0);  // the batch cannot be written
    EXPECT_THROW(t.endBatch(), DbError);
  }
  EXPECT_EQ(plus(t), numbered);
  EXPECT_FALSE(t.readOnly()) << t.readOnlyReason();
  t.setRecNo(1);
  t.fieldByName("PLUNO").setAsInteger(7);  // posts on alone afterwards
  t.post();
  reader.refresh();
  numbered[0] = 7;
  EXPECT_EQ(plus(reader), numbered);

  // A refresh writes the batch first; another program's change of the files
  // meanwhile drops the batch rather than writing over it.
  t.beginBatch();
  t.setRecNo(2);
  t.fieldByName("PLUNO").setAsInteger(8);
  t.post();
  t.refresh();
  numbered[1] = 8;
  EXPECT_EQ(plus(t), numbered);
  t.beginBatch();
  t.setRecNo(3);
  t.fieldByName("PLUNO").setAsInteger(9);
  t.post();
  std::string bytes = dbtest::readBytes(p);
  bytes[0x14] ^= 1;  // a header byte the engine does not keep
  dbtest::writeBytes(p, bytes);
  try {
    t.endBatch();
    ADD_FAILURE() << "a batch was written over another program's change";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("изменена другой программой"), std::string::npos) << e.what();
  }
  EXPECT_EQ(plus(t), numbered);
  t.setRecNo(3);
  t.fieldByName("PLUNO").setAsInteger(9);
  t.post();  // read afresh: posts go on
  EXPECT_EQ(dbtest::readBytes(p)[0x14], bytes[0x14]);
}

// A device that takes only the journal: every write into a table file fails.
struct JournalOnlyDevice : dbtest::StopsMidChange {
  JournalOnlyDevice() : StopsMidChange(0) {}
};

// A change whose undo failed too leaves its journal: the writer's table is
// read-only with the reason until a refresh takes the change back; another
// table open meanwhile is read-only with the reason as well. Renaming takes a
// journal back first; creating a table drops one left by an earlier table.
TEST_F(TableTest, JournalLeftBehindKeepsTheTableReadOnlyUntilTakenBack) {
  const std::string p = path("goods.db"), journal = p + "-journal";
  makeGoods(p, 30);
  Table t;
  t.setTableName(p);
  t.open();
  t.setRecNo(3);
  const int price = t.fieldByName("PRICE").asInteger();
  {
    JournalOnlyDevice dev;
    t.setRecNo(3);
    t.fieldByName("PRICE").setAsInteger(4242);
    EXPECT_THROW(t.post(), DbError);
    t.cancel();
  }
  ASSERT_EQ(::access(journal.c_str(), F_OK), 0);
  EXPECT_TRUE(t.readOnly());
  EXPECT_NE(t.readOnlyReason().find("отменить не удалось"), std::string::npos) << t.readOnlyReason();
  Table other;
  other.setTableName(p);
  other.open();
  EXPECT_TRUE(other.readOnly());
  other.close();
  t.refresh();
  EXPECT_FALSE(t.readOnly()) << t.readOnlyReason();
  EXPECT_NE(::access(journal.c_str(), F_OK), 0);
  t.setRecNo(3);
  EXPECT_EQ(t.fieldByName("PRICE").asInteger(), price);
  t.close();

  // A journal beside a closed table: renaming takes it back first.
  const std::string saved = dbtest::readBytes(p);
  t.open();
  {
    JournalOnlyDevice dev;
    t.setRecNo(4);
    t.fieldByName("PRICE").setAsInteger(4343);
    EXPECT_THROW(t.post(), DbError);
    t.cancel();
  }
  t.close();
  ASSERT_EQ(::access(journal.c_str(), F_OK), 0);
  t.renameTable(path("moved.db"));
  EXPECT_NE(::access(journal.c_str(), F_OK), 0);
  EXPECT_EQ(dbtest::readBytes(path("moved.db")), saved);

  // A stray journal where a new table is made is not played onto it.
  dbtest::writeBytes(journal, dbtest::readBytes(path("moved.db")));
  Table fresh;
  fresh.setTableName(p);
  defineGoods(fresh);
  fresh.createTable();
  EXPECT_NE(::access(journal.c_str(), F_OK), 0);
  fresh.open();
  EXPECT_EQ(fresh.recordCount(), 0);
  EXPECT_FALSE(fresh.readOnly());
}
