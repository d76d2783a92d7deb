#pragma once
// Our own dBase table codec: dBase III, dBase IV and FoxPro tables (.dbf) with
// their memo files (.dbt, .fpt), read defensively and written in place.
//
// Reading keeps the whole table in memory; every value comes out as
// Windows-1251 text (translated from the table's code page). Writing changes
// the files in place the way other dBase programs expect: a record is
// rewritten where it stands, appended at the end (then the header's record
// count follows), or marked deleted by its flag byte; the header's date of
// last update is set on every change. New memo texts are appended to the memo
// file. Writes are ordered so that a failure part-way leaves a table that
// reads as before the change.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/dbase_codepage.h"
#include "storage/table.h"

namespace storage::dbase {

enum class MemoFormat { None, DBase3, DBase4, FoxPro };

struct FieldInfo {
  std::string name;  // Windows-1251
  char type = 'C';
  int width = 0;
  int decimals = 0;
  int offset = 0;  // from the start of the record; byte 0 is the deletion flag
};

// An index that the table's index files declare.
struct IndexInfo {
  std::string name;        // tag name, or the index file's name
  std::string expression;  // the key expression as stored
  std::string fields;      // field names joined by ';' (empty for an expression index)
  bool descending = false;
  bool unique = false;
};

struct Date {
  int year = 0, month = 0, day = 0;
};

// A record's values for writing: one per field, nothing = empty.
using Values = std::vector<std::optional<std::string>>;

class DbfFile {
 public:
  // Parses a table held in memory (nothing can be written). memo holds the
  // memo file's bytes, memoPresent whether there is one.
  static std::unique_ptr<DbfFile> parse(std::string dbf, std::string memo = {},
                                        bool memoPresent = false);
  // Opens the table at path. With writable the files are opened for writing
  // unless something keeps the engine from keeping them in agreement; then
  // the table opens read-only and readOnlyReason() says why.
  static std::unique_ptr<DbfFile> open(const std::string& path, bool writable);
  ~DbfFile();
  DbfFile(const DbfFile&) = delete;
  DbfFile& operator=(const DbfFile&) = delete;

  uint8_t version() const { return version_; }
  uint8_t languageDriver() const { return driver_; }
  int codePage() const { return codePage_.codePage(); }
  Date lastUpdate() const;
  MemoFormat memoFormat() const { return memoFormat_; }
  const std::vector<FieldInfo>& fields() const { return fields_; }
  const std::vector<IndexInfo>& indexes() const { return indexes_; }
  // The engine's field type for a field.
  FieldType fieldType(int field) const;
  // Records in the file, deleted ones included.
  uint32_t recordCount() const { return count_; }
  bool isDeleted(uint32_t record) const;
  // The value as Windows-1251 text; nothing when the field is empty.
  // Numbers as stored (trimmed), dates as dd.mm.yyyy, logicals as
  // "True"/"False", memos as their text.
  std::optional<std::string> value(uint32_t record, int field) const;
  // The same from a record's bytes (recordLength() of them).
  std::optional<std::string> value(std::string_view rec, int field) const;
  uint32_t recordLength() const { return recordLength_; }
  std::string_view rawRecord(uint32_t record) const;

  bool writable() const { return readOnlyReason_.empty(); }
  const std::string& readOnlyReason() const { return readOnlyReason_; }

  // In-place writes; each throws DbError (and changes nothing a reader would
  // see) when the value does not fit its field or a write fails.
  void update(uint32_t record, const Values& values);
  uint32_t append(const Values& values);
  void setDeleted(uint32_t record, bool deleted);
  // The same on whole record bytes (memo fields already pointing to their
  // texts): rewrite in place, or append and return the record's number.
  void writeRecord(uint32_t record, const std::string& bytes);
  uint32_t appendRecord(const std::string& bytes);
  // Appends a memo text to the memo file; returns the field's bytes that
  // point to it (blanks for an empty text).
  std::string writeMemo(int field, const std::string& text);

  // The bytes one field would hold for a value (the checks of update).
  std::string encode(int field, const std::optional<std::string>& value) const;

 private:
  DbfFile() = default;
  void parseHeader();
  void applySafetyRules(const std::string& path);
  void requireWritable() const;
  const char* recordPtr(uint32_t record) const;
  std::optional<std::string> memoText(uint32_t block, bool text) const;
  uint32_t memoBlock(const char* raw, const FieldInfo& f) const;
  void writeHeader(bool withCount);
  void rollbackMemos();
  void writeRecordBytes(uint32_t record, const std::string& bytes);

  std::string path_, memoPath_;
  std::string data_;  // the .dbf bytes
  std::string memo_;  // the memo file's bytes
  bool memoPresent_ = false;
  uint8_t version_ = 0, driver_ = 0;
  uint32_t headerCount_ = 0, count_ = 0;
  uint32_t headerLength_ = 0, recordLength_ = 0;
  uint32_t memoBlockSize_ = 512;
  MemoFormat memoFormat_ = MemoFormat::None;
  CodePage codePage_;
  std::vector<FieldInfo> fields_;
  std::vector<IndexInfo> indexes_;
  std::string readOnlyReason_ = "таблица прочитана из памяти";
  int fd_ = -1, memoFd_ = -1;
  // The memo file as it was before the memo texts of the change being made
  // (size and header), to be put back when the record cannot be written.
  std::optional<std::pair<size_t, std::string>> memoMark_;
};

// Index files of a dBase table: the production .mdx or structural .cdx of
// the same name, and .ndx files whose names begin with the table's name.
std::vector<std::string> indexFilesOf(const std::string& tablePath);
// The indexes one index file declares; throws DbError on a broken file.
std::vector<IndexInfo> readIndexFile(const std::string& path, const std::string& bytes);
// The field names of a key expression made only of fields joined by "+";
// empty for any other expression.
std::string keyFields(const std::string& expression, const std::vector<FieldInfo>& fields);

}  // namespace storage::dbase
