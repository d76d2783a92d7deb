// The configuration table page: row operations, sort, checks, scale lists,
// save and open of *.cfl files.
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include "platform/ansi.h"
#include "shell/config_file.h"
#include "shell/string_grid.h"
#include "support/gui_fixture.h"

namespace {

class ConfigTable : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    start();
    grid = form->StringGrid1;
  }
  // Replaces the table with rows given as "no|name|dept|scale|ip|port".
  void setRows(const std::vector<std::string>& rows) {
    std::vector<ConfigTableRow> data;
    for (const auto& utf8 : rows) {
      const std::string spec = ansi::A(QString::fromStdString(utf8));
      ConfigTableRow r;
      size_t c = 0, start = 0;
      for (size_t i = 0; i <= spec.size(); ++i)
        if (i == spec.size() || spec[i] == '|') {
          r[c++] = spec.substr(start, i - start);
          start = i + 1;
        }
      data.push_back(r);
    }
    form->setConfigRows(data);
  }
  std::vector<std::string> column(int c) {
    std::vector<std::string> out;
    for (int r = 1; r < grid->RowCount(); ++r) out.push_back(grid->cell(c, r));
    return out;
  }
  // Shows the page with these rows and opens the editor of row 1's name
  // cell, as a click and a key would; null when none opens.
  QLineEdit* editFirstName(const std::vector<std::string>& rows) {
    form->show();
    form->PageControl1->setCurrentWidget(form->TabSheet2);
    QApplication::setActiveWindow(form);
    if (!QTest::qWaitForWindowActive(form)) return nullptr;
    setRows(rows);
    grid->setFocus();
    grid->select(1, 1);
    if (!qobject_cast<QLineEdit*>(QApplication::focusWidget())) grid->editItem(grid->item(1, 1));
    return qobject_cast<QLineEdit*>(QApplication::focusWidget());
  }
  StringGrid* grid = nullptr;
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(ConfigTable, DeleteOnTheOnlyRowEmptiesIt) {
  setRows({"1|A|d|1|1.2.3.4|1"});
  form->SpeedButton23->click();
  EXPECT_EQ(grid->RowCount(), 2);
  EXPECT_EQ(form->configRows(), std::vector<ConfigTableRow>{ConfigTableRow{}});
}

TEST_F(ConfigTable, AddCopyInsertDeleteRows) {
  setRows({"1|A", "2|B"});
  grid->select(1, 2);
  form->SpeedButton21->click();  // copy the last row: its duplicate is appended
  EXPECT_EQ(column(1), (Names{"A", "B", "B"}));
  EXPECT_EQ(grid->Row(), 2);
  grid->select(0, 3);
  form->SpeedButton22->click();  // insert below the last row: an empty row
  EXPECT_EQ(column(1), (Names{"A", "B", "B", ""}));
  grid->select(0, 1);
  form->SpeedButton22->click();
  EXPECT_EQ(column(1), (Names{"A", "", "B", "B", ""}));
  form->SpeedButton20->click();  // add at the end; the current cell stays
  EXPECT_EQ(grid->RowCount(), 7);
  EXPECT_EQ(grid->Row(), 1);
  grid->select(0, 2);
  form->SpeedButton23->click();
  EXPECT_EQ(column(1), (Names{"A", "B", "B", "", ""}));
}

TEST_F(ConfigTable, SortIsNumericAndStable) {
  setRows({"2|two", "10|ten", "1|one", " 03|three", "2|two-b", "0002|two-c"});
  form->SpeedButton24->click();
  EXPECT_TRUE(dlg.shown.isEmpty());
  EXPECT_EQ(column(1), (Names{"one", "two", "two-b", "two-c", "three", "ten"}));
  EXPECT_EQ(form->ComboBox2->itemText(0), QStringLiteral("one"));  // lists refilled
  EXPECT_FALSE(grid->isHidden());
}

TEST_F(ConfigTable, SortStopsAtTheFirstBadNumber) {
  form->show();
  setRows({"5|a", "4|b", "x|c", "1|d"});
  form->SpeedButton24->click();
  EXPECT_EQ(dlg.take(), QStringList{"Ошибка ввода данных в таблице."});
  EXPECT_EQ(grid->Row(), 3);
  EXPECT_EQ(grid->Col(), 0);
  EXPECT_EQ(column(1), (Names{"b", "a", "c", "d"}));  // the order reached so far
  EXPECT_FALSE(grid->isHidden());
  EXPECT_EQ(form->ComboBox2->count(), 1);  // not refilled
  setRows({"|a", "1|b"});
  form->SpeedButton24->click();
  EXPECT_EQ(dlg.take(), QStringList{"Ошибка ввода данных в таблице."});
  EXPECT_EQ(grid->Row(), 1);
  setRows({"zz|only"});
  form->SpeedButton24->click();  // one row: nothing happens
  EXPECT_TRUE(dlg.take().isEmpty());
}

