// dBase tables through the table component: opened by extension, field
// lookups and values, orders from index files, edits that other programs
// read back, and the refusal of edits on tables kept read-only.
#include <gtest/gtest.h>

#include "dbase_test_util.h"
#include "storage/table.h"

using storage::DbError;
using storage::FieldType;
using storage::Table;
using storage::TableType;
using namespace dbtest;

namespace {

std::vector<std::string> column(Table& t, const char* field) {
  std::vector<std::string> out;
  for (t.first(); !t.eof(); t.next()) out.push_back(t.fieldByName(field).asString());
  return out;
}

}  // namespace

// Only reads: the sample files must stay as they are.
TEST(DbaseTable, EverySampleTableOpensByItsExtension) {
  struct Expect {
    const char* file;
    int fields, records;
    const char* field;
    const char* first;
  };
  const Expect all[] = {
      {"dbase_03.dbf", 31, 14, "Point_ID", "0507121"}, {"dbase_83.dbf", 15, 67, "NAME", "Assorted Petits Fours"},
      {"dbase_8b.dbf", 6, 10, "CHARACTER", "One"},     {"PYACFL.DBF", 20, 15, "AFCRDA", "25.03.1999"},
      {"cp1251.dbf", 2, 4, "RN", "1"},                 {"cars.dbf", 6, 4, "NAME", "PASSAT"},
  };
  for (const auto& e : all) {
    Table t;
    t.setTableName(sample(e.file));
    t.open();
    EXPECT_EQ(t.fieldCount(), e.fields) << e.file;
    EXPECT_EQ(t.recordCount(), e.records) << e.file;
    EXPECT_EQ(t.fieldByName(e.field).asString(), e.first) << e.file;
  }
}

TEST(DbaseTable, FieldsAsTheEntriesReadThem) {
  Table t;
  t.setTableName(sample("cars.dbf"));
  t.open();
  EXPECT_EQ(t.fieldByName("year").dataType(), FieldType::SmallInt);  // N4
  EXPECT_EQ(t.fieldByName("NAME").dataType(), FieldType::String);
  EXPECT_EQ(t.fieldByName("NAME").size(), 15);
  EXPECT_EQ(t.fieldByName("CC").dataType(), FieldType::Float);
  EXPECT_EQ(t.fieldByName("PROD_DATE").dataType(), FieldType::Date);
  EXPECT_EQ(t.fieldByName("SEDAN").dataType(), FieldType::Boolean);
  EXPECT_EQ(t.fieldByName("DESCR").dataType(), FieldType::Memo);
  EXPECT_EQ(column(t, "YEAR"), (std::vector<std::string>{"0", "2000", "1990", ""}));
  EXPECT_EQ(column(t, "PROD_DATE"), (std::vector<std::string>{"01.01.1977", "03.12.1901", "12.02.1990", ""}));
  EXPECT_EQ(column(t, "SEDAN"), (std::vector<std::string>{"False", "False", "True", ""}));
  EXPECT_EQ(column(t, "CC"), (std::vector<std::string>{"0", "333.444", "999.999", ""}));
  t.last();
  EXPECT_EQ(t.fieldByName("YEAR").asInteger(), 0);  // empty reads 0
  EXPECT_EQ(t.fieldByName("NAME").asString(), "");
  t.first();
  EXPECT_THROW(t.fieldByName("CC").asInteger() == 0 ? throw DbError("x") : 0, DbError);
  EXPECT_EQ(t.findField("NOPE"), nullptr);
  // No index file: no order by any field.
  EXPECT_TRUE(t.indexDefs().empty());
  EXPECT_THROW(t.setIndexFieldNames("NAME"), DbError);
  EXPECT_EQ(t.indexFieldNames(), "");
}

TEST(DbaseTable, OrderByAnIndexFileDeclaresAndRefusedEdit) {
  ScratchDir dir;
  const std::string path = dir.copy({"cars.dbf", "cars.dbt"});
  std::string ndx(512, '\0');
  ndx.replace(24, 9, "NAME+YEAR");
  writeBytes(dir.file("CARS.NDX"), ndx);
  const std::string before = readBytes(path);
  Table t;
  t.setTableName(path);
  t.open();
  ASSERT_EQ(t.indexDefs().size(), 1u);
  t.setIndexFieldNames("NAME");
  EXPECT_EQ(column(t, "NAME"), (std::vector<std::string>{"", "JETTA", "PASSAT", "POLO"}));
  EXPECT_TRUE(t.readOnly());
  // The first edit is refused with the reason; nothing reaches the file.
  t.first();
  const std::string err = errorOf([&] { t.fieldByName("NAME").setAsString("CHANGED"); });
  EXPECT_NE(err.find("Изменение невозможно"), std::string::npos) << err;
  EXPECT_NE(err.find("CARS.NDX"), std::string::npos) << err;
  EXPECT_THROW(t.append(), DbError);
  EXPECT_THROW(t.deleteRecord(), DbError);
  t.refresh();
  t.close();
  EXPECT_EQ(readBytes(path), before);
}

