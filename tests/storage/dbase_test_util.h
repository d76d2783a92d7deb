#pragma once
// Helpers of the dBase tests: a scratch directory with copies of the sample
// tables, whole-file reads and writes, and small tables built byte by byte.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "storage/file_io.h"
#include "storage/table.h"

namespace dbtest {

inline std::string sample(const std::string& name) {
  return std::string(KMS_TESTDATA_DIR) + "/tables/dbase/" + name;
}

inline std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// A fresh directory, removed with everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "dbase-test-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    path_ = mkdtemp(buf.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Copies sample tables (with their memo files) into the directory and
  // returns the path of the first.
  std::string copy(const std::vector<std::string>& names) const {
    for (const auto& n : names) {
      std::filesystem::copy_file(sample(n), file(n), std::filesystem::copy_options::overwrite_existing);
      std::filesystem::permissions(file(n), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    return file(names.front());
  }

 private:
  std::string path_;
};

struct FieldLayout {
  std::string name;
  char type;
  int width;
  int decimals = 0;
};

// A dBase III table (version byte 0x03, or as given) with the fields and
// records given; records are the bytes after the deletion flag.
inline std::string makeDbf(const std::vector<FieldLayout>& fields, const std::vector<std::string>& records,
                           uint8_t version = 0x03, uint8_t driver = 0) {
  int recLen = 1;
  for (const auto& f : fields) recLen += f.width;
  const int headerLen = 32 + 32 * int(fields.size()) + 1;
  std::string h(32, '\0');
  h[0] = char(version);
  h[1] = char(120), h[2] = 1, h[3] = 2;
  uint32_t n = uint32_t(records.size());
  for (int i = 0; i < 4; ++i) h[4 + i] = char(n >> (8 * i));
  h[8] = char(headerLen & 0xFF), h[9] = char(headerLen >> 8);
  h[10] = char(recLen & 0xFF), h[11] = char(recLen >> 8);
  h[29] = char(driver);
  for (const auto& f : fields) {
    std::string d(32, '\0');
    d.replace(0, f.name.size(), f.name);
    d[11] = f.type;
    d[16] = char(f.width);
    d[17] = char(f.decimals);
    h += d;
  }
  h += '\x0D';
  for (const auto& r : records) {
    std::string rec = " " + r;
    rec.resize(size_t(recLen), ' ');
    h += rec;
  }
  h += '\x1A';
  return h;
}

// A failing device under the table files. FullDisk: writes inside a file's
// present size go through (they need no new room); growing a file gets
// `budget` more bytes, then fails with ENOSPC. Broken: every write after
// `budget` bytes fails with EIO, and so does every flush (or, when asked,
// every flush from then on).
class FailingDevice : public storage::fileio::Layer {
 public:
  enum Kind { FullDisk, Broken };
  FailingDevice(Kind kind, size_t budget, bool flushesFail = true)
      : kind_(kind), budget_(budget), flushesFail_(flushesFail), before_(&storage::fileio::current()) {
    storage::fileio::install(this);
  }
  ~FailingDevice() override { storage::fileio::install(before_); }
  ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) override {
    struct stat st {};
    fstat(fd, &st);
    if (kind_ == FullDisk && offset + off_t(size) <= st.st_size) return ::pwrite(fd, data, size, offset);
    if (budget_ == 0) {
      errno = kind_ == FullDisk ? ENOSPC : EIO;
      return -1;
    }
    size_t n = std::min(size, budget_);
    budget_ -= n;
    return ::pwrite(fd, data, n, offset);
  }
  int fsync(int fd) override {
    if (kind_ == FullDisk || (!flushesFail_ && budget_ > 0)) return before_->fsync(fd);
    errno = EIO;
    return -1;
  }

 private:
  Kind kind_;
  size_t budget_;
  bool flushesFail_;
  storage::fileio::Layer* before_;
};

// A writer stopped in the middle of a change: the journal lands, the first
// `passes` writes into the table's files land too, then every write, cut and
// flush of a table file fails (so the change cannot be undone either) and
// the journal stays behind with the files half-written.
struct StopsMidChange : storage::fileio::Layer {
  storage::fileio::Layer* before = &storage::fileio::current();
  int passes;
  explicit StopsMidChange(int passes) : passes(passes) { storage::fileio::install(this); }
  ~StopsMidChange() override { storage::fileio::install(before); }
  static bool journal(int fd) {
    char name[512] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    return readlink(link.c_str(), name, sizeof name - 1) > 0 && std::string(name).ends_with("-journal");
  }
  ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) override {
    if (journal(fd) || passes-- > 0) return before->pwrite(fd, data, size, offset);
    errno = EIO;
    return -1;
  }
  int ftruncate(int, off_t) override {
    errno = EIO;
    return -1;
  }
  int fsync(int fd) override {
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && !journal(fd)) {
      errno = EIO;
      return -1;
    }
    return before->fsync(fd);
  }
};

struct FullDisk : FailingDevice {
  explicit FullDisk(size_t budget) : FailingDevice(FailingDevice::FullDisk, budget) {}
};
struct BrokenDevice : FailingDevice {
  explicit BrokenDevice(size_t budget, bool flushesFail = true)
      : FailingDevice(FailingDevice::Broken, budget, flushesFail) {}
};

// The text of the DbError that f throws ("<no error>" when none).
inline std::string errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const storage::DbError& e) {
    return e.what();
  }
  return "<no error>";
}

inline bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// What a child body returns to be skipped (the system does not allow what
// it needs); "" means all went well, any other text is the failure.
inline const std::string kSkip = "\x01skip";

// Runs body in a child process. Returns false when the body asked to be
// skipped; records a failure with the body's text otherwise.
inline bool inChild(const std::function<std::string()>& body) {
  int msg[2];
  if (pipe(msg) != 0) return ADD_FAILURE() << "pipe", true;
  pid_t child = fork();
  if (child < 0) return ADD_FAILURE() << "fork", true;
  if (child == 0) {
    close(msg[0]);
    const std::string out = body();
    if (out == kSkip) _exit(77);
    if (!out.empty() && write(msg[1], out.data(), out.size()) < 0) _exit(3);
    _exit(out.empty() ? 0 : 1);
  }
  close(msg[1]);
  std::string text;
  char buf[512];
  ssize_t n;
  while ((n = read(msg[0], buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  close(msg[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status)) return ADD_FAILURE() << "child died", true;
  if (WEXITSTATUS(status) == 77) return false;
  EXPECT_EQ(WEXITSTATUS(status), 0) << text;
  return true;
}

// Runs body in a child process with a fresh tmpfs of the given size mounted
// on a scratch directory (a mount namespace of its own).
inline bool inSmallTmpfs(const char* size, const std::function<std::string(const ScratchDir&)>& body) {
  return inChild([&]() -> std::string {
    if (unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return kSkip;
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return kSkip;
    ScratchDir dir;
    if (mount("tmpfs", dir.path().c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) != 0) return kSkip;
    std::string out = body(dir);
    umount(dir.path().c_str());
    return out;
  });
}

}  // namespace dbtest
