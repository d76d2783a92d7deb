// Paradox file pieces: raw access, headers, block chains changed in place and
// the primary index files built over a chain.
#include "storage/paradox_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "storage/error_text.h"
#include "storage/file_io.h"

namespace storage::px {

std::uint16_t rd16(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint16_t>(u[0] | (u[1] << 8));
}
std::uint32_t rd32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint32_t>(u[0]) | (static_cast<std::uint32_t>(u[1]) << 8) |
         (static_cast<std::uint32_t>(u[2]) << 16) | (static_cast<std::uint32_t>(u[3]) << 24);
}
void wr16(char* p, std::uint16_t v) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>(v >> 8);
}
void wr32(char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// ---------------------------------------------------------------- RawFile

RawFile::RawFile(const std::string& path, bool writable) : writable_(writable), path_(path) {
  fd_ = fileio::openRegular(path, writable ? O_RDWR : O_RDONLY);
}
RawFile::~RawFile() { close(); }
RawFile::RawFile(RawFile&& o) noexcept : fd_(o.fd_), writable_(o.writable_), path_(std::move(o.path_)) {
  o.fd_ = -1;
}
RawFile& RawFile::operator=(RawFile&& o) noexcept {
  if (this != &o) {
    close();
    fd_ = o.fd_;
    writable_ = o.writable_;
    path_ = std::move(o.path_);
    o.fd_ = -1;
  }
  return *this;
}
void RawFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}
std::uint64_t RawFile::size() const {
  return static_cast<std::uint64_t>(fileio::sizeOf(fd_, path_));
}
void RawFile::read(std::uint64_t off, char* buf, std::size_t n) const {
  const std::size_t done = fileio::readAt(fd_, path_, buf, n, static_cast<off_t>(off));
  if (done < n) std::memset(buf + done, 0, n - done);
}
void RawFile::write(std::uint64_t off, const char* buf, std::size_t n) {
  if (!writable_) throw DbError("Файл " + quotedPath(path_) + " открыт только для чтения");
  fileio::writeAt(fd_, path_, buf, n, static_cast<off_t>(off));
}
void RawFile::truncate(std::uint64_t size) { fileio::truncate(fd_, path_, static_cast<off_t>(size)); }

// ---------------------------------------------------------------- header

int fieldWidth(std::uint8_t type, std::uint8_t size) {
  switch (type) {
    case tAlpha: case tBytes: return size;
    case tDate: case tLong: case tTime: case tAutoInc: return 4;
    case tShort: return 2;
    case tMoney: case tNumber: case tTimestamp: return 8;
    case tLogical: return 1;
    case tMemo: case tBlob: case tFmtMemo: case tOle: case tGraphic: return size;
    case tBcd: return 17;
    default: return -1;
  }
}

FieldType fieldType(std::uint8_t type) {
  switch (type) {
    case tAlpha: return FieldType::String;
    case tDate: return FieldType::Date;
    case tShort: return FieldType::SmallInt;
    case tLong: return FieldType::Integer;
    case tMoney: return FieldType::Currency;
    case tNumber: return FieldType::Float;
    case tLogical: return FieldType::Boolean;
    case tMemo: return FieldType::Memo;
    case tBlob: case tOle: return FieldType::Blob;
    case tFmtMemo: return FieldType::FmtMemo;
    case tGraphic: return FieldType::Graphic;
    case tTime: return FieldType::Time;
    case tTimestamp: return FieldType::DateTime;
    case tAutoInc: return FieldType::AutoInc;
    case tBcd: return FieldType::BCD;
    case tBytes: return FieldType::Bytes;
    default: return FieldType::Unknown;
  }
}

bool Header::hasNames() const { return fileType != 1 && fileType != 4 && fileType != 7; }

namespace {

[[noreturn]] void bad(const RawFile& f, const std::string& why) {
  throw DbError("Файл таблицы " + quotedPath(f.path()) + " повреждён: " + why);
}

// Reads a NUL-ended string at p (bounded by end); advances p.
std::string takeString(const RawFile& f, const std::string& raw, std::size_t& p) {
  const std::size_t e = raw.find('\0', p);
  if (e == std::string::npos) bad(f, "заголовок кончается внутри имени");
  std::string s = raw.substr(p, e - p);
  p = e + 1;
  return s;
}

}  // namespace

