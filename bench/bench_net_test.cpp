// The network test page against its time bounds, with the real ping and the
// real pauses. The whole benchmark runs in a network namespace of its own
// (loopback up, echo requests ignored), so that every address of "127.0.0."
// is silent and no packet leaves the process's own namespace.
//  - Sweep: 255 silent addresses at Edit31 = 50, against 255 x 50 ms.
//  - Scale check: rows whose scale (the emulator) answers, against the fixed
//    pauses per row: 50 after the ping, Edit31 between the two answer bytes
//    and 200 after the handshake.
#include <benchmark/benchmark.h>

#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "bench_program.h"
#include "support/netns.h"
#include "support/scale_emulator.h"

namespace {

constexpr int kTimeOut = 50;

bool ownSilentNamespace() {
  if (!enterNewNetworkNamespace() || !setLoopbackUp()) return false;
  std::ofstream ignore("/proc/sys/net/ipv4/icmp_echo_ignore_all");
  ignore << "1\n";
  return bool(ignore.flush());
}

double msSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void BM_SweepOfSilentSubnet(benchmark::State& state) {
  TForm1* form = Form1;
  form->Edit30->setText(QStringLiteral("127.0.0."));
  form->Edit31->setText(QString::number(kTimeOut));
  double ms = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    form->Button21Click();
    ms = msSince(t0);
    if (form->ListBox4->count() != 0) state.SkipWithError("an address answered");
  }
  state.counters["sweep_ms"] = ms;
  state.counters["bound_ms"] = 255.0 * kTimeOut;
  state.counters["per_address_ms"] = ms / 255;
}
BENCHMARK(BM_SweepOfSilentSubnet)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ScaleCheckPerRow(benchmark::State& state) {
  constexpr int kRows = 10;
  TForm1* form = Form1;
  ScaleEmulator scale(4);
  FakePing ping;  // the echo is ignored in this namespace; the scale answers it
  std::vector<std::array<std::string, 9>> rows(kRows, {"", "B", "", "4", ScaleEmulator::kHost, scale.portText(),
                                                       "", "", ""});
  form->setConfigRows(rows);
  form->Edit31->setText(QString::number(kTimeOut));
  form->RadioButton4->setChecked(true);
  double ms = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    form->Button18Click();
    ms = msSince(t0);
    if (form->ListBox3->count() != kRows) state.SkipWithError("a scale was not listed");
  }
  state.counters["ms_per_row"] = ms / kRows;
  state.counters["fixed_pauses_ms"] = 50 + kTimeOut + 200;
  state.counters["overhead_ms"] = ms / kRows - (50 + kTimeOut + 200);
}
BENCHMARK(BM_ScaleCheckPerRow)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!ownSilentNamespace()) {
    std::fprintf(stderr, "bench_net_test: needs a network namespace of its own (run as root)\n");
    return 1;
  }
  return runBenchmarksOnProgram(argc, argv);
}
