#pragma once
// A scale's address as the configuration table holds it: four parts separated
// by full stops, each converted by the shared integer conversion and in
// 0..255, so "192.168.011.045", " 127.0.0.1" and "$7F.0.0.1" are all valid.
// The sockets want the canonical dotted form of those four values.
#include <optional>
#include <string>

namespace ipv4 {

// "a.b.c.d" built from the four converted values, or nothing when the text
// is not a valid address (shorter than seven characters, not four parts, or
// a part that does not convert into 0..255).
std::optional<std::string> dotted(const std::string& text);

// A subnet prefix as the sweep takes it: three decimal numbers 0..255, each
// followed by a full stop, blanks around the whole dropped; "a.b.c." in the
// canonical form of the three values, or nothing for any other text.
std::optional<std::string> subnetPrefix(const std::string& text);

}  // namespace ipv4
