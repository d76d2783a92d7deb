#pragma once
// Line-oriented text files as the settings and configuration files use them:
// Windows-1251 bytes, CR LF line ends (a bare LF or CR ends a line too).
#include <stdexcept>
#include <string>
#include <vector>

namespace textfile {

// Reads a whole file opened for reading; throws FileError when it cannot be
// opened or read.
class Reader {
 public:
  explicit Reader(const std::string& path);
  // True when no byte is left.
  bool eof() const { return pos_ >= data_.size(); }
  // The next line without its end; a line past the end reads as empty.
  std::string readLine();

 private:
  std::string data_;
  size_t pos_ = 0;
};

class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Lines joined with CR LF after each line.
std::string joinLines(const std::vector<std::string>& lines);

// Replaces the file's contents safely: the bytes go to a temporary file in the
// same directory, which is flushed and renamed over the old file, so a failure
// never leaves a truncated file. Throws FileError naming the file.
void writeAtomic(const std::string& path, const std::string& bytes);

// True when the path names a readable regular file.
bool canOpen(const std::string& path);

}  // namespace textfile
