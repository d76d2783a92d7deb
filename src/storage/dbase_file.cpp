#include "storage/dbase_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "storage/backend.h"
#include "storage/error_text.h"
#include "storage/file_io.h"

namespace storage::dbase {
namespace {

uint32_t le16(const char* p) { return uint32_t(uint8_t(p[0])) | uint32_t(uint8_t(p[1])) << 8; }
uint32_t le32(const char* p) { return le16(p) | le16(p + 2) << 16; }
uint32_t be16(const char* p) { return uint32_t(uint8_t(p[0])) << 8 | uint32_t(uint8_t(p[1])); }
uint32_t be32(const char* p) { return be16(p) << 16 | be16(p + 2); }
void putLe32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = char(v >> (8 * i));
}
void putBe32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = char(v >> (24 - 8 * i));
}

bool isVisualFoxPro(uint8_t v) { return v == 0x30 || v == 0x31 || v == 0x32; }

bool knownVersion(uint8_t v) {
  switch (v) {
    case 0x02: case 0x03: case 0x30: case 0x31: case 0x32: case 0x43: case 0x63:
    case 0x83: case 0x8B: case 0xCB: case 0xF5: case 0xFB:
      return true;
    default:
      return false;
  }
}

MemoFormat memoFormatOf(uint8_t v) {
  switch (v) {
    case 0x83: return MemoFormat::DBase3;
    case 0x8B: case 0xCB: return MemoFormat::DBase4;
    case 0xF5: case 0xFB: case 0x30: case 0x31: case 0x32: return MemoFormat::FoxPro;
    default: return MemoFormat::None;
  }
}

bool isMemoType(char t) { return t == 'M' || t == 'G' || t == 'P' || t == 'B'; }

// Blanks and NULs pad dBase values; one search each way, not a step per pad
// byte (wide character fields are mostly padding).
constexpr std::string_view kPad(" \0", 2);

std::string trimRight(std::string s) {
  const size_t last = s.find_last_not_of(kPad);
  s.resize(last == std::string::npos ? 0 : last + 1);
  return s;
}

std::string trim(std::string s) {
  s = trimRight(std::move(s));
  s.erase(0, std::min(s.find_first_not_of(kPad), s.size()));
  return s;
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

bool validDate(int y, int m, int d) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= days[m - 1] + (m == 2 && leap ? 1 : 0);
}

bool allDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string dateText(int y, int m, int d) {
  char b[48];
  std::snprintf(b, sizeof b, "%02d.%02d.%04d", d, m, y);
  return b;
}

// Julian day number to a calendar date (Visual FoxPro date-times).
void fromJulian(long jd, int& y, int& m, int& d) {
  long a = jd + 32044, b = (4 * a + 3) / 146097, c = a - 146097 * b / 4;
  long dd = (4 * c + 3) / 1461, e = c - 1461 * dd / 4, mm = (5 * e + 2) / 153;
  d = int(e - (153 * mm + 2) / 5 + 1);
  m = int(mm + 3 - 12 * (mm / 10));
  y = int(100 * b + dd - 4800 + mm / 10);
}

// Adds one unit at the last digit of a digit string; returns the carry.
bool incrementDigits(std::string& digits) {
  for (size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  return true;
}

// A decimal number in ASCII with exactly `decimals` places, rounded half away
// from zero; nothing when the text is not a number.
std::optional<std::string> formatNumber(const std::string& text, int decimals) {
  std::string t = trim(text);
  bool negative = false;
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  std::string intPart, fracPart;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') intPart += t[i++];
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') fracPart += t[i++];
  }
  if (i != t.size() || (intPart.empty() && fracPart.empty())) return std::nullopt;
  bool roundUp = fracPart.size() > size_t(decimals) && fracPart[size_t(decimals)] >= '5';
  fracPart.resize(size_t(decimals), '0');
  std::string digits = intPart + fracPart;
  if (digits.empty()) digits = "0";
  if (roundUp && incrementDigits(digits)) digits.insert(digits.begin(), '1');
  std::string ip = digits.substr(0, digits.size() - size_t(decimals));
  std::string fp = digits.substr(digits.size() - size_t(decimals));
  size_t nz = ip.find_first_not_of('0');
  ip = nz == std::string::npos ? "0" : ip.substr(nz);
  bool zero = ip == "0" && fp.find_first_not_of('0') == std::string::npos;
  std::string out = (negative && !zero ? "-" : "") + ip;
  if (decimals > 0) out += "." + fp;
  return out;
}

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

std::string fileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string baseNameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::vector<std::string> directoryEntries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

// ---------------------------------------------------------------- reading

