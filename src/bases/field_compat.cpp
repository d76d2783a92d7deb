// The field-compatibility table: logical field names of the program mapped
// to the field names of the open table, and its file poles.cfg.
#include "platform/ansi.h"
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
}

std::string TForm1::Ass(const std::string& logicalName) const {
  for (int r = 1; r <= 23; ++r)
    if (logicalName == kRows[r - 1].name) return StringGrid3->cell(2, r);
  return {};
}

std::string TForm1::polesFileBytes() const {
  std::string out;
  for (int r = 1; r <= 23; ++r) {
    out += StringGrid3->cell(2, r) + "\r\n";
    out += StringGrid3->cell(3, r) + "\r\n";
  }
  return out;
}
