// The rules that keep the engine from damaging a table: read-only opening of
// files it cannot keep in agreement, the lock against a second writer, and
// writes that fail part-way (a failing write layer, a full file system, a
// removed file).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "dbase_test_util.h"
#include "storage/backend.h"
#include "storage/dbase_file.h"
#include "storage/file_io.h"
#include "storage/file_lock.h"
#include "storage/table.h"

using storage::DbError;
using storage::FileLock;
using storage::Value;
using storage::dbase::DbfFile;
using storage::dbase::Values;
using namespace dbtest;

namespace {

Values carsValues(const std::string& name, const std::string& memo) {
  return {name, std::string("1999"), std::string("True"), std::string("01.02.2003"), std::string("1.5"), memo};
}

}  // namespace

TEST(DbaseSafety, IndexFilesMakeTheTableReadOnlyAndDeclareItsIndexes) {
  ScratchDir dir;
  const std::string path = dir.copy({"cars.dbf", "cars.dbt"});
  // A dBase III index on NAME+YEAR and one on an expression.
  std::string ndx(512, '\0');
  ndx.replace(24, 9, "NAME+YEAR");
  writeBytes(dir.file("CARS.NDX"), ndx);
  std::string ndx2(512, '\0');
  ndx2.replace(24, 11, "UPPER(NAME)");
  writeBytes(dir.file("carsup.ndx"), ndx2);
  const std::string before = readBytes(path);

  auto t = DbfFile::open(path, true);
  EXPECT_FALSE(t->writable());
  EXPECT_TRUE(contains(t->readOnlyReason(), "CARS.NDX")) << t->readOnlyReason();
  ASSERT_EQ(t->indexes().size(), 2u);
  EXPECT_EQ(t->indexes()[0].name, "CARS");
  EXPECT_EQ(t->indexes()[0].fields, "NAME;YEAR");
  EXPECT_EQ(t->indexes()[1].fields, "");  // an expression gives no field order
  const std::string err = errorOf([&] { t->update(0, carsValues("X", "")); });
  EXPECT_TRUE(contains(err, "открыта только для чтения")) << err;
  EXPECT_TRUE(contains(errorOf([&] { t->append(carsValues("X", "")); }), "только для чтения"));
  EXPECT_TRUE(contains(errorOf([&] { t->setDeleted(0, true); }), "только для чтения"));
  EXPECT_EQ(readBytes(path), before);

  // Through the engine's backend: the index on fields is declared, the
  // expression index is not, and the first edit is refused.
  auto b = storage::dbaseFormat().open(path);
  EXPECT_TRUE(b->readOnly());
  ASSERT_EQ(b->indexes().size(), 1u);
  EXPECT_EQ(b->indexes()[0].fields, "NAME;YEAR");
  auto recs = b->readAll();
  std::string rec = recs[0];
  b->set(rec, 0, Value::text("CHANGED"));
  EXPECT_TRUE(contains(errorOf([&] { b->update(0, recs[0], rec); }), "CARS.NDX"));
  EXPECT_EQ(readBytes(path), before);
}