std::unique_ptr<DbfFile> DbfFile::parse(std::string dbf, std::string memo, bool memoPresent) {
  std::unique_ptr<DbfFile> t(new DbfFile);
  t->data_ = std::move(dbf);
  t->memo_ = std::move(memo);
  t->memoPresent_ = memoPresent;
  t->parseHeader();
  return t;
}

void DbfFile::parseHeader() {
  const std::string file = path_.empty() ? std::string() : " " + quotedPath(path_);
  if (data_.size() < 32) throw DbError("Файл" + file + " не является таблицей dBase: он короче заголовка");
  const char* h = data_.data();
  version_ = uint8_t(h[0]);
  if (!knownVersion(version_)) {
    if (version_ == 0x04 || version_ == 0x8C)
      throw DbError("Таблица" + file + " в формате dBase уровня 7 не поддерживается");
    throw DbError("Файл" + file + " не является таблицей dBase: неизвестный байт версии " + std::to_string(version_));
  }
  headerCount_ = le32(h + 4);
  headerLength_ = le16(h + 8);
  recordLength_ = le16(h + 10);
  driver_ = uint8_t(h[29]);
  memoFormat_ = memoFormatOf(version_);
  if (headerLength_ < 33 || headerLength_ > data_.size())
    throw DbError("Таблица dBase" + file + " повреждена: длина заголовка " + std::to_string(headerLength_) +
                  " не соответствует файлу");
  if (recordLength_ < 1) throw DbError("Таблица dBase" + file + " повреждена: длина записи равна 0");
  codePage_ = CodePage(knownDriver(driver_) ? codePageOfDriver(driver_) : 0);

  // Field descriptors, 32 bytes each, up to the 0x0D terminator.
  std::vector<std::pair<int, int>> widths;  // (dBase width, width with the Clipper high byte)
  for (uint32_t pos = 32; pos + 32 <= headerLength_ && h[pos] != 0x0D; pos += 32) {
    const char* d = h + pos;
    FieldInfo f;
    size_t n = 0;
    while (n < 11 && d[n] != 0) ++n;
    f.name = codePage_.toAnsi(std::string(d, n));
    f.type = d[11];
    f.width = uint8_t(d[16]);
    f.decimals = uint8_t(d[17]);
    if (f.name.empty()) throw DbError("Таблица dBase" + file + " повреждена: поле без имени");
    widths.emplace_back(f.width, f.type == 'C' ? f.width + 256 * f.decimals : f.width);
    fields_.push_back(std::move(f));
  }
  if (fields_.empty()) throw DbError("Таблица dBase" + file + " повреждена: нет полей");
  long sum = 1, sumClipper = 1;
  for (auto [w, wc] : widths) sum += w, sumClipper += wc;
  const bool clipper = sum != long(recordLength_) && sumClipper == long(recordLength_);
  int offset = 1;
  for (size_t i = 0; i < fields_.size(); ++i) {
    FieldInfo& f = fields_[i];
    if (clipper && f.type == 'C') f.width = widths[i].second, f.decimals = 0;
    f.offset = offset;
    offset += f.width;
  }
  if (offset > long(recordLength_))
    throw DbError("Таблица dBase" + file + " повреждена: полям нужно " + std::to_string(offset) +
                  " байт на запись, а в заголовке указано " + std::to_string(recordLength_));

  // Trust the header's count, as far as the file holds whole records.
  const uint64_t room = (data_.size() - headerLength_) / recordLength_;
  count_ = uint32_t(std::min<uint64_t>(headerCount_, room));

  if (memoFormat_ != MemoFormat::None) {
    if (memoFormat_ == MemoFormat::FoxPro) {
      memoBlockSize_ = memo_.size() >= 8 ? be16(memo_.data() + 6) : 64;
    } else if (memoFormat_ == MemoFormat::DBase4) {
      memoBlockSize_ = memo_.size() >= 22 ? le16(memo_.data() + 20) : 512;
    } else {
      memoBlockSize_ = 512;
    }
    if (memoBlockSize_ == 0) memoBlockSize_ = memoFormat_ == MemoFormat::FoxPro ? 1 : 512;
  }
}

Date DbfFile::lastUpdate() const {
  Date d;
  int y = uint8_t(data_[1]);
  // The byte is the year less 1900; some programs wrote the year of the
  // century instead, which would read as a year before 1980.
  d.year = y < 80 ? 2000 + y : 1900 + y;
  d.month = uint8_t(data_[2]);
  d.day = uint8_t(data_[3]);
  return d;
}

