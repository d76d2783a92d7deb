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

#include "platform/ansi.h"
#include "platform/guard.h"
#include "platform/textfile.h"
#include "storage/dbase_test_util.h"
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

// The errors name the file and the OS cause in Russian, in Windows-1251 as
// every text of the program, and read right in the error box.
TEST_F(TextFile, ErrorsNameTheFileAndTheCauseInRussian) {
  const std::string missing = path("нет.cfg");
  auto readError = [](const std::string& p) {
    try {
      textfile::Reader r(p);
    } catch (const textfile::FileError& e) {
      return std::string(e.what());
    }
    return std::string("(no error)");
  };
  const QString want =
      QStringLiteral("Не удаётся открыть файл «%1»: нет такого файла или папки").arg(QString::fromStdString(missing));
  EXPECT_EQ(readError(missing), ansi::fromUnicode(want));
  EXPECT_EQ(errorTextToUnicode(readError(missing)), want);
  EXPECT_EQ(ansi::toUnicode(readError(dir.path().toStdString())),
            QStringLiteral("Не удаётся открыть файл «%1»: это папка, а не файл").arg(dir.path()));
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
    // Windows-1251, like every text of the program, naming the file.
    EXPECT_EQ(ansi::toUnicode(e.what()),
              QStringLiteral("Не удаётся создать файл «%1»: нет прав доступа").arg(QString::fromStdString(path("config.cfg"))));
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

// A full disk (no inode and no block left, on a small tmpfs of a child's own
// mount namespace) refuses the temporary file: the old file stays whole and
// the error names the cause, where writing in place would cut it short.
TEST(TextFileFullDisk, OldFileStaysWhole) {
  const bool ran = dbtest::inSmallTmpfs("64k,nr_inodes=8", [](const dbtest::ScratchDir& dir) -> std::string {
    const std::string cfg = dir.file("config.cfg"), old = textfile::joinLines({"1", "Весы", "", "1"});
    textfile::writeAtomic(cfg, old);
    // Every inode and every block taken by filler files.
    const std::string block(4096, 'x');
    for (int i = 0;; ++i) {
      std::ofstream f(dir.file("fill" + std::to_string(i)), std::ios::binary);
      if (!f) break;
      while (f.write(block.data(), std::streamsize(block.size())) && f.flush()) {
      }
    }
    try {
      textfile::writeAtomic(cfg, std::string(20000, 'n'));
      return "a write on a full disk succeeded";
    } catch (const textfile::FileError& e) {
      if (ansi::toUnicode(e.what()) != QStringLiteral("Не удаётся записать файл «%1»: на диске нет места").arg(QString::fromStdString(cfg)))
        return "error: " + ansi::toUnicode(e.what()).toStdString();
    }
    std::ifstream in(cfg, std::ios::binary);
    const std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return now == old ? "" : "config.cfg now holds " + std::to_string(now.size()) + " bytes";
  });
  if (!ran) GTEST_SKIP() << "no mount namespace here";
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
