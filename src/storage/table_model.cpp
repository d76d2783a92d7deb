#include "storage/table_model.h"

#include <QItemSelectionModel>
#include <QTableView>

#include "platform/ansi.h"
#include "platform/guard.h"

namespace storage {

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
    // Same rows, other contents or order (a stored edit): a repaint is enough.
    emit dataChanged(index(0, 0), index(rows_ - 1, static_cast<int>(columns_.size()) - 1));
    emit currentRowChanged(table_->currentRow());
    return;
  }
  beginResetModel();
  rebuildColumns();
  rows_ = table_->rowCount();
  endResetModel();
  emit currentRowChanged(table_->currentRow());
}

int TableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int TableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
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

void TableModel::attach(QTableView* view) {
  view->setModel(this);
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