TEST(DbaseSafety, ProductionIndexTagsAreDeclared) {
  ScratchDir dir;
  writeBytes(dir.file("goods.dbf"), makeDbf({{"PLUNO", 'N', 6}, {"NAME1", 'C', 28}}, {"     1Milk"}, 0x03));
  // An .mdx with two tags: PLUNO ascending, NAME1 descending.
  std::string mdx(4 * 512, '\0');
  mdx[28] = 2;
  auto tag = [&](int i, const std::string& name, int page, uint8_t format, const std::string& expr) {
    const size_t e = 544 + size_t(i) * 32;
    mdx[e] = char(page);
    mdx.replace(e + 4, name.size(), name);
    mdx[size_t(page) * 512 + 8] = char(format);
    mdx.replace(size_t(page) * 512 + 24, expr.size(), expr);
  };
  tag(0, "PLUNO", 2, 0x10, "PLUNO");
  tag(1, "NAME1", 3, 0x18, "NAME1");
  writeBytes(dir.file("GOODS.MDX"), mdx);
  auto t = DbfFile::open(dir.file("goods.dbf"), true);
  EXPECT_FALSE(t->writable());
  ASSERT_EQ(t->indexes().size(), 2u);
  EXPECT_EQ(t->indexes()[0].name, "PLUNO");
  EXPECT_FALSE(t->indexes()[0].descending);
  EXPECT_EQ(t->indexes()[1].fields, "NAME1");
  EXPECT_TRUE(t->indexes()[1].descending);
  // A table without index files has no indexes and is writable.
  writeBytes(dir.file("plain.dbf"), makeDbf({{"PLUNO", 'N', 6}}, {"     1"}));
  auto p = DbfFile::open(dir.file("plain.dbf"), true);
  EXPECT_TRUE(p->writable()) << p->readOnlyReason();
  EXPECT_TRUE(p->indexes().empty());
  // A broken index file still keeps the table read-only.
  writeBytes(dir.file("GOODS.MDX"), "short");
  EXPECT_FALSE(DbfFile::open(dir.file("goods.dbf"), true)->writable());
}

TEST(DbaseSafety, WhatTheEngineCannotWriteOpensReadOnly) {
  ScratchDir dir;
  struct Case {
    std::string why;
    std::string bytes;
  };
  std::string encrypted = makeDbf({{"A", 'C', 4}}, {"abcd"});
  encrypted[15] = 1;
  std::string unknownDriver = makeDbf({{"A", 'C', 4}}, {"abcd"}, 0x03, 0x7D);
  std::string shortFile = makeDbf({{"A", 'C', 4}}, {"abcd", "efgh"});
  shortFile.resize(shortFile.size() - 3);
  const Case cases[] = {
      {"типа «I»", makeDbf({{"A", 'I', 4}}, {"\1\0\0\0"})},
      {"нет её файла мемо-полей", makeDbf({{"A", 'M', 10}}, {"         1"}, 0x83)},
      {"зашифрована", encrypted},
      {"кодовая страница", unknownDriver},
      {"меньше записей", shortFile},
  };
  for (const auto& c : cases) {
    writeBytes(dir.file("t.dbf"), c.bytes);
    auto t = DbfFile::open(dir.file("t.dbf"), true);
    EXPECT_TRUE(contains(t->readOnlyReason(), c.why)) << c.why << ": " << t->readOnlyReason();
    EXPECT_TRUE(contains(errorOf([&] { t->setDeleted(0, true); }), "только для чтения")) << c.why;
    EXPECT_EQ(readBytes(dir.file("t.dbf")), c.bytes) << c.why;
  }
}

TEST(DbaseSafety, SecondWriterGetsTheTableReadOnly) {
  ScratchDir dir;
  const std::string path = dir.copy({"cars.dbf", "cars.dbt"});
  storage::Table first, second;
  first.setTableName(path);
  first.open();
  EXPECT_FALSE(first.readOnly()) << first.readOnlyReason();
  EXPECT_TRUE(FileLock::lockedByOther(path));
  second.setTableName(path);
  second.open();
  EXPECT_TRUE(second.readOnly());
  EXPECT_TRUE(contains(second.readOnlyReason(), "открыта для записи другим пользователем или программой"));
  EXPECT_EQ(second.recordCount(), 4);  // reading goes on
  EXPECT_TRUE(contains(errorOf([&] { second.edit(); }), "Изменение невозможно"));
  EXPECT_TRUE(contains(errorOf([&] { second.append(); }), "другим пользователем или программой"));
  EXPECT_TRUE(contains(errorOf([&] { second.fieldByName("NAME").setAsString("X"); }), "другим пользователем"));
  EXPECT_THROW(second.deleteRecord(), DbError);
  // The writer is not disturbed, and a refresh keeps its lock.
  first.fieldByName("NAME").setAsString("FIRST");
  first.post();
  first.refresh();
  EXPECT_TRUE(FileLock::lockedByOther(path));
  first.close();
  EXPECT_FALSE(FileLock::lockedByOther(path));
  second.close();
  second.open();
  EXPECT_FALSE(second.readOnly()) << second.readOnlyReason();
  EXPECT_EQ(second.fieldByName("NAME").asString(), "FIRST");
  // A table opened read-only for its own reasons holds no lock.
  second.close();
  writeBytes(dir.file("cars.ndx"), std::string(512, '\0'));
  second.open();
  EXPECT_TRUE(second.readOnly());
  EXPECT_FALSE(FileLock::lockedByOther(path));
}

