#pragma once
// The Windows-1251 code page itself, free of Qt, so that the layers without
// Qt (the table engine's messages) share the one table with the widgets'
// codec in platform/ansi.
#include <string>
#include <string_view>

namespace ansi {

// One Windows-1251 byte to its Unicode code point.
char16_t byteToUnicode(unsigned char b);
// Code point to Windows-1251 byte, or -1 when the code page lacks it.
int unicodeToByte(char16_t c);
// Windows-1251 bytes as UTF-8; every byte has a character, so the result is
// always valid UTF-8.
std::string toUtf8(std::string_view bytes);

}  // namespace ansi
