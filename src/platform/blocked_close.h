#pragma once
// The window system's close of a window that a modal box blocks. Qt turns
// such a close away before the window sees it; a caller that must not lose it
// (a run that shows its last message while the close waits) takes it here.
#include <QWidget>
#include <functional>

namespace blockedclose {

// While `window` lives, a close that the window system asks for while a modal
// widget blocks the window is handed to `take`; when `take` returns true the
// close is spent, otherwise Qt turns it away as usual. A close of a window
// that no box blocks goes its usual way. Does nothing where the window system
// is not X11.
void watch(QWidget* window, std::function<bool()> take);

}  // namespace blockedclose
