#include "storage/error_text.h"

#include "platform/cp1251.h"

namespace storage {
namespace {

// Length of the UTF-8 sequence at s[i], or 0 when it is not one.
std::size_t sequenceAt(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  unsigned min = 0;
  if (c >= 0xC2 && c <= 0xDF) n = 2, min = 0x80;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, min = 0x800;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, min = 0x10000;
  else return 0;
  if (i + n > s.size()) return 0;
  unsigned cp = c & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string quotedText(std::string_view text) { return "«" + ansi::toUtf8(text) + "»"; }

std::string quotedPath(std::string_view path) {
  std::string out = "«";
  for (std::size_t i = 0; i < path.size();) {
    const std::size_t n = sequenceAt(path, i);
    if (n) out.append(path.substr(i, n));
    else out += "\xEF\xBF\xBD";
    i += n ? n : 1;
  }
  return out + "»";
}

}  // namespace storage
