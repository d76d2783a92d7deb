#pragma once
// Helpers of the dBase tests: a scratch directory with copies of the sample
// tables, whole-file reads and writes, and small tables built byte by byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "storage/file_io.h"

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

struct FieldSpec {
  std::string name;
  char type;
  int width;
  int decimals = 0;
};

// A dBase III table (version byte 0x03, or as given) with the fields and
// records given; records are the bytes after the deletion flag.
inline std::string makeDbf(const std::vector<FieldSpec>& fields, const std::vector<std::string>& records,
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

// A write layer that plays a full disk: writes inside a file's present size
// go through (they need no new room), growing a file gets `budget` more bytes
// and then fails with ENOSPC.
class FullDisk : public storage::fileio::Layer {
 public:
  explicit FullDisk(size_t budget) : budget_(budget) { storage::fileio::install(this); }
  ~FullDisk() override { storage::fileio::install(nullptr); }
  ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) override {
    struct stat st {};
    fstat(fd, &st);
    if (offset + off_t(size) <= st.st_size) return ::pwrite(fd, data, size, offset);
    if (budget_ == 0) {
      errno = ENOSPC;
      return -1;
    }
    size_t n = std::min(size, budget_);
    budget_ -= n;
    return ::pwrite(fd, data, n, offset);
  }
  size_t budget_;
};

}  // namespace dbtest
