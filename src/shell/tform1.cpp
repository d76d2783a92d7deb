// The main window's life: construction runs the start-up sequence, a close
// writes the settings files, destruction closes the open table.
#include "shell/tform1.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTimeEdit>
#include <QDir>
#include <QLineEdit>
#include <QShortcut>
#include <QTimer>
#include <functional>

#include "platform/ansi.h"
#include "platform/blocked_close.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/guard.h"
#include "platform/name_lookup.h"
#include "platform/textfile.h"
#include "shell/config_file.h"
#include "shell/image_box.h"
#include "shell/string_grid.h"

TForm1* Form1 = nullptr;

namespace {

std::string cwdFile(const char* name) { return (QDir::currentPath() + "/" + name).toStdString(); }

}  // namespace

QString (*LocalHostAddress)() = &namelookup::ownIPv4;

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("Form1"));
  Form1 = this;
  buildLayout();
  setupBasesPage();
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  f1->setContext(Qt::WindowShortcut);
  connect(f1, &QShortcut::activated, this, [this] { HelpKeyword(QStringLiteral("Содержание")); });
  closeAfterRun_ = new QTimer(this);
  closeAfterRun_->setInterval(20);
  connect(closeAfterRun_, &QTimer::timeout, this, [this] {
    // A pass that began after the close cleared the stop flag: set it again.
    if (ScaleBusy) {
      TransferCancelled = 1;
      return;
    }
    if (QApplication::activeModalWidget()) return;  // the run's last message is still open
    closeAfterRun_->stop();
    close();
  });
  // The window system's close, asked for while a run was blocked, may come
  // only once the run's message box is up, and Qt turns it away from the
  // window behind the box: the run takes it.
  blockedclose::watch(this, [this] { return takeCloseDuringRun(); });
  guarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
  FormDestroy();
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::FormCreate() {
  // 1. The start-up directory.
  StartDir = QDir::currentPath();
  QDir::setCurrent(StartDir);

  // 2. Titles of the configuration table.
  for (int c = 0; c < 9; ++c) StringGrid1->setCellText(c, 0, QString::fromUtf8(kConfigTitles[c]));

  // 3. Price-key table: titles, keys 1..54 assigned to PLU cells 1..54.
  StringGrid2->setCellText(0, 0, QStringLiteral(" Клавиша цены "));
  StringGrid2->setCellText(1, 0, QStringLiteral(" № PLU "));
  for (int r = 1; r <= 54; ++r) StringGrid2->setCellText(0, r, QString::number(r));
  for (int r = 1; r <= 54; ++r) StringGrid2->setCellText(1, r, QString::number(r));

  // 4. Field-compatibility defaults.
  Button10Click();

  // 5. Logo images white.
  Image1->fillRect(0, 0, 320, 320, 0xFFFFFF);
  Image2->fillRect(0, 0, 64, 64, 0xFFFFFF);

  // 6. Date and time pickers.
  const QDateTime now = clock_::now();
  DateTimePicker1->setDateTime(now);
  DateTimePicker2->setDateTime(now);

  // 7.
  LogoModified = false;

  // 8. Subnet prefix of the test page: the own address up to its last dot.
  // Without an address (or without a dot in it) the field stays empty, so
  // that nothing is swept until the operator types a prefix.
  QString own = LocalHostAddress();
  clock_::processEvents();
  while (!own.isEmpty() && !own.endsWith('.')) own.chop(1);
  Edit30->setText(own);

  // 9. config.cfg, created as one empty row when missing. Each settings file
  // is read whatever became of the one before it; one that is there but
  // cannot be read is reported, shown by its defaults and left as it is
  // (settingsRead). So is the rest of a file whose reading a read error cut
  // short, silently as before.
  const std::string cfg = cwdFile("config.cfg");
  guarded([&] {
    if (textfile::missing(cfg)) textfile::writeAtomic(cfg, writeConfigRows({ConfigTableRow{}}));
    textfile::Reader in(cfg);
    settingsRead.config = !in.failed();
    setConfigRows(readConfigRows(in, true));
  });

  // 10. Scale lists.
  SpeedButton26Click();

  // 11. poles.cfg, created from the defaults when missing.
  const std::string poles = cwdFile("poles.cfg");
  guarded([&] {
    if (textfile::missing(poles)) {
      Button10Click();
      textfile::writeAtomic(poles, polesFileBytes());
    }
    textfile::Reader in(poles);
    settingsRead.poles = !in.failed();
    // A read error ends the reading; the cells not reached keep their
    // defaults.
    for (int r = 1; r <= 23 && !in.eof(); ++r) {
      StringGrid3->setCell(2, r, in.readLine());
      if (in.atError()) break;
      StringGrid3->setCell(3, r, in.readLine());
    }
  });

  // 12. total.cfg.
  TotalOpen();
}

void TForm1::FormCloseQuery(bool& CanClose) {
  CanClose = true;
  // What was typed into the goods grid is stored rather than lost with the
  // window. A text the field refuses, or a record that cannot be stored (the
  // table held by another program, a full disk), is shown and keeps the
  // window open: the operator corrects it, cancels it or tries again.
  if (!commitGridEdit()) {
    CanClose = false;
    return;
  }
  storeChangedRecord();
  QDir::setCurrent(StartDir);
  // A file that start-up could not read is not written over: its contents
  // are not in the window. The operator is told once the close goes ahead.
  QStringList kept;
  auto save = [&](bool readAtStart, const char* name, const std::function<void()>& write) {
    if (readAtStart)
      write();
    else
      kept << QString::fromStdString(cwdFile(name));
  };
  if (CheckBox3->isChecked())
    save(settingsRead.config, "config.cfg",
         [&] { textfile::writeAtomic(cwdFile("config.cfg"), writeConfigRows(configRows())); });
  if (CheckBox13->isChecked())
    save(settingsRead.poles, "poles.cfg", [&] { textfile::writeAtomic(cwdFile("poles.cfg"), polesFileBytes()); });
  save(settingsRead.total, "total.cfg", [&] { TotalSave(); });
  for (const QString& file : kept)
    dialogs::current().message(
        QStringLiteral("Файл «%1» не записан: при запуске программы его не удалось прочитать, он оставлен как есть.")
            .arg(file),
        dialogs::Kind::Warning);
}

void TForm1::FormDestroy() {
  // Closing the open base; an error while closing is ignored.
  try {
    Table1.close();
  } catch (...) {
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  // An operation runs inside one of the handlers (its event-loop turns let
  // the close in): it is stopped as Stop stops it, and the window stays, its
  // messages shown, until it has ended; then it closes as usual.
  if (takeCloseDuringRun()) {
    event->ignore();
    return;
  }
  bool canClose = true;
  // A file that cannot be written is shown and keeps the window open.
  if (!guarded([&] { FormCloseQuery(canClose); })) canClose = false;
  if (canClose)
    event->accept();
  else
    event->ignore();
}

bool TForm1::takeCloseDuringRun() {
  if (!ScaleBusy && !closeAfterRun_->isActive()) return false;
  TransferCancelled = 1;
  closeAfterRun_->start();
  return true;
}

bool TForm1::closeWaitsForRun() const { return closeAfterRun_ && closeAfterRun_->isActive(); }

void TForm1::N2Click() { close(); }