FieldType DbfFile::fieldType(int field) const {
  const FieldInfo& f = fields_.at(size_t(field));
  switch (f.type) {
    case 'C': return FieldType::String;
    case 'N':
      if (f.decimals == 0 && f.width <= 4) return FieldType::SmallInt;
      if (f.decimals == 0 && f.width <= 9) return FieldType::Integer;
      return FieldType::Float;
    case 'F': return FieldType::Float;
    case 'D': return FieldType::Date;
    case 'L': return FieldType::Boolean;
    case 'M': return FieldType::Memo;
    case 'G': return FieldType::Graphic;
    case 'P': return FieldType::Blob;
    case 'B': return isVisualFoxPro(version_) ? FieldType::Float : FieldType::Blob;
    case 'I': return FieldType::Integer;
    case 'Y': return FieldType::Currency;
    case 'T': return FieldType::DateTime;
    default: return FieldType::Unknown;
  }
}

const char* DbfFile::recordPtr(uint32_t record) const {
  if (record >= count_) throw DbError("Записи " + std::to_string(record) + " в таблице нет");
  return data_.data() + headerLength_ + uint64_t(record) * recordLength_;
}

bool DbfFile::isDeleted(uint32_t record) const { return recordPtr(record)[0] == '*'; }

uint32_t DbfFile::memoBlock(const char* raw, const FieldInfo& f) const {
  if (isVisualFoxPro(version_) && f.width == 4) return le32(raw);
  std::string t = trim(std::string(raw, size_t(f.width)));
  if (!allDigits(t) || t.size() > 9) return 0;
  return uint32_t(std::stoul(t));
}

std::optional<std::string> DbfFile::memoText(uint32_t block, bool text) const {
  if (block == 0 || !memoPresent_) return std::nullopt;
  const uint64_t start = uint64_t(block) * memoBlockSize_;
  if (start >= memo_.size()) return std::nullopt;
  const char* p = memo_.data() + start;
  const uint64_t avail = memo_.size() - start;
  std::string bytes;
  if (memoFormat_ == MemoFormat::FoxPro) {
    if (avail < 8) return std::nullopt;
    uint64_t len = std::min<uint64_t>(be32(p + 4), avail - 8);
    bytes.assign(p + 8, size_t(len));
  } else if (memoFormat_ == MemoFormat::DBase4 && avail >= 8 && le32(p) == 0x0008FFFFu) {
    uint64_t len = le32(p + 4);
    len = len < 8 ? 0 : std::min<uint64_t>(len - 8, avail - 8);
    bytes.assign(p + 8, size_t(len));
  } else {
    const void* end = std::memchr(p, 0x1A, size_t(avail));
    bytes.assign(p, end ? size_t(static_cast<const char*>(end) - p) : size_t(avail));
  }
  if (bytes.empty()) return std::nullopt;
  return text ? codePage_.toAnsi(bytes) : bytes;
}

std::string_view DbfFile::rawRecord(uint32_t record) const {
  return std::string_view(recordPtr(record), recordLength_);
}

std::optional<std::string> DbfFile::value(uint32_t record, int field) const {
  return value(rawRecord(record), field);
}

