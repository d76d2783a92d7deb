#pragma once
// The table component: one Paradox or dBase table on disk with the semantics
// of a desktop database engine's table object (definitions, create, open,
// navigate, edit and post, order by an index, field objects with display
// settings). Texts are Windows-1251 bytes. Errors are thrown as DbError.
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace storage {

class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TableType { Default, Paradox, DBase };  // Default: by extension

enum class FieldType {
  Unknown, String, SmallInt, Integer, Word, AutoInc, Float, Currency, BCD,
  Date, Time, DateTime, Boolean, Bytes, Memo, Blob, FmtMemo, Graphic
};

enum IndexOption : unsigned {
  ixPrimary = 1, ixUnique = 2, ixDescending = 4, ixCaseInsensitive = 8
};

enum class Alignment { Left, Right, Center };
enum class State { Inactive, Browse, Edit, Insert };

struct FieldDef {
  std::string name;
  FieldType type = FieldType::String;
  int size = 0;  // characters for String, else 0
  bool required = false;
};

struct IndexDef {
  std::string name;    // empty for the primary index
  std::string fields;  // field names joined by ';'
  unsigned options = 0;
};

class Table;
struct TableImpl;

// A field object of the open table. Display settings (label, visibility,
// alignment, read-only) belong to the open table and are gone on close.
class Field {
 public:
  const std::string& fieldName() const;
  FieldType dataType() const;
  int size() const;
  int index() const;  // position in the table, 0 first
  bool required() const;

  std::string displayLabel() const;  // the field name until one is set
  void setDisplayLabel(const std::string& label);
  bool visible() const;
  void setVisible(bool v);
  Alignment alignment() const;  // numbers right, texts left until set
  void setAlignment(Alignment a);
  bool readOnly() const;
  void setReadOnly(bool ro);

  bool isNull() const;
  // An empty field reads 0; a text that is not a decimal integer throws.
  int asInteger() const;
  // The value as text ("" when empty).
  std::string asString() const;
  // Setting a value puts a browsing table into edit state; a read-only field
  // or a read-only table throws.
  void setAsInteger(int value);
  void setAsString(const std::string& value);
  void clear();

 private:
  friend class Table;
  friend struct TableImpl;
  Field(TableImpl* t, int index) : t_(t), index_(index) {}
  TableImpl* t_;
  int index_;
};

// Opaque position of a record, valid while the table stays open.
struct Bookmark {
  long long key = -1;
  bool valid() const { return key >= 0; }
};

// What changed, for views over the table.
enum class Change { Layout, Data, Current };

class Table {
 public:
  Table();
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // Identity and definitions (set while the table is closed).
  void setTableName(const std::string& path);
  const std::string& tableName() const;
  void setTableType(TableType type);
  TableType tableType() const;
  std::vector<FieldDef>& fieldDefs();
  std::vector<IndexDef>& indexDefs();

  // Files: create from the definitions (replacing nothing: fails when the
  // table exists), exists, delete and rename with every companion file.
  void createTable();
  bool exists() const;
  // The table's main file: the name, with the format's extension when it
  // has none.
  std::string filePath() const;
  // Every file of the table as they exist, main file first.
  std::vector<std::string> files() const;
  // Throws the reason why the table this component names could not be
  // deleted or replaced now: another program holds it for writing (this
  // component's own lock, when it is open, is no other program's).
  void checkReplace() const;
  void deleteTable();
  // With replacing, a table under newName is moved aside first and removed
  // only once the rename is done; a rename that fails puts it back.
  void renameTable(const std::string& newName, bool replacing = false);
  // Throws the reason why renaming the table to newName would be refused,
  // changing nothing; the table may be open. With replacing, a table of
  // that name is taken as deleted first (it must be free to delete).
  void checkRename(const std::string& newName, bool replacing) const;

  // Opening reads the field and index definitions from the files.
  void open();
  void close();  // drops a pending record
  bool active() const;
  void setActive(bool a) { a ? open() : close(); }
  bool readOnly() const;  // opened read-only (file kept safe, or locked)
  std::string readOnlyReason() const;
  // True when the table is open read-only and another writer holds it
  // (whether or not this user could write its files).
  bool lockedByOtherWriter() const;

  // Navigation in the current order. Moving stores a changed pending record
  // and drops an unchanged one.
  void first();
  void prior();
  void next();
  void last();
  void moveBy(int distance);
  int recNo() const;  // 1-based position in the current order, 0 when empty
  void setRecNo(int recNo);
  int recordCount() const;
  bool eof() const;
  bool bof() const;
  bool isEmpty() const { return recordCount() == 0; }

  // Editing.
  State state() const;
  void insert();  // new record before the current one (runs afterInsert)
  void append();  // new record at the end (runs afterInsert)
  void edit();
  void post();  // stores the pending record; refuses missing required fields
  void cancel();
  void deleteRecord();
  void refresh();  // stores or drops the pending record, re-reads the files
  bool modified() const;  // the pending record holds a change

  // A job over the whole table (a renumbering) as one change of the files:
  // what is posted between beginBatch() and endBatch() reaches the disk at
  // endBatch(), all of it or nothing. A change that fails inside the batch
  // drops the whole batch and reads the records afresh, and so does a batch
  // that finds the files changed by another program. A refresh ends the
  // batch; closing the table drops it.
  void beginBatch();
  void endBatch();

  // Order: the fields of an index, joined by ';' ("" = primary order). An
  // index matches when its field list equals the names or begins with them
  // followed by ';'. No fitting index is an error.
  void setIndexFieldNames(const std::string& names);
  const std::string& indexFieldNames() const;

  Bookmark getBookmark() const;
  void gotoBookmark(const Bookmark& b);

  // Fields of the open table.
  int fieldCount() const;
  Field& field(int index);
  Field* findField(const std::string& name);  // ignores case; null if none
  Field& fieldByName(const std::string& name);  // throws when none

  // Runs after a record was inserted or appended.
  std::function<void(Table&)> afterInsert;

  // Rows of the current order as a grid shows them, without moving: the
  // stored records plus a pending new record at its place. rowCount() is 0
  // when closed; currentRow() is the row of the current (or pending) record,
  // -1 when none.
  int rowCount() const;
  int currentRow() const;
  // The text of a field in a row ("" when empty).
  std::string textAt(int row, int field) const;
  // Makes the row current (stores or drops a pending record first, unless the
  // row is the pending record itself).
  void goToRow(int row);

  // The rows, first .. last, whose contents a Data change may have altered
  // while the row count stayed: the rows a stored record moved across, or
  // every row. Read by listeners during the notification.
  std::pair<int, int> changedRows() const;

  // Observers (the grid model); returns an id for removeListener.
  int addListener(std::function<void(Change)> listener);
  void removeListener(int id);

 private:
  std::vector<std::pair<std::string, std::string>> renameMoves(const std::string& newName,
                                                               bool replacing) const;
  std::unique_ptr<TableImpl> d_;
};

// Throws the reason why a table of these definitions cannot be created (a
// field name empty or given twice, an index on a field that is not there).
void checkDefinitions(const std::vector<FieldDef>& fields, const std::vector<IndexDef>& indexes);

}  // namespace storage
