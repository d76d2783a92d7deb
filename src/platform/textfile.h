#pragma once
// Line-oriented text files as the settings and configuration files use them:
// Windows-1251 bytes, CR LF line ends (a bare LF or CR ends a line too).
#include <stdexcept>
#include <string>
#include <vector>

namespace textfile {

// Reads a file line by line; throws FileError when it cannot be opened. A
// read error part-way ends the file there: the lines read completely before
// it can be read, and failed() tells that the rest could not be.
class Reader {
 public:
  explicit Reader(const std::string& path);
  // True when no line is left (at the end of the file, or at a read error).
  bool eof() const { return pos_ >= data_.size(); }
  // True when a read error cut the file short.
  bool failed() const { return failed_; }
  // True when the next line cannot be read because of a read error.
  bool atError() const { return failed_ && eof(); }
  // The next line without its end; a line past the end reads as empty.
  std::string readLine();

 private:
  std::string data_;
  size_t pos_ = 0;
  bool failed_ = false;
};

class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Lines joined with CR LF after each line. A value never spills over into the
// next line: a line is cut at a line end inside it.
std::string joinLines(const std::vector<std::string>& lines);

// Replaces the file's contents safely: the bytes go to a temporary file
// beside it, which is flushed and renamed over the old file, so a failure
// never leaves a truncated file. A symbolic link is written through to its
// target; the file keeps its owner and mode. A file that cannot be written
// itself is an error ("Cannot create file ...") and stays as it was. Where
// the directory refuses a temporary file beside it (no permission), or a
// rename would lose its owner or its other hard links, the file is written
// in place; any other failure to make the temporary file (a full disk) is an
// error and leaves the file whole. Throws FileError naming the file.
void writeAtomic(const std::string& path, const std::string& bytes);

// True when nothing is at the path, or a symbolic link there names nothing
// (writeAtomic creates the file it names). A file that is there but cannot
// be read is not missing.
bool missing(const std::string& path);

}  // namespace textfile
