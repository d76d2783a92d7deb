// The sub-page "Дата и время": writes the date and then the time of its two
// fields (or of the computer's clock) into the scale chosen in ComboBox3.
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>

#include "link/scale_link.h"
#include "platform/ansi.h"
#include "platform/clock.h"
#include "platform/guard.h"
#include "platform/intconv.h"
#include "settings/settings_pages.h"
#include "shell/tform1.h"

using namespace settingspages;

namespace {

// The fixed text forms of the two fields, whatever the desktop's locale.
const QString kDateForm = QStringLiteral("dd.MM.yyyy");
const QString kTimeForm = QStringLiteral("HH:mm:ss");

const char* const kDateNoData =
    "Ошибка обмена. Линия связи исправна. Проверьте работоспособность весов или перезагрузите программу.";
const char* const kFailed = "Ошибка обмена. Повторите еще раз.";

// The three groups of decimal digits of a text such as 06.12.2026 or
// 09:05:07. Anything else (a missing separator, an empty group, another
// character) is a conversion error, shown by the default error box.
std::array<int, 3> threeNumbers(const QString& text, QChar separator) {
  const std::string s = ansi::A(text);
  std::array<int, 3> out{};
  std::size_t from = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t end = i < 2 ? s.find(char(separator.unicode()), from) : s.size();
    if (end == std::string::npos) throw intconv::ConvertError("'" + s + "' is not a valid date or time");
    const std::string group = s.substr(from, end - from);
    for (char c : group)
      if (c < '0' || c > '9') throw intconv::ConvertError("'" + group + "' is not a valid integer value");
    out[i] = intconv::parse(group);
    from = end + 1;
  }
  return out;
}

}  // namespace

void TForm1::buildDatePage() {
  QWidget* p = TabSheet12;
  auto* v = new QVBoxLayout(p);
  auto* grid = new QGridLayout();
  DateTimePicker1 = new QDateTimeEdit(p);
  DateTimePicker1->setObjectName(QStringLiteral("DateTimePicker1"));
  DateTimePicker1->setDisplayFormat(kDateForm);
  DateTimePicker1->setCalendarPopup(true);
  DateTimePicker2 = new QDateTimeEdit(p);
  DateTimePicker2->setObjectName(QStringLiteral("DateTimePicker2"));
  DateTimePicker2->setDisplayFormat(kTimeForm);
  for (QDateTimeEdit* e : {DateTimePicker1, DateTimePicker2}) e->setFixedWidth(110);
  addRow(grid, p, QStringLiteral("Дата"), DateTimePicker1);
  addRow(grid, p, QStringLiteral("Время"), DateTimePicker2);
  grid->setColumnStretch(2, 1);
  v->addLayout(grid);
  CheckBox12 = new QCheckBox(QStringLiteral("Загрузить дату и время компьютера"), p);
  CheckBox12->setObjectName(QStringLiteral("CheckBox12"));
  CheckBox12->setChecked(true);
  v->addWidget(CheckBox12);
  Button5 = button(p, QStringLiteral("Изменить"), "Button5");
  v->addWidget(Button5, 0, Qt::AlignLeft);
  v->addStretch();

  tabOrder({DateTimePicker1, DateTimePicker2, CheckBox12, Button5});
  connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
}

void TForm1::Button5Click() {
  guarded([this] {
    scalelink::BusyGuard busy(*this);
    if (busy.refused()) return;
    TcpClient1.Close();
    if (CheckBox12->isChecked()) {
      DateTimePicker1->setDateTime(clock_::now());
      DateTimePicker2->setDateTime(clock_::now());
    }
    int row = -1, timeOut = 0;
    if (!OpenScaleLink(ComboBox3->currentText(), QStringLiteral("Для записи даты и времени"), row, timeOut))
      return;
    if (!handshake(*this, row, timeOut, 50, kDateNoData)) return;
    const auto date = threeNumbers(DateTimePicker1->date().toString(kDateForm), QLatin1Char('.'));
    if (!SendDate(date[0], date[1], date[2], timeOut)) return say(kFailed);
    if (!handshake(*this, row, timeOut, 50, kDateNoData)) return;
    const auto time = threeNumbers(DateTimePicker2->time().toString(kTimeForm), QLatin1Char(':'));
    if (!SendTime(time[0], time[1], time[2], timeOut)) return say(kFailed);
    say("Запись даты и времени произведена.");
  });
}
