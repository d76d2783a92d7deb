// What a transfer costs the window on screen: the number label changes
// without laying out the page, the grid follows the walk a page at a time
// rather than scrolling for every record, and takes no input meanwhile.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "link/wire.h"
#include "storage/db_navigator.h"
#include "transfer_fixture.h"

namespace {

// Counts the layout requests that reach a widget.
class LayoutRequests : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::LayoutRequest) ++count;
    return false;
  }
};

class ProgressView : public TransferTest {
 protected:
  // Goods 1 .. count in a new table, the first current, the window on
  // screen; gives the grid.
  QTableView* showGoods(int count) {
    startWithScale();
    newGoodsTable();
    std::vector<int> plus;
    for (int p = 1; p <= count; ++p) plus.push_back(p);
    addGoodsNumbered(plus);
    table().first();
    form->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form));
    QCoreApplication::processEvents();
    return form->findChild<QTableView*>(QStringLiteral("DBGrid1"));
  }
};

TEST_F(ProgressView, NumberLabelChangesWithoutLayingOutThePage) {
  startWithScale();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  form->Numb->setText(QStringLiteral("0"));
  form->Numb->show();
  QCoreApplication::processEvents();
  const QSize size = form->Numb->size();
  // The widest number fits: nothing of it is cut.
  EXPECT_GE(form->Numb->contentsRect().width(),
            form->Numb->fontMetrics().horizontalAdvance(QStringLiteral("-2147483648")));

  LayoutRequests requests;
  form->TabSheet1->installEventFilter(&requests);
  for (const char* n : {"7", "4000", "-2147483648", "12"}) {
    form->Numb->setText(QString::fromLatin1(n));
    QCoreApplication::processEvents();
  }
  form->TabSheet1->removeEventFilter(&requests);
  EXPECT_EQ(requests.count, 0);
  EXPECT_EQ(form->Numb->size(), size);
}

TEST_F(ProgressView, GridFollowsALoadAPageAtATime) {
  QTableView* grid = showGoods(120);
  ASSERT_NE(grid, nullptr);
  const int rowsInSight = grid->viewport()->height() / grid->rowHeight(0);
  ASSERT_GT(rowsInSight, 3);
  int scrolls = 0;
  QObject counting;  // the count ends with the test, before the window goes
  QObject::connect(grid->verticalScrollBar(), &QScrollBar::valueChanged, &counting, [&scrolls] { ++scrolls; });
  form->CheckBox1->setChecked(true);  // the test pass walks the table too
  runDialog(Form2, 1, 120);
  EXPECT_EQ(last(), QStringLiteral("Данные переданы"));
  // Two walks of 120 records: a scroll per page of each, and one back to the
  // top between them.
  EXPECT_LE(scrolls, 2 * (120 / rowsInSight + 2));
  // The current record is in sight at the end.
  EXPECT_TRUE(grid->viewport()->rect().contains(grid->visualRect(grid->currentIndex())));
}

// A record that the read appends is one row more in the grid: the view is
// not set up anew for it, and the operator's column widths stay.
TEST_F(ProgressView, ReadAppendsRowsWithoutResettingTheGrid) {
  startWithScale();
  for (int cell = 1; cell <= 30; ++cell)
    scale.setPlu(cell, wire::pluRequest(cell, std::string(28, 'A'), std::string(28, ' '), cell, "7", 0, 0, 0, 0,
                                        "", 0)
                           .substr(1),
                 std::string(17, '\0'));
  dlg.files.push_back(path("read"));
  form->N12->trigger();
  dlg.take();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  auto* grid = form->findChild<QTableView*>(QStringLiteral("DBGrid1"));
  ASSERT_NE(grid, nullptr);
  grid->setColumnWidth(1, 177);
  int resets = 0;
  QObject counting;  // the count ends with the test, before the window goes
  QObject::connect(grid->model(), &QAbstractItemModel::modelReset, &counting, [&resets] { ++resets; });
  runDialog(Form4, 1, 30);
  EXPECT_EQ(last(), QStringLiteral("Данные приняты"));
  EXPECT_EQ(grid->model()->rowCount(), 30);
  EXPECT_LE(resets, 1);  // the closing move to the first record may refresh it
  EXPECT_EQ(grid->columnWidth(1), 177);
}

