#pragma once
// A started program with helpers for the goods page: new bases through the
// menu entries, records appended straight into Table1, read-back of a table
// file through a table component of its own, and the grid as shown.
#include <QAbstractItemModel>
#include <QAction>
#include <QPushButton>
#include <QToolButton>
#include <QFile>
#include <QStringList>
#include <QTableView>
#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/ansi.h"
#include "platform/clock.h"
#include "shell/string_grid.h"
#include "support/gui_fixture.h"
#include "support/scripted_dialogs.h"

// Readable texts in failure output.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

// A clock whose event-loop turns run a hook (to press Stop mid-loop).
class HookClock : public clock_::Clock {
 public:
  HookClock() { clock_::install(this); }
  ~HookClock() override { clock_::install(nullptr); }
  void sleep(int) override {}
  void processEvents() override {
    ++turns;
    if (onTurn) onTurn(turns);
  }
  QDateTime now() override { return QDateTime::currentDateTime(); }
  int turns = 0;
  std::function<void(int)> onTurn;
};

// Passes every dialog on to the test's scripted dialogs and records the kind
// of each message box; the scripted dialogs are back in place afterwards.
class MessageKinds : public dialogs::Service {
 public:
  explicit MessageKinds(ScriptedDialogs& inner) : inner_(inner) { dialogs::install(this); }
  ~MessageKinds() override { dialogs::install(&inner_); }
  MessageKinds(const MessageKinds&) = delete;
  MessageKinds& operator=(const MessageKinds&) = delete;

  void message(const QString& text, dialogs::Kind kind) override {
    kinds.push_back(kind);
    inner_.message(text, kind);
  }
  void error(const QString& text) override { inner_.error(text); }
  dialogs::Answer question(const QString& text, bool withCancel) override {
    return inner_.question(text, withCancel);
  }
  std::optional<QString> openFile(const dialogs::FileRequest& r) override { return inner_.openFile(r); }
  std::optional<QString> saveFile(const dialogs::FileRequest& r) override { return inner_.saveFile(r); }
  std::optional<QFont> chooseFont(const QFont& f) override { return inner_.chooseFont(f); }

  // The kinds recorded since the last call, then forgets them.
  std::vector<dialogs::Kind> take() { return std::exchange(kinds, {}); }
  std::vector<dialogs::Kind> kinds;

 private:
  ScriptedDialogs& inner_;
};

// Another program's write lock over a whole file (l_len 0), as an office
// program keeps on a table it has open; held() is false when not taken.
struct WholeFileLock {
  explicit WholeFileLock(const QString& file) : fd(::open(QFile::encodeName(file).constData(), O_RDWR)) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    if (fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &fl) != 0) ::close(std::exchange(fd, -1));
  }
  ~WholeFileLock() { if (fd >= 0) ::close(fd); }
  bool held() const { return fd >= 0; }
  int fd;
};

class BasesTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    start();
  }

  storage::Table& table() { return form->Table1; }

  // "Новая база товаров" / "Новая база сообщений" with the given file name.
  void newGoods(const QString& name) {
    dlg.files.push_back(path(name));
    form->N3->trigger();
    dlg.take();
  }
  void newMessages(const QString& name) {
    dlg.files.push_back(path(name));
    form->N4->trigger();
    dlg.take();
  }
  // The open entry with the given full file name.
  void openTable(const QString& file) {
    dlg.files.push_back(file);
    form->ToolButton2->click();
  }

  // Appends a stored goods record (fields by their default names).
  void addGoods(int plu, const std::string& name1, int price, const std::string& life = "0",
                int msgno = 0) {
    auto& t = table();
    t.append();
    t.fieldByName("PLUNO").setAsInteger(plu);
    t.fieldByName("NAME1").setAsString(name1);
    t.fieldByName("PRICE").setAsInteger(price);
    t.fieldByName("LIFE").setAsString(life);
    t.fieldByName("MSGNO").setAsInteger(msgno);
    t.post();
  }
  void addMessage(int msgno, const std::string& line1) {
    auto& t = table();
    t.append();
    t.fieldByName("MSGNO").setAsInteger(msgno);
    t.fieldByName("LINE1").setAsString(line1);
    t.post();
  }

  // One field of every record of a table file, in its primary order, read
  // through a table component of its own.
  static std::vector<std::string> column(const QString& file, const std::string& field) {
    storage::Table t;
    t.setTableName(QFile::encodeName(file).toStdString());
    t.open();
    std::vector<std::string> out;
    for (t.first(); !t.eof(); t.next()) out.push_back(t.fieldByName(field).asString());
    return out;
  }
  // The same field of the open Table1 in its current order; the current
  // record stays where it was.
  std::vector<std::string> shownColumn(const std::string& field) {
    auto& t = table();
    const auto mark = t.getBookmark();
    std::vector<std::string> out;
    for (t.first(); !t.eof(); t.next()) out.push_back(t.fieldByName(field).asString());
    if (mark.valid()) t.gotoBookmark(mark);
    return out;
  }

  // The titles of the grid's shown columns.
  QStringList gridTitles() {
    QStringList out;
    QAbstractItemModel* m = form->DBGrid1->model();
    if (!m) return out;
    for (int c = 0; c < m->columnCount(); ++c)
      if (!form->DBGrid1->isColumnHidden(c))
        out << m->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    return out;
  }
  int gridRows() {
    QAbstractItemModel* m = form->DBGrid1->model();
    return m ? m->rowCount() : 0;
  }

  // Column 2 of the field-compatibility row of a logical name.
  void mapField(int row, const QString& name) { form->StringGrid3->setCellText(2, row, name); }

  static QString noTable() {
    return QStringLiteral("Откройте базу товаров или сообщений. Имя текущей базы не определено.");
  }
};