Header readHeader(const RawFile& f) {
  Header h;
  const std::uint64_t fileSize = f.size();
  if (fileSize < 0x58) bad(f, "файл короче заголовка");
  char fixed[0x78] = {};
  f.read(0, fixed, sizeof fixed);
  h.recordSize = rd16(fixed + hRecordSize);
  h.headerSize = rd16(fixed + hHeaderSize);
  h.fileType = static_cast<unsigned char>(fixed[hFileType]);
  h.blockSize = static_cast<unsigned char>(fixed[hBlockKb]) * 1024;
  h.numRecords = rd32(fixed + hNumRecords);
  h.nextBlock = rd16(fixed + hNextBlock);
  h.fileBlocks = rd16(fixed + hFileBlocks);
  h.firstBlock = rd16(fixed + hFirstBlock);
  h.lastBlock = rd16(fixed + hLastBlock);
  h.indexField = static_cast<unsigned char>(fixed[hIndexField]);
  h.root = rd16(fixed + hRoot);
  h.levels = static_cast<unsigned char>(fixed[hLevels]);
  h.numFields = static_cast<std::int16_t>(rd16(fixed + hNumFields));
  h.keyFields = static_cast<std::int16_t>(rd16(fixed + hKeyFields));
  h.sortOrder = static_cast<unsigned char>(fixed[hSortOrder]);
  h.version = static_cast<unsigned char>(fixed[hVersion]);
  h.autoInc = static_cast<std::int32_t>(rd32(fixed + hAutoInc));
  h.freeHead = rd16(fixed + hFreeHead);

  if (h.fileType > 8) bad(f, "неизвестный тип файла " + std::to_string(h.fileType));
  if (h.headerSize < 0x58) bad(f, "слишком малый размер заголовка");
  if (h.blockSize == 0 || h.blockSize > 32 * 1024) bad(f, "неверный размер блока");
  if (h.recordSize <= 0 || h.recordSize > h.blockSize - 6) bad(f, "неверный размер записи");
  if (h.numFields <= 0 || h.numFields > 255) bad(f, "неверное число полей");
  if (h.keyFields < 0 || h.keyFields > h.numFields) bad(f, "неверное число ключевых полей");
  if (h.version < 3 || h.version > 0x0C) bad(f, "неизвестная версия файла " + std::to_string(h.version));
  if (fileSize < static_cast<std::uint64_t>(h.headerSize) && h.fileBlocks > 0)
    bad(f, "файл короче заголовка");

  const bool indexFile = !h.hasNames();
  const bool v4 = h.version >= 5 && !indexFile;
  if (v4) {
    h.encrypted = rd32(fixed + hEncrypt2) != 0;
    h.codePage = rd16(fixed + hCodePage);
  } else {
    h.encrypted = rd32(fixed + hEncrypt) != 0 && rd32(fixed + hEncrypt) != 0xFF00FF00u;
  }
  h.raw.assign(static_cast<std::size_t>(h.headerSize), '\0');
  f.read(0, h.raw.data(), h.raw.size());
  const std::string& raw = h.raw;

  std::size_t p = v4 ? 0x78 : 0x58;
  const std::size_t n = static_cast<std::size_t>(h.numFields);
  if (p + 2 * n + 4 > raw.size()) bad(f, "описания полей выходят за заголовок");
  int offset = 0;
  for (std::size_t i = 0; i < n; ++i) {
    PxField fd;
    fd.type = static_cast<std::uint8_t>(raw[p + 2 * i]);
    fd.sizeByte = static_cast<std::uint8_t>(raw[p + 2 * i + 1]);
    fd.width = fieldWidth(fd.type, fd.sizeByte);
    if (fd.width <= 0) bad(f, "неизвестный тип поля " + std::to_string(fd.type));
    if ((fd.type == tMemo || fd.type == tBlob || fd.type == tFmtMemo || fd.type == tOle ||
         fd.type == tGraphic) && fd.width < 10)
      bad(f, "BLOB-поле уже своего указателя");
    fd.offset = offset;
    offset += fd.width;
    h.fields.push_back(fd);
  }
  // An index file's records carry three more shorts after the key fields.
  const int expected = indexFile ? offset + 6 : offset;
  if (expected != h.recordSize) bad(f, "размеры полей не сходятся с размером записи");
  p += 2 * n + 4;
  if (!indexFile) p += 4 * n;
  const std::size_t nameLen = h.version >= 0x0C ? 261 : 79;
  p += nameLen;
  if (!indexFile) {
    for (std::size_t i = 0; i < n; ++i) {
      if (p >= raw.size()) bad(f, "имена полей выходят за заголовок");
      h.fields[i].name = takeString(f, raw, p);
    }
    if (h.encrypted) {
      // Crypt information follows; nothing after it is needed.
      return h;
    }
    if (v4) {
      if (p + 2 * n <= raw.size()) {
        for (std::size_t i = 0; i < n; ++i) h.fieldNumbers.push_back(rd16(raw.data() + p + 2 * i));
        p += 2 * n;
        if (p < raw.size() && raw.find('\0', p) != std::string::npos) {
          h.sortName = takeString(f, raw, p);
          if (h.fileType != 0 && h.fileType != 2 && p < raw.size() &&
              raw.find('\0', p) != std::string::npos)
            h.indexName = takeString(f, raw, p);
        }
      }
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) h.fields[i].name = "key" + std::to_string(i + 1);
  }
  return h;
}

