#include "shell/config_file.h"

const char* const kConfigTitles[9] = {
    " № п/п ", " Название весов ", " Название отдела       ", " Номер весов ",
    " IP-адрес           ", " Номер порта ", " Имя файла товаров                    ",
    " Имя файла сообщений                    ", " Примечание "};

std::vector<ConfigTableRow> readConfigRows(textfile::Reader& in, bool dropCutRow) {
  std::vector<ConfigTableRow> rows;
  while (!in.eof()) {
    ConfigTableRow row;
    bool cut = false;
    for (auto& cell : row) {
      cut = cut || in.atError();
      cell = in.readLine();
    }
    if (cut && dropCutRow && !rows.empty()) break;
    rows.push_back(std::move(row));
  }
  if (rows.empty()) rows.emplace_back();
  return rows;
}

std::string writeConfigRows(const std::vector<ConfigTableRow>& rows) {
  std::vector<std::string> lines;
  lines.reserve(rows.size() * 9);
  for (const auto& row : rows) lines.insert(lines.end(), row.begin(), row.end());
  return textfile::joinLines(lines);
}
