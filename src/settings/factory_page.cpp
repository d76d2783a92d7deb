// The page "Заводские установки": shows the factory settings of the scale
// chosen in ComboBox6 (capacity, decimal points, divisions, rounding, tare
// limit). Nothing reads these fields back.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/scale_link.h"
#include "link/wire.h"
#include "platform/guard.h"
#include "settings/settings_pages.h"
#include "shell/tform1.h"

using namespace settingspages;

namespace {

// The text of a decimal-point code; a code without meaning leaves the field.
void showPoint(QLineEdit* field, int code) {
  static const char* const texts[6] = {"0", "0", "0,0", "0,00", "0,000", "0,0000"};
  if (code >= 0 && code < 6) field->setText(QString::fromLatin1(texts[code]));
}

}  // namespace

void TForm1::buildFactoryPage() {
  QWidget* p = TabSheet5;
  auto* v = new QVBoxLayout(p);

  auto* bar = new QHBoxLayout();
  bar->addWidget(caption(p, QStringLiteral("Выбор весов")));
  ComboBox6 = scaleList(p, "ComboBox6");
  bar->addWidget(ComboBox6);
  bar->addSpacing(12);
  Button9 = button(p, QStringLiteral("Прочитать"), "Button9");
  bar->addWidget(Button9);
  bar->addStretch();
  v->addLayout(bar);

  auto* columns = new QHBoxLayout();
  auto* left = new QVBoxLayout();
  auto* main = new QGroupBox(p);
  auto* g = new QGridLayout(main);
  Edit7 = edit(main, "Edit7", true);
  Edit15 = edit(main, "Edit15", true);
  Edit13 = edit(main, "Edit13", true);
  Edit14 = edit(main, "Edit14", true);
  addRow(g, main, QStringLiteral("Наибольший предел взвешивания, гр."), Edit7);
  addRow(g, main, QStringLiteral("Вес, для которого определяется цена, гр."), Edit15);
  addRow(g, main, QStringLiteral("Округление стоимости до"), Edit13);
  addRow(g, main, QStringLiteral("Предел выборки тары, гр."), Edit14);
  left->addWidget(main);
  CheckBox18 = new QCheckBox(QStringLiteral("Двухдиапазонный режим"), p);
  CheckBox18->setObjectName(QStringLiteral("CheckBox18"));
  left->addWidget(CheckBox18);
  left->addStretch();
  columns->addLayout(left);

  auto* right = new QVBoxLayout();
  auto* point = new QGroupBox(QStringLiteral("Положение десятичной точки"), p);
  auto* gp = new QGridLayout(point);
  Edit8 = edit(point, "Edit8", true, 70);
  Edit9 = edit(point, "Edit9", true, 70);
  Edit10 = edit(point, "Edit10", true, 70);
  addRow(gp, point, QStringLiteral("Вес"), Edit8);
  addRow(gp, point, QStringLiteral("Цена"), Edit9);
  addRow(gp, point, QStringLiteral("Стоимость"), Edit10);
  right->addWidget(point);
  auto* division = new QGroupBox(QStringLiteral("Дискретность индикации веса"), p);
  auto* gd = new QGridLayout(division);
  Edit11 = edit(division, "Edit11", true, 70);
  Edit12 = edit(division, "Edit12", true, 70);
  addRow(gd, division, QStringLiteral("Верхний диапазон"), Edit11);
  addRow(gd, division, QStringLiteral("Нижний диапазон"), Edit12);
  right->addWidget(division);
  right->addStretch();
  columns->addLayout(right);
  columns->addStretch();
  v->addLayout(columns);
  v->addStretch();

  tabOrder({ComboBox6, Button9, Edit7, Edit15, Edit13, Edit14, CheckBox18,
                      Edit8,     Edit9,   Edit10, Edit11, Edit12});
  connect(Button9, &QPushButton::clicked, this, &TForm1::Button9Click);
}

void TForm1::Button9Click() {
  guarded([this] {
    scalelink::BusyGuard busy(*this);
    if (busy.refused()) return;
    int row = -1, timeOut = 0;
    if (!OpenScaleLink(ComboBox6->currentText(), QStringLiteral("Для чтения заводских настроек"), row, timeOut))
      return;
    if (!handshake(*this, row, timeOut, 50)) return;
    std::string reply;
    if (!GetFactorySet(reply, timeOut)) return say(kTransferFailed);
    const wire::FactorySettings f = wire::decodeFactorySet(reinterpret_cast<const unsigned char*>(reply.data()));
    Edit7->setText(QString::number(f.Capacity));
    showPoint(Edit8, f.PointWeight);
    showPoint(Edit9, f.PointPrice);
    showPoint(Edit10, f.PointAmount);
    CheckBox18->setChecked(f.DualRange != 0);
    Edit11->setText(QString::number(f.DivisionUpper));
    Edit12->setText(QString::number(f.DivisionLower));
    Edit13->setText(QString::number(f.Rounding));
    Edit15->setText(QString::number(f.PriceWeight));
    Edit14->setText(QString::number(f.TareLimit));
  });
}