std::string buildHeader(const NewHeaderSpec& s) {
  const bool indexFile = s.fileType == 1 || s.fileType == 4 || s.fileType == 7;
  const std::size_t n = s.fields.size();
  std::string var;
  auto put16 = [&](std::uint16_t v) { var.push_back(static_cast<char>(v & 0xFF)); var.push_back(static_cast<char>(v >> 8)); };
  for (const PxField& f : s.fields) {
    var.push_back(static_cast<char>(f.type));
    var.push_back(static_cast<char>(f.sizeByte));
  }
  var.append(4, '\0');  // table name pointer (in memory only)
  if (!indexFile) var.append(4 * n, '\0');
  std::string name = s.tableName.substr(0, (s.version >= 0x0C ? 261 : 79) - 1);
  name.resize(s.version >= 0x0C ? 261 : 79, '\0');
  var += name;
  std::size_t numbersAt = 0, sortAt = 0, indexNameAt = 0;
  if (!indexFile) {
    for (const PxField& f : s.fields) {
      var += f.name;
      var.push_back('\0');
    }
    numbersAt = var.size();
    for (int v : s.fieldNumbers) put16(static_cast<std::uint16_t>(v));
    sortAt = var.size();
    var += s.sortName;
    var.push_back('\0');
    if (s.fileType != 0 && s.fileType != 2) {
      indexNameAt = var.size();
      var += s.indexName;
      var.push_back('\0');
    }
  }
  const std::size_t base = indexFile ? 0x58 : 0x78;
  std::size_t headerSize = 0x800;
  while (headerSize < base + var.size()) headerSize += 0x800;
  std::string h(headerSize, '\0');
  std::memcpy(h.data() + base, var.data(), var.size());

  int recordSize = 0;
  for (const PxField& f : s.fields) recordSize += f.width;
  if (indexFile) recordSize += 6;
  wr16(h.data() + hRecordSize, static_cast<std::uint16_t>(recordSize));
  wr16(h.data() + hHeaderSize, static_cast<std::uint16_t>(headerSize));
  h[hFileType] = static_cast<char>(s.fileType);
  h[hBlockKb] = static_cast<char>(s.blockKb);
  wr16(h.data() + hChange, 1);
  h[hIndexField] = static_cast<char>(s.indexField);
  wr16(h.data() + hNumFields, static_cast<std::uint16_t>(n));
  wr16(h.data() + hKeyFields, static_cast<std::uint16_t>(s.keyFields));
  h[hSortOrder] = static_cast<char>(s.sortOrder);
  h[hVersion] = static_cast<char>(s.version);
  if (indexFile) {
    h[hChangeIdx] = 2;
    h[hAutoInc] = 6;
    wr16(h.data() + hUsed, static_cast<std::uint16_t>(base + var.size()));
  } else {
    wr32(h.data() + hEncrypt, 0xFF00FF00u);
    h[hChange1] = 2;
    h[hChange2] = 2;
    wr16(h.data() + 0x3E, 0x0F1F);
    wr16(h.data() + hUsed, static_cast<std::uint16_t>(base + var.size() - (indexNameAt ? 0 : 1)));
    const bool indexData = s.fileType != 0 && s.fileType != 2;  // .Xnn/.XGn
    if (indexData) h[hChangeIdx] = static_cast<char>(0xFF);  // as in every .X we saw
    h[0x55] = indexData && s.version >= 0x0C ? 1 : 0;
    h[0x56] = 0x20;
    const std::uint16_t vw = static_cast<std::uint16_t>(0x0100 | (s.version & 0xFF));
    wr16(h.data() + hVersionWord, vw);
    wr16(h.data() + hVersionWord + 2, vw);
    wr32(h.data() + 0x60, static_cast<std::uint32_t>(std::time(nullptr)));
    wr16(h.data() + 0x64, static_cast<std::uint16_t>(n + 1));
    wr16(h.data() + 0x66, static_cast<std::uint16_t>(numbersAt + base - 0x58));
    if (indexNameAt) wr16(h.data() + 0x68, static_cast<std::uint16_t>(indexNameAt + base - 0x58));
    wr16(h.data() + hCodePage, static_cast<std::uint16_t>(s.codePage));
    h[0x6C] = 1;
    h[0x6D] = 1;
    wr16(h.data() + 0x6E, static_cast<std::uint16_t>(sortAt + base - 0x58));
  }
  return h;
}

// ---------------------------------------------------------------- compare

