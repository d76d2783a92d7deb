#include "storage/table_model.h"

#include <QApplication>
#include <algorithm>
#include <QFocusEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTableView>

#include "platform/ansi.h"
#include "platform/guard.h"
#include "platform/line_input.h"

namespace storage {

namespace {

// The grid's cell editor: the first key typed into it puts the record into
// edit state (so that the navigator's post is offered at once), and the
// record's own changes never overwrite what is being typed. Leaving the
// cell stores its text first; a text the field refuses (letters in a number
// field) keeps the operator in the cell with what was typed, after the
// error box, so that it can be corrected.
class GridEditDelegate : public QStyledItemDelegate {
 public:
  GridEditDelegate(TableModel* model, QTableView* view)
      : QStyledItemDelegate(view), model_(model), view_(view), viewport_(view->viewport()) {
    viewport_->installEventFilter(this);
  }
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* w = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      lineinput::apply(edit, model_->textWidth(index.column()));
      const QPersistentModelIndex at(index);
      TableModel* model = model_;
      connect(edit, &QLineEdit::textEdited, edit, [model, at] {
        if (at.isValid()) model->beginEdit(at.row());
      });
    }
    return w;
  }
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    if (auto* edit = qobject_cast<QLineEdit*>(editor); edit && edit->isModified()) return;
    QStyledItemDelegate::setEditorData(editor, index);
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (object == viewport_) {
      // The click into the grid that took the focus from a refused text
      // goes no further: the editor has the focus back.
      const bool press = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
      auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
      return press && edit && view_->indexWidget(view_->currentIndex()) == edit;
    }
    auto* edit = qobject_cast<QLineEdit*>(object);
    if (edit && type == QEvent::KeyPress && leavesCell(static_cast<QKeyEvent*>(event)->key()) &&
        !model_->storeEdit())
      return true;
    if (edit && type == QEvent::FocusOut) {
      switch (static_cast<QFocusEvent*>(event)->reason()) {
        case Qt::ActiveWindowFocusReason:
        case Qt::PopupFocusReason:
          // Another window (the error box among them) or a menu takes the
          // focus for a while: the cell is not left.
          return true;
        case Qt::MouseFocusReason:
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
          // The operator moves to another control.
          if (!model_->storeEdit()) {
            edit->setFocus();
            return true;
          }
          break;
        default:
          break;  // the program moves the focus (the grid going away among others)
      }
    }
    return QStyledItemDelegate::eventFilter(object, event);
  }

 private:
  // Keys that end the edit of a cell or move to another one.
  static bool leavesCell(int key) {
    switch (key) {
      case Qt::Key_Return: case Qt::Key_Enter: case Qt::Key_Tab: case Qt::Key_Backtab:
      case Qt::Key_Up: case Qt::Key_Down: case Qt::Key_PageUp: case Qt::Key_PageDown:
        return true;
      default:
        return false;
    }
  }

  TableModel* model_;
  QTableView* view_;
  QWidget* viewport_;  // only compared: its events still come while the view is destroyed
};

}  // namespace

TableModel::TableModel(Table* table, QObject* parent) : QAbstractTableModel(parent), table_(table) {
  rebuildColumns();
  rows_ = table_->rowCount();
  listener_ = table_->addListener([this](Change c) { onChange(c); });
}

TableModel::~TableModel() { table_->removeListener(listener_); }

void TableModel::rebuildColumns() {
  columns_.clear();
  if (!table_->active()) return;
  for (int i = 0; i < table_->fieldCount(); ++i)
    if (table_->field(i).visible()) columns_.push_back(i);
}

void TableModel::onChange(Change c) {
  if (c == Change::Current && table_->rowCount() == rows_) {
    const int row = table_->currentRow();
    if (row >= 0 && !columns_.empty())
      emit dataChanged(index(row, 0), index(row, static_cast<int>(columns_.size()) - 1));
    emit currentRowChanged(row);
    return;
  }
  if (c == Change::Data && table_->rowCount() == rows_ && rows_ > 0 && !columns_.empty()) {
    // Same rows, other contents or order (a stored edit): the rows it
    // touched are repainted, not the whole grid once a stored record.
    const auto [from, to] = table_->changedRows();
    const int first = std::clamp(from, 0, rows_ - 1), last = std::clamp(to, first, rows_ - 1);
    emit dataChanged(index(first, 0), index(last, static_cast<int>(columns_.size()) - 1));
    emit currentRowChanged(table_->currentRow());
    return;
  }
  if (c == Change::Data && table_->state() == State::Insert && table_->rowCount() == rows_ + 1) {
    // A new record shows at its place: one row more, the columns as they
    // were; the view makes room for it without being set up anew.
    const int row = table_->currentRow();
    beginInsertRows(QModelIndex(), row, row);
    rows_ = table_->rowCount();
    endInsertRows();
    layOutNow();
    emit currentRowChanged(row);
    return;
  }
  beginResetModel();
  rebuildColumns();
  rows_ = table_->rowCount();
  endResetModel();
  layOutNow();
  emit currentRowChanged(table_->currentRow());
}

