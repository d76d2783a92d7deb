#pragma once
// A table about to be replaced (a rename or a new table onto its name): its
// files, companions and journal with them, are moved aside in their own
// folder under names ending "-replaced" (no table has such a name), and are
// removed only once the new table stands under the name. Until then the
// table is held for writing, so no other program starts changing it.
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace storage {

class FileLock;
class Table;

class ReplacedTable {
 public:
  // Moves aside the files of the table `table` names (it is not open);
  // throws, with nothing moved, when another program holds the table for
  // writing or a file cannot be moved.
  explicit ReplacedTable(const Table& table);
  ~ReplacedTable();  // puts the files back unless they were dropped
  ReplacedTable(const ReplacedTable&) = delete;
  ReplacedTable& operator=(const ReplacedTable&) = delete;

  // The new table stands under the name: removes the files moved aside.
  void drop();
  // Puts the files back under their names. Returns "" or what stays aside.
  std::string restore();

 private:
  std::vector<std::pair<std::string, std::string>> moved_;  // name, name aside
  std::unique_ptr<FileLock> lock_;
};

}  // namespace storage
