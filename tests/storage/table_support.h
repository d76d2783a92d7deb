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

// Under the sanitizers every test runs many times slower: the tables of tens
// of thousands of records and more, which prove scale, and the longest kill
// runs are left to the build without them; smaller tables cover the same code
// in both.
#ifdef KMS_SANITIZED_TESTS
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif
inline constexpr const char* kLargeTableSkipped = "a table this large runs in the build without sanitizers";


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
