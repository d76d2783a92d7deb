// Loads 1,000 goods records into the emulated scale over the real link (ping
// double, TCP on 127.0.0.1, the real pauses) and reports the time per record
// against the fixed pauses of the protocol: the 20 ms between the two
// handshake answer bytes of the load driver (the scale answers at once, so
// the reply waits add only the round trips). Run three ways: one send per
// request (the program's way), one send per byte with Nagle's algorithm off,
// and one send per byte with it on (as a client without TCP_NODELAY would).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>

#include "link/scale_link.h"
#include "bench_program.h"
#include "shell/program.h"
#include "shell/tform1.h"
#include "support/scale_emulator.h"

namespace {

constexpr int kRecords = 1000;
constexpr int kHandshakePause = 20;

enum Mode { WholeRequest = 0, PerByteNoDelay = 1, PerByteNagle = 2 };

void BM_LoadGoods(benchmark::State& state) {
  const auto mode = Mode(state.range(0));
  ScaleEmulator scale(1);
  FakePing ping;
  TForm1* form = Form1;
  form->setConfigRows({{"1", "Bench", "", "1", ScaleEmulator::kHost, scale.portText(), "", "", ""}});
  form->Edit32->setText(QStringLiteral("1000"));
  const std::string name1(29, 'N'), name2(29, 'M');
  double perRecordMs = 0;
  for (auto _ : state) {
    int row = 0, timeOut = 0;
    if (!form->OpenScaleLink(QStringLiteral("Bench"), QStringLiteral("Bench"), row, timeOut)) {
      state.SkipWithError("link not opened");
      return;
    }
    if (mode == PerByteNagle) form->TcpClient1.setNoDelay(false);
    scalelink::setOneSendPerByte(mode != WholeRequest);
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 1; i <= kRecords; ++i) {
      if (form->ScaleSelectHandshake(row, timeOut, kHandshakePause) != TForm1::HandshakeResult::Accepted ||
          !form->SendPlu(i, name1, name2, 1000 + i, "5", 0, i, 1, 0, "     ", 0, timeOut)) {
        scalelink::setOneSendPerByte(false);
        state.SkipWithError("exchange failed");
        return;
      }
    }
    const auto t1 = std::chrono::steady_clock::now();
    scalelink::setOneSendPerByte(false);
    perRecordMs = std::chrono::duration<double, std::milli>(t1 - t0).count() / kRecords;
  }
  state.counters["ms_per_record"] = perRecordMs;
  state.counters["fixed_pause_ms"] = kHandshakePause;
  state.counters["overhead_ms"] = perRecordMs - kHandshakePause;
  state.SetLabel(mode == WholeRequest ? "one send per request"
                 : mode == PerByteNoDelay ? "one send per byte, TCP_NODELAY"
                                          : "one send per byte, Nagle on");
}

BENCHMARK(BM_LoadGoods)->Arg(WholeRequest)->Arg(PerByteNoDelay)->Arg(PerByteNagle)->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return runBenchmarksOnProgram(argc, argv); }
