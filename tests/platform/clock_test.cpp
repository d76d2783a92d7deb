// The pauses of a scale exchange: work queued for a pause is done in it and
// shortens the wait, and a window whose painting waits for the pauses is
// drawn there, not at each turn of the event loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPaintEvent>
#include <QProgressBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <stdexcept>
#include <vector>

#include "platform/clock.h"
#include "shell/progress_bar.h"

namespace {

// Takes the pauses without waiting and notes what each was asked for.
class RecordingClock : public clock_::Clock {
 public:
  void sleep(int ms) override { whole.push_back(ms); }
  void sleepRest(int ms, std::chrono::microseconds spent) override {
    asked.push_back(ms);
    spentUs.push_back(spent.count());
  }
  void processEvents() override { QCoreApplication::processEvents(); }
  QDateTime now() override { return QDateTime::currentDateTime(); }

  std::vector<int> whole, asked;
  std::vector<long long> spentUs;
};

class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override { clock_::install(&clk); }
  void TearDown() override {
    clock_::doPauseWork();
    clock_::install(nullptr);
  }
  RecordingClock clk;
};

// Counts the paint events that reach a widget.
class Paints : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++count;
    return false;
  }
};

TEST_F(ClockTest, WorkQueuedForAPauseIsDoneInItAndShortensTheWait) {
  std::vector<int> done;
  clock_::duringNextPause([&] { done.push_back(1); });
  clock_::duringNextPause([&] {
    QThread::msleep(15);
    done.push_back(2);
  });
  clock_::processEvents();
  EXPECT_TRUE(done.empty());  // a turn of the loop is no pause
  clock_::sleep(50);
  EXPECT_EQ(done, (std::vector<int>{1, 2}));
  ASSERT_EQ(clk.asked, std::vector<int>{50});
  EXPECT_GE(clk.spentUs[0], 15000);  // the clock waits only the rest
  // Work is done once; a pause without work waits all of its time.
  clock_::sleep(20);
  EXPECT_EQ(done.size(), 2u);
  EXPECT_EQ(clk.asked.back(), 20);
  EXPECT_LT(clk.spentUs.back(), 15000);
  // doPauseWork does it at once.
  clock_::duringNextPause([&] { done.push_back(3); });
  clock_::doPauseWork();
  EXPECT_EQ(done.back(), 3);
}

TEST_F(ClockTest, WorkThatFailsComesOutOfThePauseAndIsNotDoneAgain) {
  int tries = 0, after = 0;
  clock_::duringNextPause([&] {
    ++tries;
    throw std::runtime_error("disk full");
  });
  clock_::duringNextPause([&] { ++after; });
  EXPECT_THROW(clock_::sleep(10), std::runtime_error);
  EXPECT_TRUE(clk.asked.empty());  // the pause was not taken
  clock_::sleep(10);
  EXPECT_EQ(tries, 1);
  EXPECT_EQ(after, 1);  // what was queued behind it is still done
}

TEST_F(ClockTest, WindowIsDrawnInThePausesWhilePaintingWaitsForThem) {
  QWidget window;
  auto* box = new QWidget(&window);
  box->setMinimumSize(40, 40);
  (new QVBoxLayout(&window))->addWidget(box);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QCoreApplication::processEvents();
  Paints paints;
  box->installEventFilter(&paints);
  {
    clock_::PaintInPauses painting(&window);
    box->update();
    clock_::processEvents();
    EXPECT_EQ(paints.count, 0);  // held for the pause
    clock_::sleep(20);
    EXPECT_EQ(paints.count, 1);
    // A repaint that no pause takes is made once it is kLatestMs old.
    box->update();
    clock_::processEvents();
    EXPECT_EQ(paints.count, 1);
    QThread::msleep(clock_::PaintInPauses::kLatestMs + 5);
    clock_::processEvents();
    EXPECT_EQ(paints.count, 2);
    // An inner one leaves it to the outer.
    box->update();
    { clock_::PaintInPauses inner(&window); }
    EXPECT_EQ(paints.count, 2);
    // The end brings the window up to date.
    box->update();
    clock_::processEvents();
    EXPECT_EQ(paints.count, 2);
  }
  EXPECT_EQ(paints.count, 3);
  // Afterwards the window paints at each turn again.
  box->update();
  QCoreApplication::processEvents();
  EXPECT_EQ(paints.count, 4);
}

TEST_F(ClockTest, WindowBehindAMessageBoxIsPaintedAsUsual) {
  QWidget window;
  window.resize(120, 80);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QCoreApplication::processEvents();
  Paints paints;
  window.installEventFilter(&paints);
  clock_::PaintInPauses painting(&window);
  QMessageBox box(QMessageBox::Information, "t", "text", QMessageBox::Ok);
  int seen = -1;
  QTimer::singleShot(0, &box, [&] {
    window.update();
    QTimer::singleShot(20, &box, [&] {
      seen = paints.count;
      box.accept();
    });
  });
  box.exec();
  EXPECT_GE(seen, 1);
}

TEST(ProgressValue, ANewValueIsDrawnWithTheWindowsNextPaintNotAtOnce) {
  QProgressBar bar;
  bar.setRange(0, 1000);
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  QCoreApplication::processEvents();
  Paints paints;
  bar.installEventFilter(&paints);
  setProgressValue(&bar, 500);  // text and filled width change
  EXPECT_EQ(bar.value(), 500);
  EXPECT_EQ(paints.count, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(paints.count, 1);
  // With updates off it only takes the value.
  bar.setUpdatesEnabled(false);
  setProgressValue(&bar, 900);
  EXPECT_EQ(bar.value(), 900);
  EXPECT_FALSE(bar.updatesEnabled());
}

}  // namespace
