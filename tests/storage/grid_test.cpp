// The grid model and the navigator over an open table.
#include <QTableView>
#include <algorithm>
#include <climits>
#include <utility>
#include <vector>
#include <QToolButton>

#include "platform/ansi.h"
#include "support/scripted_dialogs.h"
#include "storage/db_navigator.h"
#include "storage/table_model.h"
#include "table_support.h"

using namespace storage;
using namespace tablesupport;

namespace {

class Grid : public TableTest {
 protected:
  void SetUp() override {
    t.setTableName(path("g.db"));
    defineGoods(t);
    t.createTable();
    t.open();
    addGoods(t, 2, "b", "", 20);
    addGoods(t, 1, "a", "", 10);
  }
  QString cell(TableModel& m, int row, const char* field) {
    for (int c = 0; c < m.columnCount(); ++c)
      if (m.fieldOfColumn(c) == t.fieldByName(field).index()) return m.data(m.index(row, c)).toString();
    return "<hidden>";
  }
  int column(TableModel& m, const char* field) {
    for (int c = 0; c < m.columnCount(); ++c)
      if (m.fieldOfColumn(c) == t.fieldByName(field).index()) return c;
    return -1;
  }
  ScriptedDialogs dlg;
  Table t;
};

}  // namespace

TEST_F(Grid, ShowsVisibleFieldsUnderTheirLabelsInTheCurrentOrder) {
  TableModel m(&t);
  EXPECT_EQ(m.columnCount(), 16);
  EXPECT_EQ(m.rowCount(), 2);
  t.fieldByName("NO").setVisible(false);
  t.fieldByName("PLUNO").setDisplayLabel("\xCD\xEE\xEC\xE5\xF0 PLU");
  t.fieldByName("LIFE").setAlignment(Alignment::Right);
  t.fieldByName("START").setReadOnly(true);
  EXPECT_EQ(m.columnCount(), 15);
  EXPECT_EQ(m.headerData(0, Qt::Horizontal).toString(), QString::fromUtf8("Номер PLU"));
  EXPECT_EQ(m.headerData(1, Qt::Horizontal).toString(), "NAME1");
  EXPECT_EQ(cell(m, 0, "NO"), "<hidden>");
  EXPECT_EQ(cell(m, 0, "PLUNO"), "2");
  const auto align = [&](const char* f) {
    return m.data(m.index(0, column(m, f)), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignHorizontal_Mask;
  };
  EXPECT_EQ(align("LIFE"), Qt::AlignRight);
  EXPECT_EQ(align("PRICE"), Qt::AlignRight);
  EXPECT_EQ(align("NAME1"), Qt::AlignLeft);
  EXPECT_FALSE(m.flags(m.index(0, column(m, "START"))) & Qt::ItemIsEditable);
  EXPECT_TRUE(m.flags(m.index(0, column(m, "NAME1"))) & Qt::ItemIsEditable);
  t.setIndexFieldNames("PLUNO");
  EXPECT_EQ(cell(m, 0, "PLUNO"), "1");
  EXPECT_EQ(cell(m, 1, "NAME1"), "b");
  // A new record shows at its place until it is stored or dropped.
  t.first();
  t.insert();
  EXPECT_EQ(m.rowCount(), 3);
  EXPECT_EQ(cell(m, 0, "PLUNO"), "");
  EXPECT_EQ(cell(m, 1, "PLUNO"), "1");
  t.cancel();
  EXPECT_EQ(m.rowCount(), 2);
  t.close();
  EXPECT_EQ(m.rowCount(), 0);
  EXPECT_EQ(m.columnCount(), 0);
}

// A stored record repaints the rows it moved across, not the whole grid: a
// read from a scale stores one every few hundred milliseconds.
TEST_F(Grid, StoredRecordsRepaintOnlyTheRowsTheyMovedAcross) {
  for (int plu = 3; plu <= 5; ++plu) addGoods(t, plu, "c", "", plu);
  TableModel m(&t);
  std::vector<std::pair<int, int>> repainted;
  QObject::connect(&m, &QAbstractItemModel::dataChanged, &m,
                   [&](const QModelIndex& a, const QModelIndex& b) { repainted.push_back({a.row(), b.row()}); });
  const auto covered = [&](int first, int last) {
    // Every repaint lies within first .. last, and together they reach both.
    int low = INT_MAX, high = -1;
    for (const auto& [a, b] : repainted) {
      if (a < first || b > last) return false;
      low = std::min(low, a);
      high = std::max(high, b);
    }
    return low == first && high == last;
  };
  // An edit that keeps its place: its own row.
  t.goToRow(3);
  t.edit();
  t.fieldByName("NAME1").setAsString("d");
  repainted.clear();
  t.post();
  EXPECT_TRUE(covered(3, 3));
  // A new record shown at row 1 that is stored at the end (row 5, by its
  // counter): the rows between moved by one.
  t.goToRow(1);
  t.insert();
  t.fieldByName("PLUNO").setAsInteger(6);
  repainted.clear();
  t.post();
  EXPECT_EQ(t.currentRow(), 5);
  EXPECT_TRUE(covered(1, 5));
  EXPECT_EQ(cell(m, 1, "PLUNO"), "1");
  EXPECT_EQ(cell(m, 5, "PLUNO"), "6");
  // In price order (6 without a price, then 3, 4, 5, 10 and 20), the last
  // record's new price moves it up one row.
  t.setIndexFieldNames("PRICE");
  t.last();
  ASSERT_EQ(t.fieldByName("PLUNO").asInteger(), 2);
  t.edit();
  t.fieldByName("PRICE").setAsInteger(7);
  repainted.clear();
  t.post();
  EXPECT_EQ(t.currentRow(), 4);
  EXPECT_TRUE(covered(4, 5));
  EXPECT_EQ(cell(m, 4, "PLUNO"), "2");
  EXPECT_EQ(cell(m, 5, "PLUNO"), "1");
}

TEST_F(Grid, EditingACellFollowsThePendingRecordRules) {
  TableModel m(&t);
  QTableView view;
  m.attach(&view);
  const int name = column(m, "NAME1");
  EXPECT_TRUE(m.setData(m.index(1, name), QString::fromUtf8("яблоко")));
  EXPECT_EQ(t.state(), State::Edit);
  EXPECT_EQ(t.currentRow(), 1);
  EXPECT_EQ(view.currentIndex().row(), 1);
  // Moving to another row stores it.
  view.setCurrentIndex(m.index(0, name));
  EXPECT_EQ(t.state(), State::Browse);
  EXPECT_EQ(t.currentRow(), 0);
  EXPECT_EQ(cell(m, 1, "NAME1"), QString::fromUtf8("яблоко"));
  // A value the field refuses is shown in the error box; nothing changes.
  EXPECT_FALSE(m.setData(m.index(0, column(m, "PLUNO")), "abc"));
  EXPECT_EQ(dlg.shown.size(), 1);
  EXPECT_TRUE(dlg.shown.value(0).startsWith("ERROR: "));
  EXPECT_EQ(cell(m, 0, "PLUNO"), "2");
  // A new record without its required PLUNO cannot be left: the grid stays.
  dlg.shown.clear();
  t.append();
  ASSERT_TRUE(m.setData(m.index(2, name), "x"));
  EXPECT_EQ(view.currentIndex().row(), 2);
  view.setCurrentIndex(m.index(0, name));
  EXPECT_EQ(dlg.shown.size(), 1);
  EXPECT_EQ(t.state(), State::Insert);
  EXPECT_EQ(view.currentIndex().row(), 2);
  t.cancel();
  t.close();
  t.open();
  t.last();
  EXPECT_EQ(t.fieldByName("NAME1").asString(), "\xFF\xE1\xEB\xEE\xEA\xEE");
}

TEST_F(Grid, NavigatorButtonsCarryTheHintsAndDriveTheTable) {
  DbNavigator nav(&t);
  const char* hints[] = {"Первая запись", "Предыдущая запись", "Следующая запись", "Последняя запись",
                         "Вставка записи", "Удаление записи", "Редактирование записи",
                         "Подтверждение редактирования", "Отмена редактирования", "Обновить данные"};
  for (int i = 0; i < DbNavigator::Count; ++i)
    EXPECT_EQ(nav.button(static_cast<DbNavigator::Button>(i))->toolTip(), QString::fromUtf8(hints[i]));
  t.first();
  EXPECT_FALSE(nav.button(DbNavigator::First)->isEnabled());
  EXPECT_TRUE(nav.button(DbNavigator::Next)->isEnabled());
  EXPECT_FALSE(nav.button(DbNavigator::Post)->isEnabled());
  nav.button(DbNavigator::Last)->click();
  EXPECT_EQ(t.recNo(), 2);
  EXPECT_FALSE(nav.button(DbNavigator::Next)->isEnabled());
  nav.button(DbNavigator::Prior)->click();
  EXPECT_EQ(t.recNo(), 1);
  nav.button(DbNavigator::Insert)->click();
  EXPECT_EQ(t.state(), State::Insert);
  EXPECT_TRUE(nav.button(DbNavigator::Post)->isEnabled());
  t.fieldByName("NAME1").setAsString("no plu");
  nav.button(DbNavigator::Post)->click();  // PLUNO is required
  EXPECT_EQ(t.state(), State::Insert);
  ASSERT_EQ(dlg.shown.size(), 1);
  EXPECT_TRUE(dlg.shown[0].contains("PLUNO"));
  nav.button(DbNavigator::Cancel)->click();
  EXPECT_EQ(t.recordCount(), 2);
  nav.button(DbNavigator::Edit)->click();
  t.fieldByName("PRICE").setAsInteger(5);
  nav.button(DbNavigator::Refresh)->click();  // stores the change
  EXPECT_EQ(t.state(), State::Browse);
  EXPECT_EQ(t.fieldByName("PRICE").asInteger(), 5);
  dlg.answers = {dialogs::Answer::No, dialogs::Answer::Yes};
  nav.button(DbNavigator::Delete)->click();  // asks; No keeps the record
  EXPECT_EQ(t.recordCount(), 2);
  nav.button(DbNavigator::Delete)->click();
  EXPECT_EQ(t.recordCount(), 1);
  EXPECT_EQ(dlg.shown.last(), QStringLiteral("?: Удалить запись?"));
  t.close();
  EXPECT_FALSE(nav.button(DbNavigator::First)->isEnabled());
  EXPECT_FALSE(nav.button(DbNavigator::Insert)->isEnabled());
  EXPECT_FALSE(nav.button(DbNavigator::Refresh)->isEnabled());
}

TEST_F(Grid, CellsLeftAsTheyWereChangeNothingAndLeavingANewRowDropsIt) {
  TableModel m(&t);
  QTableView view;
  m.attach(&view);
  const int name = column(m, "NAME1");
  const int price = column(m, "PRICE");
  // The operator steps through the cells of a new record without typing:
  // each editor hands back the text it was given.
  view.setCurrentIndex(m.index(0, name));
  t.insert();
  ASSERT_EQ(m.rowCount(), 3);
  EXPECT_TRUE(m.setData(m.index(0, name), QString()));
  EXPECT_TRUE(m.setData(m.index(0, price), QString()));
  EXPECT_FALSE(t.modified());
  // Leaving the new row for the row below drops it and lands on the record
  // that was shown there.
  const QString below = cell(m, 2, "NAME1");
  view.setCurrentIndex(m.index(2, name));
  EXPECT_TRUE(dlg.shown.isEmpty()) << dlg.shown.value(0).toStdString();
  EXPECT_EQ(t.state(), State::Browse);
  EXPECT_EQ(t.recordCount(), 2);
  EXPECT_EQ(m.rowCount(), 2);
  EXPECT_EQ(ansi::U(t.fieldByName("NAME1").asString()), below);
  EXPECT_EQ(view.currentIndex().row(), t.currentRow());
  // The same for an edited record: an unchanged cell leaves it unchanged.
  EXPECT_TRUE(m.setData(m.index(t.currentRow(), price), cell(m, t.currentRow(), "PRICE")));
  EXPECT_EQ(t.state(), State::Browse);
  t.edit();
  EXPECT_TRUE(m.setData(m.index(t.currentRow(), price), cell(m, t.currentRow(), "PRICE")));
  EXPECT_FALSE(t.modified());
}
