// Checks of the configuration table, lookup of a scale by name and the
// refill of the five scale-selection lists.
#include <QComboBox>

#include "platform/ansi.h"
#include "platform/dialogs.h"
#include "platform/guard.h"
#include "platform/intconv.h"
#include "platform/ipv4.h"
#include "shell/string_grid.h"
#include "shell/tform1.h"

namespace {

bool inRange(const std::string& text, int lo, int hi) {
  const auto v = intconv::tryParse(text);
  return v && *v >= lo && *v <= hi;
}

}  // namespace

int TForm1::NumberColFrom(const std::string& Name) const {
  for (int r = 1; r < StringGrid1->RowCount(); ++r)
    if (StringGrid1->cell(1, r) == Name) return r;
  return -1;
}

bool TForm1::RightIP(const std::string& IP) const { return ipv4::dotted(IP).has_value(); }

namespace {
// The code of the first failing check of a row, 0 when it passes.
int rowCheck(const TForm1& f, int row) {
  if (!inRange(f.StringGrid1->cell(3, row), 1, 99)) return 1;
  if (!f.RightIP(f.StringGrid1->cell(4, row))) return 2;
  if (!inRange(f.StringGrid1->cell(5, row), 1, 65535)) return 3;
  return 0;
}
}  // namespace

bool TForm1::RightCfg1(int Row) const { return rowCheck(*this, Row) == 0; }

int TForm1::RightCfg() const {
  for (int r = 1; r < StringGrid1->RowCount(); ++r)
    if (int code = rowCheck(*this, r)) return code;
  return 0;
}

void TForm1::SpeedButton25Click() {
  guarded([this] {
    for (int r = 1; r < StringGrid1->RowCount(); ++r) {
      const QString name = StringGrid1->cellText(1, r);
      switch (rowCheck(*this, r)) {
        case 1:
          dialogs::message(QStringLiteral("Проверьте правильность задания номера весов ") + name +
                           QStringLiteral(" в таблице конфигурации. Это число от 1 до 99."));
          StringGrid1->select(3, r);
          StringGrid1->setFocus();
          return;
        case 2:
          StringGrid1->select(4, r);
          StringGrid1->setFocus();
          dialogs::message(QStringLiteral("Проверьте правильность задания IP-адреса весов ") + name +
                           QStringLiteral(" в таблице конфигурации. (Например, 192.168.11.45)"));
          return;
        case 3:
          dialogs::message(QStringLiteral("Проверьте правильность задания номера порта весов ") + name +
                           QStringLiteral(" в таблице конфигурации. Это число от 1 до 65535."));
          StringGrid1->select(5, r);
          StringGrid1->setFocus();
          return;
        default:
          break;
      }
    }
    dialogs::message(QStringLiteral("Таблица конфигурации заполнена правильно."));
  });
}

void TForm1::SpeedButton26Click() {
  QStringList names;
  for (int r = 1; r < StringGrid1->RowCount(); ++r) names << StringGrid1->cellText(1, r);
  // Each list keeps the text of its edit field and has no item selected.
  for (QComboBox* c : {ComboBox2, ComboBox3, ComboBox6, ComboBox7, ComboBox8}) {
    const QString text = c->currentText();
    c->blockSignals(true);
    c->clear();
    c->addItems(names);
    c->setCurrentIndex(-1);
    c->setEditText(text);
    c->blockSignals(false);
  }
}

void TForm1::PageControl1Change() {
  guarded([this] { SpeedButton26Click(); });
}