int compareField(const PxField& f, const char* a, const char* b, bool caseInsensitive) {
  if (f.type == tAlpha && caseInsensitive) {
    return compareTextNoCase(std::string_view(a, strnlen(a, static_cast<std::size_t>(f.width))),
                             std::string_view(b, strnlen(b, static_cast<std::size_t>(f.width))));
  }
  if (f.type == tAlpha) {  // nothing after the first NUL counts
    const std::string_view x(a, strnlen(a, static_cast<std::size_t>(f.width)));
    const std::string_view y(b, strnlen(b, static_cast<std::size_t>(f.width)));
    const int c = x.compare(y);
    return c < 0 ? -1 : c > 0;
  }
  const int c = std::memcmp(a, b, static_cast<std::size_t>(f.width));
  return c < 0 ? -1 : c > 0;
}

// ---------------------------------------------------------------- ChainFile

void ChainFile::load(std::vector<std::string>* records) {
  chain.clear();
  records_ = 0;
  fenOk_ = false;
  tree_.reset();
  std::vector<char> seen(static_cast<std::size_t>(h.fileBlocks) + 1, 0);
  if (h.firstBlock != 0) walkChain(records, seen);
  else if (h.numRecords != 0) bad(file, "число записей не сходится с блоками");
  // A free list that runs into the chain, out of the file or in a loop is
  // dropped: taking a block from it could overwrite live records.
  int f = h.freeHead, steps = 0;
  while (f != 0) {
    if (f < 1 || f > h.fileBlocks || seen[static_cast<std::size_t>(f)] || ++steps > h.fileBlocks) {
      h.freeHead = 0;
      break;
    }
    seen[static_cast<std::size_t>(f)] = 1;
    char link[2];
    file.read(blockOffset(f), link, 2);
    f = rd16(link);
  }
}

void ChainFile::walkChain(std::vector<std::string>* records, std::vector<char>& seen) {
  const int rs = h.recordSize;
  const std::uint64_t fileSize = file.size();
  int no = h.firstBlock, prev = 0;
  std::size_t count = 0;
  std::string block(static_cast<std::size_t>(h.blockSize), '\0');
  while (no != 0) {
    if (no < 1 || no > h.fileBlocks) bad(file, "цепочка блоков выходит за файл");
    if (seen[static_cast<std::size_t>(no)]) bad(file, "цепочка блоков зациклена");
    seen[static_cast<std::size_t>(no)] = 1;
    if (blockOffset(no) >= fileSize) bad(file, "цепочка блоков указывает за конец файла");
    file.read(blockOffset(no), block.data(), block.size());
    const int next = rd16(block.data());
    const int back = rd16(block.data() + 2);
    const int add = static_cast<std::int16_t>(rd16(block.data() + 4));
    if (back != prev) bad(file, "ссылки цепочки блоков не сходятся");
    int n = add / rs + 1;
    if (add % rs != 0 || n < 0 || n > capacity()) bad(file, "неверное число записей в блоке");
    Block b;
    b.no = static_cast<std::uint16_t>(no);
    b.count = n;
    if (n > 0) b.firstKey.assign(block.data() + 6, static_cast<std::size_t>(keyWidth));
    chain.push_back(std::move(b));
    if (records)
      for (int i = 0; i < n; ++i) records->emplace_back(block.data() + 6 + i * rs, static_cast<std::size_t>(rs));
    count += static_cast<std::size_t>(n);
    records_ += static_cast<std::size_t>(n);
    prev = no;
    no = next;
  }
  if (count != h.numRecords) bad(file, "число записей не сходится с блоками");
}

void ChainFile::countChanged(std::size_t ci, int delta) {
  records_ = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(records_) + delta);
  if (!fenOk_) return;
  for (std::size_t i = ci + 1; i < fen_.size(); i += i & (~i + 1)) fen_[i] += delta;
}

// A block added at the end of the chain (its count already in records_).
void ChainFile::appended() {
  if (!fenOk_) return;
  const std::size_t i = chain.size();  // its place, from 1
  int v = chain.back().count;
  for (std::size_t j = i - 1; j > i - (i & (~i + 1)); j -= j & (~j + 1)) v += fen_[j];
  fen_.push_back(v);
}

std::pair<std::size_t, int> ChainFile::locate(std::size_t pos) const {
  if (chain.empty()) return {0, 0};
  if (pos >= records_) return {chain.size() - 1, chain.back().count};
  auto& self = const_cast<ChainFile&>(*this);
  if (!fenOk_) {
    self.fen_.assign(chain.size() + 1, 0);
    for (std::size_t i = 1; i <= chain.size(); ++i) {
      self.fen_[i] += chain[i - 1].count;
      const std::size_t up = i + (i & (~i + 1));
      if (up <= chain.size()) self.fen_[up] += self.fen_[i];
    }
    self.fenOk_ = true;
  }
  // The last place whose prefix sum stays at or below pos.
  std::size_t at = 0, step = 1;
  while (step * 2 <= chain.size()) step *= 2;
  for (; step; step /= 2)
    if (at + step <= chain.size() && static_cast<std::size_t>(fen_[at + step]) <= pos) {
      at += step;
      pos -= static_cast<std::size_t>(fen_[at]);
    }
  return {at, static_cast<int>(pos)};
}

