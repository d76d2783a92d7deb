#include "storage/file_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "storage/error_text.h"
#include "storage/file_io.h"
#include "storage/table.h"

namespace storage {
namespace {

// Lock bytes lie far past the end of any table file.
constexpr off_t kWriterByte = off_t(1) << 62;
constexpr off_t kDataByte = kWriterByte + 1;
constexpr off_t kWaitingByte = kWriterByte + 2;
// How long a reading waits for a change in another process to end, and a
// change being taken back for the others' readings.
constexpr int kLongWaitMs = 30000;
// How long an operator's change waits for another process: the window waits
// meanwhile, so briefly; then the change is refused and may be tried again.
constexpr int kBriefWaitMs = 1500;

struct flock byteLock(short type, off_t at) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = 1;
  return fl;
}

bool tryLock(int fd, short type, off_t at) {
  struct flock fl = byteLock(type, at);
  while (::fcntl(fd, F_OFD_SETLK, &fl) != 0)
    if (errno != EINTR) return false;
  return true;
}

void unlock(int fd, off_t at) {
  struct flock fl = byteLock(F_UNLCK, at);
  ::fcntl(fd, F_OFD_SETLK, &fl);
}

// Whether what keeps the lock on `at` from being taken is another program's
// lock over the file (a whole-file lock, as an office program takes on a
// table it has open), which stays as long as that program keeps the file,
// rather than one of this engine's lock bytes, which a change lets go.
bool heldOverFile(int fd, short type, off_t at) {
  struct flock fl = byteLock(type, at);
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0 || fl.l_type == F_UNLCK) return false;
  return fl.l_len <= 0 || fl.l_start < kWriterByte || fl.l_start + fl.l_len > kWaitingByte + 1;
}

// Waits for a lock, polling with growing pauses, for at most leftUs
// microseconds, which the wait uses up; TimedOut when they run out, Held at
// once when another program holds the file. A file system that keeps no
// such locks is left unlocked (Got).
enum class Taken { Got, TimedOut, Held };
Taken waitLock(int fd, short type, off_t at, long& leftUs) {
  long pause = 50;  // microseconds
  while (!tryLock(fd, type, at)) {
    if (errno != EAGAIN && errno != EACCES) return Taken::Got;
    if (heldOverFile(fd, type, at)) return Taken::Held;
    if (leftUs <= 0) return Taken::TimedOut;
    ::usleep(static_cast<useconds_t>(pause));
    leftUs -= pause;
    pause = std::min(pause * 2, 2000L);
  }
  return Taken::Got;
}

std::string heldText(const std::string& path) {
  return "Таблица " + quotedPath(path) + " открыта для записи другим пользователем или программой";
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
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error_ = fileio::errorText("открыть для записи файл", path, errno);
    return Result::NoAccess;
  }
  if (!tryLock(fd, F_WRLCK, kWriterByte)) {
    int err = errno;
    ::close(fd);
    if (err == EAGAIN || err == EACCES) {
      error_ = heldText(path);
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
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock fl = byteLock(F_WRLCK, kWriterByte);
  bool busy = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  ::close(fd);
  return busy;
}

void FileLock::beginChange(Wait wait) {
  if (fd_ < 0) return;
  const std::string busy = "Таблица " + quotedPath(path_) +
                           " занята: её читает или изменяет другая программа. Изменение не записано, "
                           "его можно повторить";
  long left = (wait == Wait::Brief ? kBriefWaitMs : kLongWaitMs) * 1000L;
  if (waitLock(fd_, F_WRLCK, kWaitingByte, left) != Taken::Got) throw DbError(busy);
  if (waitLock(fd_, F_WRLCK, kDataByte, left) != Taken::Got) {
    unlock(fd_, kWaitingByte);
    throw DbError(busy);
  }
}

void FileLock::endChange() {
  if (fd_ < 0) return;
  unlock(fd_, kDataByte);
  unlock(fd_, kWaitingByte);
}

ReadLock::ReadLock(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return;
  // Behind a change that waits, then beside the other readers.
  long left = kLongWaitMs * 1000L;
  Taken got = waitLock(fd_, F_RDLCK, kWaitingByte, left);
  if (got == Taken::Got) got = waitLock(fd_, F_RDLCK, kDataByte, left);
  unlock(fd_, kWaitingByte);
  if (got != Taken::Got) {
    ::close(fd_);
    fd_ = -1;
    // A program that holds the whole file is not waited for: it keeps it.
    throw DbError(got == Taken::Held ? heldText(path) + ": прочитать её не удалось"
                                    : "Таблица " + path + " занята другой программой: прочитать её не удалось");
  }
}

ReadLock::~ReadLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::string lockForWriting(FileLock& lock, const std::string& path) {
  return lock.acquire(path) == FileLock::Result::Busy ? lock.errorText() : std::string();
}

void lockForReplacing(FileLock& lock, const std::string& path) {
  const FileLock::Result got = lock.acquire(path);
  if (got == FileLock::Result::Busy || (got != FileLock::Result::Locked && FileLock::lockedByOther(path)))
    throw DbError(heldText(path));
}

}  // namespace storage
