#include "storage/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "storage/table.h"

namespace storage::fileio {

// One file's part of an open change: the bytes written so far, kept apart
// from the file until the change is committed.
struct Change::Pending {
  std::string path;
  int fd = -1;
  off_t disk = 0;  // the file's size on disk (the change has not touched it)
  off_t low = 0;   // the smallest size it was cut to: disk bytes from here read as zero
  off_t size = 0;  // its size with the change
  std::map<off_t, std::string> runs;  // written bytes, apart and not touching
};

namespace {

Layer osLayer;
Layer* active = &osLayer;
std::vector<Change*> open_;  // open changes of different tables, newest last

off_t diskSize(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

ssize_t preadAll(int fd, char* p, size_t n, off_t off) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd, p + done, n - done, off + off_t(done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += size_t(r);
  }
  return ssize_t(done);
}

// Writes all bytes through the layer; false with errno set on failure.
bool pwriteAll(int fd, const char* p, size_t size, off_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = active->pwrite(fd, p + done, size - done, offset + off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    done += size_t(n);
  }
  return true;
}

std::string dirOf(const std::string& path) {
  const std::filesystem::path d = std::filesystem::path(path).parent_path();
  return d.empty() ? std::string(".") : d.string();
}

// ---------------------------------------------------------------- journal file
//
// "KMSJRNL1", then per file: 'F', name length (u16), the name (beside the
// journal), its size before the change (u64); per range of old bytes: 'R',
// offset (u64), length (u32), the bytes; then 'E' and a 64-bit FNV-1a sum of
// everything before it. A journal whose sum does not match was never
// complete, and the files were not touched yet.

constexpr char kMagic[] = "KMSJRNL1";

void put(std::string& out, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint64_t get(const std::string& in, size_t at, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= std::uint64_t(static_cast<unsigned char>(in[at + size_t(i)])) << (8 * i);
  return v;
}

std::uint64_t fnv(const char* p, size_t n) {
  std::uint64_t h = 1469598103934665603ULL;
  for (size_t i = 0; i < n; ++i) {
    h ^= static_cast<unsigned char>(p[i]);
    h *= 1099511628211ULL;
  }
  return h;
}

struct Saved {
  off_t offset;
  std::string bytes;
};
struct FileImage {
  std::string path;
  off_t size;  // before the change
  std::vector<Saved> old;
};

std::string encodeJournal(const std::vector<FileImage>& files) {
  std::string j(kMagic, 8);
  for (const FileImage& f : files) {
    const std::string name = std::filesystem::path(f.path).filename().string();
    j.push_back('F');
    put(j, name.size(), 2);
    j += name;
    put(j, std::uint64_t(f.size), 8);
    for (const Saved& s : f.old) {
      j.push_back('R');
      put(j, std::uint64_t(s.offset), 8);
      put(j, s.bytes.size(), 4);
      j += s.bytes;
    }
  }
  j.push_back('E');
  put(j, fnv(j.data(), j.size()), 8);
  return j;
}

// False when the journal is not complete (or not a journal of ours).
bool decodeJournal(const std::string& j, const std::string& dir, std::vector<FileImage>& files) {
  if (j.size() < 17 || j.compare(0, 8, kMagic, 8) != 0) return false;
  if (fnv(j.data(), j.size() - 8) != get(j, j.size() - 8, 8)) return false;
  const size_t end = j.size() - 9;
  if (j[end] != 'E') return false;
  size_t p = 8;
  while (p < end) {
    const char tag = j[p++];
    if (tag == 'F') {
      if (p + 2 > end) return false;
      const size_t n = size_t(get(j, p, 2));
      p += 2;
      if (p + n + 8 > end || n == 0) return false;
      const std::string name = j.substr(p, n);
      if (name.find('/') != std::string::npos || name == "." || name == "..") return false;
      p += n;
      files.push_back({dir + "/" + name, off_t(get(j, p, 8)), {}});
      p += 8;
    } else if (tag == 'R' && !files.empty()) {
      if (p + 12 > end) return false;
      const off_t off = off_t(get(j, p, 8));
      const size_t n = size_t(get(j, p + 8, 4));
      p += 12;
      if (p + n > end || off < 0) return false;
      files.back().old.push_back({off, j.substr(p, n)});
      p += n;
    } else {
      return false;
    }
  }
  return true;
}

// Puts the old bytes back and cuts each file to its old size, flushed.
// Returns "" or what failed.
std::string playBack(const std::vector<FileImage>& files) {
  for (const FileImage& f : files) {
    int fd = ::open(f.path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return errorText("open file for writing", f.path, errno);
    std::string err;
    for (const Saved& s : f.old)
      if (err.empty() && !pwriteAll(fd, s.bytes.data(), s.bytes.size(), s.offset))
        err = errorText("write file", f.path, errno);
    if (err.empty() && diskSize(fd) != f.size && active->ftruncate(fd, f.size) != 0)
      err = errorText("write file", f.path, errno);
    if (err.empty() && active->fsync(fd) != 0) err = errorText("write file", f.path, errno);
    ::close(fd);
    if (!err.empty()) return err;
  }
  return {};
}

// Removes the journal for good. Once it is gone the files stand as they
// are: a failed flush of the directory after that is no failure of the
// change (at worst a power loss brings the journal back, and the next open
// takes the complete change back again).
void removeJournal(const std::string& journal) {
  if (::unlink(journal.c_str()) != 0 && errno != ENOENT)
    throw DbError(errorText("remove file", journal, errno));
  try {
    syncDirectory(journal);
  } catch (const DbError&) {
  }
}

}  // namespace

struct Overlay {
  // Only the descriptor the change writes through sees it: another table
  // open on the same file, in this process too, reads the file as it is.
  static Change::Pending* find(int fd, const std::string& path) {
    for (Change* c : open_)
      for (auto& p : c->files_)
        if (p.fd == fd && p.path == path) return &p;
    return nullptr;
  }
  // The file's part of the change it belongs to (the newest one for a file
  // no change has touched yet).
  static Change::Pending& of(int fd, const std::string& path) {
    if (Change::Pending* p = find(fd, path)) return *p;
    Change* current_ = open_.back();
    Change::Pending p;
    p.path = path;
    p.fd = fd;
    p.disk = p.low = p.size = diskSize(fd);
    if (p.disk < 0) throw DbError(errorText("read file", path, errno));
    current_->files_.push_back(std::move(p));
    return current_->files_.back();
  }
  static std::vector<Change::Pending>& files(Change& c) { return c.files_; }
};

// ---------------------------------------------------------------- reads

size_t readAt(int fd, const std::string& path, void* data, size_t size, off_t offset) {
  char* out = static_cast<char*>(data);
  Change::Pending* p = Overlay::find(fd, path);
  if (!p) {
    const ssize_t n = preadAll(fd, out, size, offset);
    if (n < 0) throw DbError(errorText("read file", path, errno));
    return size_t(n);
  }
  if (offset >= p->size) return 0;
  const size_t n = size_t(std::min<off_t>(off_t(size), p->size - offset));
  std::memset(out, 0, n);
  const off_t fromDisk = std::min(p->low, p->disk);
  if (offset < fromDisk) {
    const size_t want = size_t(std::min<off_t>(off_t(n), fromDisk - offset));
    if (preadAll(fd, out, want, offset) < 0) throw DbError(errorText("read file", path, errno));
  }
  const off_t end = offset + off_t(n);
  auto it = p->runs.upper_bound(offset);
  if (it != p->runs.begin()) --it;
  for (; it != p->runs.end() && it->first < end; ++it) {
    const off_t a = std::max(offset, it->first);
    const off_t b = std::min(end, it->first + off_t(it->second.size()));
    if (a < b) std::memcpy(out + (a - offset), it->second.data() + (a - it->first), size_t(b - a));
  }
  return n;
}

off_t sizeOf(int fd, const std::string& path) {
  if (Change::Pending* p = Overlay::find(fd, path)) return p->size;
  const off_t s = diskSize(fd);
  if (s < 0) throw DbError(errorText("read file", path, errno));
  return s;
}

// ---------------------------------------------------------------- writes

void writeAt(int fd, const std::string& path, const void* data, size_t size, off_t offset) {
  const char* in = static_cast<const char*>(data);
  if (open_.empty()) {
    if (!pwriteAll(fd, in, size, offset)) throw DbError(errorText("write file", path, errno));
    return;
  }
  if (size == 0) return;
  Change::Pending& p = Overlay::of(fd, path);
  const off_t a = offset, b = offset + off_t(size);
  // The run that holds or touches the start grows in place (appends to a
  // file keep extending one run); runs the write reaches are swallowed.
  auto it = p.runs.upper_bound(a);
  std::map<off_t, std::string>::iterator run;
  if (it != p.runs.begin() && std::prev(it)->first + off_t(std::prev(it)->second.size()) >= a) {
    run = std::prev(it);
  } else {
    run = p.runs.emplace_hint(it, a, std::string());
  }
  std::string& bytes = run->second;
  const off_t start = run->first;
  if (start + off_t(bytes.size()) < b) bytes.resize(size_t(b - start));
  std::memcpy(bytes.data() + (a - start), in, size);
  for (auto next = std::next(run); next != p.runs.end() && next->first <= start + off_t(bytes.size());) {
    const off_t end = next->first + off_t(next->second.size());
    if (end > start + off_t(bytes.size())) bytes.append(next->second, size_t(start + off_t(bytes.size()) - next->first), std::string::npos);
    next = p.runs.erase(next);
  }
  p.size = std::max(p.size, b);
}

void truncate(int fd, const std::string& path, off_t length) {
  if (open_.empty()) {
    if (active->ftruncate(fd, length) != 0) throw DbError(errorText("write file", path, errno));
    return;
  }
  Change::Pending& p = Overlay::of(fd, path);
  p.size = length;
  p.low = std::min(p.low, length);
  auto it = p.runs.lower_bound(length);
  p.runs.erase(it, p.runs.end());
  if (!p.runs.empty()) {
    auto last = std::prev(p.runs.end());
    if (last->first + off_t(last->second.size()) > length) last->second.resize(size_t(length - last->first));
  }
}

void sync(int fd, const std::string& path) {
  if (!open_.empty()) return;  // the change flushes when it is committed
  if (active->fsync(fd) != 0) throw DbError(errorText("write file", path, errno));
}

std::string journalPath(const std::string& tablePath) { return tablePath + "-journal"; }

void syncDirectory(const std::string& path) {
  const std::string dir = dirOf(path);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // nothing more can be done for it
  const int r = active->fsync(fd);
  const int err = errno;
  ::close(fd);
  if (r != 0 && err != EINVAL) throw DbError(errorText("write file", dir, err));
}

// ---------------------------------------------------------------- change

Change::Change(std::string journal) : journal_(std::move(journal)) {
  for (Change* c : open_)
    if (c->journal_ == journal_) outer_ = c;
  if (!outer_) open_.push_back(this);
}

static void closeChange(Change* c) {
  open_.erase(std::remove(open_.begin(), open_.end(), c), open_.end());
}

Change::~Change() {
  if (!outer_) closeChange(this);
}

void Change::commit() {
  if (outer_) return;  // the outer change writes it
  closeChange(this);  // from here on this change's writes go to the files
  // Runs that write what the file already holds are left out.
  std::vector<FileImage> images;
  std::vector<Pending> changed;
  for (Pending& p : files_) {
    for (auto it = p.runs.begin(); it != p.runs.end();) {
      const off_t a = it->first, b = a + off_t(it->second.size());
      if (b <= std::min(p.low, p.disk)) {
        std::string now(it->second.size(), '\0');
        if (preadAll(p.fd, now.data(), now.size(), a) == ssize_t(now.size()) && now == it->second) {
          it = p.runs.erase(it);
          continue;
        }
      }
      ++it;
    }
    if (p.runs.empty() && p.size == p.disk && p.low >= p.disk) continue;
    FileImage img{p.path, p.disk, {}};
    for (const auto& [a, bytes] : p.runs) {
      if (a >= p.disk) continue;
      const off_t b = std::min(p.disk, a + off_t(bytes.size()));
      std::string old(size_t(b - a), '\0');
      if (preadAll(p.fd, old.data(), old.size(), a) < 0) throw DbError(errorText("read file", p.path, errno));
      img.old.push_back({a, std::move(old)});
    }
    if (p.low < p.disk) {
      std::string old(size_t(p.disk - p.low), '\0');
      if (preadAll(p.fd, old.data(), old.size(), p.low) < 0) throw DbError(errorText("read file", p.path, errno));
      img.old.push_back({p.low, std::move(old)});
    }
    images.push_back(std::move(img));
    changed.push_back(std::move(p));
  }
  files_ = std::move(changed);
  if (images.empty()) return;

  // 1. The old contents, on disk before the first byte of the change.
  {
    const std::string j = encodeJournal(images);
    int fd = ::open(journal_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw DbError(errorText("create file", journal_, errno));
    std::string err;
    if (!pwriteAll(fd, j.data(), j.size(), 0)) err = errorText("write file", journal_, errno);
    else if (active->fsync(fd) != 0) err = errorText("write file", journal_, errno);
    ::close(fd);
    if (err.empty()) {
      try {
        syncDirectory(journal_);
      } catch (const DbError& e) {
        err = e.what();
      }
    }
    if (!err.empty()) {
      ::unlink(journal_.c_str());  // the files were not touched
      throw DbError(err);
    }
  }
  // 2. The change itself, flushed.
  std::string err;
  for (const Pending& p : files_) {
    if (!err.empty()) break;
    const off_t cut = std::min(p.low, p.disk);
    if (cut < p.disk && active->ftruncate(p.fd, cut) != 0) {
      err = errorText("write file", p.path, errno);
      break;
    }
    off_t end = cut;
    for (const auto& [a, bytes] : p.runs) {
      if (!pwriteAll(p.fd, bytes.data(), bytes.size(), a)) {
        err = errorText("write file", p.path, errno);
        break;
      }
      end = std::max(end, a + off_t(bytes.size()));
    }
    if (err.empty() && end != p.size && active->ftruncate(p.fd, p.size) != 0)
      err = errorText("write file", p.path, errno);
  }
  // Many files flush faster as their file system at once.
  if (err.empty() && files_.size() > 2) {
    if (active->syncfs(files_.front().fd) != 0) err = errorText("write file", files_.front().path, errno);
  } else {
    for (const Pending& p : files_)
      if (err.empty() && active->fsync(p.fd) != 0) err = errorText("write file", p.path, errno);
  }
  if (err.empty()) {
    // 3. Complete: the journal goes.
    removeJournal(journal_);
    files_.clear();
    return;
  }
  // Put back what was written; the journal stays when that fails too.
  if (playBack(images).empty()) {
    try {
      removeJournal(journal_);
    } catch (const DbError&) {
      journalLeft_ = true;
    }
  } else {
    journalLeft_ = true;
  }
  files_.clear();
  throw DbError(err);
}

Recovery recover(const std::string& journal, std::string& why) {
  if (::access(journal.c_str(), F_OK) != 0) return Recovery::None;
  std::string bytes;
  try {
    bytes = readWhole(journal);
  } catch (const DbError& e) {
    why = e.what();
    return Recovery::Failed;
  }
  std::vector<FileImage> files;
  // A journal never completed: the change had not begun to write the files.
  const bool complete = decodeJournal(bytes, dirOf(journal), files);
  if (complete) {
    why = playBack(files);
    if (!why.empty()) return Recovery::Failed;
  }
  try {
    removeJournal(journal);
  } catch (const DbError& e) {
    why = e.what();
    return Recovery::Failed;
  }
  return complete ? Recovery::RolledBack : Recovery::Discarded;
}

ssize_t Layer::pwrite(int fd, const void* data, size_t size, off_t offset) {
  return ::pwrite(fd, data, size, offset);
}
int Layer::ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int Layer::fsync(int fd) { return ::fsync(fd); }
int Layer::syncfs(int fd) { return ::syncfs(fd); }

Layer& current() { return *active; }
void install(Layer* layer) { active = layer ? layer : &osLayer; }

std::string errorText(const char* what, const std::string& path, int err) {
  return std::string("Cannot ") + what + " '" + path + "': " + std::strerror(err);
}

void checkStillThere(int fd, const std::string& path) {
  struct stat open {}, named {};
  if (::fstat(fd, &open) != 0) throw DbError(errorText("write file", path, errno));
  if (::stat(path.c_str(), &named) != 0) throw DbError(errorText("write file", path, errno));
  if (open.st_dev != named.st_dev || open.st_ino != named.st_ino)
    throw DbError("Cannot write file '" + path + "': the file was replaced since the table was opened");
}

std::string readWhole(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw DbError(errorText("open file", path, errno));
  std::string bytes;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(fd);
      throw DbError(errorText("read file", path, err));
    }
    if (n == 0) break;
    bytes.append(buf, size_t(n));
  }
  ::close(fd);
  return bytes;
}

}  // namespace storage::fileio
