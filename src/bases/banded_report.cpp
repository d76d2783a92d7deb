#include "bases/banded_report.h"

#include <QAction>
#include <QFont>
#include <QFontDatabase>
#include <QPainter>
#include <QPen>
#include <QGuiApplication>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QScreen>
#include <QPrinter>
#include <cmath>
#include <exception>
#include <map>
#include <stdexcept>
#include <utility>

#include "platform/ansi.h"
#include "platform/clock.h"
#include "storage/table.h"

namespace report {

// ------------------------------------------------------------------- bands

Item& Band::add(ItemKind kind, double left, double top, double width, double height) {
  auto item = std::make_unique<Item>();
  item->kind = kind;
  item->left = left;
  item->top = top;
  item->width = width;
  item->height = height;
  items_.push_back(std::move(item));
  return *items_.back();
}

Item& Band::label(double left, double top, const QString& text, double pointSize, bool bold) {
  Item& i = add(ItemKind::Label, left, top, 0, 0);
  i.text = text;
  i.pointSize = pointSize;
  i.bold = bold;
  return i;
}

Item& Band::centredLabel(double left, double top, double width, double height, const QString& text,
                         double pointSize, bool bold) {
  Item& i = label(left, top, text, pointSize, bold);
  i.width = width;
  i.height = height;
  i.alignment = Qt::AlignCenter;
  return i;
}

Item& Band::rectangle(double left, double top, double width, double height) {
  return add(ItemKind::Rectangle, left, top, width, height);
}

Item& Band::date(double left, double top) { return add(ItemKind::Date, left, top, 0, 0); }

Item& Band::pageNumber(double left, double top) { return add(ItemKind::PageNumber, left, top, 0, 0); }

Item& Band::value(double left, double top, double width, double height, double pointSize) {
  Item& i = add(ItemKind::Value, left, top, width, height);
  i.pointSize = pointSize;
  return i;
}

// ------------------------------------------------------------------ report

QString QuickRep::fontFamily() {
  static const QString family = QFontDatabase::hasFamily(QStringLiteral("Arial"))
                                    ? QStringLiteral("Arial")
                                    : QStringLiteral("Liberation Sans");
  return family;
}

void QuickRep::setupPrinter(QPrinter& printer) const {
  printer.setFullPage(false);
  printer.setPageLayout(QPageLayout(QPageSize(Paper), Orientation, Margins, QPageLayout::Millimeter));
}

void QuickRep::storePendingRecord() {
  if (!DataSet || !DataSet->active())
    throw storage::DbError("Cannot perform this operation on a closed dataset");
  const storage::State s = DataSet->state();
  if (s != storage::State::Edit && s != storage::State::Insert) return;
  if (DataSet->modified())
    DataSet->post();
  else
    DataSet->cancel();
}

namespace {

// Draws bands on one printer: one font object per size and weight, the
// table's fields found once per generation. Positions are laid out on a grid
// of 1/96 inch, the unit the layouts were drawn in, and a rectangle's border
// is half a grid step wide inside its box: the borders of two boxes that
// overlap by one step or touch make one line of one step, without a gap.
class Painter {
 public:
  Painter(QPrinter& printer, const QuickRep& rep) : rep_(rep) {
    if (!p_.begin(&printer)) throw std::runtime_error("The printer cannot be opened");
    step_ = printer.resolution() / 96.0;
    QPen pen(Qt::black);
    pen.setWidthF(step_ / 2);
    pen.setJoinStyle(Qt::MiterJoin);
    p_.setPen(pen);
    p_.setBrush(Qt::NoBrush);
  }
  ~Painter() {
    if (p_.isActive()) p_.end();
  }

  // The field index of every value cell of the band, -1 for none.
  void bind(const Band& band, storage::Table& table) {
    for (const auto& item : band.items()) {
      if (item->kind != ItemKind::Value) continue;
      const std::string name = ansi::A(item->expression);
      storage::Field* f = name.empty() ? nullptr : table.findField(name);
      fields_[item.get()] = f ? f->index() : -1;
    }
  }

  void band(const Band& band, double topMm, int page, const QString& date, const storage::Table* table,
            int row) {
    for (const auto& ip : band.items()) {
      const Item& item = *ip;
      const double x1 = grid(item.left), y1 = grid(topMm + item.top);
      const QRectF box(x1, y1, grid(item.left + item.width) - x1, grid(topMm + item.top + item.height) - y1);
      switch (item.kind) {
        case ItemKind::Rectangle: p_.drawRect(box.adjusted(step_ / 4, step_ / 4, -step_ / 4, -step_ / 4)); break;
        case ItemKind::Label: text(item, box, item.text); break;
        case ItemKind::Date: text(item, box, date); break;
        case ItemKind::PageNumber: text(item, box, QString::number(page)); break;
        case ItemKind::Value: {
          const int field = fields_[&item];
          if (table && field >= 0) text(item, box, ansi::U(table->textAt(row, field)));
          break;
        }
      }
    }
  }

