#include "storage/replaced_table.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/error_text.h"
#include "storage/file_io.h"
#include "storage/file_lock.h"
#include "storage/table.h"

namespace storage {

namespace {

bool present(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Renames without taking the place of anything at `to`. Returns 0 or the error.
int moveNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  const int err = errno;
  if (err != EINVAL && err != ENOSYS) return err;
  if (present(to)) return EEXIST;  // a file system without the flag
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

ReplacedTable::ReplacedTable(const Table& table) : lock_(std::make_unique<FileLock>()) {
  const std::string path = table.filePath();
  lockForReplacing(*lock_, path);
  std::vector<std::string> files = table.files();
  if (present(fileio::journalPath(path))) files.push_back(fileio::journalPath(path));
  // One ending for all the files, taken by none of them: leftovers of an
  // earlier replacement stay as they are.
  std::string suffix;
  for (int n = 1;; ++n) {
    if (n == 1000) throw DbError("Таблицу " + quotedPath(path) + " некуда отложить: слишком много файлов «-replaced»");
    suffix = "-replaced" + (n > 1 ? "-" + std::to_string(n) : std::string());
    if (std::none_of(files.begin(), files.end(), [&](const std::string& f) { return present(f + suffix); })) break;
  }
  for (const std::string& f : files) {
    if (const int err = moveNoReplace(f, f + suffix)) {
      const std::string kept = restore();
      throw DbError(fileio::errorText("переименовать файл", f, err) + (kept.empty() ? "" : "; " + kept));
    }
    moved_.emplace_back(f, f + suffix);
  }
}

ReplacedTable::~ReplacedTable() {
  if (!moved_.empty()) restore();
}

void ReplacedTable::drop() {
  // A file that cannot be removed keeps its name, which says what it is.
  for (const auto& [name, aside] : moved_) ::unlink(aside.c_str());
  moved_.clear();
  lock_->release();
}

std::string ReplacedTable::restore() {
  std::string kept;
  for (auto it = moved_.rbegin(); it != moved_.rend(); ++it)
    if (moveNoReplace(it->second, it->first) != 0) kept += (kept.empty() ? "" : ", ") + quotedPath(it->second);
  moved_.clear();
  lock_->release();
  return kept.empty() ? std::string() : "заменяемая таблица осталась в файлах " + kept;
}

}  // namespace storage