void TableModel::layOutNow() {
  // The view lays its rows out at once rather than at a later turn of the
  // event loop, so that a record added by a loop costs one repaint, not two.
  if (view_ && view_->isVisible()) view_->doItemsLayout();
}

int TableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int TableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

int TableModel::textWidth(int column) const {
  const int f = fieldOfColumn(column);
  if (f < 0 || !table_->active() || table_->field(f).dataType() != FieldType::String) return 0;
  return table_->field(f).size();
}

int TableModel::fieldOfColumn(int column) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return -1;
  return columns_[static_cast<std::size_t>(column)];
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
  const int f = fieldOfColumn(index.column());
  if (!index.isValid() || f < 0 || !table_->active()) return {};
  if (role == Qt::DisplayRole || role == Qt::EditRole)
    return ansi::U(table_->textAt(index.row(), f));
  if (role == Qt::TextAlignmentRole) {
    switch (table_->field(f).alignment()) {
      case Alignment::Right: return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      case Alignment::Center: return QVariant::fromValue(Qt::AlignHCenter | Qt::AlignVCenter);
      case Alignment::Left: return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
  }
  return {};
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  const int f = fieldOfColumn(section);
  if (f < 0) return {};
  return ansi::U(table_->field(f).displayLabel());
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const {
  const int f = fieldOfColumn(index.column());
  if (!index.isValid() || f < 0) return Qt::NoItemFlags;
  Qt::ItemFlags fl = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
  const Field& field = table_->field(f);
  if (!table_->readOnly() && !field.readOnly() && field.dataType() != FieldType::AutoInc)
    fl |= Qt::ItemIsEditable;
  return fl;
}

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const int f = fieldOfColumn(index.column());
  if (role != Qt::EditRole || f < 0) return false;
  return guarded([&] {
    table_->goToRow(index.row());
    Field& field = table_->field(f);
    const std::string text = ansi::A(value.toString());
    // A cell left as it was changes nothing: a new record the operator only
    // stepped through stays unchanged and is dropped when left.
    if (text == field.asString()) return;
    field.setAsString(text);
  });
}

void TableModel::beginEdit(int row) {
  guarded([&] {
    if (!table_->active() || table_->state() != State::Browse) return;
    table_->goToRow(row);
    table_->edit();
  });
}

bool TableModel::storeEdit() {
  if (!view_) return true;
  const QModelIndex at = view_->currentIndex();
  auto* edit = qobject_cast<QLineEdit*>(view_->indexWidget(at));
  return !edit || !edit->isModified() || setData(at, edit->text(), Qt::EditRole);
}

bool TableModel::commitEdit() {
  // A text that the field refuses keeps the editor open, after its error.
  if (!storeEdit()) return false;
  if (view_)
    if (auto* edit = qobject_cast<QLineEdit*>(view_->indexWidget(view_->currentIndex())))
      emit view_->itemDelegate()->closeEditor(edit, QAbstractItemDelegate::NoHint);
  return true;
}

void TableModel::attach(QTableView* view) {
  view_ = view;
  view->setModel(this);
  view->setItemDelegate(new GridEditDelegate(this, view));
  view->setSelectionBehavior(QAbstractItemView::SelectItems);
  QItemSelectionModel* sel = view->selectionModel();
  connect(sel, &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& now, const QModelIndex&) {
            if (!now.isValid() || !table_->active() || now.row() == table_->currentRow()) return;
            // A pending record that cannot be stored keeps the grid on it.
            if (!guarded([&] { table_->goToRow(now.row()); })) emit currentRowChanged(table_->currentRow());
          });
  connect(this, &TableModel::currentRowChanged, view, [this, view](int row) {
    if (row < 0 || columns_.empty()) return;
    QModelIndex cur = view->currentIndex();
    const int col = cur.isValid() ? cur.column() : 0;
    if (cur.isValid() && cur.row() == row) return;
    // A record that the program moved to out of sight (a transfer walking
    // the table) brings it to the top of the view: the rows below follow
    // without a scroll each, so the grid is redrawn once a page, not once a
    // record.
    const QModelIndex to = index(row, col);
    if (!view->viewport()->rect().contains(view->visualRect(to)))
      view->scrollTo(to, QAbstractItemView::PositionAtTop);
    view->selectionModel()->setCurrentIndex(to, QItemSelectionModel::ClearAndSelect);
  });
}

}  // namespace storage
