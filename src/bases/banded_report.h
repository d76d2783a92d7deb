#pragma once
// A small banded report generator on Qt's printing. A report is bound to a
// table and printed from its first record in the table's current order: a
// page header band at the top of every page and a detail band once per
// record. Bands hold labels, rectangles, the current date, the page number
// and value cells that show a field of the record by name. Sizes are in
// millimetres from the band's top left corner, fonts in points.
//
// Every generation draws on a QPrinter: the preview window's pages, the
// printout chosen from it and a PDF file come out of the same code.
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QPrinter;
class QWidget;

namespace storage {
class Table;
}

namespace report {

enum class ItemKind { Label, Rectangle, Date, PageNumber, Value };

// One element of a band. A text item draws its text inside the box left,
// top, width, height with its alignment; a zero width means as wide as the
// text. A value cell's expression is the name of the field it shows; a name
// that is empty or not a field of the table prints nothing.
struct Item {
  ItemKind kind = ItemKind::Label;
  double left = 0, top = 0, width = 0, height = 0;  // mm
  QString text;        // a label's caption
  QString expression;  // a value cell's field name
  double pointSize = 0;  // 0: the report's font size
  bool bold = false;
  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop;
};

class Band {
 public:
  double height = 0;  // mm

  Item& label(double left, double top, const QString& text, double pointSize = 0, bool bold = false);
  // A caption centred in a box.
  Item& centredLabel(double left, double top, double width, double height, const QString& text,
                     double pointSize, bool bold);
  Item& rectangle(double left, double top, double width, double height);
  Item& date(double left, double top);
  Item& pageNumber(double left, double top);
  // A value cell: its text left-aligned at the top of the box, cut at the
  // box's right edge.
  Item& value(double left, double top, double width, double height, double pointSize);

  const std::vector<std::unique_ptr<Item>>& items() const { return items_; }

 private:
  Item& add(ItemKind kind, double left, double top, double width, double height);
  std::vector<std::unique_ptr<Item>> items_;  // items keep their address
};

class QuickRep {
 public:
  storage::Table* DataSet = nullptr;
  QString Title;  // caption of the preview window
  QPageSize::PageSizeId Paper = QPageSize::A4;
  QPageLayout::Orientation Orientation = QPageLayout::Portrait;
  QMarginsF Margins;  // mm: left, top, right, bottom
  double FontSize = 10;  // pt, for text items without their own size
  Band PageHeader;
  Band Detail;
  // Raised at the start of every generation, before any record is read.
  std::function<void()> BeforePrint;

  // Paper size, orientation and margins onto a printer.
  void setupPrinter(QPrinter& printer) const;

  // One generation onto the printer; returns the number of pages. The table
  // must be open; a pending record is stored first (one in which nothing was
  // typed is dropped), as moving to the first record would do. The table's
  // current record and its views are left alone: records are read by their
  // place in the current order. Throws on any failure.
  int print(QPrinter& printer);

  // The preview window, modal; returns when the operator closes it. Printing
  // from it runs a new generation on the chosen printer. A generation that
  // fails closes the window, and its error is thrown from here.
  void preview(QWidget* parent);

  // Arial where the system has it, else the metric-compatible Liberation Sans.
  static QString fontFamily();

 private:
  void storePendingRecord();
};

}  // namespace report