std::string ChainFile::readBlock(int no) const {
  std::string b(static_cast<std::size_t>(h.blockSize), '\0');
  file.read(blockOffset(no), b.data(), b.size());
  return b;
}

std::string ChainFile::recordAt(std::size_t ci, int slot) const {
  std::string r(static_cast<std::size_t>(h.recordSize), '\0');
  file.read(blockOffset(chain[ci].no) + 6 + static_cast<std::uint64_t>(slot) * static_cast<std::uint64_t>(h.recordSize),
            r.data(), r.size());
  return r;
}

int ChainFile::compareKey(const char* a, const char* b) const {
  for (int i = 0; i < h.keyFields; ++i) {
    const PxField& f = h.fields[static_cast<std::size_t>(i)];
    const int c = compareField(f, a + f.offset, b + f.offset,
                               i < static_cast<int>(caseInsensitive.size()) && caseInsensitive[static_cast<std::size_t>(i)]);
    if (c) return c;
  }
  return 0;
}

std::pair<std::size_t, int> ChainFile::upperBound(const std::string& rec) const {
  if (chain.empty()) return {0, 0};
  // Last block whose first key is <= rec.
  std::size_t lo = 0, hi = chain.size();
  while (hi - lo > 1) {
    const std::size_t mid = (lo + hi) / 2;
    if (compareKey(chain[mid].firstKey.data(), rec.data()) <= 0) lo = mid;
    else hi = mid;
  }
  const std::string b = readBlock(chain[lo].no);
  int slot = 0;
  while (slot < chain[lo].count &&
         compareKey(b.data() + 6 + slot * h.recordSize, rec.data()) <= 0)
    ++slot;
  return {lo, slot};
}

bool ChainFile::find(const std::string& rec, std::size_t& ci, int& slot) const {
  if (chain.empty()) return false;
  auto scan = [&](std::size_t c) {
    const std::string b = readBlock(chain[c].no);
    for (int s = 0; s < chain[c].count; ++s)
      if (compareKey(b.data() + 6 + s * h.recordSize, rec.data()) == 0) {
        ci = c;
        slot = s;
        return true;
      }
    return false;
  };
  std::size_t lo = 0, hi = chain.size();
  while (hi - lo > 1) {
    const std::size_t mid = (lo + hi) / 2;
    if (compareKey(chain[mid].firstKey.data(), rec.data()) <= 0) lo = mid;
    else hi = mid;
  }
  if (scan(lo)) return true;
  if (lo > 0 && scan(lo - 1)) return true;
  // Another program's collation may order differently: look everywhere.
  for (std::size_t c = 0; c < chain.size(); ++c)
    if (c != lo && c + 1 != lo && scan(c)) return true;
  return false;
}

void ChainFile::writeBlockHeader(int no, int next, int prev, int count) {
  char hdr[6];
  wr16(hdr, static_cast<std::uint16_t>(next));
  wr16(hdr + 2, static_cast<std::uint16_t>(prev));
  wr16(hdr + 4, static_cast<std::uint16_t>(static_cast<std::int16_t>((count - 1) * h.recordSize)));
  file.write(blockOffset(no), hdr, sizeof hdr);
}

// Refuses a change that needs a block past the file's limit.
void ChainFile::full() const {
  const std::string limit = "не больше " + std::to_string(maxBlocks) + " блоков по " +
                            std::to_string(h.blockSize / 1024) + " КБ";
  if (h.fileType == 0 || h.fileType == 2)
    throw DbError("Таблица " + quotedPath(file.path()) + " заполнена: в ней может быть " + limit + ", то есть " +
                  std::to_string(static_cast<long long>(maxBlocks) * capacity()) + " записей такой длины; запись не добавлена");
  throw DbError("Индексный файл " + quotedPath(file.path()) + " заполнен: в нём может быть " + limit +
                "; запись не добавлена");
}

int ChainFile::allocBlock() {
  if (h.freeHead != 0 && h.freeHead <= std::min(h.fileBlocks, maxBlocks)) {
    const int no = h.freeHead;
    char hdr[2];
    file.read(blockOffset(no), hdr, 2);
    const int next = rd16(hdr);
    h.freeHead = next <= h.fileBlocks ? next : 0;
    return no;
  }
  if (h.fileBlocks >= maxBlocks) full();
  const int no = ++h.fileBlocks;
  const std::string zero(static_cast<std::size_t>(h.blockSize), '\0');
  file.write(blockOffset(no), zero.data(), zero.size());
  return no;
}

