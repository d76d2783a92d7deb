#pragma once
// The rollback journal of a table's change: its format, the one safe way to
// make, read and remove it, the check that a journal left behind belongs to
// the table's files as they are before it is played back, and the committed
// state of a table whose change was interrupted, for readers that may not
// take the change back.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace storage::fileio {
class ReadView;
}

namespace storage::journal {

// Ranges are checked in pieces no larger than a sector, so that a write the
// device tore in two still counts: each piece holds its old bytes or the new.
constexpr off_t kPiece = 512;

struct Piece {
  std::uint32_t span;  // bytes of the file the piece covers
  std::uint64_t hash;  // of what the change wrote there (within its new size)
};
struct Range {
  off_t offset;
  std::string old;            // the bytes before the change
  std::vector<Piece> pieces;  // what the change wrote over them
};
struct FileImage {
  std::string path;
  off_t size = 0;      // before the change
  off_t cut = 0;       // the smallest size the change cut it to on the way
  off_t newSize = -1;  // after the change (-1: a journal of the first format)
  std::vector<Range> old;
  std::vector<Piece> grown;  // what the change wrote past the old size
  // The file itself, as the change or the check of its journal found it
  // (its name may be a link to it): playback writes into no other file.
  dev_t dev = 0;
  ino_t ino = 0;
};

// Pieces of new contents `bytes` at `at`, split at every multiple of kPiece
// and at the given offsets (where the change's writes and cuts begin and end),
// which come sorted: one list serves every range of a file.
std::vector<Piece> piecesOf(const std::string& bytes, off_t at, off_t span, const std::vector<off_t>& splits);

std::string encode(const std::vector<FileImage>& files);

// Makes the journal: a new regular file of our own, never one that stood at
// the name (nor a link's target). Returns the descriptor; throws DbError.
int create(const std::string& journal);
// Removes the journal that was made (or read) as file dev/ino if it still
// stands at its name: never another file put there meanwhile. Its contents
// are cut first, so that no other name of it plays the change back. Flushes
// the folder; throws DbError when the name cannot be removed, or the file
// has other names and cannot be cut.
void remove(const std::string& journal, dev_t dev, ino_t ino);

// Puts the old bytes back and cuts each file to its old size, flushed,
// reaching each file by its name as the table does (through links) but
// writing only when the name still leads to the file dev/ino.
// Returns "" or what failed.
std::string playBack(const std::vector<FileImage>& files);

// What opening a table found of a journal left behind.
enum class Recovery {
  None,        // no journal
  Discarded,   // a journal never completed: the files were not touched
  RolledBack,  // the interrupted change was taken back
  SetAside,    // not a journal of these files: kept under another name, nothing restored
  Failed       // the change could not be taken back (the reason is given)
};
// Takes back the change a journal left behind, after checking that the
// journal is this engine's and belongs to `tableFiles` (the table's files,
// main file first) as they are now.
Recovery recover(const std::string& journal, const std::vector<std::string>& tableFiles, std::string& why);

// Removes a journal of ours left at the name (a table made or deleted under
// it); anything else there is set aside. Never throws.
void discard(const std::string& journal, const std::vector<std::string>& tableFiles);

// The committed state for a reader that may not write the files: while it
// lives, reads of the table's files see the old contents of a complete
// journal that belongs to them. Writes nothing.
class CommittedView {
 public:
  CommittedView(const std::string& journal, const std::vector<std::string>& tableFiles);
  ~CommittedView();
  CommittedView(const CommittedView&) = delete;
  CommittedView& operator=(const CommittedView&) = delete;
  // True when an interrupted change is laid aside in the view.
  bool interrupted() const { return view_ != nullptr; }
  // True when a change of ours is left behind, laid aside or not (a file or
  // the journal out of reach).
  bool leftBehind() const { return leftBehind_; }

 private:
  std::unique_ptr<fileio::ReadView> view_;
  bool leftBehind_ = false;
};

// Tells the operator something the engine did on its own (UTF-8). The
// program shows it in a message box; without a listener it goes to stderr.
void setNotifier(std::function<void(const std::string&)> notifier);

// While one lives, what the engine tells the operator waits, and it is told
// when the last one goes. An open holds them, so that a box that stays up
// comes after the open has let go of the table's locks: other programs can
// read the table meanwhile.
class HoldNotices {
 public:
  HoldNotices();
  ~HoldNotices();
  HoldNotices(const HoldNotices&) = delete;
  HoldNotices& operator=(const HoldNotices&) = delete;
};

}  // namespace storage::journal
