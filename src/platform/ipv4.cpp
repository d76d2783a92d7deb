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

}  // namespace ipv4
