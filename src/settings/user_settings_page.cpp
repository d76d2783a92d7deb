// The sub-page "Формат этикетки и особенности печати": a scale's user
// settings (department, label and barcode formats, print offset, minimum
// auto-print weight, eight printing options) and its two shop name lines,
// read and written with two commands each.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <optional>

#include "link/scale_link.h"
#include "platform/ansi.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/guard.h"
#include "platform/intconv.h"
#include "platform/line_input.h"
#include "settings/settings_pages.h"
#include "shell/tform1.h"

using namespace settingspages;

namespace {

constexpr int kDefaultFlags = 0x3C;
constexpr int kShopLine = 28;  // characters of a shop name line

// A field's number when it is an integer within [low, high].
std::optional<int> inRange(const QString& text, int low, int high) {
  const auto v = intconv::tryParse(ansi::A(text));
  if (!v || *v < low || *v > high) return std::nullopt;
  return v;
}

// Shows why a write does not go ahead; false for the caller to return.
bool refuse(const char* text) {
  say(text);
  return false;
}

// An editable list shows a number as its text, selecting the item of that
// text when there is one.
void showNumber(QComboBox* box, int v) {
  const QString text = QString::number(v);
  box->setCurrentIndex(box->findText(text));
  box->setEditText(text);
}

// A shop line as it goes to the scale: a line shorter than 28 characters is
// filled up with 0x00 to 29.
std::string shopLine(const QString& text) {
  std::string line = ansi::A(text);
  if (line.size() < std::size_t(kShopLine)) line.resize(kShopLine + 1, '\0');
  return line;
}

// A shop line as the scale gives it, without the blanks that fill it up, so
// that text typed after it lands within the line.
QString shownShopLine(const std::string& line) {
  const auto end = line.find_last_not_of(' ');
  return ansi::U(line.substr(0, end == std::string::npos ? 0 : end + 1));
}

}  // namespace

std::array<QCheckBox*, 8> TForm1::printFlagBoxes() const {
  return {CheckBox4, CheckBox5, CheckBox6, CheckBox7, CheckBox8, CheckBox9, CheckBox10, CheckBox11};
}

