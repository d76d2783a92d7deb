// Reading dBase tables: the real sample tables with the contents their
// sources state, and files that lie about themselves.
#include <gtest/gtest.h>

#include "dbase_test_util.h"
#include "storage/dbase_file.h"

using storage::DbError;
using storage::FieldType;
using storage::dbase::DbfFile;
using namespace dbtest;

namespace {

std::string val(const DbfFile& t, uint32_t rec, const char* field) {
  for (size_t i = 0; i < t.fields().size(); ++i)
    if (t.fields()[i].name == field) {
      auto v = t.value(rec, int(i));
      return v ? *v : "<null>";
    }
  ADD_FAILURE() << "no field " << field;
  return {};
}

std::vector<uint32_t> live(const DbfFile& t) {
  std::vector<uint32_t> out;
  for (uint32_t r = 0; r < t.recordCount(); ++r)
    if (!t.isDeleted(r)) out.push_back(r);
  return out;
}

}  // namespace

TEST(DbaseRead, DBase3WithDuplicateFieldNameAndTwoDigitYear) {
  auto t = DbfFile::open(sample("dbase_03.dbf"), false);
  EXPECT_EQ(t->version(), 0x03);
  EXPECT_EQ(t->recordCount(), 14u);
  ASSERT_EQ(t->fields().size(), 31u);
  // Both fields named Point_ID are kept: the first text, the last a number.
  EXPECT_EQ(t->fields().front().name, "Point_ID");
  EXPECT_EQ(t->fields().back().name, "Point_ID");
  EXPECT_EQ(t->fieldType(0), FieldType::String);
  EXPECT_EQ(t->fieldType(30), FieldType::Integer);
  EXPECT_EQ(t->fields()[24].type, 'N');
  EXPECT_EQ(t->fields()[24].decimals, 3);  // GPS_Height N16.3
  EXPECT_EQ(t->fields()[24].width, 16);
  EXPECT_EQ(val(*t, 0, "Point_ID"), "0507121");
  EXPECT_EQ(val(*t, 0, "Type"), "CMP");
  EXPECT_EQ(val(*t, 0, "Shape"), "circular");
  EXPECT_EQ(val(*t, 0, "Date_Visit"), "12.07.2005");
  EXPECT_EQ(val(*t, 0, "Max_PDOP"), "5.2");
  EXPECT_EQ(*t->value(0, 30), "401");
  // The year byte holds 5: the year 2005, not 1905.
  EXPECT_EQ(t->lastUpdate().year, 2005);
  EXPECT_EQ(t->lastUpdate().month, 7);
  EXPECT_EQ(t->readOnlyReason(), "она открыта для чтения");
}

TEST(DbaseRead, DBase3WithMemoAndUndeclaredCodePage) {
  auto t = DbfFile::open(sample("dbase_83.dbf"), false);
  EXPECT_EQ(t->recordCount(), 67u);
  ASSERT_EQ(t->fields().size(), 15u);
  EXPECT_EQ(t->memoFormat(), storage::dbase::MemoFormat::DBase3);
  EXPECT_EQ(t->fieldType(0), FieldType::Float);  // N19: too wide for an integer
  EXPECT_EQ(t->fieldType(11), FieldType::Memo);
  EXPECT_EQ(t->fieldType(13), FieldType::Boolean);
  EXPECT_EQ(val(*t, 0, "ID"), "87");
  EXPECT_EQ(val(*t, 0, "CATCOUNT"), "2");
  EXPECT_EQ(val(*t, 0, "ORDER"), "87");
  EXPECT_EQ(val(*t, 0, "CODE"), "1");
  EXPECT_EQ(val(*t, 0, "NAME"), "Assorted Petits Fours");
  EXPECT_EQ(val(*t, 0, "THUMBNAIL"), "graphics/00000001/t_1.jpg");
  EXPECT_EQ(val(*t, 0, "IMAGE"), "graphics/00000001/1.jpg");
  EXPECT_EQ(val(*t, 0, "PRICE"), "0.00");
  EXPECT_EQ(val(*t, 0, "WEIGHT"), "5.51");
  EXPECT_EQ(val(*t, 0, "TAXABLE"), "True");
  EXPECT_EQ(val(*t, 0, "ACTIVE"), "True");
  EXPECT_EQ(val(*t, 0, "DESC").rfind(
                "Our Original assortment...a little taste of heaven for everyone.  Let us\r\n", 0),
            0u);
  EXPECT_EQ(val(*t, 9, "ID"), "34");
  EXPECT_EQ(val(*t, 9, "CODE"), "AB01");
  EXPECT_EQ(val(*t, 9, "NAME"), "Apricot Brandy Fruitcake");
  EXPECT_EQ(val(*t, 9, "PRICE"), "37.95");
  EXPECT_EQ(val(*t, 9, "COST"), "37.95");
  EXPECT_EQ(val(*t, 9, "WEIGHT"), "0.00");
  EXPECT_EQ(val(*t, 9, "TAXABLE"), "False");
  EXPECT_EQ(val(*t, 9, "ACTIVE"), "True");
  EXPECT_EQ(val(*t, 9, "DESC").rfind(
                "Once tasted you will understand why we won The\r\nBoston Herald's Fruitcake Taste-off.", 0),
            0u);
  // No code page in the header: the bytes pass unchanged (0x85 is the
  // ellipsis in Windows-1251 as in Windows-1252).
  bool ellipsis = false;
  for (uint32_t r = 0; r < t->recordCount(); ++r) ellipsis |= val(*t, r, "DESC").find('\x85') != std::string::npos;
  EXPECT_TRUE(ellipsis);
}

