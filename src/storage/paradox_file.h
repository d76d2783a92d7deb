#pragma once
// Paradox file pieces shared by the table backend: raw file access, the
// header of a .DB/.PX/.Xnn/.XGn/.Ynn/.YGn file, the field codec and a data
// file whose block chain is changed in place.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/backend.h"
#include "storage/paradox_index.h"

namespace storage::px {

std::uint16_t rd16(const char* p);
std::uint32_t rd32(const char* p);
void wr16(char* p, std::uint16_t v);
void wr32(char* p, std::uint32_t v);

// A file opened for reading (and writing when asked). Reads past the end
// give zero bytes: a table's last block may be cut short on disk.
class RawFile {
 public:
  RawFile() = default;
  RawFile(const std::string& path, bool writable);
  ~RawFile();
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;
  RawFile(RawFile&& o) noexcept;
  RawFile& operator=(RawFile&& o) noexcept;

  bool isOpen() const { return fd_ >= 0; }
  bool writable() const { return writable_; }
  const std::string& path() const { return path_; }
  std::uint64_t size() const;
  void read(std::uint64_t off, char* buf, std::size_t n) const;
  void write(std::uint64_t off, const char* buf, std::size_t n);
  void truncate(std::uint64_t size);
  void close();

 private:
  int fd_ = -1;
  bool writable_ = false;
  std::string path_;
};

// Paradox field type codes.
enum : std::uint8_t {
  tAlpha = 0x01, tDate = 0x02, tShort = 0x03, tLong = 0x04, tMoney = 0x05,
  tNumber = 0x06, tLogical = 0x09, tMemo = 0x0C, tBlob = 0x0D, tFmtMemo = 0x0E,
  tOle = 0x0F, tGraphic = 0x10, tTime = 0x14, tTimestamp = 0x15, tAutoInc = 0x16,
  tBcd = 0x17, tBytes = 0x18
};

struct PxField {
  std::uint8_t type = 0;
  std::uint8_t sizeByte = 0;  // the descriptor's size byte (BCD: decimals)
  int width = 0;              // bytes in the record
  int offset = 0;             // offset in the record
  std::string name;
};

// Header fields at fixed offsets.
enum HeaderOffset : int {
  hRecordSize = 0x00, hHeaderSize = 0x02, hFileType = 0x04, hBlockKb = 0x05,
  hNumRecords = 0x06, hNextBlock = 0x0A, hFileBlocks = 0x0C, hFirstBlock = 0x0E,
  hLastBlock = 0x10, hChange = 0x12, hModified1 = 0x14, hIndexField = 0x15,
  hRoot = 0x1E, hLevels = 0x20, hNumFields = 0x21, hKeyFields = 0x23,
  hEncrypt = 0x25, hSortOrder = 0x29, hModified2 = 0x2A, hChangeIdx = 0x2C,
  hChange1 = 0x2D, hChange2 = 0x2E, hVersion = 0x39, hMaxBlocks = 0x3A,
  hAutoInc = 0x49, hFreeHead = 0x4D, hUsed = 0x51, hVersionWord = 0x58,
  hEncrypt2 = 0x5C, hCodePage = 0x6A
};

struct Header {
  std::string raw;  // the bytes of the header as read (up to headerSize)
  int recordSize = 0, headerSize = 0, fileType = 0, blockSize = 0, version = 0;
  std::uint32_t numRecords = 0;
  int nextBlock = 0, fileBlocks = 0, firstBlock = 0, lastBlock = 0;
  int numFields = 0, keyFields = 0, root = 0, levels = 0;
  std::int32_t autoInc = 0;
  int freeHead = 0, codePage = 0, sortOrder = 0, indexField = 0;
  bool encrypted = false;
  std::vector<PxField> fields;
  std::vector<int> fieldNumbers;  // 4.x+ .DB and .X files
  std::string sortName, indexName;
  bool hasNames() const;  // .DB and .X/.XG files carry field names
};

// Reads and checks a header; `what` names the file in error texts.
Header readHeader(const RawFile& f);
int fieldWidth(std::uint8_t type, std::uint8_t size);
FieldType fieldType(std::uint8_t type);

// Raw comparison of one field of two records, as the indexes order them.
int compareField(const PxField& f, const char* a, const char* b, bool caseInsensitive);

// A data file (.DB or .X/.XG) whose block chain is kept in memory and changed
// in place. Records are addressed by chain block and slot.
class ChainFile {
 public:
  struct Block {
    std::uint16_t no = 0;
    int count = 0;
    std::string firstKey;  // key bytes of the block's first record
  };

