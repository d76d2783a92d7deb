// The engine's error texts: Russian, naming the value, the field and the
// file, and readable in the error box when Windows-1251 names and values
// meet UTF-8 paths in one message.
#include <cerrno>
#include <filesystem>

#include "platform/guard.h"
#include "storage/error_text.h"
#include "storage/file_io.h"
#include "dbase_test_util.h"
#include "table_support.h"

using namespace storage;
using namespace tablesupport;
namespace fs = std::filesystem;

namespace {

// The text of the DbError the call throws, as the error box shows it.
template <class F>
QString shown(F&& call) {
  try {
    call();
  } catch (const DbError& e) {
    return errorTextToUnicode(e.what());
  }
  return QStringLiteral("(no error)");
}

const std::string kPrice1251 = "\xD6\xC5\xCD\xC0";  // "ЦЕНА" in Windows-1251

}  // namespace

TEST(ErrorTextPieces, ValuesComeFromWindows1251AndPathsStayValidUtf8) {
  EXPECT_EQ(quotedText("PRICE"), "«PRICE»");
  EXPECT_EQ(quotedText(kPrice1251), "«ЦЕНА»");
  EXPECT_EQ(quotedText("\x98"), "«\xC2\x98»");  // the one unassigned byte survives
  EXPECT_EQ(quotedPath("/base/товары.db"), "«/base/товары.db»");
  // A file name that is not UTF-8 must not turn the whole message into
  // Windows-1251 mojibake.
  EXPECT_EQ(quotedPath("/base/\xF2\xEE\xE2.db"), "«/base/\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.db»");
  EXPECT_EQ(quotedPath("a\xD1"), "«a\xEF\xBF\xBD»");          // cut sequence
  EXPECT_EQ(quotedPath("\xC0\xAF"), "«\xEF\xBF\xBD\xEF\xBF\xBD»");  // overlong
  EXPECT_EQ(quotedPath("\xF0\x9F\x98\x80"), "«\xF0\x9F\x98\x80»");
}

TEST_F(TableTest, ConversionErrorsNameFieldAndValueInRussian) {
  fs::create_directories(path("товары"));
  Table t;
  t.setTableName(path("товары/цены.db"));
  t.fieldDefs() = {{"PLUNO", FieldType::Integer, 0, true},
                   {kPrice1251, FieldType::Integer, 0, false},
                   {"RATE", FieldType::Float, 0, false},
                   {"DAY", FieldType::Date, 0, false}};
  t.indexDefs() = {{"", "PLUNO", ixPrimary}};
  t.createTable();
  t.open();
  t.append();
  // A typed Windows-1251 value and field name in a UTF-8 message.
  EXPECT_EQ(shown([&] { t.field(1).setAsString("\xE0\xE1\xE2"); }),
            QStringLiteral("Поле «ЦЕНА»: «абв» — не целое число"));
  EXPECT_EQ(shown([&] { t.fieldByName("PLUNO").setAsString("abc"); }),
            QStringLiteral("Поле «PLUNO»: «abc» — не целое число"));
  EXPECT_EQ(shown([&] { t.fieldByName("RATE").setAsString("1,2,3"); }),
            QStringLiteral("Поле «RATE»: «1,2,3» — не число"));
  EXPECT_EQ(shown([&] { t.fieldByName("DAY").setAsString("31.02.2026"); }),
            QStringLiteral("Поле «DAY»: «31.02.2026» — не дата"));
  EXPECT_EQ(shown([&] { t.fieldByName("\xD1\xD3\xCC\xCC\xC0"); }),  // "СУММА"
            QStringLiteral("Поле «СУММА» не найдено"));
  // The record is still pending and takes a good value after the error.
  EXPECT_EQ(t.state(), State::Insert);
  EXPECT_EQ(shown([&] { t.post(); }), QStringLiteral("Поле «PLUNO» должно быть заполнено"));
  t.fieldByName("PLUNO").setAsInteger(1);
  t.post();
  t.append();
  t.fieldByName("PLUNO").setAsInteger(1);
  EXPECT_EQ(shown([&] { t.post(); }),
            QStringLiteral("Нарушение уникальности ключа в таблице «%1»")
                .arg(QString::fromStdString(path("товары/цены.db"))));
  t.cancel();
  EXPECT_EQ(t.recordCount(), 1);
}

TEST_F(TableTest, FileErrorsNameTheFileAndTheCauseInRussian) {
  const std::string missing = path("нет/goods.db");
  const QString q = QString::fromStdString(missing);
  EXPECT_EQ(shown([&] { fileio::readWhole(missing); }),
            QStringLiteral("Не удаётся открыть файл «%1»: нет такого файла или папки").arg(q));
  Table t;
  t.setTableName(missing);
  EXPECT_EQ(shown([&] { t.open(); }), QStringLiteral("Таблица «%1» не существует").arg(q));
  EXPECT_EQ(shown([&] { t.deleteTable(); }), QStringLiteral("Таблица «%1» не существует").arg(q));
  EXPECT_EQ(QString::fromStdString(fileio::errorText("записать файл", "/x", ENOSPC)),
            QStringLiteral("Не удаётся записать файл «/x»: на диске нет места"));
  // A file that is no table says which file.
  const std::string junk = path("junk.db");
  dbtest::writeBytes(junk, std::string(50, '\x01'));
  t.setTableName(junk);
  EXPECT_EQ(shown([&] { t.open(); }),
            QStringLiteral("Файл таблицы «%1» повреждён: файл короче заголовка").arg(QString::fromStdString(junk)));
}

// A read-only reason naming a field of a Windows-1251 table, in a message
// with a path: the error box shows it whole.
TEST(ErrorTextDbase, ReasonWithAWindows1251FieldNameReadsWhole) {
  dbtest::ScratchDir dir;
  const std::string dbf = dir.copy({"cars.dbf", "cars.dbt"});
  std::string bytes = dbtest::readBytes(dbf);
  bytes.replace(64, 11, kPrice1251 + std::string(7, '\0'));  // the second field's name
  bytes[64 + 16] = '\0';                                      // and its width
  dbtest::writeBytes(dbf, bytes);
  Table t;
  t.setTableName(dbf);
  t.open();
  const QString reason = errorTextToUnicode(t.readOnlyReason());
  EXPECT_TRUE(reason.startsWith(QStringLiteral("поле «ЦЕНА» таблицы "))) << reason.toStdString();
  EXPECT_TRUE(shown([&] { t.append(); }).contains(QStringLiteral("поле «ЦЕНА» таблицы ")));
}
