// The Paradox backend: a .DB table with its primary index (.PX), secondary
// indexes (.Xnn/.Ynn, .XGn/.YGn), validity file (.VAL) and blob file (.MB).
// Changes go into the files in place: the block that holds the record, the
// header fields the engine owns, the index entries of the record, and the
// blocks of the primary index files that the change touches.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/os_reason.h"
#include "storage/error_text.h"
#include "storage/file_io.h"
#include "storage/paradox_file.h"

namespace storage {

namespace {

using namespace px;
namespace fs = std::filesystem;

// ----------------------------------------------------------------- codec

bool allZero(const char* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

std::uint64_t be(const char* p, int n) {
  std::uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}
void putBe(char* p, int n, std::uint64_t v) {
  for (int i = n - 1; i >= 0; --i) {
    p[i] = static_cast<char>(v & 0xFF);
    v >>= 8;
  }
}

double decodeDouble(const char* p) {
  std::uint64_t u = be(p, 8);
  if (u & (1ULL << 63)) u &= ~(1ULL << 63);
  else u = ~u;
  double d;
  std::memcpy(&d, &u, 8);
  return d;
}
void encodeDouble(char* p, double d) {
  std::uint64_t u;
  std::memcpy(&u, &d, 8);
  if (u & (1ULL << 63)) u = ~u;
  else u |= 1ULL << 63;
  if (u == 0) u = 1;  // never the empty pattern
  putBe(p, 8, u);
}

double decodeBcd(const char* p, int decimals) {
  const auto b0 = static_cast<unsigned char>(p[0]);
  const bool positive = (b0 & 0x80) != 0;
  int digits[32];
  for (int i = 0; i < 16; ++i) {
    unsigned char b = static_cast<unsigned char>(p[1 + i]);
    if (!positive) b = static_cast<unsigned char>(~b);
    digits[2 * i] = b >> 4;
    digits[2 * i + 1] = b & 0x0F;
  }
  decimals = std::clamp(decimals, 0, 32);
  // Only the leading significant digits are trustworthy.
  double v = 0;
  int significant = 0;
  for (int i = 0; i < 32; ++i) {
    int d = digits[i] > 9 ? 0 : digits[i];
    if (significant >= 17) d = 0;
    if (d != 0 || significant > 0) ++significant;
    v = v * 10 + d;
  }
  v /= std::pow(10.0, decimals);
  return positive ? v : -v;
}

// ----------------------------------------------------------------- .VAL

// Required flags as a validity file keeps them: a count of field checks at
// byte 2, checks from 0x35, each a 28-byte entry (field index from 0, picture
// size, required flag, lookup flags, six value pointers) followed by the values
// present.
std::vector<bool> readRequired(const std::string& d, const Header& db) {
  std::vector<bool> req(db.fields.size(), false);
  if (d.size() < 0x35) return req;
  const int checks = static_cast<unsigned char>(d[2]);
  std::size_t p = 0x35;
  for (int i = 0; i < checks; ++i) {
    if (p + 28 > d.size()) break;
    const int field = static_cast<unsigned char>(d[p]);
    const int picSize = static_cast<unsigned char>(d[p + 1]);
    if (field < static_cast<int>(req.size()) && d[p + 2] == 1) req[static_cast<std::size_t>(field)] = true;
    const std::uint32_t lookup = rd32(d.data() + p + 4), internal = rd32(d.data() + p + 8);
    if (lookup || internal || field >= static_cast<int>(req.size())) break;  // layout unknown past here
    std::size_t next = p + 28;
    const int width = db.fields[static_cast<std::size_t>(field)].width;
    for (int k = 0; k < 3; ++k)
      if (rd32(d.data() + p + 12 + 4 * k)) next += static_cast<std::size_t>(width);
    if (rd32(d.data() + p + 24)) next += static_cast<std::size_t>(picSize);
    p = next;
  }
  return req;
}

void writeVal(const std::string& path, const Header& db, const std::vector<FieldDef>& defs,
              const std::string& tableName) {
  std::vector<int> required;
  for (std::size_t i = 0; i < defs.size(); ++i)
    if (defs[i].required) required.push_back(static_cast<int>(i));
  if (required.empty()) return;
  std::string d(0x35, '\0');
  d[1] = static_cast<char>(db.version);
  d[2] = static_cast<char>(required.size());
  for (int f : required) {
    std::string e(28, '\0');
    e[0] = static_cast<char>(f);
    e[2] = 1;
    d += e;
  }
  const std::size_t footer = d.size();
  wr32(d.data() + 0x0D, static_cast<std::uint32_t>(footer));
  wr32(d.data() + 0x09, static_cast<std::uint32_t>(footer));
  std::string f;
  auto put16 = [&](int v) { f.push_back(static_cast<char>(v & 0xFF)); f.push_back(static_cast<char>((v >> 8) & 0xFF)); };
  put16(static_cast<int>(db.fields.size()));
  put16(1);
  put16(0);
  for (std::size_t i = 0; i < db.fields.size(); ++i) put16(static_cast<int>(i + 1));
  for (const PxField& x : db.fields) {
    f.push_back(static_cast<char>(x.type));
    f.push_back(static_cast<char>(x.sizeByte));
  }
  std::string name = tableName.substr(0, 78);
  name.resize(79, '\0');
  f += name;
  for (const PxField& x : db.fields) {
    f += x.name;
    f.push_back('\0');
  }
  d += f;
  fileio::writeNewFile(path, d);
}

// ----------------------------------------------------------------- names

std::string withExt(const std::string& path, const std::string& ext) {
  fs::path p(path);
  p.replace_extension(ext);
  return p.string();
}

// The existing file for `path` with extension `ext`, matched ignoring case.
std::optional<std::string> findCompanion(const std::string& path, const std::string& ext) {
  auto c = companionFiles(path, {ext});
  if (c.empty()) return std::nullopt;
  return c.front();
}

std::string upperAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(upper1251(static_cast<unsigned char>(c)));
  return s;
}

std::string fileName(const std::string& path) { return fs::path(path).filename().string(); }

// True when the file holds every block its header counts: a file cut short
// would read as blank records and take writes past its end.
bool holdsItsBlocks(const RawFile& f, const Header& h) {
  return f.size() >= static_cast<std::uint64_t>(h.headerSize) +
                         static_cast<std::uint64_t>(h.fileBlocks) * static_cast<std::uint64_t>(h.blockSize);
}

std::string overIndexLimit(const std::string& path, const Header& h) {
  return "в файле " + fileName(path) + " " + std::to_string(h.fileBlocks) +
         " блоков, а его первичный индекс может указать не больше " + std::to_string(ChainFile::kMaxIndexedBlocks);
}

// True when an index header (.PX over a table, .Y over an .X) describes the
// key fields of `data`: the same number of fields, of the same types and
// widths. An index of another table does not.
bool indexesKeyOf(const Header& index, const Header& data) {
  if (index.numFields != data.keyFields) return false;
  for (int i = 0; i < data.keyFields; ++i) {
    const PxField& a = index.fields[static_cast<std::size_t>(i)];
    const PxField& b = data.fields[static_cast<std::size_t>(i)];
    if (a.type != b.type || a.width != b.width) return false;
  }
  return true;
}

// Why the block chain of an index file does not hold what its header says
// (the first change would load it and fail, and every change after it);
// empty when it does.
std::string brokenChain(const std::string& path, const Header& h) {
  try {
    ChainFile walk;
    walk.file = RawFile(path, false);
    walk.h = h;
    walk.load(nullptr);
  } catch (const DbError& e) {
    const std::string what = e.what(), after = "повреждён: ";
    const std::size_t at = what.find(after);
    return "индексный файл " + quotedPath(fileName(path)) + " повреждён" +
           (at == std::string::npos ? std::string() : ": " + what.substr(at + after.size()));
  }
  return {};
}

// A primary index is rebuilt over its data in the data's block size; a model
// header taken from the file must say that size, or readers would walk the
// index in blocks of another size.
void takeBlockSize(Header& model, const Header& data) {
  model.blockSize = data.blockSize;
  model.raw[hBlockKb] = static_cast<char>(data.blockSize / 1024);
}


// ----------------------------------------------------------------- backend

struct Secondary {
  IndexDef def;
  std::vector<int> dbFields;  // the indexed DB fields
  bool caseInsensitive = false;
  std::string xPath, yPath;
  ChainFile x;
  Header yModel;
  bool hasYModel = false;
  std::optional<RawFile> yFile;
  bool loaded = false;
};

class ParadoxBackend final : public Backend {
 public:
  explicit ParadoxBackend(const std::string& path);

