// Figures for a goods base of 100,000 records on the goods page: opening it
// and showing its first screen, sorting it by name, and the base check.
#include <benchmark/benchmark.h>

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <cstdlib>
#include <memory>

#include "shell/program.h"
#include "shell/tform1.h"
#include "support/scripted_dialogs.h"

namespace {

constexpr int kRecords = 100000;

struct Setup {
  QTemporaryDir dir;
  ScriptedDialogs dlg;
  TForm1* form = nullptr;
  QString file;

  Setup() {
    QDir::setCurrent(dir.path());
    LocalHostAddress = [] { return QStringLiteral("127.0.0.1"); };
    form = createForms();
    file = dir.filePath(QStringLiteral("goods.db"));
    dlg.files.push_back(file);
    form->N3->trigger();
    storage::Table& t = form->Table1;
    // Names in a scrambled order so that the sort has work to do.
    for (int i = 2; i <= kRecords; ++i) {
      t.append();
      t.fieldByName("PLUNO").setAsInteger(1 + i % 4000);
      t.fieldByName("NAME1").setAsString("Goods " + std::to_string((i * 7919) % kRecords));
      t.fieldByName("NAME2").setAsString("line two");
      t.fieldByName("PRICE").setAsInteger(i % 999999);
      t.fieldByName("LIFE").setAsString(i % 2 ? "30" : "31.12.09");
      t.fieldByName("TARE").setAsInteger(i % 5990);
      t.fieldByName("MSGNO").setAsInteger(i % 1000);
      t.post();
    }
    t.close();
    dlg.take();
  }
  ~Setup() { destroyForms(); }
};

Setup* g_setup = nullptr;

// Reads every cell of the first screen of the grid, as painting it does.
void firstScreen(TForm1* form) {
  QAbstractItemModel* m = form->DBGrid1->model();
  for (int r = 0; r < 25 && r < m->rowCount(); ++r)
    for (int c = 0; c < m->columnCount(); ++c)
      benchmark::DoNotOptimize(m->data(m->index(r, c), Qt::DisplayRole));
}

void BM_OpenGoodsBaseAndShowFirstScreen(benchmark::State& state) {
  TForm1* form = g_setup->form;
  for (auto _ : state) {
    g_setup->dlg.files.push_back(g_setup->file);
    form->ToolButton2->click();
    firstScreen(form);
    state.PauseTiming();
    if (form->Table1.recordCount() != kRecords) state.SkipWithError("open failed");
    form->Table1.close();
    state.ResumeTiming();
  }
}

void BM_SortGoodsBaseByName(benchmark::State& state) {
  TForm1* form = g_setup->form;
  g_setup->dlg.files.push_back(g_setup->file);
  form->ToolButton2->click();
  for (auto _ : state) {
    form->N5->trigger();
    firstScreen(form);
    state.PauseTiming();
    if (form->Table1.indexFieldNames() != "NAME1") state.SkipWithError("sort failed");
    form->Table1.setIndexFieldNames("");
    state.ResumeTiming();
  }
  form->Table1.close();
}

void BM_BaseCheckOfGoodsBase(benchmark::State& state) {
  TForm1* form = g_setup->form;
  g_setup->dlg.files.push_back(g_setup->file);
  form->ToolButton2->click();
  for (auto _ : state) {
    form->ToolButton8->click();
    state.PauseTiming();
    const QStringList shown = g_setup->dlg.take();
    if (shown != QStringList{QStringLiteral("Таблица заполнена правильно.")})
      state.SkipWithError("check did not pass");
    state.ResumeTiming();
  }
  form->Table1.close();
}

BENCHMARK(BM_OpenGoodsBaseAndShowFirstScreen)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SortGoodsBaseByName)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_BaseCheckOfGoodsBase)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  {
    Setup setup;
    g_setup = &setup;
    benchmark::RunSpecifiedBenchmarks();
    g_setup = nullptr;
  }
  benchmark::Shutdown();
  return 0;
}
