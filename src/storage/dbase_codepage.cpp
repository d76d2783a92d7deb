#include "storage/dbase_codepage.h"

#include <iconv.h>

#include <map>
#include <mutex>
#include <utility>

#include "storage/error_text.h"
#include "storage/table.h"

namespace storage::dbase {
namespace {

struct Tables {
  std::array<uint8_t, 256> in{};
  std::array<uint8_t, 256> out{};
};

const char* iconvName(int cp) {
  switch (cp) {
    case 437: return "IBM437";
    case 850: return "IBM850";
    case 852: return "IBM852";
    case 866: return "IBM866";
    case 1250: return "CP1250";
    case 1252: return "CP1252";
    default: return nullptr;
  }
}

// One byte of code page cp as a Windows-1251 byte, 0 when it has none.
uint8_t translateByte(iconv_t cd, uint8_t b) {
  char in[1] = {char(b)};
  char out[8] = {};
  char* ip = in;
  char* op = out;
  size_t il = 1, ol = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &ip, &il, &op, &ol) == size_t(-1) || il != 0 || op - out != 1) return 0;
  return uint8_t(out[0]);
}

const Tables* tablesFor(int cp) {
  static std::mutex m;
  static std::map<int, Tables> cache;
  std::lock_guard<std::mutex> lock(m);
  auto it = cache.find(cp);
  if (it != cache.end()) return &it->second;
  const char* name = iconvName(cp);
  if (!name) return nullptr;
  iconv_t cd = iconv_open("CP1251", name);
  if (cd == iconv_t(-1)) return nullptr;
  Tables t;
  for (int b = 0; b < 256; ++b) t.in[size_t(b)] = b < 0x80 ? uint8_t(b) : translateByte(cd, uint8_t(b));
  iconv_close(cd);
  for (int b = 255; b >= 0; --b)
    if (t.in[size_t(b)] != 0) t.out[t.in[size_t(b)]] = uint8_t(b);
  return &cache.emplace(cp, t).first->second;
}

}  // namespace

int codePageOfDriver(uint8_t driver) {
  switch (driver) {
    case 0x01: return 437;
    case 0x02: return 850;
    case 0x03: case 0x57: return 1252;
    case 0x64: return 852;
    case 0x26: case 0x65: return 866;
    case 0xC8: return 1250;
    case 0xC9: return 1251;
    default: return 0;
  }
}

bool knownDriver(uint8_t driver) { return driver == 0 || codePageOfDriver(driver) != 0; }

CodePage::CodePage(int codePage) : cp_(codePage) {
  if (cp_ == 0 || cp_ == 1251) return;
  const Tables* t = tablesFor(cp_);
  if (!t) throw DbError("Кодовая страница " + std::to_string(cp_) + " не поддерживается");
  in_ = &t->in;
  out_ = &t->out;
}

std::string CodePage::toAnsi(std::string_view bytes) const {
  std::string s(bytes);
  if (!in_) return s;
  for (char& c : s) {
    uint8_t v = (*in_)[uint8_t(c)];
    c = v ? char(v) : '?';
  }
  return s;
}

std::string CodePage::fromAnsi(std::string_view text) const {
  std::string s(text);
  if (!out_) return s;
  for (char& c : s) {
    if (uint8_t(c) < 0x80) continue;
    uint8_t v = (*out_)[uint8_t(c)];
    if (!v)
      throw DbError("Символ " + quotedText(std::string(1, c)) + " нельзя записать в кодовой странице " +
                    std::to_string(cp_));
    c = char(v);
  }
  return s;
}

}  // namespace storage::dbase
