#include "storage/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "storage/table.h"

namespace storage::fileio {
namespace {

Layer osLayer;
Layer* active = &osLayer;

}  // namespace

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
