#include "platform/ipv4.h"

#include <vector>

#include "platform/intconv.h"

namespace ipv4 {

std::optional<std::string> dotted(const std::string& text) {
  if (text.size() < 7) return std::nullopt;
  std::vector<std::string> parts(1);
  for (char ch : text) {
    if (ch == '.')
      parts.emplace_back();
    else
      parts.back() += ch;
  }
  if (parts.size() != 4) return std::nullopt;
  std::string out;
  for (const auto& p : parts) {
    const auto v = intconv::tryParse(p);
    if (!v || *v < 0 || *v > 255) return std::nullopt;
    if (!out.empty()) out += '.';
    out += std::to_string(*v);
  }
  return out;
}

std::optional<std::string> subnetPrefix(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::nullopt;
  const std::string t = text.substr(first, text.find_last_not_of(' ') - first + 1);
  std::string out;
  std::size_t at = 0;
  for (int part = 0; part < 3; ++part) {
    const auto dot = t.find('.', at);
    if (dot == std::string::npos || dot == at || dot - at > 3) return std::nullopt;
    const std::string digits = t.substr(at, dot - at);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const auto v = intconv::tryParse(digits);
    if (!v || *v > 255) return std::nullopt;
    out += std::to_string(*v) + '.';
    at = dot + 1;
  }
  if (at != t.size()) return std::nullopt;
  return out;
}

}  // namespace ipv4