  RawFile file;
  Header h;
  // The most blocks the file may hold: its header counts them in a word,
  // and a file under a primary index (.PX, .Y, .YG) has each of its blocks
  // named there in a short field, which readers take as signed.
  static constexpr int kMaxBlocks = 0xFFFF;
  static constexpr int kMaxIndexedBlocks = 32767;
  int maxBlocks = kMaxBlocks;
  std::vector<Block> chain;  // chain order
  int keyWidth = 0;          // bytes of the leading key fields
  std::vector<bool> caseInsensitive;  // per key field

  // Walks the chain; with `records` also collects every record in order.
  void load(std::vector<std::string>* records);
  int capacity() const { return (h.blockSize - 6) / h.recordSize; }
  std::uint64_t blockOffset(int no) const {
    return static_cast<std::uint64_t>(h.headerSize) +
           static_cast<std::uint64_t>(no - 1) * static_cast<std::uint64_t>(h.blockSize);
  }
  std::size_t total() const { return records_; }
  // Position in chain order -> (chain index, slot); pos == total() gives the
  // place after the last record.
  std::pair<std::size_t, int> locate(std::size_t pos) const;
  std::string readBlock(int no) const;
  std::string recordAt(std::size_t ci, int slot) const;
  int compareKey(const char* a, const char* b) const;
  // First place whose record orders after `key` (by the key fields).
  std::pair<std::size_t, int> upperBound(const std::string& rec) const;
  // Exact place of a record whose key fields equal those of rec; false when none.
  bool find(const std::string& rec, std::size_t& ci, int& slot) const;

  // Changes. `moved` is told of each record that moved to another block
  // (record bytes, new block number).
  using Moved = std::function<void(const std::string&, int)>;
  // Returns the block number the record went into.
  int insertAt(std::size_t ci, int slot, const std::string& rec, const Moved& moved);
  void removeAt(std::size_t ci, int slot);
  void overwrite(std::size_t ci, int slot, const std::string& rec);
  // Writes the file anew with these records, in this order.
  void rebuild(const std::vector<std::string>& records);
  // Writes the header fields the engine owns (counts, chain ends, free list,
  // auto-increment).
  void writeCounts();
  // Brings the primary index file of this data file (.PX or .Y/.YG) in step
  // with the chain. The first call takes the tree the file holds when it
  // agrees with the chain, else writes it afresh; later calls write only the
  // index blocks that the changes since touched.
  void writeIndex(RawFile& index, const Header* model);
  // Takes (or builds) the index tree before the first change, so that the
  // changes can be followed in it.
  void openIndex(const RawFile& index, const Header* model);

 private:
  void walkChain(std::vector<std::string>* records, std::vector<char>& seen);
  void writeBlockHeader(int no, int next, int prev, int count);
  [[noreturn]] void full() const;
  int allocBlock();
  void freeBlock(int no);
  void setFirstKey(std::size_t ci, const std::string& block);

  // Positions: a Fenwick tree of the blocks' record counts in chain order,
  // rebuilt after the chain changes shape anywhere but at its end.
  void countChanged(std::size_t ci, int delta);
  void shapeChanged() { fenOk_ = false; }
  void appended();
  std::vector<IndexTree::Entry> dataEntries() const;
  std::string indexHeader(const Header* model) const;

  std::string countsWritten_;             // owned header fields as last written
  std::string indexHeader_;               // index file header as last written
  int indexBlocksWritten_ = -1;           // blocks of the index file on disk
  IndexTree tree_;
  std::size_t records_ = 0;
  std::vector<int> fen_;
  bool fenOk_ = false;
};

// Builds a new header for a file of the given kind.
struct NewHeaderSpec {
  int fileType = 0;
  int version = 0x0C;
  int blockKb = 4;
  int codePage = 1251;
  int sortOrder = 0x8F;
  std::string sortName = "ancyrr";
  std::string tableName;
  std::vector<PxField> fields;  // .DB/.X: fields with names; .PX/.Y: key fields
  std::vector<int> fieldNumbers;
  int keyFields = 0;
  int indexField = 0;
  std::string indexName;
};
std::string buildHeader(const NewHeaderSpec& s);

}  // namespace storage::px
