#pragma once
// Entry of the benchmarks that drive the running program: a QApplication on
// the offscreen platform, the program started in an empty directory with a
// fixed own address and its main window shown, the benchmarks run, then the
// program closed again.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>

#include "shell/program.h"
#include "shell/tform1.h"

inline int runBenchmarksOnProgram(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QTemporaryDir dir;
  const QString old = QDir::currentPath();
  QDir::setCurrent(dir.path());
  LocalHostAddress = [] { return QStringLiteral("127.0.0.1"); };
  createForms();
  // Measured as the operator sees it: the main window on screen.
  Form1->show();
  (void)QTest::qWaitForWindowExposed(Form1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  destroyForms();
  QDir::setCurrent(old);
  return 0;
}
