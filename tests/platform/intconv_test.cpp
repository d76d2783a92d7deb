// The shared text-to-integer conversion and the Windows-1251 codec.
#include <gtest/gtest.h>

#include "platform/ansi.h"
#include "platform/guard.h"
#include "platform/dialogs.h"
#include "platform/intconv.h"
#include "platform/oserror.h"
#include <cerrno>

using intconv::tryParse;

TEST(IntConv, DecimalWithBlanksSignAndRange) {
  EXPECT_EQ(tryParse("0"), 0);
  EXPECT_EQ(tryParse("  42"), 42);
  EXPECT_EQ(tryParse("+7"), 7);
  EXPECT_EQ(tryParse("-0010"), -10);
  EXPECT_EQ(tryParse("2147483647"), 2147483647);
  EXPECT_EQ(tryParse("-2147483648"), -2147483647 - 1);
  EXPECT_FALSE(tryParse("2147483648"));
  EXPECT_FALSE(tryParse("-2147483649"));
  EXPECT_FALSE(tryParse("99999999999999999999"));
}

TEST(IntConv, RejectsEmptyTrailingAndStrayCharacters) {
  for (const char* bad : {"", " ", "+", "-", "$", "0x", "x", "12 ", "1 2", "1.0", "- 1", "1e3", "\t1", "12a"})
    EXPECT_FALSE(tryParse(bad)) << '"' << bad << '"';
}

TEST(IntConv, HexadecimalPrefixesAsTwosComplement) {
  EXPECT_EQ(tryParse("$ff"), 255);
  EXPECT_EQ(tryParse("xFF"), 255);
  EXPECT_EQ(tryParse("X10"), 16);
  EXPECT_EQ(tryParse("0x7fffffff"), 2147483647);
  EXPECT_EQ(tryParse("0XFFFFFFFF"), -1);
  EXPECT_EQ(tryParse("$80000000"), -2147483647 - 1);
  EXPECT_EQ(tryParse("  $00000001"), 1);
  EXPECT_FALSE(tryParse("$123456789"));  // nine digits
  EXPECT_FALSE(tryParse("-$1"));
  EXPECT_FALSE(tryParse("0xg"));
}

TEST(IntConv, ParseThrowsOnFailure) {
  EXPECT_EQ(intconv::parse("12"), 12);
  EXPECT_THROW(intconv::parse("abc"), intconv::ConvertError);
}

// The conversion error reads in Russian in the error box, whether the text
// was ASCII or Windows-1251 letters typed into a field.
TEST(IntConv, ConversionErrorShowsTheTextInRussian) {
  auto shown = [](const std::string& text) {
    try {
      intconv::parse(text);
    } catch (const intconv::ConvertError& e) {
      return errorTextToUnicode(e.what());
    }
    return QStringLiteral("(no error)");
  };
  EXPECT_EQ(shown("abc"), QStringLiteral("«abc» — не целое число"));
  EXPECT_EQ(shown("\xF6\xE5\xED\xE0"), QStringLiteral("«цена» — не целое число"));
  EXPECT_EQ(shown("12\xB9"), QStringLiteral("«12№» — не целое число"));
  EXPECT_EQ(shown(""), QStringLiteral("«» — не целое число"));
}

TEST(Ansi, RoundTripsEveryByte) {
  for (int b = 0; b < 256; ++b) {
    const std::string s(1, char(b));
    EXPECT_EQ(ansi::fromUnicode(ansi::toUnicode(s)), s) << b;
  }
  EXPECT_EQ(ansi::toUnicode("\xC0\xFF\xA8\xB8\xB9"), QStringLiteral("АяЁё№"));
  EXPECT_EQ(ansi::fromUnicode(QStringLiteral("Ж€")), "\xC6\x88");
  EXPECT_EQ(ansi::fromUnicode(QStringLiteral("中")), "?");
  EXPECT_EQ(ansi::fromUnicode(QString(QChar(0xFFFD))), "?");
}

TEST(Dialogs, FilterDescriptionsShowAsGiven) {
  EXPECT_EQ(dialogs::toQtFilter(QStringLiteral("конфигурация (*.cfl)|*.cfl")), QStringLiteral("конфигурация (*.cfl)"));
  EXPECT_EQ(dialogs::toQtFilter(QStringLiteral("конфигурация(*.cfl)|*.cfl|все файлы|*.*")),
            QStringLiteral("конфигурация(*.cfl);;все файлы (*.*)"));
  EXPECT_EQ(dialogs::toQtFilter(QStringLiteral("*.db|*.db|*.dbf|*.dbf")), QStringLiteral("*.db (*.db);;*.dbf (*.dbf)"));
}

TEST(ErrorText, Windows1251AndFileSystemPathsBothShowRight) {
  EXPECT_EQ(errorTextToUnicode("\xCE\xF8\xE8\xE1\xEA\xE0"), QStringLiteral("Ошибка"));
  EXPECT_EQ(errorTextToUnicode("Cannot open '/base/\xD1\x82\xD0\xBE\xD0\xB2.db'"),
            QStringLiteral("Cannot open '/base/тов.db'"));
  // A message of the program in Windows-1251 with its guillemets and dash
  // never passes for UTF-8.
  EXPECT_EQ(errorTextToUnicode("\xAB\xE0\xE1\xE2\xBB \x97 \xED\xE5"), QStringLiteral("«абв» — не"));
  EXPECT_EQ(errorTextToUnicode("plain"), QStringLiteral("plain"));
}

TEST(OsErrorText, CommonCausesReadInRussian) {
  EXPECT_EQ(osErrorText(ENOENT), QStringLiteral("нет такого файла или папки"));
  EXPECT_EQ(osErrorText(EACCES), QStringLiteral("нет прав доступа"));
  EXPECT_TRUE(osErrorText(12345).startsWith(QStringLiteral("системная ошибка 12345")));
}
