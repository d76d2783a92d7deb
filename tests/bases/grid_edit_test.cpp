// A value being typed into a cell of the goods grid counts for every entry
// that acts on the table, though the cell editor is still open, and the
// navigator offers to store it from the first key.
#include <QAction>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "storage/db_navigator.h"
#include "bases_fixture.h"

namespace {

class GridEdit : public BasesTest {
 protected:
  // A goods base of two records (PLU 1 and 2), shown on screen.
  void SetUp() override {
    BasesTest::SetUp();
    newGoods("goods.db");
    addGoods(2, "Pears", 120);
    table().first();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  }

  // Opens the editor of the field's cell in the current record and types
  // the text over what it holds, leaving the editor open.
  QLineEdit* type(const QString& title, const QString& text) {
    QTableView* grid = form->DBGrid1;
    const QStringList titles = gridTitles();
    const int column = int(titles.indexOf(title));
    EXPECT_GE(column, 0) << title.toStdString();
    const QModelIndex at = grid->model()->index(table().currentRow(), column);
    grid->setCurrentIndex(at);
    grid->edit(at);
    auto* editor = qobject_cast<QLineEdit*>(grid->indexWidget(at));
    EXPECT_NE(editor, nullptr);
    if (!editor) return nullptr;
    editor->selectAll();
    QTest::keyClicks(editor, text);
    QCoreApplication::processEvents();
    return editor;
  }
  QString file() const { return QString::fromLocal8Bit(form->Table1.tableName().c_str()); }
};

TEST_F(GridEdit, SaveStoresTheTextOfTheOpenEditorAndPostIsOfferedAtOnce) {
  auto* post = form->DBNavigator1->button(storage::DbNavigator::Post);
  EXPECT_FALSE(post->isEnabled());
  QLineEdit* editor = type(QStringLiteral("Цена"), QStringLiteral("777"));
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->text(), QStringLiteral("777"));  // nothing typed was overwritten
  EXPECT_TRUE(post->isEnabled());
  form->N10->trigger();
  EXPECT_EQ(column(file(), "PRICE"), (std::vector<std::string>{"777", "120"}));
  EXPECT_TRUE(dlg.take().isEmpty());
}

TEST_F(GridEdit, NavigatorPostStoresTheTypedText) {
  type(QStringLiteral("Наименование 1"), QStringLiteral("Apples"));
  form->DBNavigator1->button(storage::DbNavigator::Post)->click();
  EXPECT_EQ(column(file(), "NAME1"), (std::vector<std::string>{"Apples", "Pears"}));
}

TEST_F(GridEdit, TheCheckSeesAPriceBeingTyped) {
  type(QStringLiteral("Цена"), QStringLiteral("9999999"));
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Ошибка ввода цены")});
}

TEST_F(GridEdit, SortSeesAPluNumberBeingTyped) {
  type(QStringLiteral("Номер PLU"), QStringLiteral("5"));
  form->PLU1->trigger();
  EXPECT_EQ(shownColumn("PLUNO"), (std::vector<std::string>{"2", "5"}));
}

TEST_F(GridEdit, TextTheFieldRefusesStopsTheEntryAfterItsError) {
  type(QStringLiteral("Цена"), QStringLiteral("abc"));
  form->N10->trigger();
  const QStringList shown = dlg.take();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_TRUE(shown[0].startsWith("ERROR: "));
  EXPECT_EQ(column(file(), "PRICE"), (std::vector<std::string>{"0", "120"}));
}

TEST_F(GridEdit, ClosingTheProgramStoresWhatWasTyped) {
  type(QStringLiteral("Наименование 1"), QStringLiteral("Plums"));
  const QString f = file();
  EXPECT_TRUE(closeWindow());
  stop();
  EXPECT_EQ(column(f, "NAME1"), (std::vector<std::string>{"Plums", "Pears"}));
}

}  // namespace
