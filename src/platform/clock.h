#pragma once
// Pauses, one turn of the event loop and the current time, behind one seam so
// that tests can run without real waiting where they choose to.
#include <QDateTime>

namespace clock_ {

class Clock {
 public:
  virtual ~Clock() = default;
  // Blocks the calling thread for ms milliseconds (the GUI stays frozen, as a
  // scale exchange expects).
  virtual void sleep(int ms) = 0;
  // Lets the pending window events run once.
  virtual void processEvents() = 0;
  virtual QDateTime now() = 0;
};

Clock& current();
// Installs a clock (nullptr restores the real one). The caller keeps ownership.
void install(Clock* clock);

inline void sleep(int ms) { current().sleep(ms); }
inline void processEvents() { current().processEvents(); }
inline QDateTime now() { return current().now(); }

}  // namespace clock_
