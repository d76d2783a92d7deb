// The configuration table page: row operations, sort, new, open and save of
// *.cfl files, file picks and the grid font.
#include <QDir>
#include <QFileInfo>

#include <algorithm>

#include "platform/ansi.h"
#include "platform/dialogs.h"
#include "platform/guard.h"
#include "platform/intconv.h"
#include "platform/textfile.h"
#include "shell/config_file.h"
#include "shell/string_grid.h"
#include "shell/tform1.h"

namespace {

void copyRow(StringGrid* g, int from, int to) {
  for (int c = 0; c < g->ColCount(); ++c) g->setCellText(c, to, g->cellText(c, from));
}

void clearRow(StringGrid* g, int row) {
  for (int c = 0; c < g->ColCount(); ++c) g->setCellText(c, row, QString());
}

void focusGrid(StringGrid* g) {
  if (g->isVisible() && g->isEnabled()) g->setFocus();
}

// The save dialog keeps the last chosen name for its next use.
QString g_lastCfgSaveName = QStringLiteral("noname01");

}  // namespace

std::vector<ConfigTableRow> TForm1::configRows() const {
  std::vector<ConfigTableRow> rows;
  rows.reserve(size_t(StringGrid1->RowCount()));
  for (int r = 1; r < StringGrid1->RowCount(); ++r) {
    ConfigTableRow row;
    for (int c = 0; c < 9; ++c) row[size_t(c)] = StringGrid1->cell(c, r);
    rows.push_back(std::move(row));
  }
  return rows;
}

void TForm1::setConfigRows(const std::vector<ConfigTableRow>& rows) {
  StringGrid1->setUpdatesEnabled(false);
  StringGrid1->setRowCount(int(std::max<size_t>(rows.size(), 1)) + 1);
  for (size_t r = 0; r < rows.size(); ++r)
    for (int c = 0; c < 9; ++c) StringGrid1->setCell(c, int(r) + 1, rows[r][size_t(c)]);
  StringGrid1->setUpdatesEnabled(true);
}

void TForm1::SpeedButton20Click() {
  guarded([this] {
    StringGrid1->setRowCount(StringGrid1->RowCount() + 1);
    clearRow(StringGrid1, StringGrid1->RowCount() - 1);
    focusGrid(StringGrid1);
  });
}

void TForm1::SpeedButton21Click() {
  guarded([this] {
    auto* g = StringGrid1;
    const int cur = g->Row(), col = g->Col();
    g->setRowCount(g->RowCount() + 1);
    for (int r = g->RowCount() - 2; r >= cur; --r) copyRow(g, r, r + 1);
    g->select(col, cur);
    focusGrid(g);
  });
}

void TForm1::SpeedButton22Click() {
  guarded([this] {
    auto* g = StringGrid1;
    const int cur = g->Row(), col = g->Col();
    g->setRowCount(g->RowCount() + 1);
    for (int r = g->RowCount() - 2; r >= cur; --r) copyRow(g, r, r + 1);
    clearRow(g, cur + 1);
    g->select(col, cur);
    focusGrid(g);
  });
}

void TForm1::SpeedButton23Click() {
  guarded([this] {
    auto* g = StringGrid1;
    if (g->RowCount() < 3) {
      clearRow(g, 1);
    } else {
      for (int r = g->Row() + 1; r < g->RowCount(); ++r) copyRow(g, r, r - 1);
      g->setRowCount(g->RowCount() - 1);
    }
    focusGrid(g);
  });
}

