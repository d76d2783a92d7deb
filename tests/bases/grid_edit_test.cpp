// A value being typed into a cell of the goods grid counts for every entry
// that acts on the table, though the cell editor is still open, and the
// navigator offers to store it from the first key.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <optional>

#include "storage/db_navigator.h"
#include "shell/program.h"
#include "storage/file_lock.h"
#include "transfers/range_dialogs.h"
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
  // The engine's reason while another program reads the open table.
  QString busy() const {
    return QStringLiteral("ERROR: Таблица «") + file() +
           QStringLiteral("» занята: её читает или изменяет другая программа. "
                          "Изменение не записано, его можно повторить");
  }
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

// Letters typed into a number cell: the error box says so in Russian, and
// the operator stays in the cell with the typed text to correct it, however
// the cell is left: a key, a click on another cell, another control.
TEST_F(GridEdit, TextTheFieldRefusesStaysInTheCellToBeCorrected) {
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form));
  QTableView* grid = form->DBGrid1;
  QLineEdit* editor = type(QStringLiteral("Цена"), QStringLiteral("abc"));
  ASSERT_NE(editor, nullptr);
  const QModelIndex cell = grid->currentIndex();
  const QString refused = QStringLiteral("ERROR: Поле «PRICE»: «abc» — не целое число");
  auto stillThere = [&](const char* after) {
    EXPECT_EQ(grid->indexWidget(cell), editor) << after;
    EXPECT_TRUE(editor->isVisible()) << after;
    EXPECT_EQ(grid->currentIndex(), cell) << after;
    EXPECT_EQ(editor->text(), QStringLiteral("abc")) << after;
    EXPECT_EQ(QApplication::focusWidget(), editor) << after;
  };
  ASSERT_EQ(QApplication::focusWidget(), editor);

  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_EQ(dlg.take(), QStringList{refused});
  stillThere("Enter");
  QTest::keyClick(editor, Qt::Key_Down);
  EXPECT_EQ(dlg.take(), QStringList{refused});
  stillThere("Down");
  QTest::keyClick(editor, Qt::Key_Tab);
  EXPECT_EQ(dlg.take(), QStringList{refused});
  stillThere("Tab");
  // One box for one click, though the click both takes the focus and picks
  // another cell.
  const QModelIndex below = grid->model()->index(cell.row() + 1, cell.column());
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(below).center());
  EXPECT_EQ(dlg.take(), QStringList{refused});
  stillThere("click");
  form->ComboBox1->setFocus(Qt::MouseFocusReason);
  EXPECT_EQ(dlg.take(), QStringList{refused});
  stillThere("another control");

  // Corrected, the text is taken and the cell left.
  editor->selectAll();
  QTest::keyClicks(editor, QStringLiteral("15"));
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();  // the view closes its editor at the next turn
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(grid->indexWidget(cell), nullptr);
  form->DBNavigator1->button(storage::DbNavigator::Post)->click();
  EXPECT_EQ(column(file(), "PRICE"), (std::vector<std::string>{"15", "120"}));
  EXPECT_TRUE(dlg.take().isEmpty());
}

// A name cell takes only what its field holds, as it will be stored: a
// paste up to its line end, 28 characters at most, and no letter that
// Windows-1251 lacks (refused by name, what was typed staying).
TEST_F(GridEdit, ANameCellTakesOnlyWhatItsFieldHolds) {
  QLineEdit* editor = type(QStringLiteral("Наименование 1"), QString());
  ASSERT_NE(editor, nullptr);
  pasteText(editor, QStringLiteral("Чай\r\nзелёный\r\n"));
  typeText(editor, QStringLiteral(" Ә"));
  QCoreApplication::processEvents();
  EXPECT_EQ(dlg.take(),
            QStringList{QStringLiteral("Символ «Ә» не может быть введен: его нет в кодировке Windows-1251.")});
  EXPECT_EQ(editor->text(), QStringLiteral("Чай "));
  typeText(editor, QString(30, 'x'));
  form->N10->trigger();
  EXPECT_EQ(column(file(), "NAME1"),
            (std::vector<std::string>{ansi::A(QStringLiteral("Чай ")) + std::string(24, 'x'), "Pears"}));
}

