// The goods page and the field-compatibility buttons: the grid and navigator
// over Table1, and each control tied to its handler.
#include <QAction>
#include <QComboBox>
#include <QLayout>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>

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
  // Both watch Table1: they go before it when the window is destroyed.
  basesViews_.run = [this] {
    delete DBNavigator1;
    DBNavigator1 = nullptr;
    delete DataSource1;
    DataSource1 = nullptr;
  };

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
  ComboBox1->addItems({QStringLiteral("Отсутствует"), QStringLiteral("Ростест"),
                       QStringLiteral("Индивидуальный")});
  connect(ComboBox1, &QComboBox::activated, this, [this](int) { ComboBox1Change(); });
}
