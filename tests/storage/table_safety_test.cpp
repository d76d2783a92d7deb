// The engine's safety rules on the tables the program creates: the writer
// lock and writes that fail on a full disk.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dbase_test_util.h"
#include "pxlib_reader.h"
#include "storage/file_lock.h"
#include "table_support.h"

using storage::DbError;
using storage::FileLock;
using storage::Table;
using namespace tablesupport;

namespace {

void makeGoods(const std::string& path, int records) {
  Table t;
  t.setTableName(path);
  defineGoods(t);
  t.createTable();
  t.open();
  for (int i = 1; i <= records; ++i) addGoods(t, i, "NAME " + std::to_string(i), "", i * 10);
}

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
  EXPECT_NE(b.readOnlyReason().find("another user or program"), std::string::npos);
  EXPECT_EQ(b.recordCount(), 3);
  EXPECT_THROW(b.append(), DbError);
  EXPECT_THROW(b.fieldByName("PRICE").setAsInteger(1), DbError);
  a.close();
  EXPECT_FALSE(FileLock::lockedByOther(p));
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
    EXPECT_NE(err.find("No space left on device"), std::string::npos) << budget << ": " << err;
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
  int msg[2];
  ASSERT_EQ(pipe(msg), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(msg[0]);
    auto fail = [&](const std::string& s) {
      if (write(msg[1], s.data(), s.size()) < 0) _exit(3);
      _exit(1);
    };
    if (unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) _exit(77);
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
    dbtest::ScratchDir dir;
    if (mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=160k") != 0) _exit(77);
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
    if (err.empty()) fail("the disk never filled");
    for (const auto& [p, count] : made) {
      try {
        Table t;
        t.setTableName(p);
        t.open();
        if (t.recordCount() != count)
          fail(p + ": " + std::to_string(t.recordCount()) + " records, " + std::to_string(count) + " stored");
      } catch (const DbError& e) {
        fail(p + " unreadable: " + e.what() + " (after: " + err + ")");
      }
    }
    // The table whose creation failed left nothing behind.
    const std::string next = dir.file("g" + std::to_string(made.size()) + ".db");
    if (made.back().second == 30 && std::filesystem::exists(next)) fail("half-made table left: " + next);
    umount(dir.path().c_str());
    _exit(0);
  }
  close(msg[1]);
  std::string text;
  char buf[512];
  ssize_t n;
  while ((n = read(msg[0], buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  close(msg[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << text;
}
