#include "storage/file_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "storage/error_text.h"
#include "storage/file_io.h"

namespace storage {
namespace {

struct flock wholeFile(short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;  // to the end, however the file grows
  return fl;
}

}  // namespace

FileLock& FileLock::operator=(FileLock&& o) noexcept {
  if (this != &o) {
    release();
    fd_ = o.fd_;
    path_ = std::move(o.path_);
    o.fd_ = -1;
  }
  return *this;
}

FileLock::Result FileLock::acquire(const std::string& path) {
  release();
  error_.clear();
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    error_ = fileio::errorText("открыть для записи файл", path, errno);
    return Result::NoAccess;
  }
  struct flock fl = wholeFile(F_WRLCK);
  while (::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    if (errno == EINTR) continue;
    int err = errno;
    ::close(fd);
    if (err == EAGAIN || err == EACCES) {
      error_ = "Таблица " + quotedPath(path) + " открыта для записи другим пользователем или программой";
      return Result::Busy;
    }
    error_ = fileio::errorText("заблокировать файл", path, err);
    return Result::NoAccess;
  }
  fd_ = fd;
  path_ = path;
  return Result::Locked;
}

void FileLock::checkStillThere() const {
  if (fd_ >= 0) fileio::checkStillThere(fd_, path_);
}

void FileLock::release() {
  if (fd_ >= 0) ::close(fd_);  // closing the description drops its lock
  fd_ = -1;
}

bool FileLock::lockedByOther(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock fl = wholeFile(F_WRLCK);
  bool busy = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  ::close(fd);
  return busy;
}

std::string lockForWriting(FileLock& lock, const std::string& path) {
  return lock.acquire(path) == FileLock::Result::Busy ? lock.errorText() : std::string();
}

}  // namespace storage
