// Test entry: a QApplication on the offscreen platform unless told otherwise
// (test discovery runs the binary without the test's environment).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "storage/file_io.h"

namespace {

// Tests do not wait for the disk to flush the tables they write: a process
// that is killed leaves what it wrote in the OS's cache, which is all that a
// test reads back. The flushes themselves are timed in the benchmarks.
struct NoFlush : storage::fileio::Layer {
  int fsync(int) override { return 0; }
};

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static NoFlush noFlush;
  storage::fileio::install(&noFlush);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
