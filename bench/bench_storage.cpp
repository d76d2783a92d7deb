// Table engine figures on goods tables of 10,000, 100,000 and 950,000
// records (a goods table holds at most 950,243: 32,767 blocks of 29): the
// time per append as the table grows, creating, opening, ordering by name,
// renumbering and posting one edit, each with the peak memory it took, and
// reading every record against pxlib reading the same file; and one change
// of many separate writes. The 950,000-record sizes take minutes; they run
// only with KMS_BENCH_LARGE=1 in the environment, e.g.
//   KMS_BENCH_LARGE=1 bench_storage --benchmark_filter=/950000
// Every post is flushed to disk through the rollback journal, as in the
// program; the timed appends each on their own, the appends that only fill
// the table up to the next measured size as one batch (one flush), as a job
// over the whole table is. A renumbering is one batch, as in the program.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <fcntl.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <string>

#include "storage/file_io.h"
#include "storage/goods_layout.h"
#include "storage/pxlib_reader.h"
#include "storage/table.h"

using namespace storage;
using tablesupport::defineGoods;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Processor time of this thread, user and system: a figure that other work
// on a busy machine does not inflate.
double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Peak resident memory: reset before a measurement, read after it. Memory
// freed by earlier benchmarks goes back to the system first, so that the
// peak counts what this one holds.
void resetPeakMemory() {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
}
double peakMemoryMb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}

void appendOne(Table& t, int i, int n) {
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

QTemporaryDir& scratch() {
  static QTemporaryDir dir;
  return dir;
}

// Mean time of one append (wall clock and processor) at a table size.
struct AppendTime {
  double wall = 0, cpu = 0;
};

// Creates a goods table of n records by appending, as the program does.
// `atSizes` receives the mean time per append over the 1,000 appends that
// end at each size it names.
void createGoods(const std::string& path, int n, std::map<int, AppendTime>* atSizes) {
  Table t;
  t.setTableName(path);
  defineGoods(t);
  t.createTable();
  t.open();
  auto t0 = Clock::now();
  double c0 = 0;
  t.beginBatch();
  for (int i = 0; i < n; ++i) {
    if (atSizes && atSizes->count(i + 1000)) {
      t.endBatch();
      t0 = Clock::now();
      c0 = cpuSeconds();
    }
    appendOne(t, i, n);
    if (atSizes && atSizes->count(i + 1)) {
      (*atSizes)[i + 1] = {secondsSince(t0) / 1000.0, (cpuSeconds() - c0) / 1000.0};
      t.beginBatch();
    }
  }
  t.endBatch();
  t.close();
}

// One goods table of each size for the whole run, made when first needed.
std::map<int, std::string>& made() {
  static std::map<int, std::string> tables;
  return tables;
}
const std::string& goodsOf(int n) {
  auto it = made().find(n);
  if (it != made().end()) return it->second;
  const std::string path = scratch().filePath(QString("goods%1.db").arg(n)).toStdString();
  createGoods(path, n, nullptr);
  return made()[n] = path;
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(100000);
  if (std::getenv("KMS_BENCH_LARGE")) b->Arg(950000);
}

// Creating a table by appending; the time per append at 10,000, 100,000 and
// (large run) 950,000 records, and how the last compares with the first.
void BM_CreateByAppend(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::map<int, AppendTime> at;
  for (int s : {10000, 100000, 950000})
    if (s <= n) at[s] = {};
  for (auto _ : state) {
    const std::string path = scratch().filePath(QString("created%1.db").arg(n)).toStdString();
    resetPeakMemory();
    createGoods(path, n, &at);
    state.counters["peak_MB"] = peakMemoryMb();
    made()[n] = path;  // the table of that size for the benchmarks below
  }
  for (const auto& [s, time] : at) {
    state.counters["us_per_append_at_" + std::to_string(s)] = time.wall * 1e6;
    state.counters["cpu_us_per_append_at_" + std::to_string(s)] = time.cpu * 1e6;
  }
  state.counters["last_to_first"] = at.rbegin()->second.wall / at.begin()->second.wall;
  state.counters["cpu_last_to_first"] = at.rbegin()->second.cpu / at.begin()->second.cpu;
}
BENCHMARK(BM_CreateByAppend)->Arg(10000)->Apply(sizes)->Unit(benchmark::kSecond)->Iterations(1);

void BM_OpenAndRead50(benchmark::State& state) {
  const std::string& path = goodsOf(static_cast<int>(state.range(0)));
  resetPeakMemory();
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
  state.counters["peak_MB"] = peakMemoryMb();
}
BENCHMARK(BM_OpenAndRead50)->Apply(sizes)->Unit(benchmark::kMillisecond);

void BM_OrderByName(benchmark::State& state) {
  Table t;
  t.setTableName(goodsOf(static_cast<int>(state.range(0))));
  t.open();
  resetPeakMemory();
  for (auto _ : state) {
    t.setIndexFieldNames("NAME1;NAME2");
    state.PauseTiming();
    t.setIndexFieldNames("");
    state.ResumeTiming();
  }
  state.counters["peak_MB"] = peakMemoryMb();
}
BENCHMARK(BM_OrderByName)->Apply(sizes)->Unit(benchmark::kMillisecond);

// The device without its flushes, to tell what the flushing of a post costs.
struct NoFlush : fileio::Layer {
  NoFlush() { fileio::install(this); }
  ~NoFlush() override { fileio::install(nullptr); }
  int fsync(int) override { return 0; }
};

void postEdits(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Table t;
  t.setTableName(goodsOf(n));
  t.open();
  // Counted on across runs: a post that stores what the record already
  // holds writes nothing, and would not be the post measured.
  static int i = 0;
  for (auto _ : state) {
    t.setRecNo(1 + (i * 7717) % n);
    t.edit();
    t.fieldByName("PRICE").setAsInteger(i % 9999);
    t.fieldByName("NAME1").setAsString("\xCD\xEE\xE2\xEE\xE5 " + std::to_string(i));
    t.post();
    ++i;
  }
}
void BM_PostOneEdit(benchmark::State& state) { postEdits(state); }
BENCHMARK(BM_PostOneEdit)->Apply(sizes)->Unit(benchmark::kMicrosecond);
void BM_PostOneEditNoFlush(benchmark::State& state) {
  NoFlush device;
  postEdits(state);
}
BENCHMARK(BM_PostOneEditNoFlush)->Apply(sizes)->Unit(benchmark::kMicrosecond);

// Renumbering every PLUNO, as the renumbering entry does.
void BM_RenumberPluno(benchmark::State& state) {
  Table t;
  t.setTableName(goodsOf(static_cast<int>(state.range(0))));
  t.open();
  int round = 0;
  resetPeakMemory();
  for (auto _ : state) {
    ++round;
    t.first();
    const int n = t.recordCount();
    t.beginBatch();
    for (int i = 1; i <= n; ++i) {
      t.edit();
      t.fieldByName("PLUNO").setAsInteger(round % 2 ? n + 1 - i : i);
      t.post();
      t.next();
    }
    t.endBatch();
  }
  state.counters["peak_MB"] = peakMemoryMb();
}
BENCHMARK(BM_RenumberPluno)->Apply(sizes)->Unit(benchmark::kMillisecond)->Iterations(1);

// One change of n separate small writes (8 bytes every 40, so a sector
// holds several and each is a run of its own), committed through the
// journal with its flushes. The ratio at 16,000 is to the time at 2,000
// in the same run.
void BM_CommitSeparateWrites(benchmark::State& state) {
  static std::map<int, double> perChange;
  const int n = static_cast<int>(state.range(0));
  const std::string path = scratch().filePath(QString("writes%1.bin").arg(n)).toStdString();
  const std::string journal = fileio::journalPath(path);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::ftruncate(fd, off_t(n) * 40) != 0) {
    state.SkipWithError("cannot make the file");
    return;
  }
  int round = 0;
  double wall = 0;
  for (auto _ : state) {
    ++round;
    const auto t0 = Clock::now();
    fileio::Change c(journal);
    for (int i = 0; i < n; ++i) {
      const std::string bytes = std::to_string(10000000 + i * 7 + round);
      fileio::writeAt(fd, path, bytes.data(), 8, off_t(i) * 40 + 3);
    }
    c.commit();
    wall += secondsSince(t0);
  }
  ::close(fd);
  perChange[n] = wall / static_cast<double>(state.iterations());
  if (perChange.count(2000) && n != 2000) state.counters["to_2000"] = perChange[n] / perChange[2000];
}
BENCHMARK(BM_CommitSeparateWrites)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(8000)->Arg(16000)->Unit(benchmark::kMillisecond);