TEST(DbaseRead, DBase4WithMemoHeaderBlocks) {
  auto t = DbfFile::open(sample("dbase_8b.dbf"), false);
  EXPECT_EQ(t->version(), 0x8B);
  EXPECT_EQ(t->recordCount(), 10u);
  EXPECT_EQ(t->memoFormat(), storage::dbase::MemoFormat::DBase4);
  const char* names[] = {"One", "Two", "Three", "Four", "Five", "Six", "Seven", "Eight", "Nine",
                         "Ten records stored in this database"};
  const char* dates[] = {"01.01.1970", "31.12.1970", "01.01.1980", "01.01.1900", "31.12.1900",
                         "01.01.1901", "31.12.1999", "31.12.1919", "<null>", "<null>"};
  for (uint32_t r = 0; r < 10; ++r) {
    EXPECT_EQ(val(*t, r, "CHARACTER"), names[r]);
    EXPECT_EQ(val(*t, r, "NUMERICAL"), std::to_string(r + 1) + ".00");
    EXPECT_EQ(val(*t, r, "DATE"), dates[r]);
  }
  EXPECT_EQ(val(*t, 0, "LOGICAL"), "True");  // stored "Y"
  EXPECT_EQ(val(*t, 1, "LOGICAL"), "True");  // stored "T"
  EXPECT_EQ(val(*t, 2, "LOGICAL"), "<null>");
  EXPECT_EQ(val(*t, 0, "MEMO"), "First memo\r\n");
  EXPECT_EQ(val(*t, 1, "MEMO"), "Second memo");
  EXPECT_EQ(val(*t, 2, "MEMO"), "Thierd memo");
  EXPECT_EQ(val(*t, 9, "MEMO"), "<null>");
  EXPECT_EQ(t->fieldType(4), FieldType::Float);  // FLOAT F20.18
}

TEST(DbaseRead, DeletedRecordsAreFlaggedAndSkipped) {
  auto t = DbfFile::open(sample("PYACFL.DBF"), false);
  EXPECT_EQ(t->recordCount(), 45u);
  auto l = live(*t);
  ASSERT_EQ(l.size(), 15u);
  EXPECT_EQ(l.front(), 30u);
  EXPECT_TRUE(t->isDeleted(0));
  EXPECT_EQ(val(*t, 0, "AFACCL"), "P");
  EXPECT_EQ(val(*t, 0, "AFCRDA"), "15.04.1991");
  EXPECT_EQ(val(*t, 30, "AFCLPD"), "W");
  EXPECT_EQ(val(*t, 30, "AFHRPW"), "2.92308");
  EXPECT_EQ(val(*t, 30, "AFLVCL"), "0.00");
  EXPECT_EQ(val(*t, 30, "AFCRDA"), "25.03.1999");
  EXPECT_EQ(val(*t, 30, "AFPSDS"), "<null>");
  EXPECT_EQ(val(*t, 44, "AFCLPD"), "W");
  EXPECT_EQ(val(*t, 44, "AFHRPW"), "0.00000");
  EXPECT_EQ(val(*t, 44, "AFLVCL"), "0.00");
  EXPECT_EQ(val(*t, 44, "AFCRDA"), "15.04.1991");
  EXPECT_EQ(t->lastUpdate().year, 2014);
  EXPECT_EQ(t->lastUpdate().month, 4);
  EXPECT_EQ(t->lastUpdate().day, 14);
}

