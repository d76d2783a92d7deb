#include "pxlib_reader.h"
#include "table_support.h"

using namespace storage;
using namespace tablesupport;

TEST_F(TableTest, Smoke) {
  Table t;
  t.setTableName(path("goods.db"));
  defineGoods(t);
  t.createTable();
  t.open();
  addGoods(t, 5, "Apple", "red", 100);
  addGoods(t, 3, "Pear", "", 200);
  EXPECT_EQ(t.recordCount(), 2);
  t.close();
  auto c = pxcheck::read(path("goods.db"));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->numRecords, 2);
  ASSERT_EQ(c->rows.size(), 2u);
  EXPECT_EQ(c->rows[0][1].l, 5);
  EXPECT_EQ(c->rows[1][2].s, "Pear");
  auto x = pxcheck::read(path("goods.XG0"));
  ASSERT_TRUE(x);
  ASSERT_EQ(x->rows.size(), 2u);
  EXPECT_EQ(x->rows[0][0].l, 3);
  auto px = pxcheck::read(path("goods.PX"));
  ASSERT_TRUE(px);
  EXPECT_EQ(px->rows.size(), 1u);
}