void ChainFile::freeBlock(int no) {
  writeBlockHeader(no, h.freeHead, 0, 0);
  h.freeHead = no;
}

void ChainFile::setFirstKey(std::size_t ci, const std::string& block) {
  if (chain[ci].count > 0) chain[ci].firstKey.assign(block.data() + 6, static_cast<std::size_t>(keyWidth));
  else chain[ci].firstKey.clear();
}

int ChainFile::insertAt(std::size_t ci, int slot, const std::string& rec, const Moved& moved) {
  const int rs = h.recordSize;
  const auto urs = static_cast<std::size_t>(rs);
  if (chain.empty()) {
    const int no = allocBlock();
    std::string b(static_cast<std::size_t>(h.blockSize), '\0');
    std::memcpy(b.data() + 6, rec.data(), urs);
    file.write(blockOffset(no) + 6, b.data() + 6, urs);
    writeBlockHeader(no, 0, 0, 1);
    chain.push_back({static_cast<std::uint16_t>(no), 1, rec.substr(0, static_cast<std::size_t>(keyWidth))});
    ++records_;
    shapeChanged();
    tree_.inserted(0, no, 1, chain.back().firstKey);
    return no;
  }
  Block& blk = chain[ci];
  if (blk.count < capacity()) {
    std::string b = readBlock(blk.no);
    char* recs = b.data() + 6;
    std::memmove(recs + (slot + 1) * rs, recs + slot * rs, static_cast<std::size_t>((blk.count - slot) * rs));
    std::memcpy(recs + slot * rs, rec.data(), urs);
    ++blk.count;
    wr16(b.data() + 4, static_cast<std::uint16_t>(static_cast<std::int16_t>((blk.count - 1) * rs)));
    file.write(blockOffset(blk.no), b.data(), 6 + static_cast<std::size_t>(blk.count) * urs);
    if (slot == 0) setFirstKey(ci, b);
    countChanged(ci, 1);
    tree_.changed(blk.no, blk.count, blk.firstKey);
    return blk.no;
  }
  // Full block: a new block after it. At the very end it takes the new record
  // alone; elsewhere the block is split in the middle.
  const int oldNo = blk.no;
  std::string b = readBlock(oldNo);
  const int next = rd16(b.data());
  const int no = allocBlock();
  Block nb;
  nb.no = static_cast<std::uint16_t>(no);
  std::string nbuf(static_cast<std::size_t>(h.blockSize), '\0');
  int result;
  const bool atEnd = ci + 1 == chain.size() && slot == blk.count;
  std::vector<std::string> all;
  if (atEnd) {
    std::memcpy(nbuf.data() + 6, rec.data(), urs);
    nb.count = 1;
    result = no;
  } else {
    for (int i = 0; i < blk.count; ++i) all.emplace_back(b.data() + 6 + i * rs, urs);
    all.insert(all.begin() + slot, rec);
    const int keep = static_cast<int>(all.size()) / 2;
    std::memset(b.data() + 6, 0, b.size() - 6);
    for (int i = 0; i < keep; ++i) std::memcpy(b.data() + 6 + i * rs, all[static_cast<std::size_t>(i)].data(), urs);
    nb.count = static_cast<int>(all.size()) - keep;
    for (int i = 0; i < nb.count; ++i)
      std::memcpy(nbuf.data() + 6 + i * rs, all[static_cast<std::size_t>(keep + i)].data(), urs);
    blk.count = keep;
    result = slot < keep ? oldNo : no;
  }
  wr16(nbuf.data(), static_cast<std::uint16_t>(next));
  wr16(nbuf.data() + 2, static_cast<std::uint16_t>(oldNo));
  wr16(nbuf.data() + 4, static_cast<std::uint16_t>(static_cast<std::int16_t>((nb.count - 1) * rs)));
  file.write(blockOffset(no), nbuf.data(), nbuf.size());
  wr16(b.data(), static_cast<std::uint16_t>(no));
  wr16(b.data() + 4, static_cast<std::uint16_t>(static_cast<std::int16_t>((blk.count - 1) * rs)));
  file.write(blockOffset(oldNo), b.data(), b.size());
  if (next != 0) {
    char p2[2];
    wr16(p2, static_cast<std::uint16_t>(no));
    file.write(blockOffset(next) + 2, p2, 2);
  } else {
    h.lastBlock = no;
  }
  setFirstKey(ci, b);
  nb.firstKey.assign(nbuf.data() + 6, static_cast<std::size_t>(keyWidth));
  const int oldCount = blk.count;
  chain.insert(chain.begin() + static_cast<std::ptrdiff_t>(ci) + 1, std::move(nb));
  ++records_;
  if (atEnd) appended();
  else shapeChanged();
  tree_.changed(oldNo, oldCount, chain[ci].firstKey);
  tree_.inserted(oldNo, no, chain[ci + 1].count, chain[ci + 1].firstKey);
  if (!atEnd && moved) {
    const int keep = chain[ci].count;
    for (std::size_t i = static_cast<std::size_t>(keep); i < all.size(); ++i)
      if (!(static_cast<int>(i) == slot)) moved(all[i], no);
  }
  return result;
}