void TForm1::buildUserSettingsPage() {
  QWidget* p = TabSheet10;
  auto* v = new QVBoxLayout(p);
  auto* columns = new QHBoxLayout();

  auto* fields = new QGridLayout();
  Edit2 = edit(p, "Edit2", false, 60);
  addRow(fields, p, QStringLiteral("Номер отдела"), Edit2);

  ComboBox4 = new QComboBox(p);
  ComboBox4->setObjectName(QStringLiteral("ComboBox4"));
  ComboBox5 = new QComboBox(p);
  ComboBox5->setObjectName(QStringLiteral("ComboBox5"));
  for (QComboBox* box : {ComboBox4, ComboBox5}) {
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setFixedWidth(60);
    lineinput::apply(box->lineEdit());
  }
  for (int i = 1; i <= 20; ++i) ComboBox4->addItem(QString::number(i));
  for (int i = 41; i <= 56; ++i) ComboBox4->addItem(QString::number(i));
  ComboBox4->addItem(QStringLiteral("58"));
  for (int i = 0; i <= 8; ++i) ComboBox5->addItem(QString::number(i));
  ComboBox4->setCurrentIndex(-1);
  ComboBox5->setCurrentIndex(-1);
  auto withHelp = [p](QComboBox* box, QToolButton* help) {
    auto* w = new QWidget(p);
    auto* h = new QHBoxLayout(w);
    h->setContentsMargins(0, 0, 0, 0);
    h->addWidget(box);
    h->addWidget(help);
    h->addStretch();
    return w;
  };
  addRow(fields, p, QStringLiteral("Формат этикетки"), withHelp(ComboBox4, SpeedButton31));
  addRow(fields, p, QStringLiteral("Формат штрих-кода"), withHelp(ComboBox5, SpeedButton32));
  Edit3 = edit(p, "Edit3", false, 60);
  addRow(fields, p, QStringLiteral("Сдвиг печати"), Edit3);
  Edit4 = edit(p, "Edit4", false, 60);
  addRow(fields, p, QStringLiteral("Мин. вес автопечати, гр."), Edit4);
  auto* left = new QVBoxLayout();
  left->addLayout(fields);
  left->addStretch();
  columns->addLayout(left);

  // The shop name beside the fields, the two buttons under it.
  auto* right = new QVBoxLayout();
  auto* shop = new QGroupBox(QStringLiteral("Название магазина"), p);
  auto* sv = new QVBoxLayout(shop);
  Edit5 = edit(shop, "Edit5", false, 220);
  Edit6 = edit(shop, "Edit6", false, 220);
  // A line takes what the scale keeps of it, so that what is seen is sent.
  for (QLineEdit* line : {Edit5, Edit6}) line->setMaxLength(kShopLine);
  sv->addWidget(Edit5);
  sv->addWidget(Edit6);
  right->addWidget(shop);
  auto* buttons = new QHBoxLayout();
  Button1 = button(p, QStringLiteral("Прочитать"), "Button1");
  Button2 = button(p, QStringLiteral("Изменить"), "Button2");
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  right->addLayout(buttons);
  right->addStretch();
  columns->addLayout(right);
  columns->addStretch();
  v->addLayout(columns);

  // The printing options under them: the two long captions on rows of
  // their own, the six short ones in pairs.
  auto* options = new QGroupBox(p);
  auto* og = new QGridLayout(options);
  const char* const names[8] = {"CheckBox4", "CheckBox5", "CheckBox6",  "CheckBox7",
                                "CheckBox8", "CheckBox9", "CheckBox10", "CheckBox11"};
  const char* const captions[8] = {"Разрешить изменение цены при вызове ячейки PLU",
                                   "Разрешить изменение цены с сохранением изменения",
                                   "Печать номера PLU",
                                   "Печать группового кода",
                                   "Печать даты упаковки",
                                   "Печать срока годности",
                                   "Печать номера этикетки",
                                   "Печать времени упаковки"};
  QCheckBox** boxes[8] = {&CheckBox4, &CheckBox5, &CheckBox6, &CheckBox7,
                          &CheckBox8, &CheckBox9, &CheckBox10, &CheckBox11};
  for (int i = 0; i < 8; ++i) {
    *boxes[i] = new QCheckBox(QString::fromUtf8(captions[i]), options);
    (*boxes[i])->setObjectName(QString::fromLatin1(names[i]));
    if (i < 2)
      og->addWidget(*boxes[i], i, 0, 1, 2);
    else
      og->addWidget(*boxes[i], 2 + (i - 2) / 2, (i - 2) % 2);
  }
  Button6 = button(options, QStringLiteral("По умолчанию"), "Button6");
  og->addWidget(Button6, 5, 1, Qt::AlignRight);
  auto* below = new QHBoxLayout();
  below->addWidget(options);
  below->addStretch();
  v->addLayout(below);
  v->addStretch();

  tabOrder({Edit2, ComboBox4, SpeedButton31, ComboBox5, SpeedButton32, Edit3, Edit4, Edit5, Edit6, Button1,
            Button2, CheckBox4, CheckBox5, CheckBox6, CheckBox7, CheckBox8, CheckBox9, CheckBox10, CheckBox11,
            Button6});

  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
}

