#include "table_support.h"

namespace tablesupport {

using namespace storage;

std::string testData(const std::string& rel) {
  return std::string(KMS_TESTDATA_DIR) + "/tables/" + rel;
}

void addGoods(Table& t, int plu, const std::string& name1, const std::string& name2, int price) {
  t.append();
  t.fieldByName("PLUNO").setAsInteger(plu);
  t.fieldByName("NAME1").setAsString(name1);
  t.fieldByName("NAME2").setAsString(name2);
  t.fieldByName("PRICE").setAsInteger(price);
  t.post();
}

void makeGoods(const std::string& path, int records) {
  Table t;
  t.setTableName(path);
  defineGoods(t);
  t.createTable();
  t.open();
  for (int i = 1; i <= records; ++i) addGoods(t, i, "NAME " + std::to_string(i), "", i * 10);
}

std::string TableTest::path(const std::string& name) const {
  return dir.filePath(QString::fromStdString(name)).toStdString();
}

}  // namespace tablesupport
