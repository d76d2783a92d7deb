// While a scale operation, transfer, base check or renumbering runs, the
// entries it would refuse are shown disabled, so the operator sees why a click
// does nothing; Stop and whatever may run meanwhile stay enabled.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QPalette>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>

#include "shell/program.h"
#include "shell/tform1.h"
#include "storage/db_navigator.h"
#include "transfers/range_dialogs.h"

namespace {
// Entries that start another scale operation or a table loop, or replace or
// reorder the open table under a running walk. A name that a page does not
// have is skipped. The delete entries are among them: a running delete keeps
// the kind (deleting cells or clearing totals) it started with. The range
// dialogs' OK, which would start a second run, is disabled too.
constexpr const char* kRefusedWhileBusy[] = {
    // goods page: new, open, rename, sorts and renumberings, check, transfers
    "ToolButton1", "N3", "N4", "ToolButton2", "N11", "ToolButton7", "PLU1", "MSG1", "N5", "N6",
    "N7", "N8", "PLU2", "MSG2", "ToolButton8", "ToolButton10", "N9", "N19", "ToolButton11", "N12",
    "N13", "ToolButton12", "N14", "ToolButton13",
    // goods page: the reports, which read the whole table
    "ToolButton4", "N20", "N21",
    // scale settings, state, factory settings and logo pages
    "Button1", "Button2", "Button6", "Button5", "Button7", "Button8", "Button23", "Button9",
    "Button11", "Button17", "Button12", "Button13", "SpeedButton37", "SpeedButton38",
    // network test page
    "Button18", "Button19", "Button21", "Button20"};
}  // namespace

void TForm1::ShowBusy(bool busy) {
  // The scale lists take no keys, wheel or clicks and open no drop-down while
  // an operation runs: the one in use keeps naming the scale that the run
  // talks to. Each keeps its text. They go first, so that the focus leaving a
  // button disabled below never lands in one of them.
  QComboBox* const lists[] = {ComboBox2, ComboBox3, ComboBox6, ComboBox7, ComboBox8};
  for (QComboBox* c : lists) {
    if (!c) continue;
    if (busy && focusWidget() == c) {
      // Keys typed on go to the list's page, which does nothing with them,
      // rather than to the next control (Stop would take a blank).
      focusedScaleList_ = c;
      scaleListFocusHolder_ = c->parentWidget();
      scaleListFocusHolder_->setFocus(Qt::OtherFocusReason);
    }
    c->setEnabled(!busy);
  }
  if (!busy && focusedScaleList_) {
    // The list gets the focus back unless the operator has moved it meanwhile.
    if (focusWidget() == scaleListFocusHolder_) focusedScaleList_->setFocus(Qt::OtherFocusReason);
    focusedScaleList_ = nullptr;
    scaleListFocusHolder_ = nullptr;
  }
  for (const char* name : kRefusedWhileBusy) {
    const QString n = QString::fromLatin1(name);
    if (auto* b = findChild<QAbstractButton*>(n, Qt::FindChildrenRecursively))
      b->setEnabled(!busy);
    else if (auto* a = findChild<QAction*>(n, Qt::FindChildrenRecursively))
      a->setEnabled(!busy);
  }
  for (RangeDialog* d : std::initializer_list<RangeDialog*>{Form2, Form3, Form4, Form5, Form6})
    if (d) d->Button1->setEnabled(!busy);
}

void TForm1::ShowTableWalk(bool walking) {
  TableWalking = walking;
  if (walking) {
    // A grid that takes no input keeps the colours of one that does: the
    // operator follows the walk in it as before.
    QPalette p = DBGrid1->palette();
    for (int r = 0; r < QPalette::NColorRoles; ++r) {
      const auto role = QPalette::ColorRole(r);
      p.setColor(QPalette::Disabled, role, p.color(QPalette::Active, role));
    }
    DBGrid1->setPalette(p);
  } else {
    DBGrid1->setPalette(QPalette());  // the window's colours again
  }
  // Disabled widgets take no clicks, keys or edits and still follow the
  // table's current record.
  DBGrid1->setEnabled(!walking);
  if (DBNavigator1) DBNavigator1->setEnabled(!walking);
  ComboBox1->setEnabled(!walking);
  ToolButton3->setEnabled(!walking);
  N10->setEnabled(!walking);
}
