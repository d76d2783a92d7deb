#pragma once
// The file layer under Table: one table format (Paradox, dBase) behind one
// interface, so that the component semantics (orders, the pending record,
// field objects) are written once in table.cpp.
//
// A backend keeps the records as raw bytes in its own encoding, recordSize()
// bytes each, and numbers them by their position in the table's primary
// order: key order for a keyed table (keyFieldCount() > 0), file order
// otherwise. Table keeps every record in memory in that order and tells the
// backend where a change happens; the backend changes its files in place.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "storage/table.h"

namespace storage {

// One field value as it passes between a backend and the field objects.
//   Integer: String-less integer types (SmallInt, Integer, Word, AutoInc);
//            Date as a day number (1 = 0001-01-01); Time as milliseconds
//            since midnight; Boolean as 0 or 1.
//   Float:   Float, Currency, BCD; DateTime as milliseconds counted from
//            day 0 (so floor(v / 86400000) is the Date day number).
//   Text:    String, Memo, FmtMemo (bytes as stored, Windows-1251 for our
//            tables); Bytes, Blob and Graphic as raw bytes.
struct Value {
  enum class Kind { Null, Integer, Float, Text };
  Kind kind = Kind::Null;
  long long i = 0;
  double f = 0;
  std::string s;

  static Value null() { return {}; }
  static Value integer(long long v) { Value r; r.kind = Kind::Integer; r.i = v; return r; }
  static Value real(double v) { Value r; r.kind = Kind::Float; r.f = v; return r; }
  static Value text(std::string v) { Value r; r.kind = Kind::Text; r.s = std::move(v); return r; }
  bool isNull() const { return kind == Kind::Null; }
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Definitions as the files hold them (required flags included).
  virtual const std::vector<FieldDef>& fields() const = 0;
  virtual const std::vector<IndexDef>& indexes() const = 0;
  // Leading fields that form the primary key; 0 when the records stay in the
  // order they were added.
  virtual int keyFieldCount() const = 0;
  virtual std::size_t recordSize() const = 0;

  // Opened read-only, and why (empty when writable).
  virtual bool readOnly() const { return false; }
  virtual std::string readOnlyReason() const { return {}; }

  // Every record in primary order.
  virtual std::vector<std::string> readAll() = 0;

  // Field codec on a raw record. set() throws DbError when the value does not
  // fit the field (too long, out of range, wrong kind).
  virtual std::string blankRecord() const = 0;
  virtual Value get(std::string_view rec, int field) const = 0;
  virtual void set(std::string& rec, int field, const Value& v) const = 0;
  // Orders two records by one field (empty first); caseInsensitive applies
  // to texts. The default compares the decoded values.
  virtual int compare(std::string_view a, std::string_view b, int field,
                      bool caseInsensitive) const;

  // Bytes that order records as compare() does over the given fields when
  // compared byte by byte (memcmp), so that a large table sorts quickly;
  // empty when the format has no such form (compare() is used then).
  virtual std::string sortKey(std::string_view rec, const std::vector<int>& fields,
                              const std::vector<bool>& caseInsensitive) const {
    (void)rec, (void)fields, (void)caseInsensitive;
    return {};
  }

  // Completes a new record before its place is looked up (numbers an empty
  // auto-increment field). The default does nothing.
  virtual void completeNew(std::string& rec) { (void)rec; }

  // Changes, by position in primary order, made in the files at once.
  // insert: the record lands at pos (the caller found the place by key for a
  // keyed table, the end otherwise); the backend may complete it (auto-
  // increment) and rec holds the stored bytes afterwards.
  virtual void insert(std::size_t pos, std::string& rec) = 0;
  // update: the key is unchanged (a key change is remove + insert); rec may be
  // completed as for insert.
  virtual void update(std::size_t pos, const std::string& old, std::string& rec) = 0;
  virtual void remove(std::size_t pos, const std::string& old) = 0;

  // The changes made since the last call are on disk (the change of the
  // files they belong to was committed). The default does nothing.
  virtual void changeWritten() {}

  // Writes what is still buffered and releases the files.
  virtual void close() = 0;
};

// Case-insensitive comparison of Windows-1251 texts (Cyrillic included), as
// the engine orders case-insensitive indexes.
int compareTextNoCase(std::string_view a, std::string_view b);
// Sort weight of one byte in that order (0 for the NUL byte): Cyrillic in
// alphabet order with Ё right after Е, everything else by its upper case.
int weight1251(unsigned char c);
unsigned char upper1251(unsigned char c);

// The names of a field list ("A;B;C"), empty names kept.
std::vector<std::string> splitFieldList(const std::string& list);

// What a format offers to Table. The companion files of a table are found
// next to its main file by name, ignoring the case of the extension.
struct Format {
  std::unique_ptr<Backend> (*open)(const std::string& path);
  void (*create)(const std::string& path, const std::vector<FieldDef>& fields,
                 const std::vector<IndexDef>& indexes);
  // Every file that belongs to the table (main file first), as they exist.
  std::vector<std::string> (*files)(const std::string& path);
};

const Format& paradoxFormat();
const Format& dbaseFormat();  // src/storage/dbase_format.cpp

// Companion files of `path`: files in its directory whose name is the base
// name of `path` and whose extension matches one of the patterns ('?' is any
// one character, '#' a decimal or hexadecimal digit), ignoring case. The main file itself is not included.
std::vector<std::string> companionFiles(const std::string& path,
                                        const std::vector<std::string>& patterns);

}  // namespace storage