  bool end() { return p_.end(); }

 private:
  // Millimetres to device pixels, on the layout grid.
  double grid(double mm) const { return std::round(mm * 96.0 / 25.4) * step_; }

  const QFont& font(double pointSize, bool bold) {
    const double pt = pointSize > 0 ? pointSize : rep_.FontSize;
    auto [it, added] = fonts_.try_emplace({pt, bold});
    if (added) {
      it->second.setFamily(QuickRep::fontFamily());
      it->second.setPointSizeF(pt);
      it->second.setBold(bold);
    }
    return it->second;
  }

  void text(const Item& item, const QRectF& box, const QString& s) {
    if (s.isEmpty()) return;
    p_.setFont(font(item.pointSize, item.bold));
    int flags = static_cast<int>(item.alignment) | Qt::TextSingleLine;
    QRectF r = box;
    if (item.width <= 0) {  // as wide as the text: never cut
      r.setWidth(grid(1000));
      flags |= Qt::TextDontClip;
    }
    if (item.height <= 0) r.setHeight(grid(1000));
    p_.drawText(r, flags, s);
  }

  const QuickRep& rep_;
  QPainter p_;
  double step_ = 1;  // device pixels in one grid step
  std::map<std::pair<double, bool>, QFont> fonts_;
  std::map<const Item*, int> fields_;
};

}  // namespace

int QuickRep::print(QPrinter& printer) {
  storePendingRecord();
  if (BeforePrint) BeforePrint();

  Painter painter(printer, *this);
  painter.bind(Detail, *DataSet);
  painter.bind(PageHeader, *DataSet);
  const QString date = clock_::now().date().toString(QStringLiteral("dd.MM.yyyy"));
  // The height below the top margin that bands may fill.
  const double room = printer.pageLayout().paintRect(QPageLayout::Millimeter).height();
  constexpr double kSlack = 1e-6;  // sizes are sums of tenths of a millimetre

  int page = 1;
  painter.band(PageHeader, 0, page, date, DataSet, -1);
  double y = PageHeader.height;
  const int rows = DataSet->rowCount();
  for (int row = 0; row < rows; ++row) {
    // A detail band that does not fit goes to the next page, unless the page
    // holds nothing but its header (a band taller than the page is cut).
    if (y + Detail.height > room + kSlack && y > PageHeader.height + kSlack) {
      if (!printer.newPage()) throw std::runtime_error("The printer cannot start a new page");
      ++page;
      painter.band(PageHeader, 0, page, date, DataSet, -1);
      y = PageHeader.height;
    }
    painter.band(Detail, y, page, date, DataSet, row);
    y += Detail.height;
  }
  if (!painter.end()) throw std::runtime_error("The printout cannot be finished");
  return page;
}

void QuickRep::preview(QWidget* parent) {
  // Fails before any window shows when the table is closed or its pending
  // record cannot be stored.
  storePendingRecord();

  QPrinter printer(QPrinter::HighResolution);
  setupPrinter(printer);
  QPrintPreviewDialog dialog(&printer, parent);
  dialog.setObjectName(QStringLiteral("QRPreview"));
  dialog.setWindowTitle(Title);
  std::exception_ptr failure;
  // The generation runs inside the window's own event handling: no error may
  // leave it there. The first one closes the window and is thrown below.
  QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&](QPrinter* target) {
    if (failure) return;
    try {
      print(*target);
    } catch (...) {
      failure = std::current_exception();
      QMetaObject::invokeMethod(&dialog, &QDialog::reject, Qt::QueuedConnection);
    }
  });
  // Large, and the page as wide as the window: rows of small print stay
  // readable.
  if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
    dialog.setGeometry(screen->availableGeometry());
  dialog.setWindowState(dialog.windowState() | Qt::WindowMaximized);
  if (auto* fitWidth = dialog.findChild<QAction*>(QStringLiteral("fitWidthAction")))
    fitWidth->trigger();  // the window's zoom buttons show it too
  else if (auto* view = dialog.findChild<QPrintPreviewWidget*>())
    view->fitToWidth();
  dialog.exec();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace report
