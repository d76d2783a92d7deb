#pragma once
// A string grid with the semantics the program relies on: cells addressed as
// (column, row), fixed title rows and columns that are real rows and columns
// (row 0 holds the titles and can be emptied like any other), a current cell,
// and cell texts kept as Windows-1251 bytes at the interface.
#include <QTableWidget>
#include <string>

class StringGrid : public QTableWidget {
  Q_OBJECT
 public:
  StringGrid(int cols, int rows, int fixedCols, int fixedRows, QWidget* parent = nullptr);

  int RowCount() const { return rowCount(); }
  void setRowCount(int n);  // new cells are empty
  int ColCount() const { return columnCount(); }

  std::string cell(int col, int row) const;
  void setCell(int col, int row, const std::string& text);
  QString cellText(int col, int row) const;
  void setCellText(int col, int row, const QString& text);

  // Current cell (the selection the row operations use).
  int Row() const;
  int Col() const;
  void select(int col, int row);

  // Sets the columns' widths; a column is never narrower than its title.
  void setColWidths(std::initializer_list<int> widths);
  // Widens every column whose title or cells do not fit it.
  void widenToContents();

 protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;

 private:
  int titleWidth(int col) const;

  void styleCell(int col, int row);
  int fixedCols_;
  int fixedRows_;
};