void TForm1::SpeedButton24Click() {
  guarded([this] {
    auto* g = StringGrid1;
    if (g->RowCount() < 3) {
      focusGrid(g);
      return;
    }
    g->hide();
    // When every number converts, one stable sort gives the order that the
    // passes below reach, without their quadratic time on a long table. A
    // number that does not convert is met in the first pass, which ends
    // there, so the passes are cheap in that case.
    std::vector<std::pair<int, int>> keys;  // (number, row)
    for (int r = 1; r < g->RowCount(); ++r) {
      const auto v = intconv::tryParse(g->cell(0, r));
      if (!v) break;
      keys.emplace_back(*v, r);
    }
    if (int(keys.size()) == g->RowCount() - 1) {
      std::stable_sort(keys.begin(), keys.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      std::vector<QStringList> rows;
      rows.reserve(keys.size());
      for (const auto& k : keys) {
        QStringList cells;
        for (int c = 0; c < 9; ++c) cells << g->cellText(c, k.second);
        rows.push_back(std::move(cells));
      }
      for (size_t i = 0; i < rows.size(); ++i)
        for (int c = 0; c < 9; ++c) g->setCellText(c, int(i) + 1, rows[i][c]);
    }
    bool swapped = true;
    while (swapped) {
      swapped = false;
      for (int i = 2; i < g->RowCount(); ++i) {
        const auto a = intconv::tryParse(g->cell(0, i));
        const auto b = intconv::tryParse(g->cell(0, i - 1));
        if (!a || !b) {
          dialogs::message(QStringLiteral("Ошибка ввода данных в таблице."));
          g->select(0, a ? i - 1 : i);
          g->show();
          focusGrid(g);
          return;
        }
        if (*a < *b) {
          for (int c = 0; c < 9; ++c) {
            const QString t = g->cellText(c, i);
            g->setCellText(c, i, g->cellText(c, i - 1));
            g->setCellText(c, i - 1, t);
          }
          swapped = true;
        }
      }
    }
    g->show();
    SpeedButton26Click();
    focusGrid(g);
  });
}

void TForm1::SpeedButton2Click() {
  guarded([this] {
    auto* g = StringGrid1;
    for (int r = 0; r < g->RowCount(); ++r) clearRow(g, r);
    g->setRowCount(2);
    for (int c = 0; c < 9; ++c) g->setCellText(c, 0, QString::fromUtf8(kConfigTitles[c]));
  });
}

void TForm1::SpeedButton18Click() {
  guarded([this] {
    QDir::setCurrent(StartDir);
    dialogs::FileRequest req;
    req.title = QStringLiteral("Сохранение файла конфигурации");
    req.filter = QStringLiteral("конфигурация (*.cfl)|*.cfl");
    req.defaultExt = QStringLiteral("cfl");
    req.fileName = g_lastCfgSaveName;
    const auto name = dialogs::current().saveFile(req);
    if (!name || !dialogs::confirmReplace(QFileInfo(*name).absoluteFilePath(), false)) return;
    g_lastCfgSaveName = *name;
    textfile::writeAtomic(QFileInfo(*name).absoluteFilePath().toStdString(),
                          writeConfigRows(configRows()));
  });
}

void TForm1::SpeedButton17Click() {
  guarded([this] {
    QDir::setCurrent(StartDir);
    dialogs::FileRequest req;
    req.title = QStringLiteral("Открытие файла конфигурации");
    req.filter = QStringLiteral("конфигурация(*.cfl)|*.cfl|все файлы|*.*");
    const auto name = dialogs::current().openFile(req);
    if (!name) return;
    // The file is read before the table is emptied: a file that does not
    // open shows its error and leaves the table as it was.
    textfile::Reader in(QFileInfo(*name).absoluteFilePath().toStdString());
    const std::vector<ConfigTableRow> rows = readConfigRows(in);
    SpeedButton2Click();
    setConfigRows(rows);
    StringGrid1->select(0, 1);
    focusGrid(StringGrid1);
  });
}

std::optional<QString> TForm1::runOpenDialog1() {
  dialogs::FileRequest req;
  req.title = QStringLiteral("Открытие базы товаров или сообщений");
  req.filter = QStringLiteral("*.db|*.db|*.dbf|*.dbf");
  req.initialDir = OpenDialog1InitialDir;
  const auto name = dialogs::current().openFile(req);
  if (!name) return std::nullopt;
  return QFileInfo(*name).absoluteFilePath();
}

std::optional<QFont> TForm1::runFontDialog1() {
  const auto f = dialogs::current().chooseFont(fontDialog1Font_ ? *fontDialog1Font_ : QFont());
  if (f) fontDialog1Font_ = *f;
  return f;
}

void TForm1::SpeedButton27Click() {
  guarded([this] {
    if (const auto name = runOpenDialog1()) StringGrid1->setCellText(6, StringGrid1->Row(), *name);
  });
}

void TForm1::SpeedButton28Click() {
  guarded([this] {
    if (const auto name = runOpenDialog1()) StringGrid1->setCellText(7, StringGrid1->Row(), *name);
  });
}

void TForm1::SpeedButton29Click() {
  guarded([this] {
    if (const auto f = runFontDialog1()) StringGrid1->setFont(*f);
  });
}
