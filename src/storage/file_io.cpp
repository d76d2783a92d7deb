#include "storage/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/os_reason.h"
#include "storage/error_text.h"
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

// The file's size when the journal first met it.
static off_t originalSize(Journal::Sizes& sizes, int fd, const std::string& path) {
  for (const auto& s : sizes)
    if (s.first == path) return s.second;
  sizes.emplace_back(path, sizeOf(fd));
  return sizes.back().second;
}

void noteWrite(int fd, const std::string& path, const void* data, size_t size, off_t offset) {
  if (!journal) return;
  // Only bytes of the old file need keeping: what lies past its old end
  // goes when the file is cut back.
  const off_t end = originalSize(journal->sizes_, fd, path);
  if (offset >= end) return;
  std::string old(std::min<size_t>(size, size_t(end - offset)), '\0');
  ssize_t n = ::pread(fd, old.data(), old.size(), offset);
  old.resize(n > 0 ? size_t(n) : 0);
  if (std::memcmp(old.data(), data, old.size()) == 0) return;  // rewritten as it was
  journal->saved_.push_back({path, offset, std::move(old)});
}

void noteTruncate(int fd, const std::string& path, off_t length) {
  if (!journal) return;
  // Bytes of the old file that a cut takes away are kept like overwritten ones.
  const off_t end = std::min(originalSize(journal->sizes_, fd, path), sizeOf(fd));
  if (length >= end) return;
  std::string old(size_t(end - length), '\0');
  ssize_t n = ::pread(fd, old.data(), old.size(), length);
  old.resize(n > 0 ? size_t(n) : 0);
  journal->saved_.push_back({path, length, std::move(old)});
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
  return std::string("Не удаётся ") + what + " " + quotedPath(path) + ": " + osReason(err);
}

void writeAt(int fd, const std::string& path, const void* data, size_t size, off_t offset) {
  noteWrite(fd, path, data, size, offset);
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = active->pwrite(fd, p + done, size - done, offset + off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw DbError(errorText("записать файл", path, errno));
    if (n == 0) throw DbError(errorText("записать файл", path, ENOSPC));
    done += size_t(n);
  }
}

void truncate(int fd, const std::string& path, off_t length) {
  noteTruncate(fd, path, length);
  if (active->ftruncate(fd, length) != 0) throw DbError(errorText("записать файл", path, errno));
}

void sync(int fd, const std::string& path) {
  if (active->fsync(fd) != 0) throw DbError(errorText("записать файл", path, errno));
}

void checkStillThere(int fd, const std::string& path) {
  struct stat open {}, named {};
  if (::fstat(fd, &open) != 0) throw DbError(errorText("записать файл", path, errno));
  if (::stat(path.c_str(), &named) != 0) throw DbError(errorText("записать файл", path, errno));
  if (open.st_dev != named.st_dev || open.st_ino != named.st_ino)
    throw DbError("Не удаётся записать файл " + quotedPath(path) + ": файл заменён после открытия таблицы");
}

std::string readWhole(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw DbError(errorText("открыть файл", path, errno));
  std::string bytes;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(fd);
      throw DbError(errorText("прочитать файл", path, err));
    }
    if (n == 0) break;
    bytes.append(buf, size_t(n));
  }
  ::close(fd);
  return bytes;
}

}  // namespace storage::fileio