// Every record of the table with every field as text, against pxlib reading
// (and decoding) the same file; pxlib also checks the primary index.
void BM_ReadAllAgainstPxlib(benchmark::State& state) {
  const std::string& path = goodsOf(static_cast<int>(state.range(0)));
  double engine = 0, pxlib = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    Table t;
    t.setTableName(path);
    t.open();
    std::size_t bytes = 0;
    for (t.first(); !t.eof(); t.next())
      for (int f = 0; f < t.fieldCount(); ++f) bytes += t.field(f).asString().size();
    t.close();
    benchmark::DoNotOptimize(bytes);
    engine = secondsSince(t0);
    state.PauseTiming();
    t0 = Clock::now();
    auto c = pxcheck::read(path);
    pxlib = secondsSince(t0);
    if (!c || c->rows.size() != static_cast<std::size_t>(state.range(0))) state.SkipWithError("pxlib cannot read the table");
    state.ResumeTiming();
  }
  state.counters["engine_ms"] = engine * 1e3;
  state.counters["pxlib_ms"] = pxlib * 1e3;
  state.counters["pxlib_to_engine"] = pxlib / engine;
  std::string px = path;
  px.replace(px.size() - 3, 3, ".PX");
  const auto index = pxcheck::readThroughIndex(path, px, false);
  state.counters["pxlib_takes_index"] = index.complaints.empty() ? 1 : 0;
}
BENCHMARK(BM_ReadAllAgainstPxlib)->Apply(sizes)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