  const std::vector<FieldDef>& fields() const override { return defs_; }
  const std::vector<IndexDef>& indexes() const override { return indexDefs_; }
  int keyFieldCount() const override { return db_.h.fileType == 0 ? db_.h.keyFields : 0; }
  std::size_t recordSize() const override { return static_cast<std::size_t>(db_.h.recordSize); }
  bool readOnly() const override { return !reason_.empty(); }
  std::string readOnlyReason() const override { return reason_; }

  std::vector<std::string> readAll() override;
  std::string blankRecord() const override { return std::string(recordSize(), '\0'); }
  Value get(std::string_view rec, int field) const override;
  void set(std::string& rec, int field, const Value& v) const override;
  int compare(std::string_view a, std::string_view b, int field, bool caseInsensitive) const override;
  std::string sortKey(std::string_view rec, const std::vector<int>& fields,
                      const std::vector<bool>& caseInsensitive) const override;
  void completeNew(std::string& rec) override;
  void insert(std::size_t pos, std::string& rec) override;
  void update(std::size_t pos, const std::string& old, std::string& rec) override;
  void remove(std::size_t pos, const std::string& old) override;
  void close() override;

 private:
  void checkWritable() const;
  std::string disagreement(const Secondary& s, const Header& xh, bool whole) const;
  void raiseAutoInc(const std::string& rec);
  std::string entryFor(const Secondary& s, const std::string& rec, int block) const;
  void loadSecondary(Secondary& s);
  void rebuildSecondary(Secondary& s);
  bool indexChanged(const Secondary& s, const std::string& old, const std::string& rec) const;
  void indexInsert(const std::string& rec, int block);
  void indexRemove(const std::string& rec);
  void setBlockHint(const std::string& rec, int block);
  void finishChange(bool chainChanged);
  void openIndexes();
  void writeY(Secondary& s);
  std::string readBlob(const char* p, const PxField& f) const;

