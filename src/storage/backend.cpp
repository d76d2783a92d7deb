// Shared helpers of the backends: text collation and companion files.
#include "storage/backend.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace storage {

unsigned char upper1251(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (c >= 0xE0) return static_cast<unsigned char>(c - 32);  // а..я -> А..Я
  if (c == 0xB8) return 0xA8;                                 // ё -> Ё
  if (c == 0xA2) return 0xA1;                                 // ў -> Ў
  if (c == 0xB3) return 0xB2;                                 // і -> І
  if (c == 0xBA) return 0xAA;                                 // є -> Є
  if (c == 0xBF) return 0xAF;                                 // ї -> Ї
  if (c == 0xBC) return 0xA3;                                 // ј -> Ј
  if (c == 0xBE) return 0xBD;                                 // ѕ -> Ѕ
  if (c == 0xB4) return 0xA5;                                 // ґ -> Ґ
  if (c == 0x9A) return 0x8A;                                 // љ -> Љ
  if (c == 0x9C) return 0x8C;                                 // њ -> Њ
  if (c == 0x9D) return 0x8D;                                 // ќ -> Ќ
  if (c == 0x9E) return 0x8E;                                 // ћ -> Ћ
  if (c == 0x9F) return 0x8F;                                 // џ -> Џ
  if (c == 0x90) return 0x80;                                 // ђ -> Ђ
  if (c == 0x83) return 0x81;                                 // ѓ -> Ѓ
  return c;
}

// Sort weight of a Windows-1251 letter: Cyrillic in alphabet order with Ё
// after Е, everything else by its upper-case byte.
static int weight1251(unsigned char c) {
  c = upper1251(c);
  if (c == 0xA8) return 0xC5 * 2 + 1;  // Ё right after Е
  return c * 2;
}

int compareTextNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int wa = weight1251(static_cast<unsigned char>(a[i]));
    const int wb = weight1251(static_cast<unsigned char>(b[i]));
    if (wa != wb) return wa < wb ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return 0;
}

int Backend::compare(std::string_view a, std::string_view b, int field,
                     bool caseInsensitive) const {
  const Value va = get(a, field);
  const Value vb = get(b, field);
  if (va.isNull() || vb.isNull()) return va.isNull() == vb.isNull() ? 0 : (va.isNull() ? -1 : 1);
  switch (va.kind) {
    case Value::Kind::Integer:
      if (vb.kind == Value::Kind::Integer) return va.i < vb.i ? -1 : va.i > vb.i;
      break;
    case Value::Kind::Float:
      if (vb.kind == Value::Kind::Float) return va.f < vb.f ? -1 : va.f > vb.f;
      break;
    case Value::Kind::Text:
      if (vb.kind == Value::Kind::Text) {
        if (caseInsensitive) return compareTextNoCase(va.s, vb.s);
        const int c = va.s.compare(vb.s);
        return c < 0 ? -1 : c > 0;
      }
      break;
    case Value::Kind::Null:
      break;
  }
  return static_cast<int>(va.kind) < static_cast<int>(vb.kind) ? -1 : 1;
}

std::vector<std::string> splitFieldList(const std::string& list) {
  std::vector<std::string> r;
  std::size_t b = 0;
  while (true) {
    const std::size_t e = list.find(';', b);
    r.push_back(list.substr(b, e == std::string::npos ? std::string::npos : e - b));
    if (e == std::string::npos) break;
    b = e + 1;
  }
  return r;
}

static bool matchExt(std::string_view ext, std::string_view pattern) {
  if (ext.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < ext.size(); ++i) {
    if (pattern[i] == '?') continue;
    if (pattern[i] == '#') {
      if (!std::isxdigit(static_cast<unsigned char>(ext[i]))) return false;
      continue;
    }
    if (upper1251(static_cast<unsigned char>(ext[i])) !=
        upper1251(static_cast<unsigned char>(pattern[i])))
      return false;
  }
  return true;
}

std::vector<std::string> companionFiles(const std::string& path,
                                        const std::vector<std::string>& patterns) {
  namespace fs = std::filesystem;
  std::vector<std::string> out;
  const fs::path p(path);
  const std::string stem = p.stem().string();
  const std::string self = p.filename().string();
  fs::path dir = p.parent_path();
  if (dir.empty()) dir = ".";
  std::error_code ec;
  fs::directory_iterator it(dir, ec), end;
  if (ec) return out;
  for (; it != end; it.increment(ec)) {
    if (ec) break;
    const fs::path f = it->path();
    const std::string name = f.filename().string();
    if (name == self) continue;
    const std::string fstem = f.stem().string();
    if (fstem.size() != stem.size() || compareTextNoCase(fstem, stem) != 0) continue;
    std::string ext = f.extension().string();
    if (ext.empty()) continue;
    ext.erase(0, 1);
    for (const std::string& pat : patterns)
      if (matchExt(ext, pat)) {
        out.push_back((p.parent_path() / name).string());
        break;
      }
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace storage
