// Start-up to a shown main window, and the configuration table of 10,000
// rows read into and written from the grid.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "shell/config_file.h"
#include "shell/program.h"
#include "shell/tform1.h"

namespace {

std::string tableBytes(int rows) {
  std::vector<ConfigTableRow> data(static_cast<size_t>(rows));
  for (int i = 0; i < rows; ++i)
    data[size_t(i)] = {std::to_string(i + 1), "Scale " + std::to_string(i), "Dept", "1", "127.0.0.1",
                       "5001", "/data/goods.db", "/data/msg.db", "note"};
  return writeConfigRows(data);
}

QString loopbackAddress() { return QStringLiteral("127.0.0.1"); }

// A temporary start-up directory, current while the benchmark runs.
struct StartupDir {
  StartupDir() : old(QDir::currentPath()) {
    QDir::setCurrent(dir.path());
    LocalHostAddress = &loopbackAddress;
  }
  ~StartupDir() { QDir::setCurrent(old); }
  std::string file(const char* name) const { return dir.filePath(name).toStdString(); }
  QTemporaryDir dir;
  QString old;
};

// Starts the program and waits for the shown window, once per iteration.
void startUntilShown(benchmark::State& state) {
  for (auto _ : state) {
    TForm1* f = createForms();
    f->show();
    benchmark::DoNotOptimize(QTest::qWaitForWindowExposed(f));
    state.PauseTiming();
    destroyForms();
    state.ResumeTiming();
  }
}

void BM_StartupToShownWindow(benchmark::State& state) {
  StartupDir start;
  startUntilShown(state);
}
BENCHMARK(BM_StartupToShownWindow)->Unit(benchmark::kMillisecond);

void BM_StartupWith10000Rows(benchmark::State& state) {
  StartupDir start;
  std::ofstream(start.file("config.cfg"), std::ios::binary) << tableBytes(10000);
  startUntilShown(state);
}
BENCHMARK(BM_StartupWith10000Rows)->Unit(benchmark::kMillisecond);

void BM_ReadConfig10000IntoGrid(benchmark::State& state) {
  StartupDir start;
  const std::string path = start.file("big.cfl");
  std::ofstream(path, std::ios::binary) << tableBytes(10000);
  TForm1* f = createForms();
  for (auto _ : state) {
    textfile::Reader in(path);
    f->setConfigRows(readConfigRows(in));
  }
  destroyForms();
}
BENCHMARK(BM_ReadConfig10000IntoGrid)->Unit(benchmark::kMillisecond);

void BM_WriteConfig10000FromGrid(benchmark::State& state) {
  StartupDir start;
  const std::string path = start.file("big.cfl");
  std::ofstream(path, std::ios::binary) << tableBytes(10000);
  TForm1* f = createForms();
  {
    textfile::Reader in(path);
    f->setConfigRows(readConfigRows(in));
  }
  for (auto _ : state) textfile::writeAtomic(path, writeConfigRows(f->configRows()));
  destroyForms();
}
BENCHMARK(BM_WriteConfig10000FromGrid)->Unit(benchmark::kMillisecond);

// Sorting 10,000 rows numbered from the highest down to 1.
void BM_SortConfig10000Reversed(benchmark::State& state) {
  StartupDir start;
  std::vector<ConfigTableRow> data(10000);
  for (size_t i = 0; i < data.size(); ++i) data[i][0] = std::to_string(data.size() - i);
  TForm1* f = createForms();
  for (auto _ : state) {
    state.PauseTiming();
    f->setConfigRows(data);
    state.ResumeTiming();
    f->SpeedButton24Click();
  }
  destroyForms();
}
BENCHMARK(BM_SortConfig10000Reversed)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