  std::string path_;
  ChainFile db_;
  std::optional<RawFile> pxFile_;
  std::optional<Header> pxModel_;
  std::optional<RawFile> mb_;
  std::vector<Secondary> sec_;
  std::vector<FieldDef> defs_;
  std::vector<IndexDef> indexDefs_;
  std::string reason_;
  int autoField_ = -1;
};

ParadoxBackend::ParadoxBackend(const std::string& path) : path_(path) {
  bool writable = true;
  try {
    db_.file = RawFile(path, true);
  } catch (const DbError&) {
    const int err = ::access(path.c_str(), W_OK) != 0 ? errno : EACCES;
    db_.file = RawFile(path, false);
    writable = false;
    reason_ = "файл недоступен для записи (" + osReason(err) + ")";
  }
  db_.h = readHeader(db_.file);
  const Header& h = db_.h;
  if (h.fileType != 0 && h.fileType != 2) throw DbError("Файл " + quotedPath(path) + " не является таблицей Paradox");
  if (h.encrypted) throw DbError("Таблица " + quotedPath(path) + " зашифрована; зашифрованные таблицы Paradox не поддерживаются");
  // Every check below may make the table read-only; the first reason found
  // is the one given.
  auto refuse = [this](const std::string& why) {
    if (reason_.empty()) reason_ = why;
  };
  if (!holdsItsBlocks(db_.file, h))
    refuse("файл таблицы " + fileName(path) + " обрезан: в нём меньше блоков, чем указано в его заголовке");
  for (int i = 0; i < h.keyFields; ++i) db_.keyWidth += h.fields[static_cast<std::size_t>(i)].width;
  if (h.fileType == 2) db_.h.keyFields = 0, db_.keyWidth = 0;
  // Past the blocks its primary index can name, an index over the file
  // would point wrong: such a file (an earlier version wrote them) is only
  // read.
  if (db_.h.keyFields > 0) {
    db_.maxBlocks = ChainFile::kMaxIndexedBlocks;
    if (h.fileBlocks > db_.maxBlocks) refuse(overIndexLimit(path, h));
  }
  db_.caseInsensitive.assign(static_cast<std::size_t>(h.numFields), false);

  std::vector<bool> req(h.fields.size(), false);
  if (const auto val = findCompanion(path, "VAL")) {
    try {
      req = readRequired(fileio::readWhole(*val), h);
    } catch (const DbError&) {
      // Without its rules a change could store what they forbid.
      refuse("файл правил проверки полей " + fileName(*val) + " недоступен для чтения");
    }
  }
  for (std::size_t i = 0; i < h.fields.size(); ++i) {
    const PxField& f = h.fields[i];
    FieldDef d;
    d.name = f.name;
    d.type = fieldType(f.type);
    d.size = (f.type == tAlpha || f.type == tBytes) ? f.width
             : (f.type == tMemo || f.type == tBlob || f.type == tFmtMemo || f.type == tOle || f.type == tGraphic) ? f.width - 10
             : f.type == tBcd ? f.sizeByte : 0;
    d.required = req[i];
    if (f.type == tAutoInc && autoField_ < 0) autoField_ = static_cast<int>(i);
    defs_.push_back(d);
  }
  if (db_.h.keyFields > 0) {
    IndexDef pk;
    for (int i = 0; i < db_.h.keyFields; ++i) pk.fields += (i ? ";" : "") + h.fields[static_cast<std::size_t>(i)].name;
    pk.options = ixPrimary | ixUnique;
    indexDefs_.push_back(pk);
    if (auto p = findCompanion(path, "PX")) {
      // The records stay readable without the index; they cannot change.
      try {
        pxFile_.emplace(*p, writable);
      } catch (const DbError&) {
        try {
          pxFile_.emplace(*p, false);
          refuse("файл первичного индекса " + fileName(*p) + " защищён от записи");
        } catch (const DbError&) {
          pxFile_.reset();
          refuse("файл первичного индекса " + fileName(*p) + " недоступен для чтения");
        }
      }
      try {
        if (pxFile_) pxModel_ = readHeader(*pxFile_);
      } catch (const DbError&) {
        pxModel_.reset();  // rebuilt from scratch on the next change
      }
      if (pxModel_ && (pxModel_->fileType != 1 || !indexesKeyOf(*pxModel_, h))) {
        refuse("первичный индекс " + fileName(*p) + " не соответствует таблице " + fileName(path) +
               ": его ключевые поля другие");
        pxModel_.reset();
      }
      if (pxModel_) takeBlockSize(*pxModel_, h);
    }
  }
  if (auto mb = findCompanion(path, "MB")) mb_.emplace(*mb, false);

  // Secondary indexes: .Xnn and .XGn files beside the table.
  for (const std::string& x : companionFiles(path, {"X##", "XG#"})) {
    Secondary s;
    s.xPath = x;
    const std::string ext = fs::path(x).extension().string();
    std::string yExt = ext;
    yExt[1] = ext[1] == 'x' ? 'y' : 'Y';
    const auto ys = companionFiles(path, {"Y" + ext.substr(2)});
    s.yPath = ys.empty() ? fs::path(x).replace_extension(yExt).string() : ys.front();
    Header xh;
    bool xWhole = true, opened = false;
    try {
      RawFile xf(x, false);
      opened = true;
      xh = readHeader(xf);
      if (xh.fileType != 3 && xh.fileType != 5 && xh.fileType != 6 && xh.fileType != 8)
        throw DbError("не индексный файл");
      xWhole = holdsItsBlocks(xf, xh);
    } catch (const DbError& e) {
      // The records stay readable; changing them would leave the index behind.
      if (reason_.empty())
        reason_ = "индексный файл " + quotedPath(fs::path(x).filename().string()) +
                  (opened ? std::string(" повреждён") : " недоступен (" + std::string(e.what()) + ")");
      continue;
    }
    const bool keyed = xh.fileType == 5 || xh.fileType == 8;
    if (keyed && xh.fileBlocks > ChainFile::kMaxIndexedBlocks) refuse(overIndexLimit(x, xh));
    const int extra = keyed ? db_.h.keyFields + 1 : 3;
    const int n = xh.numFields - extra;
    // An index file the engine cannot keep in agreement keeps the table
    // read-only, so that it is never left out of date behind a change.
    auto notMaintained = [&](const char* why) {
      if (reason_.empty()) reason_ = "программа не ведёт её индексный файл " + quotedPath(x) + " (" + why + ")";
    };
    if (n <= 0) {
      notMaintained("нет индексируемого поля");
      continue;
    }
    bool descending = (static_cast<unsigned char>(xh.raw[0x55]) & 0x10) != 0;
    for (int i = 0; i < n; ++i) {
      int dbField = -1;
      if (i < static_cast<int>(xh.fieldNumbers.size())) {
        const int num = xh.fieldNumbers[static_cast<std::size_t>(i)];
        if (num & 0x8000) descending = true;
        dbField = (num & 0x7FFF) - 1;
      }
      if (dbField < 0 || dbField >= h.numFields) {
        for (int k = 0; k < h.numFields; ++k)
          if (upperAscii(h.fields[static_cast<std::size_t>(k)].name) == upperAscii(xh.fields[static_cast<std::size_t>(i)].name))
            dbField = k;
      }
      if (dbField < 0 && i == 0 && xh.indexField > 0) dbField = xh.indexField - 1;
      if (dbField < 0 || dbField >= h.numFields) {
        dbField = -1;
        break;
      }
      s.dbFields.push_back(dbField);
    }
    if (static_cast<int>(s.dbFields.size()) != n) {
      notMaintained("его поля не принадлежат таблице");
      continue;
    }
    if (descending) notMaintained("порядок по убыванию");
    if (keyed) {
      if (const std::string why = disagreement(s, xh, xWhole); !why.empty())
        refuse("индекс " + fileName(x) + " не соответствует таблице " + fileName(path) + ": " + why);
      if (writable && reason_.empty()) refuse(brokenChain(x, xh));
      if (writable) {
        for (const std::string& f : {x, s.yPath}) {
          std::error_code ec;
          if (f == s.yPath && !fs::exists(f, ec)) continue;
          try {
            RawFile probe(f, true);
          } catch (const DbError&) {
            refuse("индексный файл " + fileName(f) + " защищён от записи");
          }
        }
      }
      try {
        RawFile yf(s.yPath, false);
        s.yModel = readHeader(yf);
        s.hasYModel = true;
      } catch (const DbError&) {
        s.hasYModel = false;  // missing or unreadable: built anew on the first change
      }
      if (s.hasYModel && ((s.yModel.fileType != 4 && s.yModel.fileType != 7) || !indexesKeyOf(s.yModel, xh))) {
        refuse("индексный файл " + fileName(s.yPath) + " не соответствует индексу " + fileName(x));
        s.hasYModel = false;
      }
      if (s.hasYModel) takeBlockSize(s.yModel, xh);
    }
    const bool g = upperAscii(ext).rfind(".XG", 0) == 0;
    s.caseInsensitive = g;
    for (int i = 0; i < n; ++i)
      s.def.fields += (i ? ";" : "") + h.fields[static_cast<std::size_t>(s.dbFields[static_cast<std::size_t>(i)])].name;
    s.def.name = g ? xh.indexName : h.fields[static_cast<std::size_t>(s.dbFields[0])].name;
    s.def.options = (g ? ixCaseInsensitive : 0u) | (descending ? ixDescending : 0u);
    if (!keyed && writable && reason_.empty())
      reason_ = "вторичные индексы таблицы без первичного ключа не поддерживаются в актуальном состоянии";
    indexDefs_.push_back(s.def);
    sec_.push_back(std::move(s));
  }
  refuse(fileio::folderRefusal(path));
}

std::vector<std::string> ParadoxBackend::readAll() {
  std::vector<std::string> out;
  // The header's count is not trusted for memory: the chain walk checks it.
  out.reserve(std::min<std::uint64_t>(db_.h.numRecords, db_.file.size() / recordSize() + 1));
  db_.load(&out);
  // A counter below a stored value would hand that value out again.
  if (autoField_ >= 0)
    for (const std::string& r : out) raiseAutoInc(r);
  return out;
}

std::string ParadoxBackend::readBlob(const char* p, const PxField& f) const {
  const int leader = f.width - 10;
  const char* tail = p + leader;
  const std::uint32_t pos = rd32(tail);
  const std::uint32_t len = rd32(tail + 4);
  if (len == 0) return {};
  if (pos == 0 || len <= static_cast<std::uint32_t>(leader)) {
    return std::string(p, std::min<std::size_t>(len, static_cast<std::size_t>(leader)));
  }
  if (!mb_) throw DbError("Нет файла BLOB-полей таблицы " + quotedPath(path_));
  const std::uint64_t mbSize = mb_->size();
  if (len > (1u << 30) || len > mbSize) throw DbError("Файл BLOB-полей таблицы " + quotedPath(path_) + " повреждён");
  const std::uint32_t index = pos & 0xFF;
  const std::uint64_t off = pos & 0xFFFFFF00u;
  char hdr[12];
  mb_->read(off, hdr, sizeof hdr);
  std::uint64_t dataAt;
  if (index == 0xFF) {
    if (hdr[0] != 2) throw DbError("Файл BLOB-полей таблицы " + quotedPath(path_) + " повреждён");
    dataAt = off + 9;
  } else {
    if (hdr[0] != 3 || index > 63) throw DbError("Файл BLOB-полей таблицы " + quotedPath(path_) + " повреждён");
    char slot[5];
    mb_->read(off + 12 + 5 * index, slot, 5);
    dataAt = off + 16u * static_cast<unsigned char>(slot[0]);
  }
  if (dataAt + len > mbSize) throw DbError("Файл BLOB-полей таблицы " + quotedPath(path_) + " повреждён");
  std::string s(len, '\0');
  mb_->read(dataAt, s.data(), s.size());
  if (f.type == tGraphic && s.size() >= 8) s.erase(0, 8);
  return s;
}

Value ParadoxBackend::get(std::string_view rec, int field) const {
  const PxField& f = db_.h.fields.at(static_cast<std::size_t>(field));
  if (rec.size() < static_cast<std::size_t>(f.offset + f.width)) throw DbError("Запись короче поля");
  const char* p = rec.data() + f.offset;
  switch (f.type) {
    case tAlpha: {
      const std::size_t n = strnlen(p, static_cast<std::size_t>(f.width));
      if (n == 0) return Value::null();
      return Value::text(std::string(p, n));
    }
    case tShort:
      if (allZero(p, 2)) return Value::null();
      return Value::integer(static_cast<std::int16_t>(static_cast<std::uint16_t>(be(p, 2) ^ 0x8000u)));
    case tLong: case tAutoInc: case tDate: case tTime:
      if (allZero(p, 4)) return Value::null();
      return Value::integer(static_cast<std::int32_t>(static_cast<std::uint32_t>(be(p, 4) ^ 0x80000000u)));
    case tNumber: case tMoney:
      if (allZero(p, 8)) return Value::null();
      return Value::real(decodeDouble(p));
    case tTimestamp: {
      // Milliseconds since day 0; a NaN or infinite pattern is no moment.
      if (allZero(p, 8)) return Value::null();
      const double ms = decodeDouble(p);
      return std::isfinite(ms) ? Value::real(ms) : Value::null();
    }
    case tLogical:
      if (p[0] == 0) return Value::null();
      return Value::integer(static_cast<unsigned char>(p[0]) == 0x80 ? 0 : 1);
    case tBcd:
      if ((static_cast<unsigned char>(p[0]) & 0x40) == 0) return Value::null();
      return Value::real(decodeBcd(p, f.sizeByte));
    case tBytes:
      if (allZero(p, f.width)) return Value::null();
      return Value::text(std::string(p, static_cast<std::size_t>(f.width)));
    default: {  // blobs
      if (allZero(p, f.width)) return Value::null();
      return Value::text(readBlob(p, f));
    }
  }
}

void ParadoxBackend::set(std::string& rec, int field, const Value& v) const {
  const PxField& f = db_.h.fields.at(static_cast<std::size_t>(field));
  char* p = rec.data() + f.offset;
  const std::string& name = f.name;
  if (v.isNull()) {
    std::memset(p, 0, static_cast<std::size_t>(f.width));
    return;
  }
  auto wrongKind = [&]() -> DbError { return DbError("Поле " + quotedText(name) + ": значение неподходящего типа"); };
  switch (f.type) {
    case tAlpha: {
      if (v.kind != Value::Kind::Text) throw wrongKind();
      std::memset(p, 0, static_cast<std::size_t>(f.width));
      const std::size_t n = std::min(v.s.size(), static_cast<std::size_t>(f.width));
      std::memcpy(p, v.s.data(), n);
      // A text of NUL bytes only would read back as empty: the same as empty.
      return;
    }
    case tShort:
    case tLong: case tAutoInc: case tDate: case tTime: {
      long long i;
      if (v.kind == Value::Kind::Integer) i = v.i;
      else if (v.kind == Value::Kind::Float && std::fabs(v.f) < 4e9) i = std::llround(v.f);  // NaN fails too
      else throw wrongKind();
      if (f.type == tShort) {
        if (i < -32767 || i > 32767) throw DbError("Поле " + quotedText(name) + ": значение " + std::to_string(i) + " вне допустимого диапазона");
        putBe(p, 2, static_cast<std::uint16_t>(static_cast<std::uint16_t>(i) ^ 0x8000u));
      } else {
        if (i < -2147483647LL || i > 2147483647LL) throw DbError("Поле " + quotedText(name) + ": значение " + std::to_string(i) + " вне допустимого диапазона");
        putBe(p, 4, static_cast<std::uint32_t>(static_cast<std::uint32_t>(i) ^ 0x80000000u));
      }
      return;
    }
    case tNumber: case tMoney: case tTimestamp: {
      double d;
      if (v.kind == Value::Kind::Float) d = v.f;
      else if (v.kind == Value::Kind::Integer) d = static_cast<double>(v.i);
      else throw wrongKind();
      if (!std::isfinite(d)) throw DbError("Поле " + quotedText(name) + ": значение вне допустимого диапазона");
      encodeDouble(p, d);
      return;
    }
    case tLogical:
      if (v.kind != Value::Kind::Integer) throw wrongKind();
      p[0] = static_cast<char>(v.i ? 0x81 : 0x80);
      return;
    case tBytes: {
      if (v.kind != Value::Kind::Text) throw wrongKind();
      std::memset(p, 0, static_cast<std::size_t>(f.width));
      std::memcpy(p, v.s.data(), std::min(v.s.size(), static_cast<std::size_t>(f.width)));
      return;
    }
    default:
      throw DbError("Поле " + quotedText(name) + " не может быть изменено этой программой");
  }
}

int ParadoxBackend::compare(std::string_view a, std::string_view b, int field, bool ci) const {
  const PxField& f = db_.h.fields.at(static_cast<std::size_t>(field));
  if (f.type == tMemo || f.type == tBlob || f.type == tFmtMemo || f.type == tOle || f.type == tGraphic)
    return Backend::compare(a, b, field, ci);
  return compareField(f, a.data() + f.offset, b.data() + f.offset, ci);
}

std::string ParadoxBackend::sortKey(std::string_view rec, const std::vector<int>& fields,
                                   const std::vector<bool>& caseInsensitive) const {
  std::string key;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const PxField& f = db_.h.fields.at(static_cast<std::size_t>(fields[i]));
    if (f.type == tMemo || f.type == tBlob || f.type == tFmtMemo || f.type == tOle || f.type == tGraphic)
      return {};  // ordered by their decoded value
    const char* p = rec.data() + f.offset;
    if (f.type == tAlpha && i < caseInsensitive.size() && caseInsensitive[i]) {
      // Two bytes of weight a character; the NUL padding weighs nothing.
      for (int k = 0; k < f.width; ++k) {
        const int w = p[k] ? weight1251(static_cast<unsigned char>(p[k])) : 0;
        key.push_back(static_cast<char>(w >> 8));
        key.push_back(static_cast<char>(w & 0xFF));
      }
      // Nothing after the first NUL counts.
      const std::size_t n = strnlen(p, static_cast<std::size_t>(f.width));
      std::fill(key.end() - 2 * (f.width - static_cast<int>(n)), key.end(), '\0');
    } else if (f.type == tAlpha) {
      const std::size_t n = strnlen(p, static_cast<std::size_t>(f.width));
      key.append(p, n);
      key.append(static_cast<std::size_t>(f.width) - n, '\0');
    } else {
      key.append(p, static_cast<std::size_t>(f.width));
    }
  }
  return key;
}

// What keeps a secondary index file (header xh, whole in its file or not)
// from being the index of this table; empty when it agrees. Its entries are
// the indexed fields, the primary key and a block number, one per record.
std::string ParadoxBackend::disagreement(const Secondary& s, const Header& xh, bool whole) const {
  const Header& h = db_.h;
  std::vector<const PxField*> want;
  for (int f : s.dbFields) want.push_back(&h.fields[static_cast<std::size_t>(f)]);
  for (int i = 0; i < h.keyFields; ++i) want.push_back(&h.fields[static_cast<std::size_t>(i)]);
  bool same = xh.fields.size() == want.size() + 1 && xh.keyFields == static_cast<int>(want.size()) &&
              xh.fields.back().type == tShort;
  for (std::size_t i = 0; same && i < want.size(); ++i)
    same = xh.fields[i].type == want[i]->type && xh.fields[i].width == want[i]->width;
  if (!same) return "его поля не совпадают с полями таблицы";
  if (!whole) return "файл обрезан: в нём меньше блоков, чем указано в его заголовке";
  // Fewer entries than records is an index left behind its data, which the
  // first change builds again; more is an index of another table.
  if (xh.numRecords > h.numRecords)
    return "в индексе " + std::to_string(xh.numRecords) + " записей, в таблице " + std::to_string(h.numRecords);
  return {};
}

void ParadoxBackend::checkWritable() const {
  if (!reason_.empty()) throw DbError("Таблица " + quotedPath(path_) + " открыта только для чтения: " + reason_);
}

void ParadoxBackend::completeNew(std::string& rec) {
  if (autoField_ < 0) return;
  if (get(rec, autoField_).isNull()) {
    if (db_.h.autoInc >= 2147483647) throw DbError("Счётчик автоинкремента таблицы " + quotedPath(path_) + " исчерпан");
    set(rec, autoField_, Value::integer(static_cast<long long>(db_.h.autoInc) + 1));
  }
}

void ParadoxBackend::raiseAutoInc(const std::string& rec) {
  if (autoField_ < 0) return;
  const Value v = get(rec, autoField_);
  if (!v.isNull() && v.i > db_.h.autoInc) db_.h.autoInc = static_cast<std::int32_t>(v.i);
}

std::string ParadoxBackend::entryFor(const Secondary& s, const std::string& rec, int block) const {
  std::string e;
  e.reserve(static_cast<std::size_t>(s.x.h.recordSize));
  for (int f : s.dbFields) {
    const PxField& pf = db_.h.fields[static_cast<std::size_t>(f)];
    e.append(rec, static_cast<std::size_t>(pf.offset), static_cast<std::size_t>(pf.width));
  }
  for (int i = 0; i < db_.h.keyFields; ++i) {
    const PxField& pf = db_.h.fields[static_cast<std::size_t>(i)];
    e.append(rec, static_cast<std::size_t>(pf.offset), static_cast<std::size_t>(pf.width));
  }
  char b[2];
  putBe(b, 2, static_cast<std::uint16_t>(static_cast<std::uint16_t>(block) ^ 0x8000u));
  e.append(b, 2);
  return e;
}

void ParadoxBackend::loadSecondary(Secondary& s) {
  if (s.loaded) return;
  s.x.file = RawFile(s.xPath, true);
  s.x.h = readHeader(s.x.file);
  if (s.x.h.recordSize != static_cast<int>(entryFor(s, blankRecord(), 0).size()))
    throw DbError("Индексный файл " + quotedPath(s.xPath) + " повреждён");
  s.x.keyWidth = 0;
  for (int i = 0; i < s.x.h.keyFields; ++i) s.x.keyWidth += s.x.h.fields[static_cast<std::size_t>(i)].width;
  s.x.caseInsensitive.assign(static_cast<std::size_t>(s.x.h.numFields), false);
  s.x.maxBlocks = ChainFile::kMaxIndexedBlocks;
  for (std::size_t i = 0; i < s.dbFields.size(); ++i) s.x.caseInsensitive[i] = s.caseInsensitive;
  s.x.load(nullptr);
  // An index left behind its data (by a program stopped in the middle of a
  // change) is built again from the data rather than refusing every edit.
  if (s.x.total() != db_.total()) rebuildSecondary(s);
  std::error_code ec;
  if (!fs::exists(s.yPath, ec)) fileio::writeNewFile(s.yPath, {});
  s.yFile.emplace(s.yPath, true);
  s.x.openIndex(*s.yFile, s.hasYModel ? &s.yModel : nullptr);
  s.loaded = true;
}

void ParadoxBackend::rebuildSecondary(Secondary& s) {
  std::vector<std::string> entries;
  entries.reserve(db_.total());
  const int rs = db_.h.recordSize;
  for (const ChainFile::Block& b : db_.chain) {
    const std::string block = db_.readBlock(b.no);
    for (int i = 0; i < b.count; ++i)
      entries.push_back(entryFor(s, block.substr(6 + static_cast<std::size_t>(i * rs), static_cast<std::size_t>(rs)), b.no));
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [&](const std::string& a, const std::string& b) { return s.x.compareKey(a.data(), b.data()) < 0; });
  s.x.rebuild(entries);
}

bool ParadoxBackend::indexChanged(const Secondary& s, const std::string& old, const std::string& rec) const {
  for (int f : s.dbFields)
    if (compare(old, rec, f, false) != 0) return true;
  return false;
}

void ParadoxBackend::indexInsert(const std::string& rec, int block) {
  for (Secondary& s : sec_) {
    loadSecondary(s);
    const std::string e = entryFor(s, rec, block);
    const auto [ci, slot] = s.x.upperBound(e);
    s.x.insertAt(ci, slot, e, nullptr);
  }
}

void ParadoxBackend::indexRemove(const std::string& rec) {
  for (Secondary& s : sec_) {
    loadSecondary(s);
    const std::string e = entryFor(s, rec, 0);
    std::size_t ci;
    int slot;
    if (!s.x.find(e, ci, slot)) {
      rebuildSecondary(s);  // behind its data: the data still holds the record
      if (!s.x.find(e, ci, slot)) throw DbError("Индекс " + quotedPath(s.xPath) + " устарел; перестройте его");
    }
    s.x.removeAt(ci, slot);
  }
}

void ParadoxBackend::setBlockHint(const std::string& rec, int block) {
  for (Secondary& s : sec_) {
    loadSecondary(s);
    const std::string e = entryFor(s, rec, block);
    std::size_t ci;
    int slot;
    if (s.x.find(e, ci, slot)) s.x.overwrite(ci, slot, e);
  }
}

void ParadoxBackend::writeY(Secondary& s) {
  if (!s.yFile) s.yFile.emplace(s.yPath, true);
  s.x.writeIndex(*s.yFile, s.hasYModel ? &s.yModel : nullptr);
}

void ParadoxBackend::finishChange(bool chainChanged) {
  db_.writeCounts();
  if (db_.h.keyFields > 0 && chainChanged) {
    if (!pxFile_) {
      const std::string p = withExt(path_, ".PX");
      fileio::writeNewFile(p, {});
      pxFile_.emplace(p, true);
    }
    db_.writeIndex(*pxFile_, pxModel_ ? &*pxModel_ : nullptr);
  }
  for (Secondary& s : sec_) {
    if (!s.loaded) continue;
    s.x.writeCounts();
    writeY(s);
  }
}

void ParadoxBackend::openIndexes() {
  if (db_.h.keyFields > 0 && pxFile_) db_.openIndex(*pxFile_, pxModel_ ? &*pxModel_ : nullptr);
  for (Secondary& s : sec_) loadSecondary(s);
}

void ParadoxBackend::insert(std::size_t pos, std::string& rec) {
  checkWritable();
  openIndexes();
  completeNew(rec);
  const auto [ci, slot] = db_.locate(pos);
  for (Secondary& s : sec_) loadSecondary(s);
  const int block = db_.insertAt(ci, slot, rec, [this](const std::string& moved, int b) { setBlockHint(moved, b); });
  raiseAutoInc(rec);
  indexInsert(rec, block);
  finishChange(true);
}

void ParadoxBackend::update(std::size_t pos, const std::string& old, std::string& rec) {
  checkWritable();
  const auto [ci, slot] = db_.locate(pos);
  if (slot >= (ci < db_.chain.size() ? db_.chain[ci].count : 0)) throw DbError("Запись не найдена");
  for (Secondary& s : sec_)
    if (indexChanged(s, old, rec)) loadSecondary(s);  // read before the record changes
  db_.overwrite(ci, slot, rec);
  raiseAutoInc(rec);
  for (Secondary& s : sec_) {
    if (!indexChanged(s, old, rec)) continue;
    std::size_t xc;
    int xs;
    if (s.x.find(entryFor(s, old, 0), xc, xs)) {
      s.x.removeAt(xc, xs);
      const std::string e = entryFor(s, rec, db_.chain[ci].no);
      const auto [nc, ns] = s.x.upperBound(e);
      s.x.insertAt(nc, ns, e, nullptr);
    } else {
      rebuildSecondary(s);  // behind its data, which now holds the new record
    }
  }
  db_.writeCounts();
  for (Secondary& s : sec_) {
    if (!s.loaded || !indexChanged(s, old, rec)) continue;
    s.x.writeCounts();
    writeY(s);
  }
}

void ParadoxBackend::remove(std::size_t pos, const std::string& old) {
  checkWritable();
  const auto [ci, slot] = db_.locate(pos);
  if (ci >= db_.chain.size() || slot >= db_.chain[ci].count) throw DbError("Запись не найдена");
  openIndexes();
  indexRemove(old);
  db_.removeAt(ci, slot);
  finishChange(true);
}

void ParadoxBackend::close() {
  db_.file.close();
  pxFile_.reset();
  mb_.reset();
  for (Secondary& s : sec_) {
    s.x.file.close();
    s.yFile.reset();
  }
}

// ----------------------------------------------------------------- create

std::uint8_t pxType(const FieldDef& d, int& size) {
  switch (d.type) {
    case FieldType::String:
      if (d.size < 1 || d.size > 255) throw DbError("Недопустимый размер поля " + quotedText(d.name));
      size = d.size;
      return tAlpha;
    case FieldType::SmallInt: return tShort;
    case FieldType::Integer: case FieldType::Word: return tLong;
    case FieldType::AutoInc: return tAutoInc;
    case FieldType::Float: return tNumber;
    case FieldType::Currency: return tMoney;
    case FieldType::Date: return tDate;
    case FieldType::Time: return tTime;
    case FieldType::DateTime: return tTimestamp;
    case FieldType::Boolean: return tLogical;
    case FieldType::Bytes:
      if (d.size < 1 || d.size > 255) throw DbError("Недопустимый размер поля " + quotedText(d.name));
      size = d.size;
      return tBytes;
    default:
      throw DbError("Тип поля " + quotedText(d.name) + " не поддерживается в новой таблице");
  }
}

void createParadox(const std::string& path, const std::vector<FieldDef>& fields,
                   const std::vector<IndexDef>& indexes) {
  if (fields.empty()) throw DbError("В таблице должно быть хотя бы одно поле");
  if (fields.size() > 255) throw DbError("Слишком много полей");
  std::vector<PxField> pf;
  int offset = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldDef& d = fields[i];
    if (d.name.empty() || d.name.size() > 25) throw DbError("Недопустимое имя поля " + quotedText(d.name));
    for (std::size_t k = 0; k < i; ++k)
      if (compareTextNoCase(fields[k].name, d.name) == 0) throw DbError("Повторяющееся имя поля " + quotedText(d.name));
    PxField f;
    int size = 0;
    f.type = pxType(d, size);
    // The descriptor holds the width in bytes (BCD would hold its decimals).
    f.width = size ? size : fieldWidth(f.type, 0);
    f.sizeByte = static_cast<std::uint8_t>(f.width);
    f.offset = offset;
    f.name = d.name;
    offset += f.width;
    pf.push_back(f);
  }
  auto fieldIndex = [&](const std::string& n) {
    for (std::size_t i = 0; i < fields.size(); ++i)
      if (compareTextNoCase(fields[i].name, n) == 0) return static_cast<int>(i);
    throw DbError("Поле индекса " + quotedText(n) + " не является полем таблицы");
  };
  // The primary index: the leading fields of the table.
  int keyFields = 0;
  std::vector<const IndexDef*> secondary;
  for (const IndexDef& ix : indexes) {
    if (ix.options & ixPrimary) {
      const auto names = splitFieldList(ix.fields);
      for (std::size_t i = 0; i < names.size(); ++i)
        if (fieldIndex(names[i]) != static_cast<int>(i))
          throw DbError("Поля первичного индекса должны быть первыми полями таблицы");
      keyFields = static_cast<int>(names.size());
    } else {
      secondary.push_back(&ix);
    }
  }
  if (!secondary.empty() && keyFields == 0)
    throw DbError("Для вторичных индексов нужен первичный индекс");
  int blockKb = 4;
  while (blockKb < 32 && offset > blockKb * 1024 - 6) blockKb *= 2;
  if (offset > blockKb * 1024 - 6) throw DbError("Слишком длинная запись");
  const std::string table = fs::path(path).filename().string();

