// The goods page and the field-compatibility buttons: the grid and navigator
// over Table1, and each control tied to its handler.
#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLayout>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <algorithm>

#include "platform/guard.h"
#include "platform/line_input.h"
#include "shell/tform1.h"
#include "storage/db_navigator.h"
#include "storage/table_model.h"

void TForm1::setupBasesPage() {
  Table1.afterInsert = [this](storage::Table&) { Table1AfterInsert(); };

  DataSource1 = new storage::TableModel(&Table1, this);
  DataSource1->setObjectName(QStringLiteral("DataSource1"));
  DataSource1->attach(DBGrid1);
  DBNavigator1 = new storage::DbNavigator(&Table1, NavigatorPlace);
  DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
  NavigatorPlace->layout()->addWidget(DBNavigator1);
  // Nothing moves or edits the table under a running walk.
  DBNavigator1->beforeAction = [this] { return !TableWalking && commitGridEdit(); };
  // Both watch Table1: they go before it when the window is destroyed.
  basesViews_.run = [this] {
    delete DBNavigator1;
    DBNavigator1 = nullptr;
    delete DataSource1;
    DataSource1 = nullptr;
  };

  // Column widths: fitted when other columns are shown; an inserted or
  // deleted record leaves the widths the operator set.
  connect(DataSource1, &QAbstractItemModel::modelReset, this,
          [this] { guarded([this] { fitGridColumns(false); }); });

  connect(N3, &QAction::triggered, this, &TForm1::N3Click);
  connect(N4, &QAction::triggered, this, &TForm1::N4Click);
  connect(ToolButton2, &QToolButton::clicked, this, &TForm1::ToolButton2Click);
  connect(N10, &QAction::triggered, this, &TForm1::N10Click);
  connect(N11, &QAction::triggered, this, &TForm1::N11Click);
  connect(ToolButton16, &QToolButton::clicked, this, &TForm1::ToolButton16Click);
  connect(PLU1, &QAction::triggered, this, &TForm1::PLU1Click);
  connect(MSG1, &QAction::triggered, this, &TForm1::MSG1Click);
  connect(N5, &QAction::triggered, this, &TForm1::N5Click);
  connect(N6, &QAction::triggered, this, &TForm1::N6Click);
  connect(N7, &QAction::triggered, this, &TForm1::N7Click);
  connect(N8, &QAction::triggered, this, &TForm1::N8Click);
  connect(PLU2, &QAction::triggered, this, &TForm1::PLU2Click);
  connect(MSG2, &QAction::triggered, this, &TForm1::MSG2Click);
  connect(ToolButton8, &QToolButton::clicked, this, &TForm1::ToolButton8Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(Button22, &QPushButton::clicked, this, &TForm1::Button22Click);

  // The logo list: a drop-down whose text can also be typed; a choice from
  // the list writes the logo number of the current record.
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  lineinput::apply(ComboBox1->lineEdit());
  ComboBox1->addItems({QStringLiteral("Отсутствует"), QStringLiteral("Ростест"),
                       QStringLiteral("Индивидуальный")});
  connect(ComboBox1, &QComboBox::activated, this, [this](int) { ComboBox1Change(); });
}

namespace {

// Characters a field's column is made wide for: a text field its size, a
// date ten, anything else eleven (a signed 32-bit number).
int displayChars(const storage::Field& f) {
  switch (f.dataType()) {
    case storage::FieldType::String:
    case storage::FieldType::Bytes: return std::clamp(f.size(), 1, 64);
    case storage::FieldType::Date: return 10;
    case storage::FieldType::DateTime: return 19;
    default: return 11;
  }
}

}  // namespace

void TForm1::fitGridColumns(bool force) {
  const int n = DataSource1->columnCount();
  QString key = QString::fromLocal8Bit(Table1.tableName().c_str());
  for (int c = 0; c < n; ++c)
    key += QLatin1Char('\n') + QString::number(DataSource1->fieldOfColumn(c)) + QLatin1Char(':') +
           DataSource1->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
  if (!force && key == gridColumnsKey_) return;
  gridColumnsKey_ = key;
  // The title of the current column is drawn bold: it must fit as well.
  QFont titleFont = DBGrid1->horizontalHeader()->font();
  titleFont.setBold(true);
  const QFontMetrics title(titleFont), cells(DBGrid1->font());
  const int digit = cells.horizontalAdvance(QLatin1Char('0'));
  for (int c = 0; c < n; ++c) {
    const QString label = DataSource1->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    const int chars = displayChars(Table1.field(DataSource1->fieldOfColumn(c)));
    DBGrid1->setColumnWidth(c, std::max(title.horizontalAdvance(label) + 16, chars * digit + 8));
  }
}

bool TForm1::commitGridEdit() { return !DataSource1 || DataSource1->commitEdit(); }

void TForm1::storeChangedRecord() {
  if (Table1.active() && Table1.modified()) Table1.post();
}
