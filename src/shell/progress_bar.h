#pragma once
// Progress bars of the runs: a range of 0..0 would make Qt show its moving
// busy animation, so a run of one item or none shows a plain, empty bar.
#include <QProgressBar>
#include <algorithm>

inline void setProgressMaximum(QProgressBar* bar, int max) { bar->setRange(0, std::max(max, 1)); }
