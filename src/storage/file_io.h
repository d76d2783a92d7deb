#pragma once
// The write layer under the table files. Every byte the engine writes into a
// table file goes through it, so that a failing device (a full disk, an I/O
// error) can be played in tests, and every failure becomes a DbError naming
// the file. Reads use the OS directly.
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace storage::fileio {

// The OS calls the engine writes with; tests install a layer that fails.
class Layer {
 public:
  virtual ~Layer() = default;
  virtual ssize_t pwrite(int fd, const void* data, size_t size, off_t offset);
  virtual int ftruncate(int fd, off_t length);
  virtual int fsync(int fd);
};

// The layer in use (the OS one unless a test installed another).
Layer& current();
// Installs a layer; null restores the OS layer. The caller keeps ownership.
void install(Layer* layer);

// Writes all bytes at the offset; throws DbError naming the path on failure
// (a short write counts as a failure: the device is full).
void writeAt(int fd, const std::string& path, const void* data, size_t size, off_t offset);
// Cuts or extends the file; throws DbError naming the path.
void truncate(int fd, const std::string& path, off_t length);
// Flushes to the device; throws DbError naming the path.
void sync(int fd, const std::string& path);

// Throws DbError when the path no longer names the file open on fd (it was
// removed or replaced since the table was opened): writing on would land in
// a file nobody sees.
void checkStillThere(int fd, const std::string& path);

// Takes back a change of the table files that failed part-way. While a
// journal is open, every write through writeAt() and truncate() first keeps
// the bytes it overwrites and the file's size; rollback() puts them back (the
// old bytes need no new room on a full disk) and cuts grown files back to
// their old size. Journals do not nest: an inner one records nothing.
class Journal {
 public:
  Journal();
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;
  // Best effort; returns false when some part could not be put back.
  bool rollback();

  using Sizes = std::vector<std::pair<std::string, off_t>>;

 private:
  friend void noteWrite(int fd, const std::string& path, const void* data, size_t size, off_t offset);
  friend void noteTruncate(int fd, const std::string& path, off_t length);
  struct Saved {
    std::string path;
    off_t offset;
    std::string bytes;
  };
  bool active_ = false;
  std::vector<Saved> saved_;
  Sizes sizes_;  // each file's size before the change
};

// "Не удаётся <what> «<path>»: <the OS cause in Russian>", as UTF-8.
std::string errorText(const char* what, const std::string& path, int err);

// The whole file; throws DbError when it cannot be read.
std::string readWhole(const std::string& path);

}  // namespace storage::fileio