TEST(DbaseRead, VisualFoxProCyrillicTableOpensReadOnly) {
  auto t = DbfFile::open(sample("cp1251.dbf"), true);
  EXPECT_EQ(t->version(), 0x30);
  EXPECT_EQ(t->codePage(), 1251);
  EXPECT_EQ(t->recordCount(), 4u);
  ASSERT_EQ(t->fields().size(), 2u);
  EXPECT_EQ(t->fields()[1].width, 100);
  // Windows-1251 bytes, as the engine keeps texts.
  EXPECT_EQ(val(*t, 0, "NAME"),
            "\xE0\xEC\xE1\xF3\xEB\xE0\xF2\xEE\xF0\xED\xEE-\xEF\xEE\xEB\xE8\xEA\xEB\xE8\xED\xE8\xF7\xE5\xF1"
            "\xEA\xEE\xE5");
  EXPECT_EQ(val(*t, 1, "NAME"), "\xE1\xEE\xEB\xFC\xED\xE8\xF7\xED\xEE\xE5");
  EXPECT_EQ(val(*t, 2, "NAME"), "\xCD\xC8\xC8");
  for (uint32_t r = 0; r < 4; ++r) EXPECT_EQ(val(*t, r, "RN"), std::to_string(r + 1));
  EXPECT_FALSE(t->writable());
  EXPECT_THROW(t->setDeleted(0, true), DbError);
  EXPECT_EQ(readBytes(sample("cp1251.dbf")).size(), 781u);
}

TEST(DbaseRead, DBase3PlusCarsWithEmptyRecord) {
  auto t = DbfFile::open(sample("cars.dbf"), false);
  ASSERT_EQ(t->recordCount(), 4u);
  EXPECT_EQ(val(*t, 0, "NAME"), "PASSAT");
  EXPECT_EQ(val(*t, 0, "YEAR"), "0");
  EXPECT_EQ(val(*t, 0, "SEDAN"), "False");
  EXPECT_EQ(val(*t, 0, "PROD_DATE"), "01.01.1977");
  EXPECT_EQ(val(*t, 0, "CC"), "0.000");
  EXPECT_EQ(val(*t, 0, "DESCR").rfind("THIS IS A DESCRIPTION OF PASSAT", 0), 0u);
  EXPECT_EQ(val(*t, 1, "NAME"), "POLO");
  EXPECT_EQ(val(*t, 1, "YEAR"), "2000");
  EXPECT_EQ(val(*t, 1, "PROD_DATE"), "03.12.1901");
  EXPECT_EQ(val(*t, 1, "CC"), "333.444");
  EXPECT_EQ(val(*t, 1, "DESCR"), "<null>");
  EXPECT_EQ(val(*t, 2, "NAME"), "JETTA");
  EXPECT_EQ(val(*t, 2, "SEDAN"), "True");
  EXPECT_EQ(val(*t, 2, "PROD_DATE"), "12.02.1990");
  EXPECT_EQ(val(*t, 2, "CC"), "999.999");
  EXPECT_EQ(val(*t, 2, "DESCR"), "DESCRIPTION OF VOLKSAWGEN JETTA, YEAR MODEL 1990");
  for (const char* f : {"NAME", "YEAR", "SEDAN", "PROD_DATE", "CC", "DESCR"}) EXPECT_EQ(val(*t, 3, f), "<null>");
}