// A rename stores what is being typed first; a record that cannot be stored
// (its PLU number cleared) keeps the table open, unrenamed, with the record.
TEST_F(GridEdit, RenameStoresWhatWasTypedFirst) {
  const QString old = file();
  QLineEdit* editor = type(QStringLiteral("Номер PLU"), QString());
  ASSERT_NE(editor, nullptr);
  QTest::keyClick(editor, Qt::Key_Delete);
  dlg.files.push_back(path("renamed.db"));
  form->N11->trigger();
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("ERROR: Поле «PLUNO» должно быть заполнено")});
  ASSERT_TRUE(table().active());
  EXPECT_EQ(file(), old);
  EXPECT_TRUE(table().modified());
  EXPECT_FALSE(QFileInfo::exists(path("renamed.db")));
  table().cancel();

  type(QStringLiteral("Цена"), QStringLiteral("777"));
  dlg.files.push_back(path("renamed.db"));
  form->N11->trigger();
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(file(), path("renamed.db"));
  EXPECT_EQ(column(file(), "PRICE"), (std::vector<std::string>{"777", "120"}));
}

// Save and Rename show why what was typed cannot be stored: another program
// holds the table, or the PLU number is left empty. The edit stays pending
// in the open table and the file keeps its records; once the table is free,
// a Save stores it, exactly once.
TEST_F(GridEdit, SaveAndRenameShowWhyTheRecordIsNotStored) {
  const QString goods = file();
  const QString noPlu = QStringLiteral("ERROR: Поле «PLUNO» должно быть заполнено");
  struct Case {
    QAction* entry;
    int newPlu;  // a new record with this PLU number (-1: the first record edited)
    bool held;
    const char* title;
    const char* typed;
  };
  const Case cases[] = {
      {form->N10, -1, true, "Цена", "777"},
      {form->N11, 3, true, "Наименование 1", "Plums"},
      {form->N10, -1, false, "Номер PLU", ""},
      {form->N11, 0, false, "Наименование 1", "no number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.typed) + " " + c.entry->objectName().toStdString());
    const auto names = column(goods, "NAME1");
    const auto prices = column(goods, "PRICE");
    if (c.newPlu >= 0) table().append();
    if (c.newPlu > 0) table().fieldByName("PLUNO").setAsInteger(c.newPlu);
    QLineEdit* editor = type(QString::fromUtf8(c.title), QString::fromUtf8(c.typed));
    ASSERT_NE(editor, nullptr);
    if (!*c.typed) QTest::keyClick(editor, Qt::Key_Delete);
    std::optional<storage::ReadLock> other;  // another program reading the table
    if (c.held) other.emplace(QFile::encodeName(goods).toStdString());
    if (c.entry == form->N11) dlg.files.push_back(path("renamed.db"));
    c.entry->trigger();
    EXPECT_EQ(dlg.take(), QStringList{c.held ? busy() : noPlu});
    ASSERT_TRUE(table().active());
    EXPECT_EQ(file(), goods);
    EXPECT_TRUE(table().modified());
    EXPECT_FALSE(QFileInfo::exists(path("renamed.db")));
    EXPECT_EQ(column(goods, "NAME1"), names);
    EXPECT_EQ(column(goods, "PRICE"), prices);
    if (!c.held) {
      table().cancel();
      continue;
    }
    other.reset();
    form->N10->trigger();
    EXPECT_TRUE(dlg.take().isEmpty());
    EXPECT_FALSE(table().modified());
    EXPECT_EQ(column(goods, "PRICE").size(), prices.size() + (c.newPlu >= 0 ? 1 : 0));
    EXPECT_EQ(shownColumn("NAME1").size(), prices.size() + (c.newPlu >= 0 ? 1 : 0));
  }
  EXPECT_EQ(column(goods, "PRICE"), (std::vector<std::string>{"777", "120", ""}));
  EXPECT_EQ(column(goods, "NAME1"), (std::vector<std::string>{"", "Pears", "Plums"}));
}

// Open, a sort and the logo choice show why the record is not stored while
// another program reads the table: the other base is not opened, the order
// stays, the edit stays pending, and the logo list shows the record's logo.
TEST_F(GridEdit, OpenSortAndLogoShowWhyTheRecordIsNotStored) {
  const QString goods = file();
  newGoods("other.db");
  openTable(goods);
  std::optional<storage::ReadLock> other;
  for (bool open : {true, false}) {
    type(QStringLiteral("Цена"), QStringLiteral("777"));
    other.emplace(QFile::encodeName(goods).toStdString());
    dlg.files.push_back(path("other.db"));
    open ? form->ToolButton2->click() : form->N6->trigger();
    EXPECT_EQ(dlg.take(), QStringList{busy()});
    EXPECT_EQ(file(), goods);
    EXPECT_TRUE(table().modified());
    EXPECT_EQ(table().indexFieldNames(), "");
    other.reset();
    dlg.files.clear();
  }
  form->N10->trigger();
  other.emplace(QFile::encodeName(goods).toStdString());
  form->ComboBox1->setCurrentIndex(2);
  emit form->ComboBox1->activated(2);
  EXPECT_EQ(dlg.take(), QStringList{busy()});
  EXPECT_EQ(form->ComboBox1->currentIndex(), 0);
  EXPECT_FALSE(table().modified());
  other.reset();
  EXPECT_EQ(column(goods, "PRICE"), (std::vector<std::string>{"777", "120"}));
  EXPECT_EQ(column(goods, "LOGOTYPE"), (std::vector<std::string>{"0", ""}));
}

// A new base, and a new table for a read, store what is being typed into the
// open table before they close it. A record that cannot be stored keeps that
// table open with the reason, and the table the new one would replace stays.
TEST_F(GridEdit, NewBaseStoresWhatWasTypedFirst) {
  const QString goods = file();
  newGoods("other.db");
  openTable(goods);
  ASSERT_EQ(file(), goods);
  const QString noPlu = QStringLiteral("ERROR: Поле «PLUNO» должно быть заполнено");
  for (QAction* entry : {form->N3, form->N4, form->N12, form->N13}) {
    const QString name = entry->objectName();
    SCOPED_TRACE(name.toStdString());
    QLineEdit* editor = type(QStringLiteral("Номер PLU"), QString());
    ASSERT_NE(editor, nullptr);
    QTest::keyClick(editor, Qt::Key_Delete);
    dlg.files = {path("other.db")};
    dlg.answers = {dialogs::Answer::Yes};
    entry->trigger();
    EXPECT_EQ(dlg.take().last(), noPlu);
    EXPECT_EQ(file(), goods);
    EXPECT_TRUE(table().modified());
    EXPECT_EQ(column(path("other.db"), "PLUNO"), std::vector<std::string>{"1"});
    EXPECT_FALSE(Form4->isVisible() || Form5->isVisible());
    table().cancel();
    dlg.files.clear();
    dlg.answers.clear();

    type(QStringLiteral("Наименование 1"), QStringLiteral("TYPED ") + name);
    dlg.files = {path(name + ".db")};
    entry->trigger();
    dlg.take();
    EXPECT_EQ(file(), path(name + ".db"));
    EXPECT_EQ(column(goods, "NAME1")[0], "TYPED " + name.toStdString());
    Form4->hide();
    Form5->hide();
    openTable(goods);
  }
}

// Closing the program stores what was typed; a text the field refuses or a
// record that cannot be stored is shown and keeps the window open with it,
// and the close after the correction stores it.
TEST_F(GridEdit, ClosingTheProgramStoresWhatWasTyped) {
  struct Case {
    const char* title;
    const char* typed;
    bool refused;
  };
  const Case cases[] = {
      {"Цена", "abc", true},
      {"Номер PLU", "", true},
      {"Наименование 1", "Plums", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    QLineEdit* editor = type(QString::fromUtf8(c.title), QString::fromUtf8(c.typed));
    ASSERT_NE(editor, nullptr);
    if (!*c.typed) QTest::keyClick(editor, Qt::Key_Delete);
    const QString f = file();
    const auto prices = column(f, "PRICE");
    EXPECT_EQ(closeWindow(), !c.refused);
    if (!c.refused) {
      stop();
      EXPECT_EQ(column(f, "NAME1"), (std::vector<std::string>{"Plums", "Pears"}));
      return;
    }
    const QStringList shown = dlg.take();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].startsWith("ERROR: ")) << shown[0].toStdString();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(column(f, "PRICE"), prices);
    // Corrected, the record is stored by the next entry that acts on the table.
    type(QString::fromUtf8(c.title), QStringLiteral("5"));
    form->N10->trigger();
    EXPECT_TRUE(dlg.take().isEmpty());
  }
}

}  // namespace
