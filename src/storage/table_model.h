#pragma once
// The grid's view of the open table: one row per record in the table's
// current order (a pending new record shows at its place), one column per
// visible field, headed by its display label.
#include <QAbstractTableModel>
#include <QPointer>
#include <QTableView>

#include "storage/table.h"

namespace storage {

class TableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TableModel(Table* table, QObject* parent = nullptr);
  ~TableModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  // The table field shown in a column, -1 when none.
  int fieldOfColumn(int column) const;
  // The characters a text field of the column holds; 0 when not limited.
  int textWidth(int column) const;

  // Shows the model in a view and keeps the view's current row and the
  // table's current record together.
  void attach(QTableView* view);

  // Puts the record of the row into edit state (a cell of it is being
  // typed into).
  void beginEdit(int row);
  // Writes the text of the view's open cell editor into the record, the
  // editor staying open. False when the field refused the text (after its
  // error box).
  bool storeEdit();
  // Writes the text of the view's open cell editor into the record and
  // closes the editor, so that what was typed counts before an action on
  // the table. False when the field refused the text (after its error box).
  bool commitEdit();

 signals:
  // The table's current record is now this row.
  void currentRowChanged(int row);

 private:
  void onChange(Change c);
  void rebuildColumns();
  void layOutNow();

  Table* table_;
  int listener_ = 0;
  std::vector<int> columns_;  // field index per column
  int rows_ = 0;
  QPointer<QTableView> view_;
};

}  // namespace storage
