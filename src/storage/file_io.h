#pragma once
// The write layer under the table files. Every byte the engine writes into a
// table file goes through it, so that a failing device (a full disk, an I/O
// error) can be played in tests, and every failure becomes a DbError naming
// the file. Reads use the OS directly.
#include <sys/types.h>

#include <string>
#include <map>
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
  // The reads that check a journal against the table's files.
  virtual ssize_t pread(int fd, void* data, size_t size, off_t offset);
};

// The layer in use (the OS one unless a test installed another).
Layer& current();
// Installs a layer; null restores the OS layer. The caller keeps ownership.
void install(Layer* layer);

// Writes all bytes at the offset; throws DbError naming the path on failure
// (a short write counts as a failure: the device is full).
void writeAt(int fd, const std::string& path, const void* data, size_t size, off_t offset);
// Writes all bytes through the layer, now (outside any change); false with
// errno set on failure.
bool writeAll(int fd, const char* data, size_t size, off_t offset);
// Cuts or extends the file; throws DbError naming the path.
void truncate(int fd, const std::string& path, off_t length);
// Flushes to the device; throws DbError naming the path.
void sync(int fd, const std::string& path);

// Throws DbError when the path no longer names the file open on fd (it was
// removed or replaced since the table was opened): writing on would land in
// a file nobody sees.
void checkStillThere(int fd, const std::string& path);

// Reads through a change in progress: the bytes and the size the file has
// with the change's pending writes (made through this descriptor) laid over
// it. Outside a change, the OS.
// Returns the bytes read (0 past the end).
size_t readAt(int fd, const std::string& path, void* data, size_t size, off_t offset);
off_t sizeOf(int fd, const std::string& path);

// The rollback journal of a table: its main file's name with "-journal".
std::string journalPath(const std::string& tablePath);

// One change of a table's files, all or nothing even when the process dies
// in its middle. While it is open, writeAt() and truncate() only record the
// new bytes (reads see them through readAt()); commit() then writes the old
// contents of every range the change touches into the journal beside the
// table and flushes it, writes the change into the files, flushes them and
// removes the journal. A process that dies before the journal is complete
// left the files untouched; one that dies later leaves a journal that
// journal::recover() plays back. A change begun while another is open joins
// it: the outer one commits both (a job over the whole table is one change).
class Change {
 public:
  explicit Change(std::string journal);
  ~Change();  // drops what was not committed
  Change(const Change&) = delete;
  Change& operator=(const Change&) = delete;

  // Throws DbError naming the file when the change cannot be written; the
  // files are then put back as they were, or when even that fails the
  // journal stays for the next open (journalLeft()).
  void commit();
  bool joined() const { return outer_ != nullptr; }
  bool journalLeft() const { return journalLeft_; }

  struct Pending;

 private:
  friend struct Overlay;
  Change* outer_ = nullptr;
  std::string journal_;
  std::vector<Pending> files_;
  bool journalLeft_ = false;
};

// Old contents laid over files while it lives: reads through readAt(),
// sizeOf() and readWhole() of those files (known by their identity, through
// any descriptor) see them, outside a change of this process.
class ReadView {
 public:
  struct File {
    dev_t dev;
    ino_t ino;
    off_t size;                         // the file's size in the view
    std::map<off_t, std::string> runs;  // its bytes in the view, over the file's
  };
  explicit ReadView(std::vector<File> files);
  ~ReadView();
  ReadView(const ReadView&) = delete;
  ReadView& operator=(const ReadView&) = delete;
  const std::vector<File>& files() const { return files_; }

 private:
  std::vector<File> files_;
};

// Flushes a directory (a file created or removed in it).
void syncDirectory(const std::string& path);

// "Не удаётся <what> «<path>»: <the OS cause in Russian>", as UTF-8.
std::string errorText(const char* what, const std::string& path, int err);

// Writes a new table file holding `bytes` (one that stood at the name is
// cut); throws DbError naming the path and the cause (a full disk).
void writeNewFile(const std::string& path, const std::string& bytes);

// "" when changes of the table at `tablePath` can be made in its folder
// (its journal is made and removed there), or why not.
std::string folderRefusal(const std::string& tablePath);

// The whole file; throws DbError when it cannot be read.
std::string readWhole(const std::string& path);

// Opens a table's file (flags: O_RDONLY or O_RDWR): a regular file only, and
// without waiting on whatever else stands at the name (a FIFO, a device).
// Returns the descriptor; throws DbError naming the path.
int openRegular(const std::string& path, int flags);

}  // namespace storage::fileio