void TForm1::Button1Click() {
  guarded([this] {
    scalelink::BusyGuard busy(*this);
    if (busy.refused()) return;
    int row = -1, timeOut = 0;
    if (!OpenScaleLink(ComboBox3->currentText(), QStringLiteral("Для чтения настроек пользователя"), row, timeOut))
      return;
    if (!handshake(*this, row, timeOut, 50)) return;
    int department = 0, labelFormat = 0, barcodeFormat = 0, offset = 0, flags = 0, minWeight = 0;
    if (!GetUserSet(department, labelFormat, barcodeFormat, offset, flags, minWeight, timeOut))
      return say(kCommandFailed);
    Edit2->setText(QString::number(department));
    showNumber(ComboBox4, labelFormat);
    showNumber(ComboBox5, barcodeFormat);
    Edit3->setText(QString::number(offset));
    Edit4->setText(QString::number(minWeight));
    const auto boxes = printFlagBoxes();
    for (int bit = 0; bit < 8; ++bit) boxes[std::size_t(bit)]->setChecked(flags >> bit & 1);

    clock_::sleep(200);
    if (!handshake(*this, row, timeOut, 50)) return;
    std::string line1, line2;
    if (!GetShop(timeOut, line1, line2)) return say(kCommandFailed);
    Edit5->setText(shownShopLine(line1));
    Edit6->setText(shownShopLine(line2));
  });
}

void TForm1::Button2Click() {
  guarded([this] {
    scalelink::BusyGuard busy(*this);
    if (busy.refused()) return;
    int department = 0, offset = 0, minWeight = 0, labelFormat = 0, barcodeFormat = 0, flags = 0;
    std::string line1, line2;
    bool accepted = false;  // the confirmation and the field checks passed
    const auto confirmAndCheck = [&](int) {
      if (dialogs::current().question(QStringLiteral(
              "ВНИМАНИЕ !\r\nНастройки пользователя будут изменены.\r\nПродолжить ?")) != dialogs::Answer::Yes) {
        return refuse("Настройки весов не изменены");
      }
      const auto d = inRange(Edit2->text(), 0, 999);
      if (!d) return refuse("Неправильная настройка номера отдела. Это число от 0 до 999.");
      const auto o = inRange(Edit3->text(), 1, 99);
      if (!o) return refuse("Неправильная настройка параметра сдвиг печати. Это число от 1 до 99.");
      const auto w = inRange(Edit4->text(), 0, 6000);
      if (!w) return refuse("Неправильная настройка минимального изменения веса для автопечати. Это число от 0 до 6000.");
      // A format may be one the lists do not hold, but it goes out as one
      // byte: a number the byte cannot carry would reach the scale as another.
      const auto lf = inRange(ComboBox4->currentText(), 0, 255);
      if (!lf) return refuse("Выберите правильный формат этикетки из списка.");
      const auto bf = inRange(ComboBox5->currentText(), 0, 255);
      if (!bf) return refuse("Выберите правильный формат штрих-кода из списка.");
      department = *d;
      offset = *o;
      minWeight = *w;
      labelFormat = *lf;
      barcodeFormat = *bf;
      const auto boxes = printFlagBoxes();
      for (int bit = 0; bit < 8; ++bit)
        if (boxes[std::size_t(bit)]->isChecked()) flags |= 1 << bit;
      line1 = shopLine(Edit5->text());
      line2 = shopLine(Edit6->text());
      accepted = true;
      return true;
    };
    int row = -1, timeOut = 0;
    if (!OpenScaleLink(ComboBox3->currentText(), QStringLiteral("Для записи настроек пользователя"), row, timeOut,
                       confirmAndCheck)) {
      if (accepted) say("Настройки весов не изменены");  // the ping or the connect failed
      return;
    }
    if (!handshake(*this, row, timeOut, 50)) return;
    if (!SendUserSet(department, labelFormat, barcodeFormat, offset, flags, minWeight, timeOut))
      return say(kCommandFailed);
    clock_::sleep(200);
    if (!handshake(*this, row, timeOut, 50)) return;
    if (!SendShop(timeOut, line1, line2)) return say(kCommandFailed);
    say("Настройки весов изменены");
  });
}

void TForm1::Button6Click() {
  guarded([this] {
    const auto boxes = printFlagBoxes();
    for (int bit = 0; bit < 8; ++bit) boxes[std::size_t(bit)]->setChecked(kDefaultFlags >> bit & 1);
  });
}
