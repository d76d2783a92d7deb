#pragma once
// Code pages of dBase tables: the language driver byte of the header names
// the code page of the table's texts; the engine works in Windows-1251, so
// texts are translated on the way in and out.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace storage::dbase {

// The code page a language driver byte names; 0 when the byte is 0 (not
// given) or unknown.
int codePageOfDriver(uint8_t driver);
// True when the byte is 0 or names a code page the engine translates.
bool knownDriver(uint8_t driver);

// Translation between one code page and Windows-1251. Code page 0 (not
// given) and 1251 pass bytes unchanged.
class CodePage {
 public:
  explicit CodePage(int codePage = 0);
  int codePage() const { return cp_; }
  // A character the code page has and Windows-1251 lacks becomes '?'.
  std::string toAnsi(std::string_view bytes) const;
  // Throws DbError when a character cannot be stored in the code page.
  std::string fromAnsi(std::string_view text) const;

 private:
  int cp_ = 0;
  const std::array<uint8_t, 256>* in_ = nullptr;   // table byte -> 1251 (0 = none)
  const std::array<uint8_t, 256>* out_ = nullptr;  // 1251 byte -> table (0 = none)
};

}  // namespace storage::dbase
