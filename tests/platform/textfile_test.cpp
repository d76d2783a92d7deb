// Settings and configuration files: what a write leaves behind for links,
// owners, modes and directories the program cannot write, and a reader that
// meets a read error.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "platform/textfile.h"
#include "support/file_access.h"

namespace {

class TextFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  void TearDown() override { ::chmod(dir.path().toLocal8Bit().constData(), 0755); }

  std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
  static std::string read(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static void write(const std::string& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
  }
  static struct stat info(const std::string& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st;
  }
  // The names in the directory besides the given ones (a temporary file
  // left behind shows here).
  QStringList entries() const { return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System); }

  QTemporaryDir dir;
};

TEST_F(TextFile, SymbolicLinkIsWrittenThroughToItsTarget) {
  ASSERT_EQ(::mkdir(path("sub").c_str(), 0755), 0);
  write(path("real.cfg"), "old\r\n");
  ASSERT_EQ(::symlink("real.cfg", path("config.cfg").c_str()), 0);
  ASSERT_EQ(::symlink("../real.cfg", path("sub/other.cfg").c_str()), 0);

  textfile::writeAtomic(path("config.cfg"), "new\r\n");
  EXPECT_TRUE(S_ISLNK(info(path("config.cfg")).st_mode));
  EXPECT_EQ(read(path("real.cfg")), "new\r\n");
  textfile::writeAtomic(path("sub/other.cfg"), "newer\r\n");
  EXPECT_TRUE(S_ISLNK(info(path("sub/other.cfg")).st_mode));
  EXPECT_EQ(read(path("real.cfg")), "newer\r\n");

  // A link whose target is missing creates the target.
  ASSERT_EQ(::symlink("made.cfg", path("dangling.cfg").c_str()), 0);
  textfile::writeAtomic(path("dangling.cfg"), "x\r\n");
  EXPECT_TRUE(S_ISLNK(info(path("dangling.cfg")).st_mode));
  EXPECT_EQ(read(path("made.cfg")), "x\r\n");
  EXPECT_EQ(entries(), (QStringList{"config.cfg", "dangling.cfg", "made.cfg", "real.cfg", "sub"}));
}

TEST_F(TextFile, ReplacedFileKeepsItsModeOwnerAndOtherNames) {
  write(path("config.cfg"), "old\r\n");
  ASSERT_EQ(::chmod(path("config.cfg").c_str(), 0640), 0);
  textfile::writeAtomic(path("config.cfg"), "new\r\n");
  EXPECT_EQ(info(path("config.cfg")).st_mode & 07777, 0640u);
  EXPECT_EQ(read(path("config.cfg")), "new\r\n");

  // A second hard link sees the new contents too.
  ASSERT_EQ(::link(path("config.cfg").c_str(), path("backup.cfg").c_str()), 0);
  textfile::writeAtomic(path("config.cfg"), "linked\r\n");
  EXPECT_EQ(read(path("backup.cfg")), "linked\r\n");
  EXPECT_EQ(info(path("config.cfg")).st_ino, info(path("backup.cfg")).st_ino);

  // A new file gets the usual mode for the user's umask.
  const mode_t mask = ::umask(022);
  textfile::writeAtomic(path("fresh.cfg"), "");
  ::umask(mask);
  EXPECT_EQ(info(path("fresh.cfg")).st_mode & 07777, 0644u);

  if (::geteuid() != 0) return;  // only root can give a file to another owner
  write(path("theirs.cfg"), "old\r\n");
  ASSERT_EQ(::chown(path("theirs.cfg").c_str(), 65534, 65534), 0);
  textfile::writeAtomic(path("theirs.cfg"), "new\r\n");
  EXPECT_EQ(info(path("theirs.cfg")).st_uid, 65534u);
  EXPECT_EQ(info(path("theirs.cfg")).st_gid, 65534u);
  EXPECT_EQ(read(path("theirs.cfg")), "new\r\n");
}

TEST_F(TextFile, ReadOnlyFileIsRefusedAndKept) {
  write(path("config.cfg"), "old\r\n");
  ASSERT_EQ(::chmod(path("config.cfg").c_str(), 0444), 0);
  WithoutFileOverride user;
  ASSERT_TRUE(user.ok());
  try {
    textfile::writeAtomic(path("config.cfg"), "new\r\n");
    ADD_FAILURE() << "a read-only file was written";
  } catch (const textfile::FileError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create file"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("Permission denied"), std::string::npos) << e.what();
  }
  EXPECT_EQ(read(path("config.cfg")), "old\r\n");
  EXPECT_EQ(info(path("config.cfg")).st_mode & 07777, 0444u);
  EXPECT_EQ(entries(), QStringList{"config.cfg"});
}

TEST_F(TextFile, DirectoryThatCannotBeWrittenGetsItsFilesWrittenInPlace) {
  write(path("total.cfg"), "TRUE\r\nTRUE\r\n");
  ASSERT_EQ(::chmod(dir.path().toLocal8Bit().constData(), 0555), 0);
  WithoutFileOverride user;
  ASSERT_TRUE(user.ok());
  textfile::writeAtomic(path("total.cfg"), "FALSE\r\n");
  EXPECT_EQ(read(path("total.cfg")), "FALSE\r\n");
  // A file that does not exist cannot be made there.
  EXPECT_THROW(textfile::writeAtomic(path("config.cfg"), "x"), textfile::FileError);
  EXPECT_EQ(entries(), QStringList{"total.cfg"});
}

// A read error part-way keeps what was read before it; the reader does not
// throw. The process's own memory at address 0 is a file that fails at once.
TEST_F(TextFile, ReadErrorEndsTheFileWithoutAnError) {
  ASSERT_EQ(::symlink("/proc/self/mem", path("config.cfg").c_str()), 0);
  textfile::Reader bad(path("config.cfg"));
  EXPECT_TRUE(bad.failed());
  EXPECT_TRUE(bad.atError());
  EXPECT_EQ(bad.readLine(), "");

  write(path("good.cfg"), "a\r\nb");
  textfile::Reader good(path("good.cfg"));
  EXPECT_FALSE(good.failed());
  EXPECT_EQ(good.readLine(), "a");
  EXPECT_FALSE(good.atError());
  EXPECT_EQ(good.readLine(), "b");
  EXPECT_TRUE(good.eof());
  EXPECT_FALSE(good.atError());
}

}  // namespace