// While a load, the base check or a read walks the table, what the operator
// does to the grid, the navigator, the logo choice or the save entry neither
// moves the walk nor changes the table; the grid still shows the walk.
TEST_F(ProgressView, OperatorInputNeitherMovesNorChangesAWalk) {
  QTableView* grid = showGoods(60);
  ASSERT_NE(grid, nullptr);
  auto setPrice30 = [&](int price) {
    table().goToRow(29);
    table().edit();
    table().fieldByName("PRICE").setAsInteger(price);
    table().post();
  };
  setPrice30(-5);  // found by the test pass and the check
  auto records = [&] {
    std::vector<std::array<int, 3>> out;
    storage::Table& t = table();
    t.first();
    for (int i = 0; i < t.recordCount(); ++i, t.next())
      out.push_back({t.fieldByName("PLUNO").asInteger(), t.fieldByName("PRICE").asInteger(),
                     t.fieldByName("LOGOTYPE").asInteger()});
    return out;
  };
  auto want = records();
  // Once the walk is at its tenth record: a click on a row further on, a
  // double click and digits typed there, keys, the navigator, a logo, save.
  bool done = false, followed = true;
  std::function<int()> position;
  clk.onTurn = [&](int) {
    if (done || position() != 10) return;
    done = true;
    const QModelIndex at = grid->model()->index(grid->model()->rowCount() - 5, 1);
    grid->scrollTo(at);
    const QPoint p = grid->visualRect(at).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, p);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, p);
    QTest::keyClicks(grid, QStringLiteral("77"));
    QTest::keyClick(grid, Qt::Key_Down);
    form->DBNavigator1->button(storage::DbNavigator::Last)->click();
    form->DBNavigator1->click(storage::DbNavigator::Next);
    form->ComboBox1->setCurrentIndex(2);
    form->ComboBox1Change();
    form->N10->trigger();
    followed &= grid->isVisible() && grid->currentIndex().row() == table().currentRow();
  };
  struct Case {
    const char* walk;
    std::function<void()> run;
    std::function<int()> position;
    QString said;
  } cases[] = {
      {"load", [&] { runDialog(Form2, 1, 60); }, [&] { return table().recNo(); },
       QStringLiteral("Ошибка ввода цены")},
      {"check", [&] { form->ToolButton8->click(); }, [&] { return table().recNo(); },
       QStringLiteral("Ошибка ввода цены")},
      {"load",
       [&] {
         setPrice30(3000);
         want = records();
         runDialog(Form2, 1, 60);
       },
       [&] { return table().recNo(); }, QStringLiteral("Данные переданы")},
      {"read",
       [&] {
         dlg.files.push_back(path("read"));
         form->N12->trigger();
         dlg.take();
         runDialog(Form4, 1, 60);
       },
       [&] { return table().recordCount(); }, QStringLiteral("Данные приняты")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.walk);
    done = false;
    position = c.position;
    c.run();
    EXPECT_TRUE(done);
    EXPECT_EQ(dlg.take(), QStringList{c.said});
    if (c.said == QStringLiteral("Ошибка ввода цены")) {
      EXPECT_EQ(table().recNo(), 30);  // the failing record stays current
    }
    EXPECT_EQ(records(), want);
    EXPECT_TRUE(grid->isEnabled() && form->DBNavigator1->isEnabled() && form->ComboBox1->isEnabled());
  }
  EXPECT_TRUE(followed);
  EXPECT_EQ(sentPlus(), [] {
    std::vector<int> all;
    for (int p = 1; p <= 60; ++p) all.push_back(p);
    return all;
  }());
}

// The window is drawn while the exchanges wait out their pauses: a load and
// a read paint the progress, the number and the grid there, not between
// the exchanges, where it would add to every record's time.
TEST_F(ProgressView, TransfersDrawTheWindowInTheirPauses) {
  // Where each paint of the page happens: in a pause or at a turn of the loop.
  class PhaseClock : public CountingClock {
   public:
    void processEvents() override {
      inTurn = true;
      CountingClock::processEvents();
      inTurn = false;
    }
    bool inTurn = false;
  } phases;
  clock_::install(&phases);
  class PagePaints : public QObject {
   public:
    explicit PagePaints(const bool& inTurn) : inTurn_(inTurn) {}
    int inPauses = 0, inTurns = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++(inTurn_ ? inTurns : inPauses);
      return false;
    }
   private:
    const bool& inTurn_;
  };

  QTableView* grid = showGoods(40);
  ASSERT_NE(grid, nullptr);

  PagePaints load(phases.inTurn);
  form->ProgressBar3->installEventFilter(&load);
  grid->viewport()->installEventFilter(&load);
  form->CheckBox1->setChecked(false);
  runDialog(Form2, 1, 40);
  EXPECT_EQ(last(), QStringLiteral("Данные переданы"));
  form->ProgressBar3->removeEventFilter(&load);
  grid->viewport()->removeEventFilter(&load);
  EXPECT_GE(load.inPauses, 40);
  EXPECT_LT(load.inTurns, load.inPauses / 4);

  for (int cell = 1; cell <= 20; ++cell)
    scale.setPlu(cell, wire::pluRequest(cell, "B", "", cell, "7", 0, 0, 0, 0, "", 0).substr(1),
                 std::string(17, '\0'));
  dlg.files.push_back(path("read"));
  form->N12->trigger();
  dlg.take();
  PagePaints read(phases.inTurn);
  form->ProgressBar3->installEventFilter(&read);
  grid->viewport()->installEventFilter(&read);
  runDialog(Form4, 1, 20);
  EXPECT_EQ(last(), QStringLiteral("Данные приняты"));
  form->ProgressBar3->removeEventFilter(&read);
  grid->viewport()->removeEventFilter(&read);
  EXPECT_EQ(table().recordCount(), 20);  // the last record read is stored too
  EXPECT_GE(read.inPauses, 20);
  EXPECT_LT(read.inTurns, read.inPauses / 4);
  clock_::install(&clk);
}

}  // namespace
