#include "storage/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "storage/table.h"

namespace storage::fileio {
namespace {

Layer osLayer;
Layer* active = &osLayer;
Journal* journal = nullptr;

off_t sizeOf(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

}  // namespace

Journal::Journal() {
  if (!journal) {
    journal = this;
    active_ = true;
  }
}

Journal::~Journal() {
  if (active_) journal = nullptr;
}

void noteTruncate(int fd, const std::string& path) {
  if (!journal) return;
  for (const auto& s : journal->sizes_)
    if (s.first == path) return;
  journal->sizes_.emplace_back(path, sizeOf(fd));
}

void noteWrite(int fd, const std::string& path, size_t size, off_t offset) {
  if (!journal) return;
  noteTruncate(fd, path);
  const off_t end = sizeOf(fd);
  if (offset >= end) return;  // beyond the old end: the size takes it back
  std::string old(std::min<size_t>(size, size_t(end - offset)), '\0');
  ssize_t n = ::pread(fd, old.data(), old.size(), offset);
  old.resize(n > 0 ? size_t(n) : 0);
  journal->saved_.push_back({path, offset, std::move(old)});
}

bool Journal::rollback() {
  if (!active_) return true;
  journal = nullptr;  // the restoring writes are not recorded
  active_ = false;
  bool ok = true;
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    int fd = ::open(it->path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      ok = false;
      continue;
    }
    try {
      writeAt(fd, it->path, it->bytes.data(), it->bytes.size(), it->offset);
    } catch (const DbError&) {
      ok = false;
    }
    ::close(fd);
  }
  for (const auto& [path, size] : sizes_) {
    if (size < 0) continue;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 || active->ftruncate(fd, size) != 0) ok = false;
    if (fd >= 0) ::close(fd);
  }
  saved_.clear();
  sizes_.clear();
  return ok;
}

ssize_t Layer::pwrite(int fd, const void* data, size_t size, off_t offset) {
  return ::pwrite(fd, data, size, offset);
}
int Layer::ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int Layer::fsync(int fd) { return ::fsync(fd); }

Layer& current() { return *active; }
void install(Layer* layer) { active = layer ? layer : &osLayer; }

std::string errorText(const char* what, const std::string& path, int err) {
  return std::string("Cannot ") + what + " '" + path + "': " + std::strerror(err);
}

void writeAt(int fd, const std::string& path, const void* data, size_t size, off_t offset) {
  noteWrite(fd, path, size, offset);
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = active->pwrite(fd, p + done, size - done, offset + off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw DbError(errorText("write file", path, errno));
    if (n == 0) throw DbError(errorText("write file", path, ENOSPC));
    done += size_t(n);
  }
}

void truncate(int fd, const std::string& path, off_t length) {
  noteTruncate(fd, path);
  if (active->ftruncate(fd, length) != 0) throw DbError(errorText("write file", path, errno));
}

void sync(int fd, const std::string& path) {
  if (active->fsync(fd) != 0) throw DbError(errorText("write file", path, errno));
}

void checkStillThere(int fd, const std::string& path) {
  struct stat open {}, named {};
  if (::fstat(fd, &open) != 0) throw DbError(errorText("write file", path, errno));
  if (::stat(path.c_str(), &named) != 0) throw DbError(errorText("write file", path, errno));
  if (open.st_dev != named.st_dev || open.st_ino != named.st_ino)
    throw DbError("Cannot write file '" + path + "': the file was replaced since the table was opened");
}

std::string readWhole(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw DbError(errorText("open file", path, errno));
  std::string bytes;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(fd);
      throw DbError(errorText("read file", path, err));
    }
    if (n == 0) break;
    bytes.append(buf, size_t(n));
  }
  ::close(fd);
  return bytes;
}

}  // namespace storage::fileio