TEST_F(ConfigTable, RightIPCases) {
  for (const char* good : {"1.2.3.4", "192.168.011.045", " 1.2.3.4", "1. 2.3.4", "$ff.0.0.1", "255.255.255.255"})
    EXPECT_TRUE(form->RightIP(good)) << good;
  for (const char* bad : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.-1", "1.2.3.4 ", "1..3.4", "", "1.2.3.", "a.b.c.d"})
    EXPECT_FALSE(form->RightIP(bad)) << bad;
}

TEST_F(ConfigTable, LookupAndRowChecks) {
  setRows({"1|Scale|d|1|127.0.0.1|5001", "2|Scale|d|2|127.0.0.2|5002", "3|scale|d|99|1.2.3.4|65535"});
  EXPECT_EQ(form->NumberColFrom("Scale"), 1);  // the upper of two
  EXPECT_EQ(form->NumberColFrom("scale"), 3);  // case counts
  EXPECT_EQ(form->NumberColFrom("Scale "), -1);
  EXPECT_EQ(form->RightCfg(), 0);
  EXPECT_TRUE(form->RightCfg1(3));
  form->SpeedButton2Click();  // a new table: one empty row, found by the empty name
  EXPECT_EQ(form->NumberColFrom(""), 1);
  EXPECT_FALSE(form->RightCfg1(1));
  EXPECT_EQ(form->RightCfg(), 1);
}

TEST_F(ConfigTable, OperatorCheckNamesTheFirstFailingRow) {
  form->SpeedButton25->click();
  EXPECT_EQ(dlg.take(), QStringList{"Проверьте правильность задания номера весов  в таблице конфигурации. Это число от 1 до 99."});
  setRows({"1|A|d|1|127.0.0.1|5001", "2|B|d|2|127.0.0.2|65536"});
  EXPECT_EQ(form->RightCfg(), 3);
  form->SpeedButton25->click();
  EXPECT_EQ(dlg.take(), QStringList{"Проверьте правильность задания номера порта весов B в таблице конфигурации. Это число от 1 до 65535."});
  EXPECT_EQ(grid->Row(), 2);
  EXPECT_EQ(grid->Col(), 5);
  setRows({"1|A|d|1|127.0.0|5001"});
  form->SpeedButton25->click();
  EXPECT_EQ(dlg.take(), QStringList{"Проверьте правильность задания IP-адреса весов A в таблице конфигурации. (Например, 192.168.11.45)"});
  EXPECT_EQ(grid->Col(), 4);
  setRows({"1|A|d|1|127.0.0.1|5001"});
  form->SpeedButton25->click();
  EXPECT_EQ(dlg.take(), QStringList{"Таблица конфигурации заполнена правильно."});
}

TEST_F(ConfigTable, ListsFollowThePageChangeAndKeepTheirText) {
  form->ComboBox3->setEditText(QStringLiteral("Scale B"));
  setRows({"1|Scale A", "2|", "3|Scale A", "4|Scale B"});
  EXPECT_EQ(form->ComboBox2->count(), 1);  // edits reach the lists only on a change of page
  form->PageControl1->setCurrentIndex(1);
  for (QComboBox* c : {form->ComboBox2, form->ComboBox3, form->ComboBox6, form->ComboBox7, form->ComboBox8}) {
    ASSERT_EQ(c->count(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(c->itemText(i), grid->cellText(1, i + 1));
    EXPECT_EQ(c->currentIndex(), -1);
  }
  EXPECT_EQ(form->ComboBox3->currentText(), QStringLiteral("Scale B"));
}

TEST_F(ConfigTable, SaveThenOpenGivesTheSameRows) {
  setRows({"1|Весы 1|Отдел|1|127.0.0.1|5001|/a/goods.db|/a/msg.db|примечание", ""});
  dlg.files.push_back(path("shop.cfl"));
  form->SpeedButton18->click();
  ASSERT_EQ(dlg.fileRequests.size(), 1u);
  EXPECT_EQ(dlg.fileRequests[0].title, QStringLiteral("Сохранение файла конфигурации"));
  EXPECT_EQ(dlg.fileRequests[0].fileName, QStringLiteral("noname01"));
  EXPECT_EQ(dlg.fileRequests[0].filter, QStringLiteral("конфигурация (*.cfl)|*.cfl"));
  const auto saved = form->configRows();
  form->SpeedButton2Click();
  dlg.files.push_back(path("shop.cfl"));
  form->SpeedButton17->click();
  EXPECT_EQ(form->configRows(), saved);
  EXPECT_EQ(grid->Row(), 1);
  EXPECT_EQ(grid->cellText(1, 1), QStringLiteral("Весы 1"));
  EXPECT_EQ(grid->cellText(0, 0), QStringLiteral(" № п/п "));

  // One extra empty line at the end opens as one more, empty, row.
  writeFile("extra.cfl", readFile("shop.cfl") + "\r\n");
  dlg.files.push_back(path("extra.cfl"));
  form->SpeedButton17->click();
  EXPECT_EQ(grid->RowCount(), 4);
}

// The file is opened before the table is replaced: a typed name that does
// not exist shows its error and keeps every scale, also in config.cfg at
// the close.
TEST_F(ConfigTable, OpenOfAMissingFileKeepsTheTable) {
  setRows({"1|A|Склад|3|127.0.0.1|5001", "2|B"});
  const std::vector<ConfigTableRow> before = form->configRows();
  dlg.files.push_back(path("Магазин.cfl"));
  form->SpeedButton17->click();
  ASSERT_EQ(dlg.shown.size(), 1);
  EXPECT_TRUE(dlg.shown[0].startsWith("ERROR: "));
  EXPECT_TRUE(dlg.shown[0].contains(QStringLiteral("Магазин.cfl"))) << dlg.shown[0].toStdString();
  EXPECT_EQ(form->configRows(), before);
  EXPECT_EQ(grid->cellText(3, 0), QStringLiteral(" Номер весов "));
  EXPECT_TRUE(closeWindow());
  EXPECT_EQ(readFile("config.cfg").substr(0, 3), "1\r\n");
  stop();
  start();
  EXPECT_EQ(form->configRows(), before);
  grid = form->StringGrid1;
  dlg.files.push_back(std::nullopt);  // a cancelled open changes nothing
  setRows({"1|A"});
  form->SpeedButton17->click();
  EXPECT_EQ(column(1), Names{"A"});
}

TEST_F(ConfigTable, PickingAGoodsFileStoresTheFullPathOnly) {
  setRows({"1|A|d|1|127.0.0.1|5001", "2|B"});
  grid->select(3, 2);
  dlg.files.push_back(path("goods.db"));
  form->SpeedButton27->click();
  EXPECT_EQ(grid->cellText(6, 2), path("goods.db"));
  EXPECT_EQ(grid->cellText(7, 2), QString());
  EXPECT_EQ(grid->cellText(6, 1), QString());
  EXPECT_EQ(dlg.fileRequests.back().filter, QStringLiteral("*.db|*.db|*.dbf|*.dbf"));
  EXPECT_EQ(dlg.fileRequests.back().title, QStringLiteral("Открытие базы товаров или сообщений"));
  // The dialog is the one the open entry uses: it starts where that left it.
  form->OpenDialog1InitialDir = QStringLiteral("/srv/bases");
  dlg.files.push_back(std::nullopt);
  form->SpeedButton28->click();
  EXPECT_EQ(dlg.fileRequests.back().initialDir, QStringLiteral("/srv/bases"));
  EXPECT_EQ(grid->cellText(7, 2), QString());
}

TEST_F(ConfigTable, LargeTableFileOpens) {
  std::string bytes;
  for (int r = 0; r < 100000; ++r) bytes += std::to_string(r) + "\r\nname\r\n\r\n1\r\n1.2.3.4\r\n1\r\n\r\n\r\n\r\n";
  writeFile("big.cfl", bytes);
  dlg.files.push_back(path("big.cfl"));
  form->SpeedButton17->click();
  EXPECT_EQ(grid->RowCount(), 100001);
  EXPECT_EQ(grid->cell(0, 100000), "99999");
}

// The current cell moves over the data cells only; Home and End reach the
// first and last of them, from the cell's editor as the operator types.
TEST_F(ConfigTable, CurrentCellMovesOverTheDataCells) {
  form->show();
  form->PageControl1->setCurrentWidget(form->TabSheet2);
  QApplication::setActiveWindow(form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(form));
  setRows({"1|A", "2|B", "3|C"});
  grid->setFocus();
  auto key = [&](Qt::Key k, Qt::KeyboardModifiers m = {}) {
    QTest::keyClick(QApplication::focusWidget(), k, m);
    return std::pair{grid->Col(), grid->Row()};
  };
  using Cell = std::pair<int, int>;
  grid->select(3, 2);  // a cell just entered: its text is selected
  EXPECT_EQ(key(Qt::Key_Home), (Cell{0, 2}));
  EXPECT_EQ(key(Qt::Key_End), (Cell{8, 2}));
  EXPECT_EQ(key(Qt::Key_Home, Qt::ControlModifier), (Cell{0, 1}));
  EXPECT_EQ(key(Qt::Key_End, Qt::ControlModifier), (Cell{8, 3}));
  grid->select(3, 2);
  QTest::keyClicks(QApplication::focusWidget(), "12");
  EXPECT_EQ(key(Qt::Key_Home), (Cell{3, 2}));  // the caret to the start of the text first
  EXPECT_EQ(key(Qt::Key_Home), (Cell{0, 2}));
  EXPECT_EQ(grid->cellText(3, 2), QStringLiteral("12"));

  grid->select(1, 2);
  // A click on a title cell leaves the current cell where it was.
  auto* header = grid->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
  EXPECT_EQ(grid->Row(), 2);
  grid->setCurrentCell(0, 1);  // as a click on the title row itself would
  EXPECT_EQ(grid->Row(), 2);
  // The cursor key up from the first data row stays on it.
  grid->select(1, 1);
  QTest::keyClick(grid, Qt::Key_Up);
  EXPECT_EQ(grid->Row(), 1);
  form->SpeedButton23->click();  // deletes data row 1, never the titles
  EXPECT_EQ(column(1), (Names{"B", "C"}));
  EXPECT_EQ(grid->cellText(1, 0), QStringLiteral(" Название весов "));
  form->SpeedButton21->click();
  EXPECT_EQ(column(1), (Names{"B", "B", "C"}));
}

TEST_F(ConfigTable, TypedTextCountsBeforeTheEditorCloses) {
  QLineEdit* editor = editFirstName({"1|A"});
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "Scale 7");
  // A toolbar button takes no focus, so the editor is still open.
  dlg.files.push_back(path("typed.cfl"));
  form->SpeedButton18->click();
  EXPECT_EQ(grid->cellText(1, 1), QStringLiteral("Scale 7"));
  EXPECT_EQ(readFile("typed.cfl").substr(0, 12), "1\r\nScale 7\r\n");
  EXPECT_EQ(form->NumberColFrom("Scale 7"), 1);
}

TEST_F(ConfigTable, ATypedScaleNameIsNotAddedToTheList) {
  form->show();
  setRows({"1|Scale A", "2|Scale B"});
  form->SpeedButton26->click();
  for (QComboBox* c : {form->ComboBox2, form->ComboBox3, form->ComboBox6, form->ComboBox7, form->ComboBox8}) {
    c->lineEdit()->clear();
    QTest::keyClicks(c->lineEdit(), "Scale C");
    QTest::keyClick(c->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(c->count(), 2) << c->objectName().toStdString();
    EXPECT_EQ(c->currentText(), QStringLiteral("Scale C"));
  }
}

// What is pasted into a cell or a field counts up to its first line end, so
// that the files keep one value a line; a letter Windows-1251 lacks is
// refused by name and the text typed so far stays.
TEST_F(ConfigTable, PastedLineEndsAndForeignLettersStayOutOfTheFiles) {
  QLineEdit* editor = editFirstName({"1|A|d|1|127.0.0.1|5001"});
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  pasteText(editor, QStringLiteral("Весы 2\r\nS2\r\n"));
  typeText(editor, QStringLiteral(" Ә"));
  QCoreApplication::processEvents();
  EXPECT_EQ(dlg.take(),
            QStringList{QStringLiteral("Символ «Ә» не может быть введен: его нет в кодировке Windows-1251.")});
  EXPECT_EQ(grid->cellText(1, 1), QStringLiteral("Весы 2 "));
  dlg.files.push_back(path("pasted.cfl"));
  form->SpeedButton18->click();
  dlg.files.push_back(path("pasted.cfl"));
  form->SpeedButton17->click();
  EXPECT_EQ(column(1), Names{ansi::A(QStringLiteral("Весы 2 "))});

  form->Edit32->selectAll();
  pasteText(form->Edit32, QStringLiteral("1000\n"));
  EXPECT_EQ(form->Edit32->text(), QStringLiteral("1000"));
  EXPECT_TRUE(closeWindow());
  EXPECT_EQ(readFile("total.cfg"), "TRUE\r\nTRUE\r\n1000\r\nTRUE\r\nTRUE\r\n50\r\nwsNormal\r\n");
}
