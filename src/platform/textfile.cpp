#include "platform/textfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/ansi.h"
#include "platform/oserror.h"

namespace textfile {
namespace {

// Error texts are Windows-1251 like every text of the program: "Не удаётся
// <what> «<path>»: <the OS cause>"; the path comes from the file system in
// UTF-8.
std::string errorText(const char* what, const std::string& path, const QString& reason) {
  return ansi::fromUnicode(QStringLiteral("Не удаётся %1 «%2»: %3")
                               .arg(QString::fromUtf8(what),
                                    QString::fromUtf8(path.data(), qsizetype(path.size())), reason));
}
std::string errorText(const char* what, const std::string& path, int err) {
  return errorText(what, path, osErrorText(err));
}

}  // namespace

Reader::Reader(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw FileError(errorText("открыть файл", path, errno));
  if (S_ISDIR(st.st_mode)) throw FileError(errorText("открыть файл", path, EISDIR));
  if (!S_ISREG(st.st_mode))
    throw FileError(errorText("открыть файл", path, QStringLiteral("это не обычный файл (канал, сокет или устройство)")));
  // Non-blocking: a pipe put at the name after the check above must not
  // hold the program up waiting for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw FileError(errorText("открыть файл", path, errno));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      data_.append(buf, size_t(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      // The file ends at the last whole line before the error.
      failed_ = true;
      const size_t end = data_.find_last_of("\r\n");
      data_.resize(end == std::string::npos ? 0 : end + 1);
      break;
    }
  }
  ::close(fd);
}

std::string Reader::readLine() {
  if (eof()) return {};
  size_t end = pos_;
  while (end < data_.size() && data_[end] != '\r' && data_[end] != '\n') ++end;
  std::string line = data_.substr(pos_, end - pos_);
  pos_ = end;
  if (pos_ < data_.size() && data_[pos_] == '\r') ++pos_;
  if (pos_ < data_.size() && data_[pos_] == '\n') ++pos_;
  return line;
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) {
    out.append(l, 0, l.find_first_of("\r\n"));
    out += "\r\n";
  }
  return out;
}

namespace {

// The file that a path finally names: symbolic links are followed (a
// relative one from its own directory), a dangling link gives the name it
// points to.
std::string followLinks(const std::string& path) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    std::string target(4096, '\0');
    const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
    if (n <= 0 || size_t(n) >= target.size()) return p;
    target.resize(size_t(n));
    if (target[0] != '/') {
      const size_t slash = p.rfind('/');
      if (slash != std::string::npos) target = p.substr(0, slash + 1) + target;
    }
    p = target;
  }
  throw FileError(errorText("создать файл", path, ELOOP));
}

// Writes all bytes to fd and flushes them; false with errno on failure.
bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += size_t(n);
  }
  // A device or pipe cannot be flushed, which is no failure.
  return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
}

// Overwrites the file itself; the last resort where no temporary file can
// take its place.
void writeInPlace(const std::string& target, const std::string& path, const std::string& bytes) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) throw FileError(errorText("создать файл", path, errno));
  if (!writeAll(fd, bytes)) {
    const int err = errno;
    ::close(fd);
    throw FileError(errorText("записать файл", path, err));
  }
  if (::close(fd) != 0) throw FileError(errorText("записать файл", path, errno));
}

}  // namespace

void writeAtomic(const std::string& path, const std::string& bytes) {
  const std::string target = followLinks(path);
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) throw FileError(errorText("создать файл", path, EISDIR));
  if (exists) {
    // A file that its owner made read-only is refused, never replaced.
    const int probe = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) throw FileError(errorText("создать файл", path, errno));
    ::close(probe);
    // A device, a pipe, or a file with other names (hard links) keeps its
    // identity: written where it is.
    if (!S_ISREG(st.st_mode) || st.st_nlink > 1) return writeInPlace(target, path, bytes);
  }

  static unsigned counter = 0;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = target + ".~" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? (st.st_mode & 07777) : 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    // A directory that refuses new files while the file itself may be
    // written: the file is written in place. Any other cause (a full disk,
    // too many open files) would fail the same write part-way and leave the
    // file cut short: the old file stays whole and the error is shown.
    const int err = errno;
    if (exists && (err == EACCES || err == EPERM || err == EROFS)) return writeInPlace(target, path, bytes);
    throw FileError(errorText(exists ? "записать файл" : "создать файл", path, err));
  }
  auto fail = [&](const char* what, int err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    throw FileError(errorText(what, path, err));
  };
  if (exists) {
    // The replacement has the owner and mode of the file it replaces; where
    // the owner cannot be kept, the file is written in place instead.
    struct stat mine {};
    if (::fstat(fd, &mine) != 0) fail("создать файл", errno);
    if ((mine.st_uid != st.st_uid || mine.st_gid != st.st_gid) && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
      ::close(fd);
      ::unlink(tmp.c_str());
      return writeInPlace(target, path, bytes);
    }
    // The creation mode lost the bits that the umask takes away.
    if (::fchmod(fd, st.st_mode & 07777) != 0) fail("создать файл", errno);
  }
  if (!writeAll(fd, bytes)) fail("записать файл", errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    throw FileError(errorText("записать файл", path, err));
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    throw FileError(errorText("записать файл", path, err));
  }
}

bool missing(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
}

}  // namespace textfile
