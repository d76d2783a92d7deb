#pragma once
// The program started against the scale emulator on 127.0.0.1: one scale
// "Весы 7" (number 7) in the configuration table and chosen on the goods
// page, a ping that answers only 127.0.0.1, and a clock whose pauses do not
// wait, so that runs of thousands of records stay quick. Helpers fill goods
// and messages tables through the program's own creation steps.
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <functional>
#include <string>
#include <vector>

#include "platform/ansi.h"
#include "platform/clock.h"
#include "shell/program.h"
#include "storage/table.h"
#include "support/gui_fixture.h"
#include "support/scale_emulator.h"
#include "transfers/range_dialogs.h"

// Pauses are counted, not waited; every event-loop turn can run a hook (to
// press Stop or a tool button in the middle of a run).
class CountingClock : public clock_::Clock {
 public:
  void sleep(int ms) override { slept += ms; }
  void processEvents() override {
    QCoreApplication::processEvents();
    ++turns;
    if (onTurn) onTurn(turns);
  }
  QDateTime now() override { return QDateTime::currentDateTime(); }

  long long slept = 0;
  int turns = 0;
  std::function<void(int turn)> onTurn;
};

struct Goods {
  int plu = 1;
  std::string name1, name2;
  int price = 0;
  std::string life = "0";
  int tare = 0, icode = 0, gcode = 0, msgno = 0, logotype = 0;
  std::string rst;
};

class TransferTest : public GuiTest {
 protected:
  static constexpr int kScale = 7;

  void SetUp() override {
    GuiTest::SetUp();
    clock_::install(&clk);
  }
  void TearDown() override {
    GuiTest::TearDown();
    clock_::install(nullptr);
  }

  // Starts the program with the emulator as the scale of the goods page.
  TForm1* startWithScale(int timeOutMs = 500) {
    start();
    form->setConfigRows({{"1", ansi::A(QStringLiteral("Весы 7")), "", std::to_string(kScale),
                          ScaleEmulator::kHost, scale.portText(), "", "", ""}});
    form->ComboBox2->setEditText(QStringLiteral("Весы 7"));
    form->Edit32->setText(QString::number(timeOutMs));
    return form;
  }

  storage::Table& table() { return form->Table1; }

  // A new goods (or messages) table in the start-up directory, open and empty.
  void newGoodsTable(const char* name = "goods") {
    form->createGoodsTable(path(name).toStdString(), 17, false);
  }
  void newMessagesTable(const char* name = "msgs") {
    form->createMessagesTable(path(name).toStdString());
  }

  void addGoods(const Goods& g) {
    storage::Table& t = table();
    t.append();
    t.fieldByName("PLUNO").setAsInteger(g.plu);
    t.fieldByName("NAME1").setAsString(g.name1);
    t.fieldByName("NAME2").setAsString(g.name2);
    t.fieldByName("PRICE").setAsInteger(g.price);
    t.fieldByName("LIFE").setAsString(g.life);
    t.fieldByName("TARE").setAsInteger(g.tare);
    t.fieldByName("ICODE").setAsInteger(g.icode);
    t.fieldByName("GCODE").setAsInteger(g.gcode);
    t.fieldByName("MSGNO").setAsInteger(g.msgno);
    t.fieldByName("LOGOTYPE").setAsInteger(g.logotype);
    t.fieldByName("RST").setAsString(g.rst);
    t.post();
  }
  // Goods with these PLU numbers, in this order, named "Товар <plu>".
  void addGoodsNumbered(const std::vector<int>& plus) {
    for (int p : plus) {
      Goods g;
      g.plu = p;
      g.name1 = ansi::A(QStringLiteral("Товар ")) + std::to_string(p);
      g.price = 100 * p;
      addGoods(g);
    }
  }
  void addMessage(int msgno, const std::vector<std::string>& lines) {
    storage::Table& t = table();
    t.append();
    t.fieldByName("MSGNO").setAsInteger(msgno);
    for (std::size_t k = 0; k < lines.size(); ++k)
      t.fieldByName("LINE" + std::to_string(k + 1)).setAsString(lines[k]);
    t.post();
  }

  // Types a range into a dialog and presses its action button.
  void runDialog(RangeDialog* d, int from, int to) {
    d->showRange();
    d->Edit1->setText(QString::number(from));
    d->Edit2->setText(QString::number(to));
    d->Button1Click();
  }

  // The PLU numbers of the 0x82 requests the scale received, in order.
  std::vector<int> sentPlus() const {
    std::vector<int> out;
    for (const std::string& r : scale.requestsOf(0x82))
      out.push_back(int((unsigned char)r[1] | (unsigned char)r[2] << 8));
    return out;
  }
  std::vector<int> requestedNumbers(int command) const {
    std::vector<int> out;
    for (const std::string& r : scale.requestsOf(command))
      out.push_back(int((unsigned char)r[1] | (unsigned char)r[2] << 8));
    return out;
  }

  QString last() const { return dlg.shown.isEmpty() ? QString() : dlg.shown.back(); }
  bool progressHidden() const {
    return form->ProgressBar3->isHidden() && form->Numb->isHidden() && form->Button3->isHidden();
  }

  ScaleEmulator scale{kScale};
  FakePing ping;
  CountingClock clk;
};
