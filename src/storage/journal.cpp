#include "storage/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "storage/error_text.h"
#include "storage/file_io.h"
#include "storage/table.h"

namespace storage::journal {

namespace {

// ---------------------------------------------------------------- format
//
// "KMSJRNL2", then per file: 'F', name length (u16), the name (beside the
// journal), its size before the change, the size it was cut to on the way
// and its size after (u64 each), the pieces of what the change wrote past
// the old size (count u32, then per piece its span u32 and hash u64); per
// range of old bytes: 'R', offset (u64), length (u32), the bytes, and the
// pieces of what the change wrote over them. Then 'E' and a 64-bit FNV-1a
// sum of everything before it. A journal whose sum does not match was never
// complete, and the files were not touched yet.
// The first format ("KMSJRNL1") had neither sizes after the change nor
// pieces: 'F', name, size before; 'R', offset, length, bytes.

constexpr char kMagic1[] = "KMSJRNL1";
constexpr char kMagic2[] = "KMSJRNL2";
constexpr size_t kMagicSize = 8;
// No table file of either format grows past this.
constexpr off_t kLargestFile = off_t(1) << 32;

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

void putPieces(std::string& j, const std::vector<Piece>& pieces) {
  put(j, pieces.size(), 4);
  for (const Piece& p : pieces) {
    put(j, p.span, 4);
    put(j, p.hash, 8);
  }
}

// Reads the journal's fields with bounds: any byte sequence decodes or fails.
struct Reader {
  const std::string& j;
  size_t p, end;
  bool ok = true;
  std::uint64_t take(int bytes) {
    if (!ok || end - p < size_t(bytes)) {
      ok = false;
      return 0;
    }
    const std::uint64_t v = get(j, p, bytes);
    p += size_t(bytes);
    return v;
  }
  std::string bytes(std::uint64_t n) {
    if (!ok || end - p < n) {
      ok = false;
      return {};
    }
    std::string s = j.substr(p, size_t(n));
    p += size_t(n);
    return s;
  }
  std::vector<Piece> pieces() {
    const std::uint64_t n = take(4);
    std::vector<Piece> out;
    if (!ok || n > (end - p) / 12) {
      ok = false;
      return out;
    }
    out.reserve(size_t(n));
    for (std::uint64_t i = 0; i < n; ++i) {
      const auto span = std::uint32_t(take(4));
      out.push_back({span, take(8)});
    }
    return out;
  }
};

enum class Decoded { Incomplete, Garbled, Ok };

// Incomplete: ours, never finished (or an empty file: the process died as
// it made it). Garbled: complete by its sum, yet not a journal we write.
Decoded decode(const std::string& j, const std::string& dir, std::vector<FileImage>& files) {
  const bool second = j.compare(0, kMagicSize, kMagic2, kMagicSize) == 0;
  if (j.size() < kMagicSize + 9) return Decoded::Incomplete;
  if (fnv(j.data(), j.size() - 8) != get(j, j.size() - 8, 8)) return Decoded::Incomplete;
  Reader r{j, kMagicSize, j.size() - 9};
  if (j[r.end] != 'E') return Decoded::Garbled;
  while (r.ok && r.p < r.end) {
    const char tag = j[r.p++];
    if (tag == 'F') {
      const std::string name = r.bytes(r.take(2));
      if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return Decoded::Garbled;
      FileImage f;
      f.path = dir + "/" + name;
      f.size = off_t(r.take(8));
      if (second) {
        f.cut = off_t(r.take(8));
        f.newSize = off_t(r.take(8));
        f.grown = r.pieces();
      }
      files.push_back(std::move(f));
    } else if (tag == 'R' && !files.empty()) {
      Range g;
      g.offset = off_t(r.take(8));
      g.old = r.bytes(r.take(4));
      if (second) g.pieces = r.pieces();
      files.back().old.push_back(std::move(g));
    } else {
      return Decoded::Garbled;
    }
  }
  return r.ok ? Decoded::Ok : Decoded::Garbled;
}

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::function<void(const std::string&)>& notifier() {
  static std::function<void(const std::string&)> n;
  return n;
}

int holds = 0;                   // HoldNotices alive
std::vector<std::string> held;  // what they hold back

void say(const std::string& text) {
  if (notifier()) notifier()(text);
  else std::fprintf(stderr, "%s\n", text.c_str());
}

void tell(const std::string& text) {
  if (holds > 0) held.push_back(text);
  else say(text);
}

// ---------------------------------------------------------------- reading

enum class Verdict { None, Unreadable, Incomplete, NotOurs, Ours };

struct Found {
  Verdict verdict = Verdict::None;
  std::string why;
  dev_t dev = 0;
  ino_t ino = 0;
  bool ourFormat = false;  // a regular file that begins as our journals do
  std::vector<FileImage> files;
};

// -1 when the file cannot be reached now: its name leads nowhere, or to
// something other than a file (a FIFO, a folder), whose size is none of the
// file's.
off_t sizeOnDisk(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
}

// The most a journal of these files can hold: their old bytes (which may
// lie beyond where an interrupted change cut them) and the pieces of the new.
// A file out of reach may be as large as any.
off_t boundFor(const std::vector<std::string>& tableFiles) {
  off_t total = 0;
  for (const std::string& f : tableFiles) {
    const off_t size = sizeOnDisk(f);
    total += size < 0 ? kLargestFile : std::min(size, kLargestFile);
  }
  return 2 * total + (off_t(256) << 20);
}

ssize_t readFrom(int fd, char* out, size_t n, off_t at) {
  size_t done = 0;
  while (done < n) {
    const ssize_t r = fileio::current().pread(fd, out + done, n - done, at + off_t(done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += size_t(r);
  }
  return ssize_t(done);
}

// Whether what the file holds now is what the change found there, or what
// it wrote, piece by piece (a piece past the file's end was cut away).
// Returns "" or why not; throws DbError when the file cannot be read.
std::string matchesFile(const FileImage& f, int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw DbError(fileio::errorText("прочитать файл", f.path, errno));
  const off_t now = st.st_size;
  if (now < f.cut || now > std::max(f.size, f.newSize)) return "размер файла не тот, что оставило бы изменение";
  std::string have;
  auto piece = [&](off_t at, const Piece& p, const char* old) -> bool {
    const off_t end = std::min<off_t>(now, at + off_t(p.span));
    if (end <= at) return true;
    have.resize(size_t(end - at));
    if (readFrom(fd, have.data(), have.size(), at) != ssize_t(have.size()))
      throw DbError(fileio::errorText("прочитать файл", f.path, errno ? errno : EIO));
    if (old && have.compare(0, have.size(), old, have.size()) == 0) return true;
    const off_t wrote = std::clamp<off_t>(f.newSize - at, 0, off_t(p.span));
    if (end - at == wrote && fnv(have.data(), have.size()) == p.hash) return true;
    // Past the old size, a stretch the device has not filled yet reads as zero.
    return !old && have.find_first_not_of('\0') == std::string::npos;
  };
  for (const Range& g : f.old) {
    off_t at = g.offset;
    for (const Piece& p : g.pieces) {
      if (!piece(at, p, g.old.data() + (at - g.offset))) return "его байты не те, что были или записывались";
      at += off_t(p.span);
    }
  }
  off_t at = f.size;
  for (const Piece& p : f.grown) {
    if (!piece(at, p, nullptr)) return "его байты не те, что записывались";
    at += off_t(p.span);
  }
  return {};
}

// Whether a decoded journal restores only the table's own files, with
// offsets and sizes they can have and every byte it brings back in it.
std::string fitsTable(const std::vector<FileImage>& files, const std::vector<std::string>& tableFiles) {
  std::set<std::string> own, seen;
  for (const std::string& t : tableFiles) own.insert(fileName(t));
  for (const FileImage& f : files) {
    const std::string name = fileName(f.path);
    if (!own.count(name)) return "файл " + quotedPath(name) + " не принадлежит таблице";
    if (!seen.insert(name).second) return "файл " + quotedPath(name) + " назван дважды";
    if (f.size < 0 || f.size > kLargestFile || f.cut < 0 || f.cut > f.size || f.newSize < f.cut ||
        f.newSize > kLargestFile)
      return "размер файла " + quotedPath(name) + " невозможен";
    std::map<off_t, off_t> covered;  // start -> end, apart from each other
    for (const Range& g : f.old) {
      std::uint64_t span = 0;
      for (const Piece& p : g.pieces) span += p.span;
      if (g.offset < 0 || g.offset > f.size || off_t(g.old.size()) > f.size - g.offset || span != g.old.size() ||
          !covered.emplace(g.offset, g.offset + off_t(g.old.size())).second)
        return "диапазон файла " + quotedPath(name) + " описан неверно";
    }
    for (auto it = covered.begin(); it != covered.end() && std::next(it) != covered.end(); ++it)
      if (it->second > std::next(it)->first) return "диапазоны файла " + quotedPath(name) + " перекрываются";
    std::uint64_t grown = 0;
    for (const Piece& p : f.grown) grown += p.span;
    if (grown != std::uint64_t(std::max<off_t>(0, f.newSize - f.size)))
      return "рост файла " + quotedPath(name) + " описан неверно";
    // What the file no longer holds (it was cut) comes back from the
    // journal only: no byte of it is made up. (A file out of reach now is
    // checked when it is opened.)
    const off_t now = sizeOnDisk(f.path);
    if (now < 0) continue;
    off_t from = std::min(now, f.size);
    for (const auto& [a, b] : covered)
      if (a <= from) from = std::max(from, b);  // (an empty range covers nothing)
    if (from < f.size) return "журнал не хранит прежних байтов файла " + quotedPath(name);
  }
  return {};
}

Found inspect(const std::string& journal, const std::vector<std::string>& tableFiles) {
  Found found;
  struct stat st {};
  if (::lstat(journal.c_str(), &st) != 0) {
    if (errno == ENOENT) return found;
    found.verdict = Verdict::Unreadable;
    found.why = fileio::errorText("прочитать файл", journal, errno);
    return found;
  }
  found.dev = st.st_dev;
  found.ino = st.st_ino;
  found.verdict = Verdict::NotOurs;
  // Another name of the same file (a copy of the folder made with hard
  // links) takes nothing from it: it is only read, and its name removed.
  if (!S_ISREG(st.st_mode)) {
    found.why = "это не файл журнала, а ссылка или особый файл";
    return found;
  }
  if (st.st_size > boundFor(tableFiles)) {
    found.why = "он больше любого журнала этой таблицы";
    return found;
  }
  const int fd = ::open(journal.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat opened {};
  if (fd < 0 || ::fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
    const int err = fd < 0 ? errno : EAGAIN;
    if (fd >= 0) ::close(fd);
    found.verdict = Verdict::Unreadable;
    found.why = fileio::errorText("прочитать файл", journal, err);
    return found;
  }
  std::string bytes(size_t(st.st_size), '\0');
  const ssize_t n = readFrom(fd, bytes.data(), bytes.size(), 0);
  const int err = errno;
  ::close(fd);
  if (n < 0) {
    found.verdict = Verdict::Unreadable;
    found.why = fileio::errorText("прочитать файл", journal, err);
    return found;
  }
  bytes.resize(size_t(n));
  // Ours by its first bytes (or a start of them: the process died as it
  // began to write it).
  const size_t head = std::min(bytes.size(), kMagicSize);
  if (bytes.compare(0, head, kMagic1, head) != 0 && bytes.compare(0, head, kMagic2, head) != 0) {
    found.why = "это не журнал изменения таблицы";
    return found;
  }
  found.ourFormat = true;
  const std::string dir = std::filesystem::path(journal).parent_path().string();
  switch (decode(bytes, dir.empty() ? "." : dir, found.files)) {
    case Decoded::Incomplete:
      found.verdict = Verdict::Incomplete;
      return found;
    case Decoded::Garbled:
      found.why = "журнал повреждён";
      return found;
    case Decoded::Ok:
      break;
  }
  // A journal of the first format tells nothing of what its change wrote,
  // so nothing shows that it belongs to these files: it is not played back.
  for (const FileImage& f : found.files)
    if (f.newSize < 0) {
      found.why = "он записан прежней версией программы, и проверить, что он относится к этим файлам, нельзя";
      return found;
    }
  found.why = fitsTable(found.files, tableFiles);
  if (!found.why.empty()) return found;
  // The table's files are reached by their names as the table reaches them,
  // links followed; the files found are the ones played back onto. A file
  // that cannot be reached or read now (its folder not mounted, closed to
  // this user, something else at its name) says nothing against the
  // journal: it is kept for an open that reaches every file, and the files
  // reached are checked all the same.
  std::string outOfReach;
  for (FileImage& f : found.files) {
    const int t = ::open(f.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat file {};
    if (t < 0 || ::fstat(t, &file) != 0) {
      if (outOfReach.empty()) outOfReach = fileio::errorText(t < 0 ? "открыть файл" : "прочитать файл", f.path, errno);
      if (t >= 0) ::close(t);
      continue;
    }
    if (!S_ISREG(file.st_mode)) {
      ::close(t);
      if (outOfReach.empty()) outOfReach = "файл " + quotedPath(f.path) + " не обычный файл";
      continue;
    }
    std::string differs;
    try {
      differs = matchesFile(f, t);
    } catch (const DbError& e) {
      if (outOfReach.empty()) outOfReach = e.what();
      ::close(t);
      continue;
    }
    ::close(t);
    if (!differs.empty()) {
      found.why = "файл " + quotedPath(fileName(f.path)) + ": " + differs;
      return found;
    }
    f.dev = file.st_dev;
    f.ino = file.st_ino;
  }
  if (!outOfReach.empty()) {
    found.verdict = Verdict::Unreadable;
    found.why = outOfReach;
    return found;
  }
  found.verdict = Verdict::Ours;
  return found;
}

// Keeps what stands at the journal's name under a name that says so, and
// tells the operator. Returns "" or why it could not be moved.
std::string setAside(const std::string& journal, const std::string& table, const std::string& why) {
  std::string to;
  int err = 0;
  for (int n = 1; n < 1000; ++n) {
    to = journal + "-set-aside" + (n > 1 ? "-" + std::to_string(n) : std::string());
    if (::renameat2(AT_FDCWD, journal.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
      err = 0;
      break;
    }
    err = errno;
    if (err == EINVAL || err == ENOSYS) {  // a file system without the flag
      struct stat st {};
      if (::lstat(to.c_str(), &st) == 0) continue;
      err = ::rename(journal.c_str(), to.c_str()) == 0 ? 0 : errno;
      break;
    }
    if (err != EEXIST) break;
  }
  if (err) return fileio::errorText("переименовать файл", journal, err);
  try {
    fileio::syncDirectory(journal);
  } catch (const DbError&) {
  }
  tell("Файл " + quotedPath(journal) + " рядом с таблицей " + quotedPath(table) +
       " не принят как журнал прерванного изменения этой таблицы (" + why +
       "), и ничего из него не восстановлено. Он сохранён под именем " + quotedPath(to) +
       "; таблица открыта такой, какой её хранят файлы.");
  return {};
}

}  // namespace

std::vector<Piece> piecesOf(const std::string& bytes, off_t at, off_t span, const std::vector<off_t>& splits) {
  std::vector<Piece> out;
  const off_t end = at + span;
  auto split = splits.begin();
  for (off_t pos = at; pos < end;) {
    off_t next = std::min(end, (pos / kPiece + 1) * kPiece);
    split = std::upper_bound(split, splits.end(), pos);
    if (split != splits.end()) next = std::min(next, *split);
    const off_t have = std::clamp<off_t>(off_t(bytes.size()) - (pos - at), 0, next - pos);
    out.push_back({std::uint32_t(next - pos), fnv(bytes.data() + (pos - at), size_t(have))});
    pos = next;
  }
  return out;
}

std::string encode(const std::vector<FileImage>& files) {
  std::string j(kMagic2, kMagicSize);
  for (const FileImage& f : files) {
    const std::string name = fileName(f.path);
    j.push_back('F');
    put(j, name.size(), 2);
    j += name;
    put(j, std::uint64_t(f.size), 8);
    put(j, std::uint64_t(f.cut), 8);
    put(j, std::uint64_t(f.newSize), 8);
    putPieces(j, f.grown);
    for (const Range& g : f.old) {
      j.push_back('R');
      put(j, std::uint64_t(g.offset), 8);
      put(j, g.old.size(), 4);
      j += g.old;
      putPieces(j, g.pieces);
    }
  }
  j.push_back('E');
  put(j, fnv(j.data(), j.size()), 8);
  return j;
}

int create(const std::string& journal) {
  const int fd = ::open(journal.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) throw DbError(fileio::errorText("создать файл", journal, errno));
  return fd;
}

void remove(const std::string& journal, dev_t dev, ino_t ino) {
  struct stat st {};
  if (::lstat(journal.c_str(), &st) != 0 || st.st_dev != dev || st.st_ino != ino) return;
  // Another name of the file (a copy of the folder made with hard links,
  // perhaps while the change ran) would play the finished change back into
  // the files it shares: its contents go before its name, and an empty
  // journal is dropped as one never completed. Only a journal without other
  // names may go by its name alone when it cannot be cut.
  const int fd = ::open(journal.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  int err = fd < 0 ? errno : 0;
  nlink_t names = st.st_nlink;
  if (fd >= 0) {
    struct stat opened {};
    const bool same = ::fstat(fd, &opened) == 0 && opened.st_dev == dev && opened.st_ino == ino;
    if (same) names = opened.st_nlink;
    if (same && opened.st_size > 0 && fileio::current().ftruncate(fd, 0) != 0) err = errno;
    ::close(fd);
    if (!same) return;  // another file stands at the name now
  }
  if (err && names > 1) throw DbError(fileio::errorText("записать файл", journal, err));
  if (::unlink(journal.c_str()) != 0 && errno != ENOENT)
    throw DbError(fileio::errorText("удалить файл", journal, errno));
  // Once it is gone the files stand as they are: a failed flush of the
  // folder after that is no failure (at worst a power loss brings the
  // journal back, and the next open takes the complete change back again).
  try {
    fileio::syncDirectory(journal);
  } catch (const DbError&) {
  }
}

std::string playBack(const std::vector<FileImage>& files) {
  for (const FileImage& f : files) {
    const int fd = ::open(f.path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return fileio::errorText("открыть для записи файл", f.path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_dev != f.dev || st.st_ino != f.ino) {
      ::close(fd);
      return "Не удаётся записать файл " + quotedPath(f.path) + ": под его именем теперь другой файл";
    }
    std::string err;
    for (const Range& g : f.old)
      if (err.empty() && !fileio::writeAll(fd, g.old.data(), g.old.size(), g.offset))
        err = fileio::errorText("записать файл", f.path, errno);
    if (err.empty() && (::fstat(fd, &st) != 0 || st.st_size != f.size) && fileio::current().ftruncate(fd, f.size) != 0)
      err = fileio::errorText("записать файл", f.path, errno);
    if (err.empty() && fileio::current().fsync(fd) != 0) err = fileio::errorText("записать файл", f.path, errno);
    ::close(fd);
    if (!err.empty()) return err;
  }
  return {};
}

Recovery recover(const std::string& journal, const std::vector<std::string>& tableFiles, std::string& why) {
  Found found = inspect(journal, tableFiles);
  switch (found.verdict) {
    case Verdict::None:
      return Recovery::None;
    case Verdict::Unreadable:
      why = found.why;
      return Recovery::Failed;
    case Verdict::NotOurs:
      why = setAside(journal, tableFiles.empty() ? journal : tableFiles.front(), found.why);
      return why.empty() ? Recovery::SetAside : Recovery::Failed;
    case Verdict::Incomplete:
    case Verdict::Ours:
      break;
  }
  if (found.verdict == Verdict::Ours) {
    why = playBack(found.files);
    if (!why.empty()) return Recovery::Failed;
  }
  try {
    remove(journal, found.dev, found.ino);
  } catch (const DbError& e) {
    why = e.what();
    return Recovery::Failed;
  }
  return found.verdict == Verdict::Ours ? Recovery::RolledBack : Recovery::Discarded;
}

void discard(const std::string& journal, const std::vector<std::string>& tableFiles) {
  Found found = inspect(journal, tableFiles);
  try {
    if (found.ourFormat)
      remove(journal, found.dev, found.ino);
    else if (found.verdict == Verdict::NotOurs)
      setAside(journal, tableFiles.empty() ? journal : tableFiles.front(), found.why);
  } catch (const DbError&) {
  }
}

CommittedView::CommittedView(const std::string& journal, const std::vector<std::string>& tableFiles) {
  Found found = inspect(journal, tableFiles);
  // With a file out of reach, the files reached are shown without the change.
  if (found.verdict != Verdict::Ours && found.verdict != Verdict::Unreadable) return;
  leftBehind_ = true;
  std::vector<fileio::ReadView::File> files;
  for (const FileImage& f : found.files) {
    if (f.ino == 0) continue;  // not reached
    fileio::ReadView::File v{f.dev, f.ino, f.size, {}};
    for (const Range& g : f.old) v.runs[g.offset] = g.old;  // apart from each other
    files.push_back(std::move(v));
  }
  if (!files.empty()) view_ = std::make_unique<fileio::ReadView>(std::move(files));
}

CommittedView::~CommittedView() = default;

void setNotifier(std::function<void(const std::string&)> n) { notifier() = std::move(n); }

HoldNotices::HoldNotices() { ++holds; }

HoldNotices::~HoldNotices() {
  if (--holds > 0) return;
  std::vector<std::string> texts;
  texts.swap(held);
  for (const std::string& text : texts) {
    try {
      say(text);
    } catch (...) {  // a listener that fails: the text still reaches stderr
      std::fprintf(stderr, "%s\n", text.c_str());
    }
  }
}

}  // namespace storage::journal