  NewHeaderSpec s;
  s.fileType = keyFields ? 0 : 2;
  s.blockKb = blockKb;
  s.tableName = table;
  s.fields = pf;
  for (std::size_t i = 0; i < pf.size(); ++i) s.fieldNumbers.push_back(static_cast<int>(i) + 1);
  s.keyFields = keyFields;
  const std::string dbHeader = buildHeader(s);
  // Remove stale companions of an earlier table of that name first.
  for (const std::string& c : companionFiles(path, {"PX", "X##", "Y##", "XG#", "YG#", "VAL", "MB"}))
    fs::remove(c);
  fileio::writeNewFile(path, dbHeader);

  if (keyFields) {
    NewHeaderSpec p;
    p.fileType = 1;
    p.blockKb = blockKb;
    p.tableName = fs::path(withExt(path, ".PX")).filename().string();
    p.fields.assign(pf.begin(), pf.begin() + keyFields);
    fileio::writeNewFile(withExt(path, ".PX"), buildHeader(p));
  }
  int g = 0;
  for (const IndexDef* ix : secondary) {
    if (g > 9) throw DbError("Слишком много вторичных индексов");
    const auto names = splitFieldList(ix->fields);
    NewHeaderSpec x;
    x.fileType = 8;
    x.blockKb = blockKb;
    x.indexName = ix->name;
    std::vector<PxField> xf;
    int off = 0;
    for (const std::string& n : names) {
      const int fi = fieldIndex(n);
      PxField f = pf[static_cast<std::size_t>(fi)];
      f.offset = off;
      off += f.width;
      xf.push_back(f);
      x.fieldNumbers.push_back((fi + 1) | ((ix->options & ixDescending) ? 0x8000 : 0));
    }
    for (int k = 0; k < keyFields; ++k) {
      PxField f = pf[static_cast<std::size_t>(k)];
      f.offset = off;
      off += f.width;
      xf.push_back(f);
    }
    PxField blk;
    blk.type = tShort;
    blk.width = 2;
    blk.sizeByte = 2;
    blk.offset = off;
    blk.name = "Blk Num";
    xf.push_back(blk);
    for (std::size_t k = names.size(); k < xf.size(); ++k) x.fieldNumbers.push_back(static_cast<int>(k) + 1);
    x.fields = xf;
    x.keyFields = static_cast<int>(xf.size()) - 1;
    x.indexField = fieldIndex(names[0]) + 1;
    const std::string xp = withExt(path, ".XG" + std::to_string(g));
    x.tableName = fs::path(xp).filename().string();
    fileio::writeNewFile(xp, buildHeader(x));
    NewHeaderSpec y;
    y.fileType = 7;
    y.blockKb = blockKb;
    y.fields.assign(xf.begin(), xf.end() - 1);
    const std::string yp = withExt(path, ".YG" + std::to_string(g));
    y.tableName = fs::path(yp).filename().string();
    fileio::writeNewFile(yp, buildHeader(y));
    ++g;
  }
  Header h;
  h.version = 0x0C;
  h.fields = pf;
  writeVal(withExt(path, ".VAL"), h, fields, table);
}

std::unique_ptr<Backend> openParadox(const std::string& path) {
  return std::make_unique<ParadoxBackend>(path);
}

std::vector<std::string> paradoxFiles(const std::string& path) {
  std::vector<std::string> r =
      companionFiles(path, {"PX", "X##", "Y##", "XG#", "YG#", "VAL", "MB", "TV", "FAM"});
  std::error_code ec;
  if (fs::exists(fs::symlink_status(path, ec))) r.insert(r.begin(), path);  // a link out of reach too
  return r;
}

}  // namespace

const Format& paradoxFormat() {
  static const Format f{openParadox, createParadox, paradoxFiles};
  return f;
}

}  // namespace storage