std::optional<std::string> DbfFile::value(std::string_view rec, int field) const {
  const FieldInfo& f = fields_.at(size_t(field));
  if (rec.size() != recordLength_) throw DbError("Неверный размер записи");
  const char* raw = rec.data() + f.offset;
  const std::string bytes(raw, size_t(f.width));
  switch (f.type) {
    case 'C': {
      std::string s = trimRight(bytes);
      if (s.empty()) return std::nullopt;
      return codePage_.toAnsi(s);
    }
    case 'N': case 'F': {
      std::string s = trim(bytes);
      if (s.empty()) return std::nullopt;
      return s;
    }
    case 'D': {
      std::string s = trim(bytes);
      if (s.empty() || s == "00000000") return std::nullopt;
      if (s.size() == 8 && allDigits(s)) {
        int y = std::stoi(s.substr(0, 4)), m = std::stoi(s.substr(4, 2)), d = std::stoi(s.substr(6, 2));
        if (validDate(y, m, d)) return dateText(y, m, d);
      }
      return codePage_.toAnsi(s);
    }
    case 'L': {
      if (f.width < 1) return std::nullopt;
      char c = raw[0];
      if (c == 'T' || c == 't' || c == 'Y' || c == 'y') return std::string("True");
      if (c == 'F' || c == 'f' || c == 'N' || c == 'n') return std::string("False");
      return std::nullopt;
    }
    case 'M': case 'G': case 'P':
      return memoText(memoBlock(raw, f), f.type == 'M');
    case 'B':
      if (isVisualFoxPro(version_) && f.width == 8) {
        double v;
        std::memcpy(&v, raw, 8);
        char b[40];
        std::snprintf(b, sizeof b, "%.15g", v);
        return std::string(b);
      }
      return memoText(memoBlock(raw, f), false);
    case 'I':
      if (f.width == 4) return std::to_string(int32_t(le32(raw)));
      return std::nullopt;
    case 'Y':
      if (f.width == 8) {
        int64_t v = int64_t(uint64_t(le32(raw)) | uint64_t(le32(raw + 4)) << 32);
        uint64_t mag = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
        std::string frac = std::to_string(mag % 10000);
        frac.insert(frac.begin(), 4 - frac.size(), '0');
        return (v < 0 ? "-" : "") + std::to_string(mag / 10000) + "." + frac;
      }
      return std::nullopt;
    case 'T':
      if (f.width == 8) {
        uint32_t day = le32(raw), ms = le32(raw + 4);
        if (day == 0 && ms == 0) return std::nullopt;
        int y, m, d;
        fromJulian(long(day), y, m, d);
        if (!validDate(y, m, d) || ms >= 86400000u) return std::nullopt;
        char b[40];
        std::snprintf(b, sizeof b, "%s %02u:%02u:%02u", dateText(y, m, d).c_str(), ms / 3600000u,
                      ms / 60000u % 60u, ms / 1000u % 60u);
        return std::string(b);
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

// ---------------------------------------------------------------- opening

DbfFile::~DbfFile() {
  if (fd_ >= 0) ::close(fd_);
  if (memoFd_ >= 0) ::close(memoFd_);
}

std::unique_ptr<DbfFile> DbfFile::open(const std::string& path, bool writable) {
  std::unique_ptr<DbfFile> t(new DbfFile);
  t->path_ = path;
  t->data_ = fileio::readWhole(path);
  const uint8_t v = t->data_.empty() ? 0 : uint8_t(t->data_[0]);
  bool hasMemoFields = false;
  if (memoFormatOf(v) != MemoFormat::None) {
    const auto memo = companionFiles(path, {memoFormatOf(v) == MemoFormat::FoxPro ? "FPT" : "DBT"});
    if (!memo.empty()) {
      t->memoPath_ = memo.front();
      t->memo_ = fileio::readWhole(t->memoPath_);
      t->memoPresent_ = true;
    }
  }
  t->parseHeader();
  for (const auto& f : t->fields_) hasMemoFields |= isMemoType(f.type) && !(f.type == 'B' && isVisualFoxPro(v));
  t->readOnlyReason_.clear();
  t->applySafetyRules(path);
  if (hasMemoFields && !t->memoPresent_ && t->readOnlyReason_.empty())
    t->readOnlyReason_ = "нет её файла мемо-полей";
  if (!writable && t->readOnlyReason_.empty()) t->readOnlyReason_ = "она открыта для чтения";
  if (t->readOnlyReason_.empty()) {
    t->fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (t->fd_ < 0) {
      t->readOnlyReason_ = fileio::errorText("открыть для записи файл", path, errno);
    } else if (t->memoPresent_) {
      t->memoFd_ = ::open(t->memoPath_.c_str(), O_RDWR | O_CLOEXEC);
      if (t->memoFd_ < 0) t->readOnlyReason_ = fileio::errorText("открыть для записи файл", t->memoPath_, errno);
    }
    if (!t->readOnlyReason_.empty()) {
      if (t->fd_ >= 0) ::close(t->fd_);
      t->fd_ = -1;
    }
  }
  return t;
}

// Everything that keeps the engine from keeping the files in agreement makes
// the table read-only: index files it does not maintain, field types it does
// not write, code pages it does not know, a file shorter than its header.
void DbfFile::applySafetyRules(const std::string& path) {
  auto refuse = [this](const std::string& why) {
    if (readOnlyReason_.empty()) readOnlyReason_ = why;
  };
  for (const auto& file : indexFilesOf(path)) {
    refuse("программа не ведёт её индексный файл " + quotedPath(file));
    try {
      for (IndexInfo i : readIndexFile(file, fileio::readWhole(file))) {
        i.fields = keyFields(i.expression, fields_);
        indexes_.push_back(std::move(i));
      }
    } catch (const DbError&) {
      // An index file that cannot be read declares nothing; the table stays
      // read-only all the same.
    }
  }
  if (uint8_t(data_[28]) & (isVisualFoxPro(version_) || memoFormat_ == MemoFormat::FoxPro ? 0x01 : 0xFF))
    refuse("в её заголовке указан индексный файл, который программа не ведёт");
  if (uint8_t(data_[15]) != 0) refuse("она зашифрована");
  if (uint8_t(data_[14]) != 0) refuse("в её заголовке отмечена незавершённая транзакция");
  if (!knownDriver(driver_)) refuse("её кодовая страница неизвестна (языковой драйвер " + std::to_string(driver_) + ")");
  if (count_ < headerCount_) refuse("в файле меньше записей, чем указано в заголовке");
  for (const auto& f : fields_) {
    bool ok = f.type == 'C' || f.type == 'N' || f.type == 'F' || (f.type == 'D' && f.width == 8) ||
              (f.type == 'L' && f.width == 1) ||
              (f.type == 'M' && !(isVisualFoxPro(version_) && f.width == 4) && f.width == 10);
    if (!ok) refuse("программа не записывает поля типа " + quotedText(std::string(1, f.type)) + " (поле " + quotedText(f.name) + ")");
  }
  if (isVisualFoxPro(version_)) refuse("программа не записывает таблицы Visual FoxPro");
  // The layout must add up before anything is written: a field of no width
  // would take its neighbour's bytes, and records that start inside the
  // field descriptors would overwrite them.
  const std::string table = fileNameOf(path);
  for (const auto& f : fields_)
    if (f.width == 0) refuse("поле " + quotedText(f.name) + " таблицы " + table + " имеет ширину 0");
  const uint64_t terminator = 32 + 32 * uint64_t(fields_.size());
  if (terminator >= headerLength_ || data_[size_t(terminator)] != 0x0D)
    refuse("длина заголовка таблицы " + table + " (" + std::to_string(headerLength_) +
           ") меньше, чем занимают описания её полей");
  // Whole records past those the header counts: an append would land on the
  // first of them and overwrite it. The end-of-file byte is no record.
  uint64_t past = data_.size() - headerLength_ - uint64_t(count_) * recordLength_;
  if (past > 0 && data_.back() == '\x1A') --past;
  if (past >= recordLength_)
    refuse("в файле " + table + " больше записей (" + std::to_string(count_ + past / recordLength_) +
           "), чем указано в его заголовке (" + std::to_string(headerCount_) + ")");
  // New memo texts go where the memo file's header says its free space
  // begins; a pointer past the end of the file would grow it without bound.
  if (memoPresent_ && memo_.size() >= 4) {
    const uint32_t next = memoFormat_ == MemoFormat::FoxPro ? be32(memo_.data()) : le32(memo_.data());
    const uint64_t blocks = (memo_.size() + memoBlockSize_ - 1) / memoBlockSize_;
    if (next > blocks)
      refuse("в файле " + fileNameOf(memoPath_) + " указатель на свободный блок (" +
             std::to_string(next) + ") указывает за конец файла (" + std::to_string(blocks) + " блоков)");
  }
  if (::access(path.c_str(), W_OK) != 0) refuse(fileio::errorText("открыть для записи файл", path, errno));
  refuse(fileio::folderRefusal(path));
}

// ---------------------------------------------------------------- writing

void DbfFile::requireWritable() const {
  if (!readOnlyReason_.empty()) throw DbError("Таблица " + quotedPath(path_) + " открыта только для чтения: " + readOnlyReason_);
}

std::string DbfFile::encode(int field, const std::optional<std::string>& value) const {
  const FieldInfo& f = fields_.at(size_t(field));
  std::string out(size_t(f.width), ' ');
  if (!value || value->empty()) return out;
  const std::string& v = *value;
  auto tooWide = [&](const std::string& s) {
    return DbError("Поле " + quotedText(f.name) + ": значение " + quotedText(s) + " не помещается в поле");
  };
  switch (f.type) {
    case 'C': {
      std::string s = codePage_.fromAnsi(v);
      s.resize(std::min(s.size(), out.size()));
      out.replace(0, s.size(), s);
      return out;
    }
    case 'N': case 'F': {
      auto s = formatNumber(v, std::min(f.decimals, 30));
      if (!s) throw DbError("Поле " + quotedText(f.name) + ": " + quotedText(v) + " — не число");
      if (s->size() > out.size()) throw tooWide(v);
      out.replace(out.size() - s->size(), s->size(), *s);
      return out;
    }
    case 'D': {
      std::string t = trim(v);
      int y = 0, m = 0, d = 0;
      if (t.size() == 10 && t[2] == '.' && t[5] == '.' && allDigits(t.substr(0, 2) + t.substr(3, 2) + t.substr(6)))
        d = std::stoi(t.substr(0, 2)), m = std::stoi(t.substr(3, 2)), y = std::stoi(t.substr(6));
      else if (t.size() == 8 && allDigits(t))
        y = std::stoi(t.substr(0, 4)), m = std::stoi(t.substr(4, 2)), d = std::stoi(t.substr(6));
      if (!validDate(y, m, d)) throw DbError("Поле " + quotedText(f.name) + ": " + quotedText(v) + " — не дата");
      char b[48];
      std::snprintf(b, sizeof b, "%04d%02d%02d", y, m, d);
      return b;
    }
    case 'L': {
      std::string t = upper(trim(v));
      if (t == "TRUE" || t == "T" || t == "Y" || t == "YES" || t == "1") return "T";
      if (t == "FALSE" || t == "F" || t == "N" || t == "NO" || t == "0") return "F";
      throw DbError("Поле " + quotedText(f.name) + ": " + quotedText(v) + " — не логическое значение");
    }
    default:
      throw DbError("Поле " + quotedText(f.name) + " не может быть записано");
  }
}

void DbfFile::writeHeader(bool withCount) {
  std::time_t now = std::time(nullptr);
  std::tm tm {};
  localtime_r(&now, &tm);
  char h[8];
  std::memcpy(h, data_.data(), 8);
  h[1] = char(tm.tm_year);
  h[2] = char(tm.tm_mon + 1);
  h[3] = char(tm.tm_mday);
  if (withCount) putLe32(h + 4, count_);
  fileio::writeAt(fd_, path_, h, withCount ? 8 : 4, 0);
  std::memcpy(data_.data(), h, withCount ? 8 : 4);
}

void DbfFile::writeRecordBytes(uint32_t record, const std::string& bytes) {
  const off_t at = off_t(headerLength_ + uint64_t(record) * recordLength_);
  const std::string old = data_.substr(size_t(at), recordLength_);
  try {
    fileio::writeAt(fd_, path_, bytes.data(), bytes.size(), at);
  } catch (const DbError&) {
    // Put the old bytes back so the record does not read half changed.
    try {
      fileio::writeAt(fd_, path_, old.data(), old.size(), at);
    } catch (const DbError&) {
    }
    throw;
  }
  data_.replace(size_t(at), bytes.size(), bytes);
}

// Appends a memo text to the memo file and returns the field bytes that point
// to it. The memo header's next free block moves only after the text is on
// disk, so a failure leaves the memo file as it was (a cut-off tail is
// trimmed away).
std::string DbfFile::writeMemo(int field, const std::string& text) {
  requireWritable();
  const FieldInfo& f = fields_.at(size_t(field));
  if (text.empty()) return std::string(size_t(f.width), ' ');
  if (memoFd_ < 0) throw DbError("Таблица " + quotedPath(path_) + " открыта только для чтения: нет её файла мемо-полей");
  const std::string bytes = codePage_.fromAnsi(text);
  const uint32_t bs = memoBlockSize_;
  uint32_t next = memo_.size() >= 4
                      ? (memoFormat_ == MemoFormat::FoxPro ? be32(memo_.data()) : le32(memo_.data()))
                      : 1;
  // Never write inside what the file already holds.
  const uint64_t firstFree = (memo_.size() + bs - 1) / bs;
  if (next < firstFree) next = uint32_t(firstFree);
  if (next == 0) next = 1;
  std::string block;
  if (memoFormat_ == MemoFormat::FoxPro) {
    block.resize(8);
    putBe32(&block[0], 1);
    putBe32(&block[4], uint32_t(bytes.size()));
    block += bytes;
  } else if (memoFormat_ == MemoFormat::DBase4) {
    block.resize(8);
    putLe32(&block[0], 0x0008FFFFu);
    putLe32(&block[4], uint32_t(bytes.size() + 8));
    block += bytes;
  } else {
    block = bytes + "\x1A\x1A";
  }
  const uint64_t blocks = (block.size() + bs - 1) / bs;
  block.resize(size_t(blocks * bs), '\0');
  const uint64_t at = uint64_t(next) * bs;
  if (at + block.size() > 0xFFFFFFFFull || next + blocks > 999999999ull)
    throw DbError("Не удаётся записать файл " + quotedPath(memoPath_) + ": файл мемо-полей заполнен");
  const off_t oldSize = off_t(memo_.size());
  if (!memoMark_) memoMark_.emplace(memo_.size(), memo_.substr(0, 4));
  char head[4];
  if (memoFormat_ == MemoFormat::FoxPro) putBe32(head, uint32_t(next + blocks));
  else putLe32(head, uint32_t(next + blocks));
  try {
    fileio::checkStillThere(memoFd_, memoPath_);
    fileio::writeAt(memoFd_, memoPath_, block.data(), block.size(), off_t(at));
    fileio::sync(memoFd_, memoPath_);
    fileio::writeAt(memoFd_, memoPath_, head, 4, 0);
  } catch (const DbError&) {
    try {
      fileio::truncate(memoFd_, memoPath_, oldSize);
    } catch (const DbError&) {
    }
    throw;
  }
  if (memo_.size() < at) memo_.resize(size_t(at), '\0');
  memo_.replace(size_t(at), std::string::npos, block);
  std::memcpy(memo_.data(), head, std::min<size_t>(4, memo_.size()));
  if (memo_.size() < 4) memo_.assign(head, 4);

  std::string ptr(size_t(f.width), ' ');
  std::string n = std::to_string(next);
  if (n.size() > ptr.size()) throw DbError("Не удаётся записать файл " + quotedPath(memoPath_) + ": файл мемо-полей заполнен");
  ptr.replace(ptr.size() - n.size(), n.size(), n);
  return ptr;
}

void DbfFile::update(uint32_t record, const Values& values) {
  requireWritable();
  if (values.size() != fields_.size()) throw DbError("Неверное число значений в записи");
  const char* cur = recordPtr(record);
  std::string bytes(cur, recordLength_);
  // Encode everything first: a bad value changes nothing.
  std::vector<int> memos;
  for (size_t i = 0; i < fields_.size(); ++i) {
    const FieldInfo& f = fields_[i];
    if (f.type == 'M') {
      if (values[i] != value(record, int(i))) memos.push_back(int(i));
      continue;
    }
    bytes.replace(size_t(f.offset), size_t(f.width), encode(int(i), values[i]));
  }
  for (int i : memos) {
    const FieldInfo& f = fields_[size_t(i)];
    bytes.replace(size_t(f.offset), size_t(f.width), writeMemo(i, values[size_t(i)].value_or("")));
  }
  writeRecord(record, bytes);
}

void DbfFile::writeRecord(uint32_t record, const std::string& bytes) {
  requireWritable();
  recordPtr(record);
  if (bytes.size() != recordLength_) throw DbError("Неверный размер записи");
  try {
    fileio::checkStillThere(fd_, path_);
    writeRecordBytes(record, bytes);
  } catch (const DbError&) {
    rollbackMemos();
    throw;
  }
  memoMark_.reset();
  // The date is the last step; a failure here leaves a complete record.
  writeHeader(false);
}

// Takes back the memo texts written for a record that could not be written,
// so the memo file is as it was (best effort: the texts are unreferenced
// either way).
void DbfFile::rollbackMemos() {
  if (!memoMark_) return;
  const auto [size, head] = *memoMark_;
  memoMark_.reset();
  try {
    fileio::truncate(memoFd_, memoPath_, off_t(size));
    if (!head.empty()) fileio::writeAt(memoFd_, memoPath_, head.data(), head.size(), 0);
    memo_.resize(size);
    memo_.replace(0, head.size(), head);
  } catch (const DbError&) {
  }
}

uint32_t DbfFile::append(const Values& values) {
  requireWritable();
  if (values.size() != fields_.size()) throw DbError("Неверное число значений в записи");
  if (count_ == 0xFFFFFFFFu) throw DbError("Таблица " + quotedPath(path_) + " заполнена");
  std::string bytes(recordLength_, ' ');
  for (size_t i = 0; i < fields_.size(); ++i) {
    const FieldInfo& f = fields_[i];
    if (f.type != 'M') bytes.replace(size_t(f.offset), size_t(f.width), encode(int(i), values[i]));
  }
  for (size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i].type == 'M')
      bytes.replace(size_t(fields_[i].offset), size_t(fields_[i].width), writeMemo(int(i), values[i].value_or("")));
  return appendRecord(bytes);
}

uint32_t DbfFile::appendRecord(const std::string& bytes) {
  requireWritable();
  if (bytes.size() != recordLength_) throw DbError("Неверный размер записи");
  if (count_ == 0xFFFFFFFFu) throw DbError("Таблица " + quotedPath(path_) + " заполнена");
  try {
    fileio::checkStillThere(fd_, path_);
  } catch (const DbError&) {
    rollbackMemos();
    throw;
  }
  // The new record and the end-of-file byte go first; the header's count
  // follows only when they are on disk, so a reader never counts a record
  // that is not complete. On failure the file is cut back to where it was.
  const uint64_t at = headerLength_ + uint64_t(count_) * recordLength_;
  const off_t oldSize = off_t(data_.size());
  const std::string oldHeader = data_.substr(0, 8);
  std::string tail = bytes + "\x1A";
  try {
    fileio::writeAt(fd_, path_, tail.data(), tail.size(), off_t(at));
    fileio::sync(fd_, path_);
    ++count_;
    try {
      writeHeader(true);
    } catch (const DbError&) {
      --count_;
      throw;
    }
  } catch (const DbError&) {
    // Back to the old length, end-of-file byte and header (writes inside
    // the file's old size need no new room on the device).
    try {
      fileio::truncate(fd_, path_, oldSize);
      if (oldSize > off_t(at)) fileio::writeAt(fd_, path_, data_.data() + at, size_t(oldSize - off_t(at)), off_t(at));
      fileio::writeAt(fd_, path_, oldHeader.data(), oldHeader.size(), 0);
      data_.replace(0, 8, oldHeader);
    } catch (const DbError&) {
    }
    rollbackMemos();
    throw;
  }
  memoMark_.reset();
  data_.resize(size_t(at));
  data_ += tail;
  return count_ - 1;
}

void DbfFile::setDeleted(uint32_t record, bool deleted) {
  requireWritable();
  std::string bytes(recordPtr(record), recordLength_);
  bytes[0] = deleted ? '*' : ' ';
  writeRecord(record, bytes);
}

// ---------------------------------------------------------------- indexes

std::vector<std::string> indexFilesOf(const std::string& tablePath) {
  std::vector<std::string> out;
  const std::string dir = directoryOf(tablePath);
  const std::string base = lower(baseNameOf(tablePath));
  for (const auto& n : directoryEntries(dir)) {
    const std::string l = lower(n);
    if (l.size() < 4) continue;
    const std::string ext = l.substr(l.size() - 4), stem = l.substr(0, l.size() - 4);
    if ((ext == ".mdx" || ext == ".cdx") && stem == base) out.push_back(dir + "/" + n);
    if (ext == ".ndx" && stem.compare(0, base.size(), base) == 0) out.push_back(dir + "/" + n);
  }
  return out;
}

namespace {

std::string cString(const std::string& bytes, size_t at, size_t max) {
  if (at >= bytes.size()) return {};
  max = std::min(max, bytes.size() - at);
  const char* p = bytes.data() + at;
  const void* nul = std::memchr(p, 0, max);
  return trim(std::string(p, nul ? size_t(static_cast<const char*>(nul) - p) : max));
}

}  // namespace

std::vector<IndexInfo> readIndexFile(const std::string& path, const std::string& bytes) {
  const std::string l = lower(path);
  std::vector<IndexInfo> out;
  if (l.size() >= 4 && l.compare(l.size() - 4, 4, ".ndx") == 0) {
    if (bytes.size() < 512) throw DbError("Индексный файл " + quotedPath(path) + " повреждён");
    IndexInfo i;
    i.name = upper(baseNameOf(path));
    i.expression = cString(bytes, 24, 488);
    out.push_back(i);
  } else if (l.size() >= 4 && l.compare(l.size() - 4, 4, ".mdx") == 0) {
    // A production index: a table of tags at 544, 32 bytes each; each tag's
    // header page holds its key format and key expression.
    if (bytes.size() < 1024) throw DbError("Индексный файл " + quotedPath(path) + " повреждён");
    const uint32_t tags = std::min<uint32_t>(le16(bytes.data() + 28), 47);
    for (uint32_t t = 0; t < tags; ++t) {
      const size_t e = 544 + size_t(t) * 32;
      if (e + 32 > bytes.size()) break;
      const uint64_t page = le32(bytes.data() + e);
      const uint64_t at = page * 512;
      if (page == 0 || at + 24 > bytes.size()) throw DbError("Индексный файл " + quotedPath(path) + " повреждён");
      IndexInfo i;
      i.name = cString(bytes, e + 4, 11);
      const uint8_t format = uint8_t(bytes[size_t(at) + 8]);
      i.descending = format & 0x08;
      i.unique = format & 0x40;
      i.expression = cString(bytes, size_t(at) + 24, 220);
      out.push_back(i);
    }
  }
  // A compound .cdx index is not read: the table is read-only for it all the
  // same, and it declares no order here.
  return out;
}

std::string keyFields(const std::string& expression, const std::vector<FieldInfo>& fields) {
  std::string out, part;
  auto take = [&](std::string name) {
    name = upper(trim(name));
    for (const auto& f : fields)
      if (upper(f.name) == name) {
        if (!out.empty()) out += ';';
        out += f.name;
        return true;
      }
    return false;
  };
  for (char c : expression + "+") {
    if (c == '+') {
      if (!take(part)) return {};
      part.clear();
    } else {
      part += c;
    }
  }
  return out;
}

}  // namespace storage::dbase