TEST(DbaseTable, EditsThroughTheComponentReachTheFile) {
  ScratchDir dir;
  const std::string path = dir.copy({"cars.dbf", "cars.dbt"});
  {
    Table t;
    t.setTableName(path);
    t.open();
    ASSERT_FALSE(t.readOnly()) << t.readOnlyReason();
    t.first();
    t.next();  // POLO
    t.fieldByName("NAME").setAsString("POLO 2");
    t.fieldByName("YEAR").setAsInteger(2002);
    t.fieldByName("CC").setAsString("1,25");
    t.fieldByName("PROD_DATE").setAsString("05.06.2007");
    t.fieldByName("SEDAN").setAsString("True");
    t.fieldByName("DESCR").setAsString("Memo from the grid");
    t.post();
    t.append();
    t.fieldByName("NAME").setAsString("GOLF");
    t.fieldByName("YEAR").setAsInteger(1974);
    t.next();  // moving stores the changed new record
    t.last();
    t.deleteRecord();  // GOLF again
    t.first();
    t.deleteRecord();  // PASSAT
    EXPECT_THROW(t.fieldByName("YEAR").setAsInteger(99999), DbError);  // does not fit N4
    t.cancel();
    t.append();
    t.fieldByName("NAME").setAsString("UP");
    t.post();
  }
  Table t;
  t.setTableName(path);
  t.open();
  EXPECT_EQ(column(t, "NAME"), (std::vector<std::string>{"POLO 2", "JETTA", "", "UP"}));
  t.first();
  EXPECT_EQ(t.fieldByName("YEAR").asInteger(), 2002);
  EXPECT_EQ(t.fieldByName("CC").asString(), "1.25");
  EXPECT_EQ(t.fieldByName("PROD_DATE").asString(), "05.06.2007");
  EXPECT_EQ(t.fieldByName("SEDAN").asString(), "True");
  EXPECT_EQ(t.fieldByName("DESCR").asString(), "Memo from the grid");
  t.close();

  // Another program's reader sees the same table, deleted records flagged.
  FILE* p = popen(("/usr/bin/python3 -c \"import dbf, sys\nt = dbf.Table(sys.argv[1])\nt.open()\n"
                   "for r in t: print(dbf.is_deleted(r), r.name.strip(), r.year, r.cc, r.prod_date, r.descr)\" " +
                   path + " 2>&1")
                      .c_str(),
                  "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  EXPECT_EQ(out,
            "True PASSAT 0 0.0 1977-01-01 THIS IS A DESCRIPTION OF PASSAT, YEAR MODEL 1997\r\n" +
                std::string(62, 'A') + "\r\n" + std::string(62, 'B') + "\r\n" + std::string(62, 'C') +
                "\n"
                "False POLO 2 2002 1.25 2007-06-05 Memo from the grid\n"
                "False JETTA 1990 999.999 1990-02-12 DESCRIPTION OF VOLKSAWGEN JETTA, YEAR MODEL 1990\n"
                "False  None None None \n"
                "True GOLF 1974 None None \n"
                "False UP None None None \n");
}

TEST(DbaseTable, CreatingADbaseTableIsRefused) {
  ScratchDir dir;
  Table t;
  t.setTableName(dir.file("new.dbf"));
  t.fieldDefs().push_back({"A", FieldType::Integer, 0, false});
  EXPECT_THROW(t.createTable(), DbError);
  EXPECT_FALSE(t.exists());
  // The rename and delete entries move and remove every file of the table.
  const std::string path = dir.copy({"cars.dbf", "cars.dbt"});
  t.setTableName(path);
  t.renameTable(dir.file("auto.dbf"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("cars.dbt")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("auto.dbt")));
  t.open();
  EXPECT_EQ(t.fieldByName("DESCR").asString().substr(0, 6), "THIS I");
  t.close();
  t.deleteTable();
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  (void)TableType::DBase;
}
