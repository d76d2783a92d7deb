#pragma once
// Pauses, one turn of the event loop and the current time, behind one seam so
// that tests can run without real waiting where they choose to.
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>

class QWidget;

namespace clock_ {

class Clock {
 public:
  virtual ~Clock() = default;
  // Blocks the calling thread for ms milliseconds (the GUI stays frozen, as a
  // scale exchange expects).
  virtual void sleep(int ms) = 0;
  // The rest of a pause of ms milliseconds of which spent went on the work
  // the pause did (see duringNextPause). A clock that does not really wait
  // takes the whole pause.
  virtual void sleepRest(int ms, std::chrono::microseconds spent) {
    (void)spent;
    sleep(ms);
  }
  // Lets the pending window events run once.
  virtual void processEvents() = 0;
  virtual QDateTime now() = 0;
};

Clock& current();
// Installs a clock (nullptr restores the real one). The caller keeps ownership.
void install(Clock* clock);

// A pause of ms milliseconds (a least wait for the scale). The thread has
// nothing else to do in it, so it first does the work queued for it, and
// repaints a window whose painting waits for a pause; then it waits the rest.
void sleep(int ms);
void processEvents();
inline QDateTime now() { return current().now(); }

// Queues work for the next pause; doPauseWork() does it at once (before a
// run ends or shows a message). An error the work raises comes out of the
// pause, as it would out of the work itself.
void duringNextPause(std::function<void()> work);
void doPauseWork();

// While it lives, the window (a top-level one) is repainted in the pauses
// instead of at each turn of the event loop: a transfer's progress, number
// and grid are drawn while it waits for the scale, not between its
// exchanges. A repaint that no pause has taken for kLatestMs is made at the
// next turn of the loop, and the window is brought up to date when the
// object goes. Message boxes are painted as always.
class PaintInPauses : public QObject {
 public:
  static constexpr int kLatestMs = 40;
  explicit PaintInPauses(QWidget* window);
  ~PaintInPauses() override;
  PaintInPauses(const PaintInPauses&) = delete;
  PaintInPauses& operator=(const PaintInPauses&) = delete;

  // Paints what waits, if anything.
  void paintNow();
  // paintNow() once the oldest waiting change is kLatestMs old.
  void paintIfLate();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> window_;
  PaintInPauses* outer_ = nullptr;
  bool waiting_ = false;     // a repaint is held back
  bool delivering_ = false;  // the held-back request is being delivered
  QElapsedTimer since_;
};

}  // namespace clock_