TEST(DbaseSafety, TableLockedByAnotherProcessOpensReadOnly) {
  ScratchDir dir;
  const std::string path = dir.copy({"PYACFL.DBF"});
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    close(release[1]);
    FileLock lock;
    char ok = lock.acquire(path) == FileLock::Result::Locked ? 'y' : 'n';
    if (write(ready[1], &ok, 1) != 1) _exit(2);
    char c;
    while (read(release[0], &c, 1) > 0) {
    }
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  storage::Table t;
  t.setTableName(path);
  t.open();
  EXPECT_TRUE(t.readOnly());
  EXPECT_TRUE(contains(t.readOnlyReason(), "открыта для записи другим пользователем или программой"));
  EXPECT_EQ(t.recordCount(), 15);
  EXPECT_THROW(t.deleteRecord(), DbError);
  t.close();
  close(release[1]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  t.open();
  EXPECT_FALSE(t.readOnly()) << t.readOnlyReason();
}

TEST(DbaseSafety, FullDiskLeavesTheTableAsItWas) {
  ScratchDir dir;
  const std::string path = dir.copy({"cars.dbf", "cars.dbt"});
  const std::string memoPath = dir.file("cars.dbt");
  const std::string dbf0 = readBytes(path), dbt0 = readBytes(memoPath);
  // The append needs 512 bytes of memo block and 47 of record and end byte:
  // every smaller room makes it fail, and both files stay as they were.
  for (size_t budget : {size_t(0), size_t(1), size_t(300), size_t(511), size_t(512), size_t(540), size_t(558)}) {
    auto t = DbfFile::open(path, true);
    ASSERT_TRUE(t->writable());
    {
      FullDisk disk(budget);
      std::string err = errorOf([&] { t->append(carsValues("NEW", std::string(300, 'm'))); });
      EXPECT_TRUE(contains(err, "на диске нет места")) << budget << ": " << err;
      EXPECT_TRUE(contains(err, budget < 512 ? "cars.dbt" : "cars.dbf")) << budget << ": " << err;
      // Changes in place need no room and still work.
      t->update(1, carsValues("EDITED", ""));
    }
    EXPECT_EQ(readBytes(memoPath), dbt0) << budget;
    auto again = DbfFile::open(path, true);
    EXPECT_TRUE(again->writable()) << again->readOnlyReason();
    ASSERT_EQ(again->recordCount(), 4u);
    EXPECT_EQ(*again->value(1, 0), "EDITED");
    EXPECT_EQ(again->value(2, 5).value_or(""), "DESCRIPTION OF VOLKSAWGEN JETTA, YEAR MODEL 1990");
    const std::string now = readBytes(path);
    EXPECT_EQ(now.size(), dbf0.size());
    EXPECT_EQ(now.back(), '\x1A');
    dir.copy({"cars.dbf", "cars.dbt"});
  }
  // The same table object goes on once the disk has room again.
  auto t = DbfFile::open(path, true);
  {
    FullDisk disk(10);
    EXPECT_THROW(t->append(carsValues("LOST", "")), DbError);
  }
  EXPECT_EQ(t->append(carsValues("KEPT", "memo")), 4u);
  auto again = DbfFile::open(path, false);
  EXPECT_EQ(again->recordCount(), 5u);
  EXPECT_EQ(*again->value(4, 0), "KEPT");
  EXPECT_EQ(*again->value(4, 5), "memo");
}

TEST(DbaseSafety, FailingDeviceIsReportedAndTheTableStaysReadable) {
  ScratchDir dir;
  const std::string path = dir.copy({"cars.dbf", "cars.dbt"});
  for (size_t budget : {size_t(0), size_t(5), size_t(46), size_t(47), size_t(600)}) {
    auto t = DbfFile::open(path, true);
    {
      BrokenDevice device(budget);
      EXPECT_TRUE(contains(errorOf([&] { t->append(carsValues("NEW", "memo")); }), "ошибка ввода-вывода"));
      std::string err = errorOf([&] { t->update(1, carsValues("EDITED", "")); });
      if (budget == 0) {
        EXPECT_TRUE(contains(err, "ошибка ввода-вывода")) << err;
      }
    }
    auto again = DbfFile::open(path, false);
    ASSERT_EQ(again->recordCount(), 4u) << budget;
    EXPECT_EQ(*again->value(0, 0), "PASSAT");
    EXPECT_EQ(again->value(2, 5).value_or(""), "DESCRIPTION OF VOLKSAWGEN JETTA, YEAR MODEL 1990");
    if (budget == 0) {
      EXPECT_EQ(*again->value(1, 0), "POLO");
    }
  }
}

TEST(DbaseSafety, RemovedTableFileIsReportedNotWrittenIntoTheVoid) {
  ScratchDir dir;
  const std::string path = dir.copy({"PYACFL.DBF"});
  auto t = DbfFile::open(path, true);
  ASSERT_TRUE(t->writable());
  ASSERT_EQ(unlink(path.c_str()), 0);
  std::string err = errorOf([&] { t->setDeleted(30, true); });
  EXPECT_TRUE(contains(err, path)) << err;
  // Replaced by another file of the same name: not written either.
  dir.copy({"PYACFL.DBF"});
  const std::string fresh = readBytes(path);
  EXPECT_THROW(t->setDeleted(30, true), DbError);
  EXPECT_EQ(readBytes(path), fresh);
}

// A real full file system: a small tmpfs in a mount namespace of a child
// process. Skipped where namespaces are not allowed.
TEST(DbaseSafety, FullFileSystemLeavesAReadableTable) {
  const bool ran = inSmallTmpfs("32k", [](const ScratchDir& dir) -> std::string {
    const std::string path = dir.copy({"cars.dbf", "cars.dbt"});
    int appended = 0;
    std::string err;
    try {
      auto t = DbfFile::open(path, true);
      for (int i = 0; i < 100000; ++i) {
        t->append(carsValues("N" + std::to_string(i), std::string(700, 'x')));
        ++appended;
      }
    } catch (const DbError& e) {
      err = e.what();
    }
    if (!contains(err, "на диске нет места")) return "expected a full disk, got: " + err;
    try {
      auto t = DbfFile::open(path, true);
      if (t->recordCount() != uint32_t(4 + appended))
        return "records " + std::to_string(t->recordCount()) + " after " + std::to_string(appended) + " appends";
      if (appended > 0 && t->value(t->recordCount() - 1, 5).value_or("") != std::string(700, 'x'))
        return "last memo unreadable";
      // A change in place still works on the full disk.
      t->setDeleted(0, true);
      if (!DbfFile::open(path, false)->isDeleted(0)) return "delete flag lost";
    } catch (const DbError& e) {
      return std::string("table unreadable: ") + e.what();
    }
    return "";
  });
  if (!ran) GTEST_SKIP() << "no mount namespace here";
}

// Through the table component: a post that fails on a full disk keeps the
// pending record with its memo, the files as they were, and the same post
// goes through once there is room.
TEST(DbaseSafety, FailedPostKeepsThePendingRecordForAnotherTry) {
  ScratchDir dir;
  const std::string path = dir.copy({"cars.dbf", "cars.dbt"});
  const std::string dbf0 = readBytes(path), dbt0 = readBytes(dir.file("cars.dbt"));
  storage::Table t;
  t.setTableName(path);
  t.open();
  t.append();
  t.fieldByName("NAME").setAsString("BEETLE");
  t.fieldByName("DESCR").setAsString("A long memo");
  for (size_t budget : {size_t(0), size_t(520)}) {
    FullDisk disk(budget);
    std::string err = errorOf([&] { t.post(); });
    EXPECT_TRUE(contains(err, "на диске нет места")) << err;
    EXPECT_EQ(t.state(), storage::State::Insert);
    EXPECT_EQ(readBytes(path), dbf0);
    EXPECT_EQ(readBytes(dir.file("cars.dbt")), dbt0);
  }
  EXPECT_EQ(t.fieldByName("DESCR").asString(), "A long memo");
  t.post();
  EXPECT_EQ(t.recordCount(), 5);
  t.close();
  auto f = DbfFile::open(path, false);
  ASSERT_EQ(f->recordCount(), 5u);
  EXPECT_EQ(*f->value(4, 0), "BEETLE");
  EXPECT_EQ(*f->value(4, 5), "A long memo");
}

// Another program that takes no lock appends to a table the engine holds
// open: the engine reads the files afresh before its own append.
TEST(DbaseSafety, AppendOfAnotherProgramWithoutALockIsNotOverwritten) {
  ScratchDir dir;
  const std::string p = dir.copy({"cars.dbf", "cars.dbt"});
  storage::Table t;
  t.setTableName(p);
  t.open();
  ASSERT_EQ(t.recordCount(), 4);
  {
    auto other = DbfFile::open(p, true);  // writes without any lock
    other->append(carsValues("OTHER", "memo of the other program"));
  }
  t.append();
  t.fieldByName("NAME").setAsString("MINE");
  t.fieldByName("DESCR").setAsString("my memo");
  t.post();
  EXPECT_EQ(t.recordCount(), 6);
  t.close();
  auto f = DbfFile::open(p, false);
  ASSERT_EQ(f->recordCount(), 6u);
  EXPECT_EQ(*f->value(4, 0), "OTHER");
  EXPECT_EQ(*f->value(4, 5), "memo of the other program");
  EXPECT_EQ(*f->value(5, 0), "MINE");
  EXPECT_EQ(*f->value(5, 5), "my memo");
}

// A table whose memo file is a symbolic link to a file in another folder
// keeps its rollback: a memo change stopped after any of its writes is taken
// back by the next open, through the link, and its journal is not set aside,
// not even by an open while that folder is out of reach (which is refused).
TEST(DbaseSafety, LinkedMemoFileKeepsTheRollback) {
  namespace fs = std::filesystem;
  for (int passes : {0, 1, 2, 1000}) {
    SCOPED_TRACE(passes);
    ScratchDir dir;
    const std::string path = dir.copy({"cars.dbf", "cars.dbt"}), memo = dir.file("memo/cars.dbt");
    fs::create_directories(dir.file("memo"));
    fs::rename(dir.file("cars.dbt"), memo);
    fs::create_symlink(memo, dir.file("cars.dbt"));
    const std::string dbf0 = readBytes(path), dbt0 = readBytes(memo);
    {
      storage::Table t;
      t.setTableName(path);
      t.open();
      t.edit();
      t.fieldByName("DESCR").setAsString(std::string(700, 'm'));
      StopsMidChange device(passes);
      EXPECT_THROW(t.post(), DbError);
      t.cancel();
    }
    storage::Table t;
    t.setTableName(path);
    if (fs::exists(path + "-journal")) {
      fs::rename(dir.file("memo"), dir.file("unmounted"));
      EXPECT_TRUE(contains(errorOf([&] { t.open(); }), "прерванное изменение"));
      fs::rename(dir.file("unmounted"), dir.file("memo"));
    }
    t.open();
    EXPECT_FALSE(t.readOnly()) << t.readOnlyReason();
    EXPECT_TRUE(readBytes(path) == dbf0 && readBytes(memo) == dbt0) << "the change was not taken back";
    EXPECT_FALSE(fs::exists(path + "-journal") || fs::exists(path + "-journal-set-aside"));
    EXPECT_TRUE(fs::is_symlink(dir.file("cars.dbt")));
  }
}
