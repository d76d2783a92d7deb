#include "storage/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "platform/os_reason.h"
#include "storage/error_text.h"
#include "storage/journal.h"
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

}  // namespace

bool writeAll(int fd, const char* p, size_t size, off_t offset) {
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

namespace {

std::string dirOf(const std::string& path) {
  const std::filesystem::path d = std::filesystem::path(path).parent_path();
  return d.empty() ? std::string(".") : d.string();
}

// The bytes a file holds with `runs` laid over it: `size` bytes in all, the
// file's own up to `fromDisk`, zero after that where no run lies.
size_t readOver(int fd, const std::string& path, char* out, size_t size, off_t offset, off_t total,
                off_t fromDisk, const std::map<off_t, std::string>& runs) {
  if (offset >= total) return 0;
  const size_t n = size_t(std::min<off_t>(off_t(size), total - offset));
  std::memset(out, 0, n);
  if (offset < fromDisk) {
    const size_t want = size_t(std::min<off_t>(off_t(n), fromDisk - offset));
    if (preadAll(fd, out, want, offset) < 0) throw DbError(errorText("прочитать файл", path, errno));
  }
  const off_t end = offset + off_t(n);
  auto it = runs.upper_bound(offset);
  if (it != runs.begin()) --it;
  for (; it != runs.end() && it->first < end; ++it) {
    const off_t a = std::max(offset, it->first);
    const off_t b = std::min(end, it->first + off_t(it->second.size()));
    if (a < b) std::memcpy(out + (a - offset), it->second.data() + (a - it->first), size_t(b - a));
  }
  return n;
}

// Views of committed states, newest last.
std::vector<ReadView*> views_;

const ReadView::File* viewed(int fd) {
  if (views_.empty()) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return nullptr;
  for (auto v = views_.rbegin(); v != views_.rend(); ++v)
    for (const ReadView::File& f : (*v)->files())
      if (f.dev == st.st_dev && f.ino == st.st_ino) return &f;
  return nullptr;
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
    if (p.disk < 0) throw DbError(errorText("прочитать файл", path, errno));
    current_->files_.push_back(std::move(p));
    return current_->files_.back();
  }
  static std::vector<Change::Pending>& files(Change& c) { return c.files_; }
};

// ---------------------------------------------------------------- reads

size_t readAt(int fd, const std::string& path, void* data, size_t size, off_t offset) {
  char* out = static_cast<char*>(data);
  if (Change::Pending* p = Overlay::find(fd, path))
    return readOver(fd, path, out, size, offset, p->size, std::min(p->low, p->disk), p->runs);
  if (const ReadView::File* v = viewed(fd))
    return readOver(fd, path, out, size, offset, v->size, std::min(v->size, diskSize(fd)), v->runs);
  const ssize_t n = preadAll(fd, out, size, offset);
  if (n < 0) throw DbError(errorText("прочитать файл", path, errno));
  return size_t(n);
}

off_t sizeOf(int fd, const std::string& path) {
  if (Change::Pending* p = Overlay::find(fd, path)) return p->size;
  if (const ReadView::File* v = viewed(fd)) return v->size;
  const off_t s = diskSize(fd);
  if (s < 0) throw DbError(errorText("прочитать файл", path, errno));
  return s;
}

ReadView::ReadView(std::vector<File> files) : files_(std::move(files)) { views_.push_back(this); }
ReadView::~ReadView() { views_.erase(std::remove(views_.begin(), views_.end(), this), views_.end()); }

// ---------------------------------------------------------------- writes

void writeAt(int fd, const std::string& path, const void* data, size_t size, off_t offset) {
  const char* in = static_cast<const char*>(data);
  if (open_.empty()) {
    if (!writeAll(fd, in, size, offset)) throw DbError(errorText("записать файл", path, errno));
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
    if (active->ftruncate(fd, length) != 0) throw DbError(errorText("записать файл", path, errno));
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
  if (active->fsync(fd) != 0) throw DbError(errorText("записать файл", path, errno));
}

std::string journalPath(const std::string& tablePath) { return tablePath + "-journal"; }

void syncDirectory(const std::string& path) {
  const std::string dir = dirOf(path);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // nothing more can be done for it
  const int r = active->fsync(fd);
  const int err = errno;
  ::close(fd);
  if (r != 0 && err != EINVAL) throw DbError(errorText("записать файл", dir, err));
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

// What the journal keeps of one file of the change: the old bytes of every
// range the change writes or cuts, and the pieces of what it writes.
static journal::FileImage imageOf(const Change::Pending& p) {
  journal::FileImage img;
  img.path = p.path;
  img.size = p.disk;
  img.cut = std::min(p.low, p.disk);
  img.newSize = p.size;
  struct stat st {};
  if (::fstat(p.fd, &st) != 0) throw DbError(errorText("прочитать файл", p.path, errno));
  img.dev = st.st_dev;
  img.ino = st.st_ino;
  std::vector<off_t> splits{img.cut, p.size};
  for (const auto& [a, bytes] : p.runs) {
    splits.push_back(a);
    splits.push_back(a + off_t(bytes.size()));
  }
  std::sort(splits.begin(), splits.end());
  auto newBytes = [&](off_t a, off_t b) {
    std::string s(size_t(b - a), '\0');
    s.resize(readOver(p.fd, p.path, s.data(), s.size(), a, p.size, img.cut, p.runs));
    return s;
  };
  auto keep = [&](off_t a, off_t b) {
    std::string old(size_t(b - a), '\0');
    if (preadAll(p.fd, old.data(), old.size(), a) != ssize_t(old.size()))
      throw DbError(errorText("прочитать файл", p.path, errno ? errno : EIO));
    img.old.push_back({a, std::move(old), journal::piecesOf(newBytes(a, b), a, b - a, splits)});
  };
  // Past the cut, one range holds all the old bytes.
  for (const auto& [a, bytes] : p.runs) {
    const off_t b = std::min(img.cut, a + off_t(bytes.size()));
    if (a < b) keep(a, b);
  }
  if (img.cut < p.disk) keep(img.cut, p.disk);
  if (p.size > p.disk) img.grown = journal::piecesOf(newBytes(p.disk, p.size), p.disk, p.size - p.disk, splits);
  return img;
}

void Change::commit() {
  if (outer_) return;  // the outer change writes it
  closeChange(this);  // from here on this change's writes go to the files
  // Runs that write what the file already holds are left out.
  std::vector<journal::FileImage> images;
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
    images.push_back(imageOf(p));
    changed.push_back(std::move(p));
  }
  files_ = std::move(changed);
  if (images.empty()) return;

  // 1. The old contents, on disk before the first byte of the change.
  struct stat made {};
  {
    const std::string j = journal::encode(images);
    const int fd = journal::create(journal_);
    std::string err;
    if (::fstat(fd, &made) != 0) err = errorText("прочитать файл", journal_, errno);
    else if (!writeAll(fd, j.data(), j.size(), 0)) err = errorText("записать файл", journal_, errno);
    else if (active->fsync(fd) != 0) err = errorText("записать файл", journal_, errno);
    ::close(fd);
    if (err.empty()) {
      try {
        syncDirectory(journal_);
      } catch (const DbError& e) {
        err = e.what();
      }
    }
    if (!err.empty()) {
      try {
        journal::remove(journal_, made.st_dev, made.st_ino);  // the files were not touched
      } catch (const DbError&) {
      }
      throw DbError(err);
    }
  }
  // 2. The change itself, each file flushed.
  std::string err;
  for (const Pending& p : files_) {
    if (!err.empty()) break;
    const off_t cut = std::min(p.low, p.disk);
    if (cut < p.disk && active->ftruncate(p.fd, cut) != 0) {
      err = errorText("записать файл", p.path, errno);
      break;
    }
    off_t end = cut;
    for (const auto& [a, bytes] : p.runs) {
      if (!writeAll(p.fd, bytes.data(), bytes.size(), a)) {
        err = errorText("записать файл", p.path, errno);
        break;
      }
      end = std::max(end, a + off_t(bytes.size()));
    }
    if (err.empty() && end != p.size && active->ftruncate(p.fd, p.size) != 0)
      err = errorText("записать файл", p.path, errno);
  }
  for (const Pending& p : files_)
    if (err.empty() && active->fsync(p.fd) != 0) err = errorText("записать файл", p.path, errno);
  if (err.empty()) {
    // 3. Complete: the journal goes.
    journal::remove(journal_, made.st_dev, made.st_ino);
    files_.clear();
    return;
  }
  // Put back what was written; the journal stays when that fails too.
  if (journal::playBack(images).empty()) {
    try {
      journal::remove(journal_, made.st_dev, made.st_ino);
    } catch (const DbError&) {
      journalLeft_ = true;
    }
  } else {
    journalLeft_ = true;
  }
  files_.clear();
  throw DbError(err);
}

ssize_t Layer::pwrite(int fd, const void* data, size_t size, off_t offset) {
  return ::pwrite(fd, data, size, offset);
}
int Layer::ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int Layer::fsync(int fd) { return ::fsync(fd); }
ssize_t Layer::pread(int fd, void* data, size_t size, off_t offset) { return ::pread(fd, data, size, offset); }

Layer& current() { return *active; }
void install(Layer* layer) { active = layer ? layer : &osLayer; }

std::string errorText(const char* what, const std::string& path, int err) {
  return std::string("Не удаётся ") + what + " " + quotedPath(path) + ": " + osReason(err);
}

void checkStillThere(int fd, const std::string& path) {
  struct stat open {}, named {};
  if (::fstat(fd, &open) != 0) throw DbError(errorText("записать файл", path, errno));
  if (::stat(path.c_str(), &named) != 0) throw DbError(errorText("записать файл", path, errno));
  if (open.st_dev != named.st_dev || open.st_ino != named.st_ino)
    throw DbError("Не удаётся записать файл " + quotedPath(path) + ": файл заменён после открытия таблицы");
}

int openRegular(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw DbError(errorText("открыть файл", path, errno));
  struct stat st {};
  const int err = ::fstat(fd, &st) != 0 ? errno : 0;
  if (err || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw DbError(err ? errorText("прочитать файл", path, err)
                      : "Не удаётся открыть файл " + quotedPath(path) + ": это не обычный файл");
  }
  return fd;
}

void writeNewFile(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw DbError(errorText("записать файл", path, errno));
  const bool ok = writeAll(fd, bytes.data(), bytes.size(), 0);
  const int err = errno;
  ::close(fd);
  if (!ok) throw DbError(errorText("записать файл", path, err));
}

std::string folderRefusal(const std::string& tablePath) {
  const std::string dir = dirOf(tablePath);
  // Checked with this process's own rights, as the journal will be made.
  if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return {};
  return "её папка " + quotedPath(dir) + " недоступна для записи (" + osReason(errno) + ")";
}

std::string readWhole(const std::string& path) {
  const int fd = openRegular(path, O_RDONLY);
  std::string bytes;
  if (const ReadView::File* v = viewed(fd)) {
    bytes.resize(size_t(v->size));
    try {
      bytes.resize(readOver(fd, path, bytes.data(), bytes.size(), 0, v->size, std::min(v->size, diskSize(fd)), v->runs));
    } catch (...) {
      ::close(fd);
      throw;
    }
    ::close(fd);
    return bytes;
  }
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(fd);
      throw DbError(errorText("прочитать файл", path, err));
    }
    if (n == 0) break;
    bytes.append(buf, size_t(n));
  }
  ::close(fd);
  return bytes;
}

}  // namespace storage::fileio
