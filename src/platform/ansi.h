#pragma once
// Windows-1251 bytes <-> Unicode. The program keeps texts as Windows-1251
// bytes (files, tables, the wire) and converts only where a widget shows them.
#include <QString>
#include <string>

#include "platform/cp1251.h"

namespace ansi {

// Windows-1251 bytes to Unicode; the one unassigned byte (0x98) maps to the
// control character U+0098, so that every byte survives a trip through a widget.
QString toUnicode(const std::string& bytes);
// Unicode to Windows-1251 bytes; a character the code page lacks becomes '?'.
std::string fromUnicode(const QString& text);

// Short names used throughout the GUI code.
inline QString U(const std::string& s) { return toUnicode(s); }
inline std::string A(const QString& s) { return fromUnicode(s); }

}  // namespace ansi
