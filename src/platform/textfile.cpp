#include "platform/textfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/ansi.h"

namespace textfile {
namespace {

// Error texts are Windows-1251 like every text of the program; the path
// comes from the file system in UTF-8.
std::string errorText(const char* what, const std::string& path, int err) {
  return std::string(what) + " '" + ansi::fromUnicode(QString::fromUtf8(path.data(), qsizetype(path.size()))) +
         "': " + std::strerror(err);
}

}  // namespace

Reader::Reader(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw FileError(errorText("Cannot open file", path, errno));
  if (!S_ISREG(st.st_mode)) throw FileError(errorText("Cannot open file", path, EISDIR));
  std::ifstream in(path, std::ios::binary);
  if (!in) throw FileError(errorText("Cannot open file", path, errno ? errno : EACCES));
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) throw FileError(errorText("Cannot read file", path, EIO));
  data_ = ss.str();
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
    out += l;
    out += "\r\n";
  }
  return out;
}

void writeAtomic(const std::string& path, const std::string& bytes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    throw FileError(errorText("Cannot create file", path, EISDIR));
  const std::string tmp = path + ".tmp~";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw FileError(errorText("Cannot create file", path, errno));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      throw FileError(errorText("Cannot write file", path, err));
    }
    done += size_t(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    throw FileError(errorText("Cannot write file", path, err));
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    throw FileError(errorText("Cannot write file", path, err));
  }
}

bool canOpen(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

}  // namespace textfile
