// The print entries of the goods page: the goods or messages report of the
// open table in the preview window, the table back on its record afterwards.
#include <QAction>

#include "bases/report_windows.h"
#include "link/scale_link.h"
#include "platform/guard.h"
#include "shell/program.h"
#include "shell/tform1.h"

void TForm1::setupReports() {
  connect(N20, &QAction::triggered, this, &TForm1::N20Click);
  connect(N21, &QAction::triggered, this, &TForm1::N21Click);
}

namespace {

// The preview reports nothing of its own: a failure at any step ends it
// silently, the table where that step left it.
void previewReport(TForm1& f, report::QuickRep& rep) {
  guarded([&] {
    // The report reads the whole table: not while a transfer, a check or a
    // renumbering works on it.
    scalelink::BusyGuard busy(f);
    if (busy.refused()) return;
    try {
      const storage::Bookmark mark = f.Table1.getBookmark();
      rep.preview(&f);
      if (mark.valid()) f.Table1.gotoBookmark(mark);
    } catch (...) {
    }
  });
}

}  // namespace

void TForm1::N20Click() {
  if (Form7) previewReport(*this, Form7->QuickRep1);
}

void TForm1::N21Click() {
  if (Form8) previewReport(*this, Form8->QuickRep1);
}
