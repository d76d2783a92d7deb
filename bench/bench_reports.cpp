// Figures for the goods report: one generation of a base of 4,000 and of
// 100,000 records into a PDF file, and the time until the preview window
// shows all its pages, each with the peak memory of the process during it.
#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <fstream>
#include <string>

#include "bases/report_windows.h"
#include "bench_program.h"
#include "shell/tform1.h"
#include "support/scripted_dialogs.h"

namespace {

// The two bases, made once in the program's start-up directory.
struct Setup {
  ScriptedDialogs dlg;
  TForm1* form = Form1;

  Setup() {
    makeGoods(4000);
    makeGoods(100000);
  }

  QString file(int records) const { return QDir::current().filePath(QStringLiteral("goods%1.db").arg(records)); }

  // A goods base of full records: names of full width, every number set.
  void makeGoods(int records) {
    dlg.files.push_back(file(records));
    form->N3->trigger();
    storage::Table& t = form->Table1;
    t.first();
    t.deleteRecord();
    for (int i = 1; i <= records; ++i) {
      t.append();
      t.fieldByName("PLUNO").setAsInteger(1 + (i - 1) % 4000);
      t.fieldByName("NAME1").setAsString("Goods name number " + std::to_string(i) + " of the base");
      t.fieldByName("NAME2").setAsString("second line of the goods name");
      t.fieldByName("PRICE").setAsInteger(i % 999999);
      t.fieldByName("LIFE").setAsString(i % 2 ? "30" : "31.12.09");
      t.fieldByName("TARE").setAsInteger(i % 5990);
      t.fieldByName("ICODE").setAsInteger(i);
      t.fieldByName("GCODE").setAsInteger(i % 1000);
      t.fieldByName("MSGNO").setAsInteger(i % 1000);
      t.fieldByName("LOGOTYPE").setAsInteger(i % 3);
      t.fieldByName("RST").setAsString("AB12");
      t.post();
    }
    t.close();
    dlg.take();
  }

  void open(int records) {
    dlg.files.push_back(file(records));
    form->ToolButton2->click();
  }
};

Setup& setup() {
  static Setup s;
  return s;
}

// The peak resident size of the process is measured afresh from here on.
void resetPeakMemory() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

// A size line of /proc/self/status ("VmHWM:", "VmRSS:") in MiB.
double statusMiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string k = key;
  while (std::getline(status, line))
    if (line.rfind(k, 0) == 0) return std::atof(line.c_str() + k.size()) / 1024.0;
  return 0;
}
double peakMemoryMiB() { return statusMiB("VmHWM:"); }

void BM_GoodsReportToPdf(benchmark::State& state) {
  const int records = static_cast<int>(state.range(0));
  setup().open(records);
  const QString pdf = QDir::current().filePath(QStringLiteral("goods.pdf"));
  report::QuickRep& rep = Form7->QuickRep1;
  int pages = 0;
  double peak = 0, before = 0;
  for (auto _ : state) {
    state.PauseTiming();
    QFile::remove(pdf);
    resetPeakMemory();
    before = statusMiB("VmRSS:");
    state.ResumeTiming();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    rep.setupPrinter(printer);
    pages = rep.print(printer);
    state.PauseTiming();
    peak = std::max(peak, peakMemoryMiB());
    state.ResumeTiming();
  }
  state.counters["pages"] = pages;
  state.counters["peak_MiB"] = peak;
  state.counters["before_MiB"] = before;
  state.counters["pdf_MiB"] = static_cast<double>(QFile(pdf).size()) / (1024.0 * 1024.0);
  setup().form->Table1.close();
}

// From the menu entry to the preview window showing its pages; the window is
// closed as soon as it shows.
void BM_GoodsPreviewOpens(benchmark::State& state) {
  setup().open(static_cast<int>(state.range(0)));
  int pages = 0;
  double peak = 0, before = 0;
  for (auto _ : state) {
    state.PauseTiming();
    resetPeakMemory();
    before = statusMiB("VmRSS:");
    state.ResumeTiming();
    QTimer::singleShot(0, [&pages] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QPrintPreviewDialog*>(w); d && d->isVisible()) {
          if (auto* pw = d->findChild<QPrintPreviewWidget*>()) pages = pw->pageCount();
          d->reject();
        }
    });
    setup().form->N20->trigger();
    state.PauseTiming();
    peak = std::max(peak, peakMemoryMiB());
    state.ResumeTiming();
  }
  state.counters["pages"] = pages;
  state.counters["peak_MiB"] = peak;
  state.counters["before_MiB"] = before;
  if (pages == 0) state.SkipWithError("the preview did not show");
  setup().form->Table1.close();
}

BENCHMARK(BM_GoodsReportToPdf)->Arg(4000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_GoodsPreviewOpens)->Arg(4000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_GoodsPreviewOpens)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) { return runBenchmarksOnProgram(argc, argv); }
