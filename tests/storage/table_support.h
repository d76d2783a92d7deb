#pragma once
// Helpers of the table tests: a fresh directory per test, the goods and
// messages layouts the program creates, and the shared test data.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <string>

#include "storage/goods_layout.h"
#include "storage/table.h"

namespace tablesupport {

std::string testData(const std::string& rel);  // path under testdata/tables


// Makes a goods table of `records` records (PLUNO i, "NAME i", PRICE 10 i).
void makeGoods(const std::string& path, int records);

// Appends one goods record and stores it.
void addGoods(storage::Table& t, int plu, const std::string& name1, const std::string& name2,
              int price);

class TableTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const;
  QTemporaryDir dir;
};

}  // namespace tablesupport
