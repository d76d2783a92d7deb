// Table engine figures on a goods table of 100,000 records.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <filesystem>
#include <memory>
#include <string>

#include "storage/goods_layout.h"
#include "storage/table.h"

using namespace storage;
using tablesupport::defineGoods;

namespace {

void appendGoods(Table& t, int n) {
  for (int i = 0; i < n; ++i) {
    t.append();
    t.fieldByName("PLUNO").setAsInteger(i + 1);
    t.fieldByName("NAME1").setAsString("\xD2\xEE\xE2\xE0\xF0 " + std::to_string((i * 7919) % n));
    t.fieldByName("NAME2").setAsString("\xF1\xEE\xF0\xF2 " + std::to_string(i % 13));
    t.fieldByName("PRICE").setAsInteger((i * 37) % 10000);
    t.fieldByName("LIFE").setAsString("10");
    t.fieldByName("ICODE").setAsInteger(i % 500);
    t.fieldByName("MSGNO").setAsInteger(i % 1000);
    t.post();
  }
}

// One 100,000-record goods table for the whole run.
const std::string& bigTable() {
  static QTemporaryDir dir;
  static std::string path;
  if (path.empty()) {
    path = dir.filePath("goods.db").toStdString();
    Table t;
    t.setTableName(path);
    defineGoods(t);
    t.createTable();
    t.open();
    appendGoods(t, 100000);
    t.close();
  }
  return path;
}

void BM_Open100kAndRead50(benchmark::State& state) {
  const std::string& path = bigTable();
  for (auto _ : state) {
    Table t;
    t.setTableName(path);
    t.open();
    t.first();
    std::size_t bytes = 0;
    for (int i = 0; i < 50 && !t.eof(); ++i, t.next())
      for (int f = 0; f < t.fieldCount(); ++f) bytes += t.field(f).asString().size();
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(BM_Open100kAndRead50)->Unit(benchmark::kMillisecond);

void BM_Order100kByName(benchmark::State& state) {
  Table t;
  t.setTableName(bigTable());
  t.open();
  for (auto _ : state) {
    t.setIndexFieldNames("NAME1;NAME2");
    state.PauseTiming();
    t.setIndexFieldNames("");
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Order100kByName)->Unit(benchmark::kMillisecond);

void BM_PostOneEdit100k(benchmark::State& state) {
  Table t;
  t.setTableName(bigTable());
  t.open();
  int i = 0;
  for (auto _ : state) {
    t.setRecNo(1 + (i * 7717) % 100000);
    t.edit();
    t.fieldByName("PRICE").setAsInteger(i % 9999);
    t.fieldByName("NAME1").setAsString("\xCD\xEE\xE2\xEE\xE5 " + std::to_string(i));
    t.post();
    ++i;
  }
}
BENCHMARK(BM_PostOneEdit100k)->Unit(benchmark::kMicrosecond);

void BM_RenumberPluno100k(benchmark::State& state) {
  Table t;
  t.setTableName(bigTable());
  t.open();
  int round = 0;
  for (auto _ : state) {
    ++round;
    t.first();
    const int n = t.recordCount();
    for (int i = 1; i <= n; ++i) {
      t.edit();
      t.fieldByName("PLUNO").setAsInteger(round % 2 ? n + 1 - i : i);
      t.post();
      t.next();
    }
  }
}
BENCHMARK(BM_RenumberPluno100k)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Create10kByAppend(benchmark::State& state) {
  QTemporaryDir dir;
  int k = 0;
  for (auto _ : state) {
    Table t;
    t.setTableName(dir.filePath(QString("t%1.db").arg(k++)).toStdString());
    defineGoods(t);
    t.createTable();
    t.open();
    appendGoods(t, 10000);
    t.close();
  }
}
BENCHMARK(BM_Create10kByAppend)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
