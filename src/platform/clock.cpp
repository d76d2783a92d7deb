#include "platform/clock.h"

#include <QCoreApplication>
#include <QThread>

namespace clock_ {
namespace {

class RealClock final : public Clock {
 public:
  void sleep(int ms) override {
    if (ms > 0) QThread::msleep(ulong(ms));
  }
  void processEvents() override { QCoreApplication::processEvents(); }
  QDateTime now() override { return QDateTime::currentDateTime(); }
};

RealClock& realClock() {
  static RealClock c;
  return c;
}

Clock* g_installed = nullptr;

}  // namespace

Clock& current() { return g_installed ? *g_installed : realClock(); }
void install(Clock* clock) { g_installed = clock; }

}  // namespace clock_
