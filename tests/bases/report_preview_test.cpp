// "Печать базы товаров" and "Печать базы сообщений": the preview window
// opens with the report's pages, returns when closed, and the table is back
// on its record without the grid having been dragged along.
#include <QApplication>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QTimer>

#include "link/scale_link.h"
#include "report_fixture.h"

namespace {

// Watches for the preview window while an entry runs; notes its caption and
// page count and closes it.
class PreviewCloser {
 public:
  PreviewCloser() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* d = qobject_cast<QPrintPreviewDialog*>(w);
        if (!d || !d->isVisible()) continue;
        ++opened;
        caption = d->windowTitle();
        if (auto* pw = d->findChild<QPrintPreviewWidget*>()) pages = pw->pageCount();
        d->reject();
      }
    });
    timer_.start();
  }
  int opened = 0;
  int pages = -1;
  QString caption;

 private:
  QTimer timer_;
};

}  // namespace

class ReportPreview : public ReportTest {
 protected:
  // Counts the moves of Table1's current record that its views are told of.
  void watchMoves() {
    listener_ = table().addListener([this](storage::Change c) {
      if (c == storage::Change::Current) ++moves;
    });
  }
  void TearDown() override {
    if (listener_) table().removeListener(listener_);
    ReportTest::TearDown();
  }
  // Runs a print entry on the table's tenth record: the preview opens once
  // with its caption and pages, and the table is back on that record.
  void expectPreviewBackOnTenth(QAction* entry, const char* caption, int pages, const char* numberField) {
    table().setRecNo(10);
    const int number = table().fieldByName(numberField).asInteger();
    watchMoves();
    PreviewCloser closer;
    entry->trigger();
    EXPECT_EQ(closer.opened, 1);
    EXPECT_EQ(closer.caption, QString::fromUtf8(caption));
    EXPECT_EQ(closer.pages, pages);
    EXPECT_EQ(table().recNo(), 10);
    EXPECT_EQ(table().fieldByName(numberField).asInteger(), number);
    EXPECT_EQ(form->DBGrid1->currentIndex().row(), 9);
    EXPECT_LE(moves, 1);  // at most the return to the remembered record
    EXPECT_TRUE(dlg.take().isEmpty());
    EXPECT_FALSE(form->ScaleBusy);
  }
  int moves = 0;

 private:
  int listener_ = 0;
};

TEST_F(ReportPreview, GoodsPreviewOpensAndTheTableIsBackOnItsRecord) {
  emptyGoods();
  for (int plu = 100; plu >= 1; --plu) goodsRecord(plu, "N" + std::to_string(plu), "", plu, plu);
  form->PLU1->trigger();  // the tenth record in the order by PLU number
  ASSERT_EQ(table().indexFieldNames(), "PLUNO");
  expectPreviewBackOnTenth(form->N20, "Печать базы товаров", 3, "PLUNO");  // 41 rows a page
}

TEST_F(ReportPreview, MessagesPreviewOpensAndTheTableIsBackOnItsRecord) {
  emptyMessages();
  for (int m = 1; m <= 20; ++m) messageRecord(m, "M" + std::to_string(m));
  expectPreviewBackOnTenth(form->N21, "Печать базы сообщений", 3, "MSGNO");  // 7 messages a page
}

TEST_F(ReportPreview, FailuresEndTheEntryWithoutAWindowOrAMessage) {
  // No table open.
  {
    PreviewCloser closer;
    form->N20->trigger();
    form->N21->trigger();
    QApplication::processEvents();
    EXPECT_EQ(closer.opened, 0);
  }
  // A new record with a name but no PLU number cannot be stored: it stays
  // pending, as typed.
  emptyGoods();
  goodsRecord(1, "Stored", "", 1, 1);
  table().append();
  table().fieldByName("NAME1").setAsString("Typed");
  {
    PreviewCloser closer;
    form->N20->trigger();
    QApplication::processEvents();
    EXPECT_EQ(closer.opened, 0);
  }
  EXPECT_EQ(table().state(), storage::State::Insert);
  EXPECT_EQ(table().fieldByName("NAME1").asString(), "Typed");
  table().cancel();
  // A generation that fails inside the open window closes it; the error goes
  // no further.
  const auto binding = Form7->QuickRep1.BeforePrint;
  Form7->QuickRep1.BeforePrint = [] { throw storage::DbError("binding failed"); };
  {
    QTimer hang;  // rather a failed test than a hang
    hang.setSingleShot(true);
    QObject::connect(&hang, &QTimer::timeout, [] {
      ADD_FAILURE() << "the preview stayed open";
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QPrintPreviewDialog*>(w)) d->reject();
    });
    hang.start(10000);
    form->N20->trigger();
  }
  Form7->QuickRep1.BeforePrint = binding;
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_FALSE(form->ScaleBusy);
}

TEST_F(ReportPreview, NoPreviewWhileAnotherLoopWorksOnTheTable) {
  emptyGoods();
  goodsRecord(1, "One", "", 1, 1);
  PreviewCloser closer;
  {
    scalelink::BusyGuard transfer(*form);
    EXPECT_FALSE(form->N20->isEnabled());
    EXPECT_FALSE(form->N21->isEnabled());
    form->N20->trigger();
    QApplication::processEvents();
    EXPECT_EQ(closer.opened, 0);
    EXPECT_TRUE(form->ScaleBusy);
  }
  EXPECT_TRUE(form->N20->isEnabled());
  form->N20->trigger();
  EXPECT_EQ(closer.opened, 1);
  EXPECT_TRUE(dlg.take().isEmpty());
}
