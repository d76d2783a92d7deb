#pragma once
// The configuration table file (config.cfg and *.cfl): for each data row its
// nine cells in column order, one cell per line, Windows-1251, CR LF.
#include <array>
#include <string>
#include <vector>

#include "platform/textfile.h"

using ConfigTableRow = std::array<std::string, 9>;

// Reads rows until the file ends: 9 x N lines give N rows, a last row with
// fewer lines gets empty cells, an empty file gives one empty row. A read
// error ends the file; with dropCutRow the row it cut short is dropped
// unless it is the first (the start-up reader), otherwise its missing cells
// are empty (the open reader).
std::vector<ConfigTableRow> readConfigRows(textfile::Reader& in, bool dropCutRow = false);

// The file's bytes for the rows (9 lines a row, each ended by CR LF).
std::string writeConfigRows(const std::vector<ConfigTableRow>& rows);

// The column titles of row 0 (UTF-8: they are shown, never stored).
extern const char* const kConfigTitles[9];
