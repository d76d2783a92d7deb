// The configuration table file reader and writer on odd input.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "shell/config_file.h"

namespace {

std::vector<ConfigTableRow> readBytes(const std::string& bytes) {
  QTemporaryDir dir;
  const std::string p = dir.filePath("t.cfl").toStdString();
  std::ofstream(p, std::ios::binary) << bytes;
  textfile::Reader in(p);
  return readConfigRows(in);
}

std::string lines(int n, const std::string& prefix = "c") {
  std::string s;
  for (int i = 0; i < n; ++i) s += prefix + std::to_string(i) + "\r\n";
  return s;
}

}  // namespace

TEST(ConfigFile, NineLinesARowAndEmptyFileOneEmptyRow) {
  EXPECT_EQ(readBytes(lines(27)).size(), 3u);
  const auto empty = readBytes("");
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty[0], ConfigTableRow{});
}

TEST(ConfigFile, ShortLastRowAndExtraEmptyLineStartRows) {
  const auto rows = readBytes(lines(11));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][0], "c9");
  EXPECT_EQ(rows[1][1], "c10");
  EXPECT_EQ(rows[1][2], "");
  // One extra CR LF after nine full lines gives one more, empty, row.
  const auto extra = readBytes(lines(9) + "\r\n");
  ASSERT_EQ(extra.size(), 2u);
  EXPECT_EQ(extra[1], ConfigTableRow{});
}

TEST(ConfigFile, LineEndsWithoutFinalNewlineAndBareLf) {
  const auto rows = readBytes("a\nb\r\nc");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "a");
  EXPECT_EQ(rows[0][1], "b");
  EXPECT_EQ(rows[0][2], "c");
}

TEST(ConfigFile, AnyBytesAndLongLinesSurvive) {
  std::string bytes;
  for (int b = 1; b < 256; ++b)
    if (b != '\r' && b != '\n') bytes += char(b);
  bytes += "\r\n" + std::string(200000, 'x') + "\r\n";
  bytes.push_back('\0');
  const auto rows = readBytes(bytes);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].size(), 253u);
  EXPECT_EQ(rows[0][1].size(), 200000u);
  EXPECT_EQ(rows[0][2], std::string(1, '\0'));
}

TEST(ConfigFile, WriterRoundTripsEmptyRowsAndLargeTables) {
  std::vector<ConfigTableRow> rows(100000);
  for (size_t i = 0; i < rows.size(); ++i) rows[i][0] = std::to_string(i);
  rows.back() = ConfigTableRow{};  // an empty last row is nine empty lines
  const std::string bytes = writeConfigRows(rows);
  EXPECT_EQ(bytes.substr(bytes.size() - 18), std::string("\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n"));
  EXPECT_EQ(readBytes(bytes), rows);
  // A line end inside a cell never starts another line: the cell keeps its
  // first line and the later cells stay in their places.
  const std::vector<ConfigTableRow> pasted{{"1", "Scale 2\r\nS2", "", "2", "127.0.0.1\n", "5001"}};
  EXPECT_EQ(readBytes(writeConfigRows(pasted)),
            (std::vector<ConfigTableRow>{{"1", "Scale 2", "", "2", "127.0.0.1", "5001"}}));
}

TEST(ConfigFile, ReaderRefusesDirectoriesAndMissingFiles) {
  QTemporaryDir dir;
  EXPECT_THROW(textfile::Reader(dir.path().toStdString()), textfile::FileError);
  EXPECT_THROW(textfile::Reader(dir.filePath("none").toStdString()), textfile::FileError);
}

TEST(ConfigFile, AtomicWriteReplacesAndFailsCleanly) {
  QTemporaryDir dir;
  const std::string p = dir.filePath("config.cfg").toStdString();
  textfile::writeAtomic(p, "old\r\n");
  textfile::writeAtomic(p, "new\r\n");
  textfile::Reader in(p);
  EXPECT_EQ(in.readLine(), "new");
  EXPECT_TRUE(in.eof());
  EXPECT_EQ(in.readLine(), "");  // a line past the end reads as empty
  // A directory in the file's place: an error, and no temporary file left.
  QDir(dir.path()).mkdir("poles.cfg");
  EXPECT_THROW(textfile::writeAtomic(dir.filePath("poles.cfg").toStdString(), "x"), textfile::FileError);
  EXPECT_THROW(textfile::writeAtomic(dir.filePath("no/such/dir").toStdString(), "x"), textfile::FileError);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"config.cfg"});
}