void ChainFile::removeAt(std::size_t ci, int slot) {
  const int rs = h.recordSize;
  Block& blk = chain[ci];
  std::string b = readBlock(blk.no);
  if (blk.count == 1) {
    const int next = rd16(b.data());
    const int prev = rd16(b.data() + 2);
    char p2[2];
    if (prev) {
      wr16(p2, static_cast<std::uint16_t>(next));
      file.write(blockOffset(prev), p2, 2);
    } else {
      h.firstBlock = next;
    }
    if (next) {
      wr16(p2, static_cast<std::uint16_t>(prev));
      file.write(blockOffset(next) + 2, p2, 2);
    } else {
      h.lastBlock = prev;
    }
    freeBlock(blk.no);
    tree_.removed(blk.no);
    chain.erase(chain.begin() + static_cast<std::ptrdiff_t>(ci));
    --records_;
    shapeChanged();
    return;
  }
  char* recs = b.data() + 6;
  std::memmove(recs + slot * rs, recs + (slot + 1) * rs, static_cast<std::size_t>((blk.count - slot - 1) * rs));
  std::memset(recs + (blk.count - 1) * rs, 0, static_cast<std::size_t>(rs));
  --blk.count;
  wr16(b.data() + 4, static_cast<std::uint16_t>(static_cast<std::int16_t>((blk.count - 1) * rs)));
  file.write(blockOffset(blk.no), b.data(), 6 + static_cast<std::size_t>(blk.count + 1) * static_cast<std::size_t>(rs));
  if (slot == 0) setFirstKey(ci, b);
  countChanged(ci, -1);
  tree_.changed(blk.no, blk.count, blk.firstKey);
}

void ChainFile::overwrite(std::size_t ci, int slot, const std::string& rec) {
  file.write(blockOffset(chain[ci].no) + 6 + static_cast<std::uint64_t>(slot) * static_cast<std::uint64_t>(h.recordSize),
             rec.data(), static_cast<std::size_t>(h.recordSize));
  if (slot == 0) {
    chain[ci].firstKey = rec.substr(0, static_cast<std::size_t>(keyWidth));
    tree_.changed(chain[ci].no, chain[ci].count, chain[ci].firstKey);
  }
}

void ChainFile::rebuild(const std::vector<std::string>& records) {
  const auto per = static_cast<std::size_t>(capacity());
  if ((records.size() + per - 1) / per > static_cast<std::size_t>(maxBlocks)) full();
  file.truncate(static_cast<std::uint64_t>(h.headerSize));
  h.fileBlocks = 0;
  h.freeHead = 0;
  chain.clear();
  const auto rs = static_cast<std::size_t>(h.recordSize);
  for (std::size_t i = 0; i < records.size(); i += per) {
    const std::size_t n = std::min(per, records.size() - i);
    const int no = ++h.fileBlocks;
    std::string b(static_cast<std::size_t>(h.blockSize), '\0');
    wr16(b.data(), static_cast<std::uint16_t>(i + n < records.size() ? no + 1 : 0));
    wr16(b.data() + 2, static_cast<std::uint16_t>(no - 1));
    wr16(b.data() + 4, static_cast<std::uint16_t>(static_cast<std::int16_t>((static_cast<int>(n) - 1) * h.recordSize)));
    for (std::size_t k = 0; k < n; ++k) std::memcpy(b.data() + 6 + k * rs, records[i + k].data(), rs);
    file.write(blockOffset(no), b.data(), b.size());
    chain.push_back({static_cast<std::uint16_t>(no), static_cast<int>(n), records[i].substr(0, static_cast<std::size_t>(keyWidth))});
  }
  records_ = records.size();
  fenOk_ = false;
  tree_.reset();  // the primary index over this file is built anew
  writeCounts();
}

