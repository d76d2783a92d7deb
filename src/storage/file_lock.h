#pragma once
// The OS locks on a table's main file: open-file-description locks on bytes
// far past any table's end, so they conflict with other processes and with
// other tables of this one, and go when the lock object goes (or the process
// ends).
//   writer byte:  held by the one writer for as long as the table is open;
//   data byte:    held exclusively for the length of each change of the files
//                 and shared while a table is read, so that a reader sees the
//                 files before or after a change, never in between;
//   waiting byte: taken by a change before it waits for the data byte, so
//                 that readers queue behind a waiting change.
#include <string>
#include <utility>

namespace storage {

class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  FileLock(FileLock&& o) noexcept : fd_(o.fd_), path_(std::move(o.path_)) { o.fd_ = -1; }
  FileLock& operator=(FileLock&& o) noexcept;

  enum class Result { Locked, Busy, NoAccess };
  // Takes the exclusive lock without waiting. Busy: another writer holds it;
  // NoAccess: the file cannot be opened for writing (the reason is in
  // errorText()).
  Result acquire(const std::string& path);
  void release();
  bool held() const { return fd_ >= 0; }
  const std::string& errorText() const { return error_; }
  // Throws DbError when the locked file was removed or replaced since it was
  // locked: a write now would go where no one reads it.
  void checkStillThere() const;

  // True when some writer holds the lock on the file (it is not taken).
  static bool lockedByOther(const std::string& path);

  // The data byte for a change, on the writer's own file (held() first).
  // Waits while others read: briefly for a change the operator makes, long
  // for one that must be made before the table can be read. Throws DbError
  // naming the table when the wait runs out; nothing was written then.
  enum class Wait { Brief, Long };
  void beginChange(Wait wait);
  void endChange();

 private:
  int fd_ = -1;
  std::string path_, error_;
};

// The shared data lock for the length of a reading of the table's files
// (nothing when the file cannot be opened: the reading reports that).
class ReadLock {
 public:
  explicit ReadLock(const std::string& path);
  ~ReadLock();
  ReadLock(const ReadLock&) = delete;
  ReadLock& operator=(const ReadLock&) = delete;

 private:
  int fd_ = -1;
};

// Holds the data byte for a change while it lives.
class ChangeLock {
 public:
  explicit ChangeLock(FileLock& lock, FileLock::Wait wait = FileLock::Wait::Long) : lock_(lock) {
    lock_.beginChange(wait);
  }
  ~ChangeLock() { lock_.endChange(); }
  ChangeLock(const ChangeLock&) = delete;
  ChangeLock& operator=(const ChangeLock&) = delete;

 private:
  FileLock& lock_;
};

// Takes the writer's lock on a table's main file for an opening table:
// returns why the table must stay read-only ("" when the lock is held, or
// when the file cannot be written at all, which the format itself reports).
std::string lockForWriting(FileLock& lock, const std::string& path);

// Takes the writer's lock on a table about to be moved aside, replaced or
// renamed; throws when another program holds the table for writing, also
// when this user may not write its files and so cannot take the lock (the
// folder decides whether the files can move, not the files).
void lockForReplacing(FileLock& lock, const std::string& path);

}  // namespace storage
