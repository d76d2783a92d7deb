#pragma once
// A started main window whose configuration table holds one scale played by
// the emulator, with the ping answered by the test double and pauses recorded
// instead of waited.
#include <QCoreApplication>
#include <QLineEdit>
#include <functional>
#include <vector>

#include "support/gui_fixture.h"
#include "link/wire.h"
#include "platform/clock.h"
#include "support/scale_emulator.h"

class RecordingClock : public clock_::Clock {
 public:
  std::vector<int> pauses;
  std::function<void(int ms)> onSleep;  // what happens while a pause lasts
  void sleep(int ms) override {
    pauses.push_back(ms);
    if (onSleep) onSleep(ms);
  }
  void processEvents() override { QCoreApplication::processEvents(); }
  QDateTime now() override { return QDateTime::currentDateTime(); }
};

class LinkTest : public GuiTest {
 protected:
  static constexpr int kNumber = 7;
  static constexpr int kTimeOut = 300;

  void SetUp() override {
    GuiTest::SetUp();
    clock_::install(&clock);
    start();
    form->setConfigRows({{"1", "Scale1", "", std::to_string(kNumber), ScaleEmulator::kHost, scale.portText(),
                          "", "", ""}});
    form->Edit32->setText(QString::number(kTimeOut));
  }
  void TearDown() override {
    GuiTest::TearDown();
    clock_::install(nullptr);
  }

  bool open(const QString& name = QStringLiteral("Scale1")) {
    return form->OpenScaleLink(name, QStringLiteral("Для записи данных"), row, timeOut);
  }
  // Opens the link and runs an accepted handshake.
  void ready() {
    ASSERT_TRUE(open());
    ASSERT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
  }
  TForm1::HandshakeResult handshake(int pause = 50) { return form->ScaleSelectHandshake(row, timeOut, pause); }

  ScaleEmulator scale{kNumber};
  FakePing ping;
  RecordingClock clock;
  int row = -1;
  int timeOut = -1;
};

inline std::string bytesOf(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s += char(uint8_t(b));
  return s;
}
