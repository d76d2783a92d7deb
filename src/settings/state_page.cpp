// The page "Текущее состояние": a scale's weighing state, printer counters,
// grand totals and free cells, read with two commands, and the clearing of
// the grand totals.
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/scale_link.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/guard.h"
#include "settings/settings_pages.h"
#include "shell/tform1.h"

using namespace settingspages;

namespace {

// A flag label shows its state by the colour of its text.
void showFlag(QLabel* label, bool on) {
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, on ? QColor(255, 0, 0) : QColor(128, 128, 128));
  label->setPalette(p);
}

// The general floating-point form (up to 15 significant digits, no trailing
// zeros) with the desktop's decimal separator.
QString floatText(double v) {
  QString s = QString::number(v, 'g', 15);
  return s.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

// Three two-digit groups of a ddmmyy or hhmmss number, zeros put in front
// until it has six digits.
QString groupsOfTwo(int v, QChar separator) {
  const QString s = QString::number(v).rightJustified(6, QLatin1Char('0'));
  return s.mid(0, 2) + separator + s.mid(2, 2) + separator + s.mid(4, 2);
}

}  // namespace

void TForm1::buildStatePage() {
  QWidget* p = TabSheet6;
  auto* v = new QVBoxLayout(p);

  auto* bar = new QHBoxLayout();
  bar->addWidget(caption(p, QStringLiteral("Выбор весов")));
  ComboBox7 = scaleList(p, "ComboBox7");
  bar->addWidget(ComboBox7);
  bar->addSpacing(12);
  Button11 = button(p, QStringLiteral("Прочитать"), "Button11");
  bar->addWidget(Button11);
  Button17 = button(p, QStringLiteral("Обнулить общий итог"), "Button17");
  bar->addWidget(Button17);
  bar->addStretch();
  v->addLayout(bar);

  // Left: the weighing state, its flags and the free cells; right: the
  // grand totals and the printer counters.
  auto* columns = new QHBoxLayout();
  auto* left = new QVBoxLayout();
  auto* weighing = new QGroupBox(p);
  auto* g1 = new QGridLayout(weighing);
  Edit16 = edit(weighing, "Edit16", true);
  Edit17 = edit(weighing, "Edit17", true);
  Edit18 = edit(weighing, "Edit18", true);
  Edit19 = edit(weighing, "Edit19", true);
  addRow(g1, weighing, QStringLiteral("Вес, гр."), Edit16);
  addRow(g1, weighing, QStringLiteral("Цена, коп."), Edit17);
  addRow(g1, weighing, QStringLiteral("Стоимость, коп."), Edit18);
  addRow(g1, weighing, QStringLiteral("Номер выбранного товара"), Edit19);
  left->addWidget(weighing);

  auto* flags = new QGroupBox(p);
  auto* gf = new QGridLayout(flags);
  Label31 = caption(flags, QStringLiteral("Перегрузка"), "Label31");
  Label32 = caption(flags, QStringLiteral("Выбор тары"), "Label32");
  Label33 = caption(flags, QStringLiteral("Нулевой вес"), "Label33");
  Label34 = caption(flags, QStringLiteral("Двухдиапазонный режим"), "Label34");
  Label35 = caption(flags, QStringLiteral("Вес стабильный"), "Label35");
  int at = 0;
  for (QLabel* l : {Label31, Label32, Label33, Label35, Label34}) {
    showFlag(l, false);
    gf->addWidget(l, at / 2, at % 2);
    ++at;
  }
  left->addWidget(flags);

  auto* cells = new QGroupBox(p);
  auto* g4 = new QGridLayout(cells);
  Edit21 = edit(cells, "Edit21", true);
  Edit22 = edit(cells, "Edit22", true);
  addRow(g4, cells, QStringLiteral("Количество свободных ячеек PLU"), Edit21);
  addRow(g4, cells, QStringLiteral("Количество свободных ячеек MSG"), Edit22);
  left->addWidget(cells);
  left->addStretch();
  columns->addLayout(left);

  auto* right = new QVBoxLayout();
  auto* totals = new QGroupBox(QStringLiteral("Итоги по всем продажам (PLU и non-PLU)"), p);
  auto* g3 = new QGridLayout(totals);
  Edit27 = edit(totals, "Edit27", true);
  Edit28 = edit(totals, "Edit28", true);
  Edit29 = edit(totals, "Edit29", true);
  Edit25 = edit(totals, "Edit25", true);
  Edit26 = edit(totals, "Edit26", true);
  addRow(g3, totals, QStringLiteral("Общая сумма, руб."), Edit27);
  addRow(g3, totals, QStringLiteral("Количество продаж"), Edit28);
  addRow(g3, totals, QStringLiteral("Общий вес, кг"), Edit29);
  addRow(g3, totals, QStringLiteral("Дата последнего обнуления общих итогов"), Edit25);
  addRow(g3, totals, QStringLiteral("Время последнего обнуления общих итогов"), Edit26);
  right->addWidget(totals);

  auto* printer = new QGroupBox(QStringLiteral(" Состояние принтера "), p);
  auto* g2 = new QGridLayout(printer);
  Edit23 = edit(printer, "Edit23", true);
  Edit24 = edit(printer, "Edit24", true);
  addRow(g2, printer, QStringLiteral("Счетчик пробега ленты, мм"), Edit23);
  addRow(g2, printer, QStringLiteral("Счетчик этикеток, шт."), Edit24);
  right->addWidget(printer);
  right->addStretch();
  columns->addLayout(right);
  columns->addStretch();
  v->addLayout(columns);
  v->addStretch();

  tabOrder({ComboBox7, Button11, Button17, Edit16, Edit17, Edit18, Edit19, Edit21, Edit22, Edit27, Edit28, Edit29,
            Edit25, Edit26, Edit23, Edit24});

  connect(Button11, &QPushButton::clicked, this, &TForm1::Button11Click);
  connect(Button17, &QPushButton::clicked, this, &TForm1::Button17Click);
}