void ChainFile::writeCounts() {
  if (chain.empty()) {
    h.firstBlock = 0;
    h.lastBlock = 0;
  } else {
    h.firstBlock = chain.front().no;
    h.lastBlock = chain.back().no;
  }
  h.numRecords = static_cast<std::uint32_t>(records_);
  h.nextBlock = static_cast<int>(chain.size());
  char buf[0x14] = {};
  wr32(buf + hNumRecords, h.numRecords);
  wr16(buf + hNextBlock, static_cast<std::uint16_t>(h.nextBlock));
  wr16(buf + hFileBlocks, static_cast<std::uint16_t>(h.fileBlocks));
  wr16(buf + hFirstBlock, static_cast<std::uint16_t>(h.firstBlock));
  wr16(buf + hLastBlock, static_cast<std::uint16_t>(h.lastBlock));
  char mb[2];
  wr16(mb, static_cast<std::uint16_t>(h.fileBlocks));
  char a[6];
  wr32(a, static_cast<std::uint32_t>(h.autoInc));
  wr16(a + 4, static_cast<std::uint16_t>(h.freeHead));
  // Only the pieces that changed since the last write go to disk (mostly
  // the record count alone).
  std::string now(buf + hNumRecords, 0x12 - hNumRecords);
  now.append(mb, 2);
  now.append(a, 6);
  if (now == countsWritten_) return;
  const bool known = countsWritten_.size() == now.size();
  auto changed = [&](std::size_t from, std::size_t n) {
    return !known || now.compare(from, n, countsWritten_, from, n) != 0;
  };
  if (changed(0, 4)) file.write(hNumRecords, buf + hNumRecords, 4);
  if (changed(4, 8)) file.write(hNextBlock, buf + hNextBlock, 0x12 - hNextBlock);
  if (changed(12, 2)) file.write(hMaxBlocks, mb, 2);
  if (changed(14, 6)) file.write(hAutoInc, a, 6);
  countsWritten_ = std::move(now);
}

std::vector<IndexTree::Entry> ChainFile::dataEntries() const {
  std::vector<IndexTree::Entry> out;
  out.reserve(chain.size());
  for (const Block& b : chain)
    if (b.count > 0) out.push_back({b.firstKey, b.no, b.count});
  return out;
}

std::string ChainFile::indexHeader(const Header* model) const {
  if (model) return model->raw;
  // Key fields of the index: the leading key fields of this file.
  NewHeaderSpec s;
  s.fileType = h.fileType == 0 ? 1 : 7;
  s.version = h.version;
  s.blockKb = h.blockSize / 1024;
  s.sortOrder = h.sortOrder;
  s.fields.assign(h.fields.begin(), h.fields.begin() + h.keyFields);
  return buildHeader(s);
}

void ChainFile::openIndex(const RawFile& index, const Header* model) {
  if (tree_.built()) return;
  const int entry = keyWidth + 6;
  const int per = (h.blockSize - 6) / entry;
  const auto blocks = dataEntries();
  // A model header of another block size or entry width is no model for
  // the blocks written now.
  const bool fits = model && model->blockSize == h.blockSize && model->recordSize == entry;
  if (fits && tree_.adopt(index, model->headerSize, h.blockSize, keyWidth, blocks, per)) {
    indexHeader_.assign(static_cast<std::size_t>(model->headerSize), '\0');
    index.read(0, indexHeader_.data(), indexHeader_.size());
    indexBlocksWritten_ = tree_.blocks();
  } else {
    tree_.build(blocks, per);
    indexHeader_.clear();
    indexBlocksWritten_ = -1;
  }
}

void ChainFile::writeIndex(RawFile& index, const Header* model) {
  openIndex(index, model);
  const int entry = keyWidth + 6;
  std::string hdr = indexHeader(model);
  const int headerSize = static_cast<int>(hdr.size());
  wr16(hdr.data() + hRecordSize, static_cast<std::uint16_t>(entry));
  wr32(hdr.data() + hNumRecords, tree_.entries());
  const int blocks = tree_.blocks();
  wr16(hdr.data() + hNextBlock, static_cast<std::uint16_t>(blocks));
  wr16(hdr.data() + hFileBlocks, static_cast<std::uint16_t>(blocks));
  wr16(hdr.data() + hFirstBlock, static_cast<std::uint16_t>(tree_.firstBlock()));
  wr16(hdr.data() + hLastBlock, static_cast<std::uint16_t>(tree_.lastBlock()));
  wr16(hdr.data() + hRoot, static_cast<std::uint16_t>(tree_.root()));
  hdr[hLevels] = static_cast<char>(tree_.levels());
  wr16(hdr.data() + hMaxBlocks, static_cast<std::uint16_t>(blocks));
  if (hdr != indexHeader_) index.write(0, hdr.data(), hdr.size());
  for (const auto& [no, bytes] : tree_.takeDirty(keyWidth, h.blockSize))
    index.write(static_cast<std::uint64_t>(headerSize) +
                    static_cast<std::uint64_t>(no - 1) * static_cast<std::uint64_t>(h.blockSize),
                bytes.data(), bytes.size());
  if (blocks != indexBlocksWritten_)
    index.truncate(static_cast<std::uint64_t>(headerSize) +
                   static_cast<std::uint64_t>(blocks) * static_cast<std::uint64_t>(h.blockSize));
  indexHeader_ = std::move(hdr);
  indexBlocksWritten_ = blocks;
}

}  // namespace storage::px
