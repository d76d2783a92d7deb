#pragma once
// Helpers of the table tests: a fresh directory per test, the goods and
// messages layouts the program creates, and the shared test data.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <string>

#include "storage/table.h"

namespace tablesupport {

std::string testData(const std::string& rel);  // path under testdata/tables

// Defines the goods layout (16 fields, 7 indexes) on t; `start` is the width
// of START.
void defineGoods(storage::Table& t, int start = 17);
void defineMessages(storage::Table& t);

// Appends one goods record and stores it.
void addGoods(storage::Table& t, int plu, const std::string& name1, const std::string& name2,
              int price);

class TableTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const;
  QTemporaryDir dir;
};

}  // namespace tablesupport