void TForm1::Button11Click() {
  guarded([this] {
    scalelink::BusyGuard busy(*this);
    if (busy.refused()) return;
    for (QLabel* l : {Label31, Label32, Label33, Label34, Label35}) showFlag(l, false);
    int row = -1, timeOut = 0;
    if (!OpenScaleLink(ComboBox7->currentText(), QStringLiteral("Для чтения текущего состояния"), row, timeOut))
      return;
    if (!handshake(*this, row, timeOut, 50)) return;
    int flags = 0, weight = 0, price = 0, amount = 0, plu = 0;
    if (!GetStatus(flags, weight, price, amount, plu, timeOut)) return say(kCommandFailed);
    showFlag(Label31, flags & 0x01);
    showFlag(Label32, flags & 0x04);
    showFlag(Label33, flags & 0x08);
    showFlag(Label34, flags & 0x20);
    showFlag(Label35, flags & 0x40);
    if (flags & 0x80) weight = -weight;
    Edit16->setText(QString::number(weight));
    Edit17->setText(QString::number(price));
    Edit18->setText(QString::number(amount));
    Edit19->setText(QString::number(plu));

    clock_::sleep(200);
    if (!handshake(*this, row, timeOut, 50)) return;
    int tapeRun = 0, labels = 0, grandSum = 0, sales = 0, grandWeight = 0, a = 0, b = 0, c = 0;
    int clearDate = 0, clearTime = 0, freePlu = 0, freeMsg = 0;
    if (!GetTotal(tapeRun, labels, grandSum, sales, grandWeight, a, b, c, clearDate, clearTime, freePlu, freeMsg,
                  timeOut))
      return say(kCommandFailed);
    Edit23->setText(QString::number(tapeRun));
    Edit24->setText(QString::number(labels));
    Edit28->setText(QString::number(sales));
    Edit21->setText(QString::number(freePlu));
    Edit22->setText(QString::number(freeMsg));
    // Both totals are unsigned on the wire: a sum past 2^31 kopecks must not
    // show as a negative amount.
    Edit27->setText(floatText(double(quint32(grandSum)) / 100));
    Edit29->setText(floatText(double(quint32(grandWeight)) / 1000));
    Edit25->setText(groupsOfTwo(clearDate, QLatin1Char('.')));
    Edit26->setText(groupsOfTwo(clearTime, QLatin1Char(':')));
    say("Данные приняты.");
  });
}

void TForm1::Button17Click() {
  guarded([this] {
    scalelink::BusyGuard busy(*this);
    if (busy.refused()) return;
    int row = -1, timeOut = 0;
    const auto confirmed = [](int) {
      return dialogs::current().question(
                 QStringLiteral("ВНИМАНИЕ !\r\nСуммарный итог продаж по всем товарам будет удален.\r\nПродолжить ?")) ==
             dialogs::Answer::Yes;
    };
    if (!OpenScaleLink(ComboBox7->currentText(), QStringLiteral("Для обнуления общих итогов"), row, timeOut,
                       confirmed))
      return;
    if (!handshake(*this, row, timeOut, 50)) return;
    if (!ClearTotal(timeOut)) return say(kCommandFailed);
    say("Суммарный итог продаж по всем товарам обнулен. (Это не приводит к стиранию итогов по каждому товару "
        "отдельно.)");
  });
}