TEST(DbaseRead, CodePageOfTheHeaderIsTranslated) {
  // "Привет" in code page 866, language driver 0x26.
  const std::string dos = "\x8F\xE0\xA8\xA2\xA5\xE2";
  auto t = DbfFile::parse(makeDbf({{"NAME", 'C', 10}}, {dos}, 0x03, 0x26));
  EXPECT_EQ(t->codePage(), 866);
  EXPECT_EQ(*t->value(0, 0), "\xCF\xF0\xE8\xE2\xE5\xF2");
  // And back, when a value is encoded for the file.
  EXPECT_EQ(t->encode(0, std::string("\xCF\xF0\xE8\xE2\xE5\xF2")), dos + "    ");
  // Code page 437 has no Cyrillic: such a value is refused, not garbled.
  auto us = DbfFile::parse(makeDbf({{"NAME", 'C', 10}}, {"abc"}, 0x03, 0x01));
  EXPECT_THROW(us->encode(0, std::string("\xCF")), DbError);
  EXPECT_EQ(us->encode(0, std::string("abc")), "abc       ");
}

TEST(DbaseRead, FilesThatLieGiveClearErrors) {
  const std::string good = makeDbf({{"A", 'C', 4}, {"N", 'N', 5}}, {"abcd   12", "efgh   34"});
  EXPECT_THROW(DbfFile::parse(good.substr(0, 20)), DbError);        // shorter than a header
  EXPECT_THROW(DbfFile::parse(std::string(40, 'x')), DbError);      // no version byte we know
  std::string s = good;
  s[0] = 0x04;
  EXPECT_THROW(DbfFile::parse(s), DbError);  // dBase level 7
  s = good;
  s[8] = char(0xFF), s[9] = char(0x7F);
  EXPECT_THROW(DbfFile::parse(s), DbError);  // header length past the end
  s = good;
  s[10] = 5, s[11] = 0;
  EXPECT_THROW(DbfFile::parse(s), DbError);  // fields longer than the record
  s = good;
  s[10] = 0, s[11] = 0;
  EXPECT_THROW(DbfFile::parse(s), DbError);  // no record length
  s = good;
  s[32] = 0;
  EXPECT_THROW(DbfFile::parse(s), DbError);  // a field without a name
  // A count larger than the file: the whole records that are there.
  s = good;
  s[4] = char(0xFF), s[5] = char(0xFF), s[6] = char(0xFF), s[7] = char(0xFF);
  auto t = DbfFile::parse(s);
  EXPECT_EQ(t->recordCount(), 2u);
  EXPECT_EQ(*t->value(1, 0), "efgh");
  EXPECT_THROW(t->value(2, 0), DbError);
  // A count smaller than the file: the header holds.
  s = good;
  s[4] = 1;
  EXPECT_EQ(DbfFile::parse(s)->recordCount(), 1u);
}

TEST(DbaseRead, BrokenMemoReferencesReadEmpty) {
  auto makeMemo = [](uint8_t version, const std::string& pointer) {
    return makeDbf({{"M", 'M', 10}}, {pointer}, version);
  };
  // A block past the end of the memo file, and digits that are no number.
  std::string memo(512, '\0');
  memo += "hello\x1A\x1A";
  auto t = DbfFile::parse(makeMemo(0x83, "        99"), memo, true);
  EXPECT_FALSE(t->value(0, 0));
  t = DbfFile::parse(makeMemo(0x83, "    1x    "), memo, true);
  EXPECT_FALSE(t->value(0, 0));
  t = DbfFile::parse(makeMemo(0x83, "         1"), memo, true);
  EXPECT_EQ(*t->value(0, 0), "hello");
  // A memo file missing altogether.
  t = DbfFile::parse(makeMemo(0x83, "         1"), {}, false);
  EXPECT_FALSE(t->value(0, 0));
  // FoxPro: a length far past the end is cut at the end of the file.
  std::string fpt(8, '\0');
  fpt[7] = 64;  // block size 64
  fpt.resize(64, '\0');
  fpt += std::string("\0\0\0\1\x7F\xFF\xFF\xFF", 8) + "tail";
  t = DbfFile::parse(makeMemo(0xF5, "         1"), fpt, true);
  EXPECT_EQ(*t->value(0, 0), "tail");
  // dBase IV: a block header with a length below its own size.
  std::string dbt(512, '\0');
  dbt[20] = 0, dbt[21] = 2;
  dbt += std::string("\xFF\xFF\x08\x00\x02\x00\x00\x00", 8) + "x";
  t = DbfFile::parse(makeMemo(0x8B, "         1"), dbt, true);
  EXPECT_FALSE(t->value(0, 0));
}
