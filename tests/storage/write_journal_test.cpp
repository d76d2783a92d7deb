// The write journal under the table files: a change taken back leaves every
// file byte for byte as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "dbase_test_util.h"
#include "storage/file_io.h"

namespace fileio = storage::fileio;
using dbtest::readBytes;
using dbtest::writeBytes;

TEST(WriteJournal, RollbackRestoresOverwrittenGrownAndCutFiles) {
  dbtest::ScratchDir dir;
  const std::string a = dir.file("a.bin"), b = dir.file("b.bin");
  writeBytes(a, "0123456789");
  writeBytes(b, "abcdefghij");
  int fa = ::open(a.c_str(), O_RDWR), fb = ::open(b.c_str(), O_RDWR);
  {
    fileio::Journal j;
    fileio::writeAt(fa, a, "XY", 2, 3);
    fileio::writeAt(fa, a, "ZZZZZZ", 6, 8);  // runs past the old end
    fileio::writeAt(fa, a, "QQ", 2, 3);      // the same bytes again
    fileio::truncate(fb, b, 4);
    fileio::writeAt(fb, b, "!", 1, 20);
    {
      fileio::Journal inner;  // nested: the outer one keeps recording
      fileio::writeAt(fb, b, "#", 1, 0);
    }
    EXPECT_EQ(readBytes(a), "012QQ567ZZZZZZ");
    EXPECT_TRUE(j.rollback());
  }
  EXPECT_EQ(readBytes(a), "0123456789");
  EXPECT_EQ(readBytes(b), "abcdefghij");
  // Without a rollback the change stays; outside a journal nothing is kept.
  {
    fileio::Journal j;
    fileio::writeAt(fa, a, "K", 1, 0);
  }
  fileio::writeAt(fa, a, "L", 1, 1);
  EXPECT_EQ(readBytes(a), "KL23456789");
  ::close(fa);
  ::close(fb);
}
