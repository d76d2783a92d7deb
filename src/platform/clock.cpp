#include "platform/clock.h"

#include <QApplication>
#include <QEvent>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <deque>

namespace clock_ {
namespace {

class RealClock final : public Clock {
 public:
  void sleep(int ms) override {
    if (ms > 0) QThread::msleep(ulong(ms));
  }
  void sleepRest(int ms, std::chrono::microseconds spent) override {
    const long long rest = ms * 1000LL - spent.count();
    if (rest > 0) QThread::usleep(static_cast<unsigned long>(rest));
  }
  void processEvents() override { QCoreApplication::processEvents(); }
  QDateTime now() override { return QDateTime::currentDateTime(); }
};

RealClock& realClock() {
  static RealClock c;
  return c;
}

Clock* g_installed = nullptr;
std::deque<std::function<void()>> g_work;
PaintInPauses* g_painting = nullptr;  // the innermost one

}  // namespace

Clock& current() { return g_installed ? *g_installed : realClock(); }
void install(Clock* clock) { g_installed = clock; }

void duringNextPause(std::function<void()> work) { g_work.push_back(std::move(work)); }

void doPauseWork() {
  while (!g_work.empty()) {
    // Taken off first: work that fails is not done again by a later pause.
    std::function<void()> work = std::move(g_work.front());
    g_work.pop_front();
    work();
  }
}

void sleep(int ms) {
  const auto start = std::chrono::steady_clock::now();
  doPauseWork();
  if (g_painting) g_painting->paintNow();
  current().sleepRest(ms, std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start));
}

void processEvents() {
  current().processEvents();
  if (g_painting) g_painting->paintIfLate();
}

// ---------------------------------------------------------------- painting

PaintInPauses::PaintInPauses(QWidget* window) : window_(window), outer_(g_painting) {
  // One at a time: an inner one (a driver inside a driver) leaves it to the
  // outer one.
  if (outer_) return;
  if (window_) window_->installEventFilter(this);
  g_painting = this;
}

PaintInPauses::~PaintInPauses() {
  if (outer_) return;
  g_painting = nullptr;
  if (window_) window_->removeEventFilter(this);
  paintNow();
}

bool PaintInPauses::eventFilter(QObject* watched, QEvent* event) {
  // The window asks to be repainted: that waits for a pause, unless a modal
  // box is up (the window behind it is repainted as usual then).
  if (watched == window_ && event->type() == QEvent::UpdateRequest && !delivering_ &&
      !QApplication::activeModalWidget()) {
    if (!waiting_) since_.start();
    waiting_ = true;
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void PaintInPauses::paintNow() {
  if (!waiting_ || !window_) return;
  waiting_ = false;
  // The request held back is the one the window's repaint manager counts on:
  // it is delivered, not posted anew.
  QEvent request(QEvent::UpdateRequest);
  delivering_ = true;
  QCoreApplication::sendEvent(window_, &request);
  delivering_ = false;
}

void PaintInPauses::paintIfLate() {
  if (waiting_ && since_.elapsed() >= kLatestMs) paintNow();
}

}  // namespace clock_
