#include "platform/intconv.h"

#include <cstdint>

#include "platform/cp1251.h"

namespace intconv {

std::optional<int> tryParse(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i == s.size()) return std::nullopt;

  auto hexDigit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };

  size_t hexStart = std::string_view::npos;
  if (s[i] == '$' || s[i] == 'x' || s[i] == 'X')
    hexStart = i + 1;
  else if (s[i] == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X'))
    hexStart = i + 2;

  if (hexStart != std::string_view::npos) {
    size_t n = s.size() - hexStart;
    if (n == 0 || n > 8) return std::nullopt;
    uint32_t v = 0;
    for (size_t k = hexStart; k < s.size(); ++k) {
      int d = hexDigit(s[k]);
      if (d < 0) return std::nullopt;
      v = (v << 4) | uint32_t(d);
    }
    return static_cast<int32_t>(v);
  }

  bool neg = false;
  if (s[i] == '+' || s[i] == '-') {
    neg = s[i] == '-';
    ++i;
  }
  if (i == s.size()) return std::nullopt;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
    if (v > 2147483648LL) return std::nullopt;
  }
  if (neg) v = -v;
  if (v > 2147483647LL || v < -2147483648LL) return std::nullopt;
  return int(v);
}

std::string notIntegerText(std::string_view text) {
  return "«" + ansi::toUtf8(text) + "» — не целое число";
}

int parse(std::string_view text) {
  if (auto v = tryParse(text)) return *v;
  throw ConvertError(notIntegerText(text));
}

}  // namespace intconv
