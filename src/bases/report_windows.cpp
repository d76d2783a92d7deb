// The goods report (Form7) and the messages report (Form8): their pages,
// bands and boxes, and the binding of their value cells.
#include "bases/report_windows.h"

#include <cstddef>

#include "platform/ansi.h"
#include "shell/tform1.h"

namespace {

// A ruled column: its heading, its logical field and its box (mm).
struct Column {
  const char* heading;
  const char* field;
  double left;
  double width;
};

const Column kGoodsColumns[15] = {
    {"№PLU", "PLUNO", 0, 10.8},
    {"Наименование 1", "NAME1", 10.6, 48.9},
    {"Наименование 2", "NAME2", 59.3, 48.9},
    {"Цена, коп.", "PRICE", 108.0, 13.0},
    {"Срок хр.", "LIFE", 120.7, 13.0},
    {"Тара, гр.", "TARE", 133.3, 13.0},
    {"Код товара", "ICODE", 146.1, 15.1},
    {"Код группы", "GCODE", 160.9, 17.2},
    {"№ MSG", "MSGNO", 177.8, 13.0},
    {"Логотип", "LOGOTYPE", 190.5, 13.0},
    {"РСТ", "RST", 203.2, 8.7},
    {"Начало продаж", "START", 211.7, 23.5},
    {"Кол-во", "COUNTER", 234.9, 10.8},
    {"Сумма, коп.", "SUMM", 245.5, 17.2},
    {"Общ.вес, гр.", "WEIGHT", 262.5, 17.2},
};

const char* const kMessageFields[9] = {"MSGNO", "LINE1", "LINE2", "LINE3", "LINE4",
                                       "LINE5", "LINE6", "LINE7", "LINE8"};
// Tops of the eight stacked message lines in the detail band (mm).
const double kLineTops[8] = {0, 4.2, 8.5, 12.7, 16.9, 21.2, 25.4, 29.6};

constexpr double kHeadingPt = 6;
constexpr double kValuePt = 6;
// A value stands this far from its box's left edge and top (mm).
constexpr double kValueLeft = 2.0;
constexpr double kValueTop = 0.5;

// A ruled heading box with its caption.
void heading(report::Band& band, double left, double top, double width, double height, const char* text) {
  band.rectangle(left, top, width, height);
  band.centredLabel(left, top, width, height, QString::fromUtf8(text), kHeadingPt, true);
}

// A ruled box holding one line of a value; returns the value cell.
report::Item* valueBox(report::Band& band, double left, double top, double width, double height) {
  band.rectangle(left, top, width, height);
  return &band.value(left + kValueLeft, top + kValueTop, width - kValueLeft - kValueTop,
                     height - kValueTop, kValuePt);
}

// A report on the main window's table, captioned like its window.
void setUpReport(report::QuickRep& r, QWidget& window, const char* caption, QPageLayout::Orientation o,
                 const QMarginsF& margins, double fontSize) {
  window.setWindowTitle(QString::fromUtf8(caption));
  r.DataSet = Form1 ? &Form1->Table1 : nullptr;
  r.Title = window.windowTitle();
  r.Paper = QPageSize::A4;
  r.Orientation = o;
  r.Margins = margins;
  r.FontSize = fontSize;
}

// The field-compatibility lookup of the main window's table.
std::string lookUp(const std::string& logicalName) { return Form1 ? Form1->Ass(logicalName) : std::string(); }

}  // namespace

// ------------------------------------------------------------- goods report

TForm7::TForm7(QWidget* parent) : QWidget(parent) {
  setObjectName("Form7");
  report::QuickRep& r = QuickRep1;
  setUpReport(r, *this, "Печать базы товаров", QPageLayout::Landscape, QMarginsF(10, 10, 5, 10), 8);
  r.BeforePrint = [this] { QuickRep1BeforePrint(); };

  report::Band& h = r.PageHeader;
  h.height = 17.7;
  h.label(0, 4.2, QStringLiteral("База товаров"), 12, true);
  h.date(230.7, 2.1);
  h.label(247.7, 2.1, QStringLiteral("Стр."));
  h.pageNumber(256.1, 2.1);

  report::Band& d = r.Detail;
  d.height = 4.2;
  for (std::size_t c = 0; c < QRExpr.size(); ++c) {
    const Column& col = kGoodsColumns[c];
    heading(h, col.left, 13.8, col.width, 4.2, col.heading);
    QRExpr[c] = valueBox(d, col.left, 0, col.width, 4.2);
  }
}

void TForm7::QuickRep1BeforePrint() {
  for (std::size_t c = 0; c < QRExpr.size(); ++c)
    QRExpr[c]->expression = ansi::U(Ass(kGoodsColumns[c].field));
}

std::string TForm7::Ass(const std::string& logicalName) const { return lookUp(logicalName); }

// ---------------------------------------------------------- messages report

TForm8::TForm8(QWidget* parent) : QWidget(parent) {
  setObjectName("Form8");
  report::QuickRep& r = QuickRep1;
  setUpReport(r, *this, "Печать базы сообщений", QPageLayout::Portrait, QMarginsF(10, 10, 10, 10), 10);
  r.BeforePrint = [this] { QuickRep1BeforePrint(); };

  report::Band& h = r.PageHeader;
  h.height = 24.1;
  h.label(2.1, 4.2, QStringLiteral("База сообщений"), 12, true);
  h.date(127.0, 4.2);
  h.label(148.2, 4.2, QStringLiteral("Стр."));
  h.pageNumber(156.6, 4.2);
  heading(h, 0, 19.1, 17.2, 4.8, "№ MSG");
  heading(h, 16.9, 19.1, 171.7, 4.8, "Строки информации");

  report::Band& d = r.Detail;
  d.height = 33.9;
  // The message number in 10 pt, 4.2 mm down its tall box.
  d.rectangle(0, 0, 17.2, 33.9);
  QRExpr[0] = &d.value(kValueLeft, 4.2, 17.2 - kValueLeft - kValueTop, 33.9 - 4.2, 10);
  for (std::size_t i = 0; i < 8; ++i) QRExpr[i + 1] = valueBox(d, 16.9, kLineTops[i], 171.7, 4.2);
}

void TForm8::QuickRep1BeforePrint() {
  for (std::size_t c = 0; c < QRExpr.size(); ++c) QRExpr[c]->expression = ansi::U(Ass(kMessageFields[c]));
}

std::string TForm8::Ass(const std::string& logicalName) const { return lookUp(logicalName); }
