#pragma once
// An independent reader for the tables the engine writes: Debian's pxlib,
// loaded at run time so that only the tests depend on it.
#include <optional>
#include <string>
#include <vector>

namespace pxcheck {

struct Cell {
  bool null = true;
  long l = 0;
  double d = 0;
  std::string s;
};

struct FieldInfo {
  std::string name;
  int type = 0;
  int len = 0;
};

struct Contents {
  int fileType = 0;
  int version = 0;
  int numRecords = 0;
  int keyFields = 0;
  int autoInc = 0;
  int codePage = 0;
  std::vector<FieldInfo> fields;
  std::vector<std::vector<Cell>> rows;
};

// True when pxlib could be loaded.
bool available();
// Reads every record of a Paradox file (.DB, .PX, .XGn, .YGn); nothing when
// pxlib refuses the file.
std::optional<Contents> read(const std::string& path);

// Reads a table through its primary index as pxlib does it: the index is
// read and checked (its levels and their counts), added to the table, and
// every record fetched through it (unless fetchRows is false). `complaints` holds each error or warning
// pxlib gave (empty when it had none).
struct IndexedRead {
  std::vector<std::string> complaints;
  std::optional<Contents> contents;
};
IndexedRead readThroughIndex(const std::string& db, const std::string& px, bool fetchRows = true);

}  // namespace pxcheck
