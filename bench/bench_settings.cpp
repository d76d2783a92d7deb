// Reads all 54 price keys of the emulated scale and writes all 54 back, each
// through its page button, at ComPortTimeOut 1000 with the real pauses (ping
// double, TCP on 127.0.0.1). Reports the time per key against the fixed
// pauses of the loops: the 200 ms before every key, the handshake's pause
// between its two answer bytes (20 ms on a read, 50 ms on a write) and, on
// a read, the 50 ms before the key's reply.
#include <benchmark/benchmark.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>

#include "bench_program.h"
#include "shell/string_grid.h"
#include "support/scale_emulator.h"
#include "support/scripted_dialogs.h"

namespace {

constexpr int kKeys = 54;

struct Setup {
  ScaleEmulator scale{1};
  FakePing ping;
  ScriptedDialogs dlg;
  TForm1* form = Form1;

  Setup() {
    form->setConfigRows({{"1", "Bench", "", "1", ScaleEmulator::kHost, scale.portText(), "", "", ""}});
    form->ComboBox3->setEditText(QStringLiteral("Bench"));
    form->Edit32->setText(QStringLiteral("1000"));
  }
};

// Runs one click and reports ms per key against the fixed pause of a key.
void run(benchmark::State& state, Setup& s, QPushButton* button, const QString& done, double pauseMs) {
  double ms = 0;
  bool ok = true;
  for (auto _ : state) {
    s.dlg.take();
    const auto t0 = std::chrono::steady_clock::now();
    button->click();
    ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    ok = s.dlg.take() == QStringList{done};
  }
  if (!ok) state.SkipWithError("the run did not end with its success message");
  state.counters["ms_per_key"] = ms / kKeys;
  state.counters["fixed_pause_ms"] = pauseMs;
  state.counters["overhead_ms"] = ms / kKeys - pauseMs;
}

void BM_ReadPriceKeys(benchmark::State& state) {
  Setup s;
  for (int k = 1; k <= kKeys; ++k) s.scale.setPriceKey(k, 4001 - k);
  run(state, s, s.form->Button7, QStringLiteral("Чтение настройек клавиш цен закончено."), 200 + 20 + 50);
  if (s.form->StringGrid2->cellText(1, kKeys) != QStringLiteral("3947")) state.SkipWithError("keys not read");
}

void BM_WritePriceKeys(benchmark::State& state) {
  Setup s;
  for (int k = 1; k <= kKeys; ++k) s.form->StringGrid2->setCellText(1, k, QString::number(100 + k));
  run(state, s, s.form->Button8, QStringLiteral("Запись таблицы клавиш цен произведена."), 200 + 50);
  if (s.scale.priceKey(kKeys) != 100 + kKeys) state.SkipWithError("keys not written");
}

BENCHMARK(BM_ReadPriceKeys)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePriceKeys)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return runBenchmarksOnProgram(argc, argv); }
