// The entries of the goods page that show the range dialogs: the load and
// delete menu items and the zero-totals tool button.
#include <QAction>
#include <QToolButton>

#include "platform/guard.h"
#include "shell/program.h"
#include "shell/tform1.h"
#include "transfers/range_dialogs.h"

void TForm1::setupTransfers() {
  connect(N9, &QAction::triggered, this, &TForm1::N9Click);
  connect(N19, &QAction::triggered, this, &TForm1::N19Click);
  connect(N12, &QAction::triggered, this, &TForm1::N12Click);
  connect(N13, &QAction::triggered, this, &TForm1::N13Click);
  connect(N14, &QAction::triggered, this, &TForm1::N14Click);
  connect(ToolButton13, &QToolButton::clicked, this, &TForm1::ToolButton13Click);
}

void TForm1::N9Click() {
  guarded([] { Form2->showRange(); });
}

void TForm1::N19Click() {
  guarded([] { Form3->showRange(); });
}

void TForm1::N14Click() {
  guarded([this] {
    if (ScaleBusy) return;  // a running delete keeps the kind it started with
    DeleteMode = 0;
    Form6->showRange();
  });
}

void TForm1::ToolButton13Click() {
  guarded([this] {
    if (ScaleBusy) return;  // a running delete keeps the kind it started with
    DeleteMode = 2;
    Form6->showRange();
  });
}

// Read goods: a new, empty goods table (START 18 wide, sales fields left
// writable for the read), then the read-goods dialog.
void TForm1::N12Click() {
  guarded([this] {
    if (ScaleBusy) return;  // a new table now would pull the running one away
    if (!commitGridEdit()) return;
    // Stores a pending change of the old table; one that cannot be stored
    // keeps that table open and ends the entry with its reason.
    if (Table1.active()) Table1.refresh();
    const auto name = askNewBaseName(true);
    if (!name) return;
    try {
      createGoodsTable(*name, 18, false);
      labelGoodsFields(false);
    } catch (...) {
      // No read into a table that was not made.
      showCurrentError();
      return;
    }
    Form4->showRange();
  });
}

// Read messages: a new messages table with one new, empty record that the
// read's first insertion drops, then the read-messages dialog.
void TForm1::N13Click() {
  guarded([this] {
    if (ScaleBusy) return;  // a new table now would pull the running one away
    if (!commitGridEdit()) return;
    const auto name = askNewBaseName(false);
    if (!name) return;
    storeChangedRecord();
    bool made = true;
    try {
      createMessagesTable(*name);
      Table1.insert();
      Table1.fieldByName("NO").setVisible(false);
    } catch (...) {
      showCurrentError();
      made = false;  // no read into a table that was not made
    }
    Button22Click();
    if (made) Form5->showRange();
  });
}
