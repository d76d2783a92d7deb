#pragma once
// Progress bars of the runs: a range of 0..0 would make Qt show its moving
// busy animation, so a run of one item or none shows a plain, empty bar.
#include <QProgressBar>
#include <algorithm>

inline void setProgressMaximum(QProgressBar* bar, int max) { bar->setRange(0, std::max(max, 1)); }

// A new value, drawn with the window's next paint: QProgressBar itself
// repaints at once whenever its text or filled width changes, which would
// draw the whole window's pending changes there and then (in the middle of a
// transfer's exchange, say).
inline void setProgressValue(QProgressBar* bar, int value) {
  if (!bar->updatesEnabled()) {
    bar->setValue(value);
    return;
  }
  bar->setUpdatesEnabled(false);
  bar->setValue(value);
  bar->setUpdatesEnabled(true);  // schedules the repaint
}
