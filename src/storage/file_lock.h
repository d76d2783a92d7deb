#pragma once
// The OS lock that keeps a second writer off an open table. It is an
// open-file-description lock on the table's main file: it conflicts with a
// writer in another process and with a second writer in this one, and it is
// released when the lock object goes (or the process ends).
#include <string>

namespace storage {

class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  FileLock(FileLock&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  FileLock& operator=(FileLock&& o) noexcept;

  enum class Result { Locked, Busy, NoAccess };
  // Takes the exclusive lock without waiting. Busy: another writer holds it;
  // NoAccess: the file cannot be opened for writing (the reason is in
  // errorText()).
  Result acquire(const std::string& path);
  void release();
  bool held() const { return fd_ >= 0; }
  const std::string& errorText() const { return error_; }

  // True when some writer holds the lock on the file (it is not taken).
  static bool lockedByOther(const std::string& path);

 private:
  int fd_ = -1;
  std::string error_;
};

// Takes the writer's lock on a table's main file for an opening table:
// returns why the table must stay read-only ("" when the lock is held, or
// when the file cannot be written at all, which the format itself reports).
std::string lockForWriting(FileLock& lock, const std::string& path);

}  // namespace storage
