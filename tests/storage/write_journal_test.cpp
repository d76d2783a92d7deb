// The change layer under the table files: a change is invisible in the files
// until it is committed, reads see it meanwhile, a journal on disk takes an
// interrupted change back, and an incomplete journal is dropped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "dbase_test_util.h"
#include "storage/file_io.h"
#include "storage/journal.h"
#include "storage/table.h"

namespace fileio = storage::fileio;
namespace journal = storage::journal;
using dbtest::readBytes;
using dbtest::writeBytes;

namespace {

std::string readThrough(int fd, const std::string& path, off_t at, size_t n) {
  std::string s(n, '?');
  s.resize(fileio::readAt(fd, path, s.data(), n, at));
  return s;
}

// Fails every write after the first `allowed` ones.
struct FailAfter : fileio::Layer {
  explicit FailAfter(int allowed) : left(allowed) { fileio::install(this); }
  ~FailAfter() override { fileio::install(nullptr); }
  ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) override {
    if (left-- <= 0) {
      errno = EIO;
      return -1;
    }
    return ::pwrite(fd, data, size, offset);
  }
  int left;
};

// Two small files and a journal path beside them.
struct TwoFiles {
  dbtest::ScratchDir dir;
  std::string a = dir.file("a.bin"), b = dir.file("b.bin"), j = dir.file("a.bin-journal");
  int fa, fb;
  TwoFiles() {
    writeBytes(a, "0123456789");
    writeBytes(b, "abcdefghij");
    fa = ::open(a.c_str(), O_RDWR);
    fb = ::open(b.c_str(), O_RDWR);
  }
  ~TwoFiles() {
    ::close(fa);
    ::close(fb);
  }
};

}  // namespace

TEST(WriteJournal, ChangeIsSeenByReadsAndReachesTheFilesOnlyWhenCommitted) {
  TwoFiles f;
  const std::string &a = f.a, &b = f.b, &j = f.j;
  const int fa = f.fa, fb = f.fb;
  {
    fileio::Change c(j);
    fileio::writeAt(fa, a, "XY", 2, 3);
    fileio::writeAt(fa, a, "ZZZZZZ", 6, 8);  // runs past the old end
    fileio::writeAt(fa, a, "QQ", 2, 4);      // overlaps the first run
    fileio::truncate(fb, b, 4);
    fileio::writeAt(fb, b, "!", 1, 6);  // the cut bytes read as zero
    {
      fileio::Change inner(j);  // the same table: joins the outer change
      EXPECT_TRUE(inner.joined());
      fileio::writeAt(fb, b, "#", 1, 0);
      inner.commit();  // nothing yet: the outer one writes
    }
    EXPECT_EQ(readThrough(fa, a, 0, 100), "012XQQ67ZZZZZZ");
    EXPECT_EQ(fileio::sizeOf(fb, b), 7);
    EXPECT_EQ(readThrough(fb, b, 0, 100), std::string("#bcd\0\0!", 7));
    EXPECT_EQ(readBytes(a), "0123456789");  // the files are untouched
    EXPECT_EQ(readBytes(b), "abcdefghij");
  }  // dropped without a commit
  EXPECT_EQ(readBytes(a), "0123456789");
  EXPECT_EQ(readThrough(fa, a, 2, 3), "234");
  {
    fileio::Change c(j);
    fileio::writeAt(fa, a, "K", 1, 0);
    fileio::truncate(fb, b, 2);
    fileio::writeAt(fb, b, "!", 1, 4);
    c.commit();
  }
  EXPECT_EQ(readBytes(a), "K123456789");
  EXPECT_EQ(readBytes(b), std::string("ab\0\0!", 5));
  EXPECT_NE(::access(j.c_str(), F_OK), 0) << "the journal goes with a complete change";
}

TEST(WriteJournal, JournalLeftBehindTakesTheChangeBackAndAnIncompleteOneIsDropped) {
  TwoFiles f;
  const std::string &a = f.a, &b = f.b, &j = f.j;
  const int fa = f.fa, fb = f.fb;
  // A device that fails in the middle of the change and while putting it
  // back: the journal, written first, stays and takes the change back later.
  {
    fileio::Change c(j);
    fileio::writeAt(fa, a, "XXXX", 4, 2);
    fileio::writeAt(fa, a, "tail", 4, 10);
    fileio::truncate(fb, b, 3);
    FailAfter device(2);  // the journal and the first run of a.bin
    EXPECT_THROW(c.commit(), storage::DbError);
    EXPECT_TRUE(c.journalLeft());
  }
  EXPECT_EQ(readBytes(a).substr(0, 6), "01XXXX");
  std::string why;
  EXPECT_EQ(journal::recover(j, {a, b}, why), journal::Recovery::RolledBack) << why;
  EXPECT_EQ(readBytes(a), "0123456789");
  EXPECT_EQ(readBytes(b), "abcdefghij");
  EXPECT_NE(::access(j.c_str(), F_OK), 0);
  EXPECT_EQ(journal::recover(j, {a, b}, why), journal::Recovery::None);
  // A journal cut short (the process died while writing it) is dropped: the
  // files were never touched.
  for (const std::string& junk : {std::string("KMSJRNL2\x01\x02"), std::string("KMSJ")}) {
    writeBytes(j, junk);
    EXPECT_EQ(journal::recover(j, {a, b}, why), journal::Recovery::Discarded);
    EXPECT_NE(::access(j.c_str(), F_OK), 0);
    EXPECT_EQ(readBytes(a), "0123456789");
  }
}

TEST(WriteJournal, ChangesOfTwoTablesOpenTogetherStayApart) {
  TwoFiles f;
  const std::string jb = f.dir.file("b.bin-journal");
  fileio::Change outer(f.j);  // a batch on table a
  fileio::writeAt(f.fa, f.a, "A", 1, 0);
  {
    fileio::Change other(jb);  // table b posts meanwhile: its own change
    EXPECT_FALSE(other.joined());
    fileio::writeAt(f.fb, f.b, "B", 1, 0);
    other.commit();
  }
  EXPECT_EQ(readBytes(f.b), "Bbcdefghij");
  EXPECT_EQ(readBytes(f.a), "0123456789");
  // Another descriptor on the same file reads the file, not the change.
  const int again = ::open(f.a.c_str(), O_RDONLY);
  EXPECT_EQ(readThrough(again, f.a, 0, 2), "01");
  EXPECT_EQ(readThrough(f.fa, f.a, 0, 2), "A1");
  ::close(again);
  outer.commit();
  EXPECT_EQ(readBytes(f.a), "A123456789");
}
