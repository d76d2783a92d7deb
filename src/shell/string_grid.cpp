#include "shell/string_grid.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <algorithm>

#include "platform/ansi.h"
#include "platform/line_input.h"

namespace {

// A cell holds what its editor shows from the first key on, not only when the
// editor closes: a button that takes no focus, a lookup or the close of the
// window then see the text as typed.
class LiveEditDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* w = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      lineinput::apply(edit);
      auto* self = const_cast<LiveEditDelegate*>(this);
      connect(edit, &QLineEdit::textEdited, self, [self, edit] { emit self->commitData(edit); });
    }
    return w;
  }
  // The text written back from the editor must not reset the editor's cursor.
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    if (auto* edit = qobject_cast<QLineEdit*>(editor);
        edit && edit->text() == index.data(Qt::EditRole).toString())
      return;
    QStyledItemDelegate::setEditorData(editor, index);
  }

 protected:
  // Home and End move the current cell, as in a table, once the editor's
  // caret is at that end of the text (or the whole text is selected, as in a
  // cell just entered); before that they move the caret. With Ctrl they
  // always move the cell.
  bool eventFilter(QObject* object, QEvent* event) override {
    auto* edit = qobject_cast<QLineEdit*>(object);
    if (edit && event->type() == QEvent::KeyPress) {
      const auto* key = static_cast<QKeyEvent*>(event);
      const bool home = key->key() == Qt::Key_Home;
      if ((home || key->key() == Qt::Key_End) && !(key->modifiers() & Qt::ShiftModifier)) {
        const bool atEnd =
            !edit->hasSelectedText() && edit->cursorPosition() == (home ? 0 : int(edit->text().size()));
        if ((key->modifiers() & Qt::ControlModifier) || atEnd || edit->selectedText() == edit->text()) {
          QCoreApplication::sendEvent(parent(), event);  // the grid
          return true;
        }
      }
    }
    return QStyledItemDelegate::eventFilter(object, event);
  }
};

}  // namespace

StringGrid::StringGrid(int cols, int rows, int fixedCols, int fixedRows, QWidget* parent)
    : QTableWidget(0, cols, parent), fixedCols_(fixedCols), fixedRows_(fixedRows) {
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(20);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::AllEditTriggers);
  setItemDelegate(new LiveEditDelegate(this));
  setRowCount(rows);
  // A title row is shown in the grid's header, so that it stays in sight
  // while the rows scroll; the row itself stays in the grid, hidden, and
  // holds the texts.
  if (fixedRows_ == 1 && rows > 0) {
    for (int c = 0; c < cols; ++c) setHorizontalHeaderItem(c, new QTableWidgetItem());
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->show();
    setRowHidden(0, true);
  }
  // The current cell never rests on a title cell: a click or a cursor key
  // that lands there leaves the current cell where it was (or on the first
  // data cell), as the row operations take the current row as a data row.
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& cur, const QModelIndex& prev) {
            if (!cur.isValid() || (cur.row() >= fixedRows_ && cur.column() >= fixedCols_)) return;
            int row = cur.row(), col = cur.column();
            if (prev.isValid() && prev.row() >= fixedRows_ && prev.column() >= fixedCols_) {
              row = prev.row();
              col = prev.column();
            }
            row = std::max(row, fixedRows_);
            col = std::max(col, fixedCols_);
            if (row < rowCount() && col < columnCount()) setCurrentCell(row, col);
          });
}

QModelIndex StringGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  // Home and End: the first and the last editable cell of the row; with Ctrl,
  // of the first and of the last data row.
  if ((action == MoveHome || action == MoveEnd) && rowCount() > fixedRows_ && columnCount() > fixedCols_) {
    const bool home = action == MoveHome;
    int row = std::clamp(Row(), fixedRows_, rowCount() - 1);
    if (modifiers & Qt::ControlModifier) row = home ? fixedRows_ : rowCount() - 1;
    return model()->index(row, home ? fixedCols_ : columnCount() - 1);
  }
  return QTableWidget::moveCursor(action, modifiers);
}

void StringGrid::styleCell(int col, int row) {
  QTableWidgetItem* it = item(row, col);
  if (!it) {
    it = new QTableWidgetItem();
    setItem(row, col, it);
  }
  if (col < fixedCols_ || row < fixedRows_) {
    it->setFlags(Qt::ItemIsEnabled);
    it->setBackground(palette().button());
  }
}

void StringGrid::setRowCount(int n) {
  if (n < 0) n = 0;
  const int old = rowCount();
  QTableWidget::setRowCount(n);
  for (int r = old; r < n; ++r)
    for (int c = 0; c < columnCount(); ++c) styleCell(c, r);
}

QString StringGrid::cellText(int col, int row) const {
  const QTableWidgetItem* it = item(row, col);
  return it ? it->text() : QString();
}

void StringGrid::setCellText(int col, int row, const QString& text) {
  if (row < 0 || col < 0 || row >= rowCount() || col >= columnCount()) return;
  styleCell(col, row);
  item(row, col)->setText(text);
  if (row == 0 && fixedRows_ == 1) {
    horizontalHeaderItem(col)->setText(text);
    setColumnWidth(col, std::max(columnWidth(col), titleWidth(col)));
  }
}

std::string StringGrid::cell(int col, int row) const { return ansi::fromUnicode(cellText(col, row)); }

void StringGrid::setCell(int col, int row, const std::string& text) {
  setCellText(col, row, ansi::toUnicode(text));
}

int StringGrid::Row() const { return currentRow() < 0 ? fixedRows_ : currentRow(); }
int StringGrid::Col() const { return currentColumn() < 0 ? fixedCols_ : currentColumn(); }

void StringGrid::select(int col, int row) { setCurrentCell(row, col); }

int StringGrid::titleWidth(int col) const {
  if (fixedRows_ != 1 || !horizontalHeaderItem(col)) return 0;
  const QString title = horizontalHeaderItem(col)->text().trimmed();
  if (title.isEmpty()) return 0;
  return horizontalHeader()->fontMetrics().horizontalAdvance(title) + 16;
}

void StringGrid::setColWidths(std::initializer_list<int> widths) {
  int c = 0;
  for (int w : widths) {
    setColumnWidth(c, std::max(w, titleWidth(c)));
    ++c;
  }
}

void StringGrid::widenToContents() {
  for (int c = 0; c < columnCount(); ++c)
    setColumnWidth(c, std::max({columnWidth(c), titleWidth(c), sizeHintForColumn(c)}));
}
