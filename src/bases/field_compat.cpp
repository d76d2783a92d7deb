// The field-compatibility table: logical field names of the program mapped
// to the field names of the open table, and its file poles.cfg.
#include "platform/ansi.h"
#include "bases/field_labels.h"
#include "platform/guard.h"
#include "platform/textfile.h"
#include "shell/string_grid.h"
#include "shell/tform1.h"

namespace {

struct Row {
  const char* name;
  const char* type;
  const char* note;
};

// Rows 1..23 in their fixed order; column 2 defaults to the name.
const Row kRows[23] = {
    {"PLUNO", " Числовой (4)*", " Номер PLU "},
    {"NAME1", " Текстовый (28)*", " Наименование товара (I строка) "},
    {"NAME2", " Текстовый (28)*", " Наименование товара (II строка) "},
    {"PRICE", " Числовой (6)*", " Отпускная цена "},
    {"LIFE", " Текстовый (8)", " Срок хранения в сутках или датой "},
    {"TARE", " Числовой (4)", " Вес тары, гр. "},
    {"ICODE", " Числовой (6)*", " Код товара "},
    {"GCODE", " Числовой (6)", " Групповой код "},
    {"LOGOTYPE", " Числовой (1)", " Номер логотипа (0,1 или 2) "},
    {"RST", " Текстовый (4)", " Значение логотипа Ростест "},
    {"MSGNO", " Числовой (4)*", " Номер сообщения "},
    {"LINE1", " Текстовый (50)", " Строка сообщения "},
    {"LINE2", " Текстовый (50)", " Строка сообщения "},
    {"LINE3", " Текстовый (50)", " Строка сообщения "},
    {"LINE4", " Текстовый (50)", " Строка сообщения "},
    {"LINE5", " Текстовый (50)", " Строка сообщения "},
    {"LINE6", " Текстовый (50)", " Строка сообщения "},
    {"LINE7", " Текстовый (50)", " Строка сообщения "},
    {"LINE8", " Текстовый (50)", " Строка сообщения "},
    {"START", " Текстовый ", "Дата и время начала продаж - только для чтения "},
    {"COUNTER", " Числовой *", " Количество продаж по товару - только для чтения "},
    {"SUMM", " Текстовый ", " Сумма продаж по товару - только для чтения "},
    {"WEIGHT", " Текстовый ", " Общий вес продаж по товару - только для чтения "},
};

}  // namespace

void TForm1::Button10Click() {
  auto* g = StringGrid3;
  g->setCellText(0, 0, QStringLiteral(" Требуемое поле БД "));
  g->setCellText(1, 0, QStringLiteral(" Тип данных "));
  g->setCellText(2, 0, QStringLiteral(" Соответствие с БД пользователя "));
  g->setCellText(3, 0, QStringLiteral(" Примечание "));
  for (int r = 1; r <= 23; ++r) {
    const Row& row = kRows[r - 1];
    g->setCellText(0, r, QString::fromUtf8(row.name));
    g->setCellText(1, r, QString::fromUtf8(row.type));
    g->setCellText(2, r, QString::fromUtf8(row.name));
    g->setCellText(3, r, QString::fromUtf8(row.note));
  }
  g->widenToContents();
}

std::string TForm1::Ass(const std::string& logicalName) const {
  for (int r = 1; r <= 23; ++r)
    if (logicalName == kRows[r - 1].name) return StringGrid3->cell(2, r);
  return {};
}

std::string TForm1::polesFileBytes() const {
  std::vector<std::string> lines;
  for (int r = 1; r <= 23; ++r) {
    lines.push_back(StringGrid3->cell(2, r));
    lines.push_back(StringGrid3->cell(3, r));
  }
  return textfile::joinLines(lines);
}

namespace {

// One display step of "Применить": a field found by its mapped name (or the
// literal key name) and one property set on it.
enum class Prop { Hide, Label, Right, ReadOnly };
struct DisplayStep {
  const char* logical;  // "NO" is the literal key name, never mapped
  Prop prop;
  const char* label;
};

const DisplayStep kDisplaySteps[29] = {
    {"NO", Prop::Hide, nullptr},
    {"PLUNO", Prop::Label, "Номер PLU"},
    {"NAME1", Prop::Label, "Наименование 1"},
    {"NAME2", Prop::Label, "Наименование 2"},
    {"PRICE", Prop::Label, "Цена"},
    {"LIFE", Prop::Label, "Срок хранения"},
    {"LIFE", Prop::Right, nullptr},
    {"TARE", Prop::Label, "Вес тары"},
    {"ICODE", Prop::Label, "Код товара"},
    {"GCODE", Prop::Label, "Групповой код"},
    {"MSGNO", Prop::Label, "Номер сообщения"},
    {"LOGOTYPE", Prop::Label, "№ логотипа"},
    {"RST", Prop::Label, "Код Ростеста"},
    {"START", Prop::Label, "Начало продаж"},
    {"START", Prop::ReadOnly, nullptr},
    {"COUNTER", Prop::Label, "Количество"},
    {"COUNTER", Prop::ReadOnly, nullptr},
    {"SUMM", Prop::Label, "Сумма, коп."},
    {"SUMM", Prop::ReadOnly, nullptr},
    {"WEIGHT", Prop::Label, "Общий вес, гр."},
    {"WEIGHT", Prop::ReadOnly, nullptr},
    {"LINE1", Prop::Label, "Строка 1"},
    {"LINE2", Prop::Label, "Строка 2"},
    {"LINE3", Prop::Label, "Строка 3"},
    {"LINE4", Prop::Label, "Строка 4"},
    {"LINE5", Prop::Label, "Строка 5"},
    {"LINE6", Prop::Label, "Строка 6"},
    {"LINE7", Prop::Label, "Строка 7"},
    {"LINE8", Prop::Label, "Строка 8"},
};

}  // namespace

std::string fieldDisplayLabel(const std::string& logical) {
  for (const DisplayStep& s : kDisplaySteps)
    if (s.prop == Prop::Label && logical == s.logical) return ansi::A(QString::fromUtf8(s.label));
  return {};
}

void TForm1::Button22Click() {
  guarded([this] {
    for (const DisplayStep& s : kDisplaySteps) {
      // A step whose field the open table lacks is skipped silently.
      try {
        const std::string logical = s.logical;
        storage::Field* f = Table1.findField(logical == "NO" ? logical : Ass(logical));
        if (!f) continue;
        switch (s.prop) {
          case Prop::Hide: f->setVisible(false); break;
          case Prop::Label: f->setDisplayLabel(ansi::A(QString::fromUtf8(s.label))); break;
          case Prop::Right: f->setAlignment(storage::Alignment::Right); break;
          case Prop::ReadOnly: f->setReadOnly(true); break;
        }
      } catch (...) {
      }
    }
  });
}
