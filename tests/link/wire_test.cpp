// The wire encodings, byte by byte.
#include <gtest/gtest.h>

#include "link/wire.h"
#include "platform/intconv.h"

namespace {

std::string hex(const std::string& bytes) {
  static const char* d = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

std::string bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s += char(uint8_t(b));
  return s;
}

const unsigned char* u(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// "ЁЖЯ ёжя" in Windows-1251.
const std::string kCyr = bytes({0xA8, 0xC6, 0xDF, 0x20, 0xB8, 0xE6, 0xFF});

}  // namespace

TEST(Charset, CyrillicGoesOutInCodePage866AndComesBack) {
  const std::string w = wire::textToWire(kCyr, kCyr.size());
  EXPECT_EQ(hex(w), "F0 86 9F 20 F1 A6 EF");
  EXPECT_EQ(wire::wireToText(u(w), w.size(), false), kCyr);
  EXPECT_EQ(wire::textToWire("Abc 12", 6), "Abc 12");
}

TEST(Charset, EveryLetterRoundTripsAndOtherBytesFollowTheTables) {
  for (int b = 0xC0; b <= 0xFF; ++b)
    EXPECT_EQ(wire::fromScale(wire::toScale(uint8_t(b)), false), b) << b;
  for (int b = 0x01; b <= 0x7F; ++b) EXPECT_EQ(wire::fromScale(wire::toScale(uint8_t(b)), true), b);
  for (int b = 0xB0; b <= 0xBF; ++b) EXPECT_EQ(wire::fromScale(wire::toScale(uint8_t(b)), true), b);
  // An opening guillemet goes out unchanged and comes back as the letter л.
  EXPECT_EQ(wire::toScale(0xAB), 0xAB);
  EXPECT_EQ(wire::fromScale(0xAB, false), 0xEB);
  // 0x00: kept by the goods reader, a blank for messages and shop lines.
  EXPECT_EQ(wire::fromScale(0x00, false), 0x00);
  EXPECT_EQ(wire::fromScale(0x00, true), 0x20);
  EXPECT_EQ(wire::toScale(0x00), 0x00);
}

TEST(Charset, TextFieldsTakeTheirWidth) {
  EXPECT_EQ(wire::textToWire(std::string(60, 'x'), 50), std::string(50, 'x'));
  EXPECT_EQ(wire::textToWire("ab", 4), "ab  ");
}

TEST(Numbers, LittleEndianWithTruncatingDivision) {
  std::string s;
  wire::putLE(s, -1, 4);
  EXPECT_EQ(hex(s), "FF 00 00 00");
  s.clear();
  wire::putLE(s, 300, 2);
  EXPECT_EQ(hex(s), "2C 01");
  s.clear();
  wire::putLE(s, 70000, 2);  // above 65535: its low 16 bits
  EXPECT_EQ(hex(s), "70 11");
  EXPECT_EQ(wire::getLE(u(bytes({0xFF, 0xFF, 0xFF, 0xFF})), 4), -1);
  EXPECT_EQ(wire::getLE(u(bytes({0xA0, 0x0F, 0x00, 0x00})), 4), 4000);
  EXPECT_EQ(wire::getLE(u(bytes({0xFF, 0xFF, 0xFF})), 3), 0xFFFFFF);
}

TEST(Numbers, DigitField) {
  EXPECT_EQ(hex(wire::digitField(0, 6)), "00 00 00 00 00 00");
  EXPECT_EQ(hex(wire::digitField(12, 6)), "02 01 00 00 00 00");
  EXPECT_EQ(hex(wire::digitField(905, 3)), "05 00 09");
  EXPECT_EQ(hex(wire::digitField(12345, 3)), "05 04 7B");  // 123 in the last byte
  EXPECT_EQ(wire::readDigitField(u(bytes({2, 1, 0, 0, 0, 7})), 6), 700012);
  EXPECT_EQ(wire::readDigitField(u(bytes({0, 0, 0, 0, 0, 255})), 6), 25500000);
}

TEST(ShelfLife, DaysAndDatesBothWays) {
  struct Case {
    const char* text;
    const char* wire;
    const char* back;
  } cases[] = {
      {"5", "00 00 05", "5"},           {"120", "00 01 20", "120"},
      {"999", "00 09 99", "999"},       {"15.06.26", "15 06 26", "15.06.26"},
      {"0.5.26", "00 05 26", "526"},    {"1.1.1", "01 01 01", "01.01.01"},
      {"15.06.2026", "15 06 A6", "15.06.10"},  {"1.1.2147483647", "01 01 C7", "01.01.12"},
  };
  for (const auto& c : cases) {
    const std::string w = wire::lifeField(c.text);
    EXPECT_EQ(hex(w), c.wire) << c.text;
    EXPECT_EQ(wire::readLifeField(uint8_t(w[0]), uint8_t(w[1]), uint8_t(w[2])), c.back) << c.text;
  }
}

TEST(ShelfLife, TextsWithoutAWireFormAreRefused) {
  for (const char* bad : {"", "abc", "1.2", "1..3", "a.b.c", "1.2.3.4", " 5 "})
    EXPECT_THROW(wire::lifeField(bad), intconv::ConvertError) << bad;
}

TEST(Bcd, DateAndTimeTexts) {
  EXPECT_EQ(wire::bcdDateText(0x05, 0x03, 0x26), "05.03.26");
  EXPECT_EQ(wire::bcdTimeText(0x15, 0x30, 0x09), "09:30:15");
  // A half-byte above 9 writes two digits and shifts what follows.
  EXPECT_EQ(wire::bcdDateText(0x1A, 0x03, 0x26), "11.00.32");
}

TEST(LogoRst, PackAndUnpack) {
  std::string n1(28, 'a'), n2(28, 'b');
  wire::packLogoRst(n1, n2, 1, "AB12");
  EXPECT_EQ(hex(n1.substr(24)), "00 01 42 32");  // 00 01 'B' '2'
  EXPECT_EQ(hex(n2.substr(24)), "00 01 41 31");  // 00 01 'A' '1'
  int logo = 0;
  std::string rst;
  wire::unpackLogoRst(n1, n2, logo, rst);
  EXPECT_EQ(logo, 1);
  EXPECT_EQ(rst, "AB12");
  EXPECT_EQ(n1, std::string(24, 'a') + "    ");
  EXPECT_EQ(n2, std::string(24, 'b') + "    ");

  // Logo 0 packs nothing; a name with 0x00 at 25 in one line only is not unpacked.
  std::string m1(28, 'a'), m2(28, 'b');
  wire::packLogoRst(m1, m2, 0, "1234");
  EXPECT_EQ(m1, std::string(28, 'a'));
  m1[24] = 0;
  logo = 7;
  rst = "x";
  wire::unpackLogoRst(m1, m2, logo, rst);
  EXPECT_EQ(logo, 7);
  EXPECT_EQ(rst, "x");
  EXPECT_EQ(m1.size(), 28u);
}

TEST(GoodsRecord, RequestLayout) {
  const std::string n1 = "\xCC\xEE\xEB\xEE\xEA\xEE" + std::string(23, ' ');  // 29 characters, as the driver fills
  const std::string rq =
      wire::pluRequest(5, n1, std::string(28, 'N'), 12345, "15.06.26", 250, 12, 905, 0, "", 300);
  ASSERT_EQ(rq.size(), 84u);
  EXPECT_EQ(hex(rq.substr(0, 11)), "82 05 00 00 00 02 01 00 00 00 00");
  EXPECT_EQ(rq.substr(11, 28), wire::textToWire(n1, 28));
  EXPECT_EQ(rq.substr(39, 28), std::string(28, 'N'));
  EXPECT_EQ(hex(rq.substr(67)), "39 30 00 00 15 06 26 FA 00 05 00 09 00 00 00 2C 01");

  // Zeros go out as zero bytes.
  const std::string z = wire::pluRequest(0, std::string(28, ' '), std::string(28, ' '), 0, "0", 0, 0, 0, 0, "", 0);
  EXPECT_EQ(z.substr(67), std::string(17, '\0'));
}

TEST(GoodsRecord, LogoAndRstTravelInTheNames) {
  const std::string rq = wire::pluRequest(1, std::string(29, 'x'), std::string(29, 'y'), 1, "1", 0, 0, 0, 2,
                                          "1234 ", 0);
  EXPECT_EQ(hex(rq.substr(11 + 24, 4)), "00 02 32 34");
  EXPECT_EQ(hex(rq.substr(39 + 24, 4)), "00 02 31 33");
  // A Cyrillic certification code is converted with the names.
  const std::string c = wire::pluRequest(1, std::string(28, 'x'), std::string(28, 'y'), 1, "1", 0, 0, 0, 1,
                                         "\xC0\xC1\xC2\xC3", 0);
  EXPECT_EQ(hex(c.substr(11 + 24, 4)), "00 01 81 83");
  EXPECT_EQ(hex(c.substr(39 + 24, 4)), "00 01 80 82");
}

TEST(GoodsRecord, ReplyDecoding) {
  std::string body = wire::pluRequest(77, std::string(28, 'x'), std::string(28, 'y'), 1999, "120", 15, 654321,
                                      12, 3, "AB12", 1000)
                         .substr(1);
  body += bytes({0x15, 0x30, 0x09, 0x05, 0x03, 0x26});
  wire::putLE(body, 100000, 4);
  wire::putLE(body, 10000, 4);
  wire::putLE(body, 70000, 3);
  ASSERT_EQ(body.size(), 100u);
  const wire::PluReply r = wire::decodePluReply(u(body));
  EXPECT_EQ(r.PLUNO, 77);
  EXPECT_EQ(r.ICODE, 654321);
  EXPECT_EQ(r.NAME1, std::string(24, 'x') + "    ");
  EXPECT_EQ(r.NAME2, std::string(24, 'y') + "    ");
  EXPECT_EQ(r.PRICE, 1999);
  EXPECT_EQ(r.LIFE, "120");
  EXPECT_EQ(r.TARE, 15);
  EXPECT_EQ(r.GCODE, 12);
  EXPECT_EQ(r.MSGNO, 1000);
  EXPECT_EQ(r.LOGOTYPE, 3);
  EXPECT_EQ(r.RST, "AB12");
  EXPECT_EQ(r.StartTime, "09:30:15");
  EXPECT_EQ(r.StartDate, "05.03.26");
  EXPECT_EQ(r.SUMM, 100000u);
  EXPECT_EQ(r.WEIGHT, 10000u);
  EXPECT_EQ(r.COUNTER, 70000);
  // The top bit of the sum and the weight is a value bit, not a sign.
  std::string big = body;
  big.replace(89, 8, std::string("\x00\x00\x00\x80\xFF\xFF\xFF\xFF", 8));
  const wire::PluReply high = wire::decodePluReply(u(big));
  EXPECT_EQ(high.SUMM, 0x80000000u);
  EXPECT_EQ(high.WEIGHT, 0xFFFFFFFFu);

  // Names holding 0x00 (not packed) keep them.
  std::string z(100, '\0');
  z[10] = 'A';
  z[38 + 24] = 'q';  // character 25 of NAME2 is not 0x00
  const wire::PluReply e = wire::decodePluReply(u(z));
  EXPECT_EQ(e.NAME1, "A" + std::string(27, '\0'));
  EXPECT_EQ(e.LOGOTYPE, 0);
  EXPECT_EQ(e.LIFE, "0");
}

TEST(Messages, RequestAndReply) {
  const std::string rq = wire::msgRequest(1000, {"", std::string(50, 'b'), std::string(60, 'c'),
                                                 std::string(49, 'd'), kCyr, "", "", ""});
  ASSERT_EQ(rq.size(), 403u);
  EXPECT_EQ(hex(rq.substr(0, 3)), "84 E8 03");
  EXPECT_EQ(rq.substr(3, 50), std::string(50, ' '));
  EXPECT_EQ(rq.substr(53, 50), std::string(50, 'b'));
  EXPECT_EQ(rq.substr(103, 50), std::string(50, 'c'));
  EXPECT_EQ(rq.substr(153, 50), std::string(49, 'd') + " ");
  EXPECT_EQ(hex(rq.substr(203, 7)), "F0 86 9F 20 F1 A6 EF");
  EXPECT_EQ(hex(wire::getMsgRequest(70000).substr(1)), "70 11");

  const std::string empty = wire::msgRequest(1, {});
  EXPECT_EQ(empty.substr(3), std::string(400, ' '));

  std::string body(401, '\0');
  body.replace(50, 7, wire::textToWire(kCyr, 7));
  const auto lines = wire::decodeMsgReply(u(body));
  EXPECT_EQ(lines[0], std::string(50, ' '));
  EXPECT_EQ(lines[1], kCyr + std::string(43, ' '));
}

TEST(Deletes, CommandByMode) {
  EXPECT_EQ(hex(wire::deleteRequest(0, 5)), "8D 05 00 00 00");
  EXPECT_EQ(hex(wire::deleteRequest(2, 5)), "92 05 00 00 00");
  EXPECT_EQ(hex(wire::deleteRequest(0, -1)), "8D FF FF FF FF");
}

TEST(Settings, StatusAndTotals) {
  const std::string st = bytes({0xAA, 0x81, 0x10, 0x27, 1, 2, 0, 0, 3, 4, 0, 0, 0xA0, 0x0F, 0, 0});
  const wire::StatusReply s = wire::decodeStatus(u(st));
  EXPECT_EQ(s.Flags, 0x81);
  EXPECT_EQ(s.Weight, 10000);
  EXPECT_EQ(s.Price, 0x201);
  EXPECT_EQ(s.Amount, 0x403);
  EXPECT_EQ(s.Plu, 4000);

  std::string t(41, '\0');
  t[0] = char(0xAA);
  t.replace(1, 4, bytes({1, 0, 0, 0}));
  t.replace(13, 3, bytes({0x10, 0x27, 0x01}));
  t.replace(16, 4, bytes({0x10, 0x27, 0x00, 0x00}));
  t.replace(24, 3, bytes({0xFF, 0xFF, 0xFF}));
  t.replace(31, 6, bytes({0x15, 0x30, 0x09, 0x05, 0x03, 0x26}));
  t.replace(37, 4, bytes({0xA0, 0x0F, 0xE8, 0x03}));
  const wire::TotalsReply r = wire::decodeTotals(u(t));
  EXPECT_EQ(r.TapeRun, 1);
  EXPECT_EQ(r.Sales, 0x12710);
  EXPECT_EQ(r.GrandWeight, 10000);
  EXPECT_EQ(r.ValueB, 0xFFFFFF);
  EXPECT_EQ(r.ClearTime, 93015);
  EXPECT_EQ(r.ClearDate, 50326);
  EXPECT_EQ(r.FreePlu, 4000);
  EXPECT_EQ(r.FreeMsg, 1000);
}

TEST(Settings, UserSettingsBothWays) {
  EXPECT_EQ(hex(wire::userSetRequest(7, 1, 2, 5, 0x81, 6000)), "8A 07 00 00 01 02 05 81 70 17");
  EXPECT_EQ(hex(wire::userSetRequest(999, 0, 0, 0, 0, 0).substr(1, 3)), "09 09 09");
  const std::string r = bytes({0xAA, 5, 0, 9, 3, 4, 50, 0xFF, 0x70, 0x17});
  const wire::UserSettings us = wire::decodeUserSet(u(r));
  EXPECT_EQ(us.Department, 905);
  EXPECT_EQ(us.LabelFormat, 3);
  EXPECT_EQ(us.BarcodeFormat, 4);
  EXPECT_EQ(us.PrintOffset, 50);
  EXPECT_EQ(us.Flags, 0xFF);
  EXPECT_EQ(us.MinWeight, 6000);
}

TEST(Settings, ShopKeysDateTime) {
  const std::string line = "\xA8" + std::string(28, '\0');  // "Ё" padded with 0x00 to 29
  const std::string rq = wire::shopRequest(line, std::string(29, 'z'));
  ASSERT_EQ(rq.size(), 57u);
  EXPECT_EQ(uint8_t(rq[1]), 0xF0);
  EXPECT_EQ(rq.substr(2, 27), std::string(27, '\0'));
  EXPECT_EQ(rq.substr(29), std::string(28, 'z'));

  EXPECT_EQ(hex(wire::prSetRequest(4000, 54)), "8B A0 0F 00 00 36");
  EXPECT_EQ(hex(wire::dateRequest(5, 3, 26)), "99 00 05 00 03 02 06");
  EXPECT_EQ(hex(wire::dateRequest(5, 3, 2026).substr(5)), "CA 06");
  EXPECT_EQ(hex(wire::timeRequest(9, 30, 15)), "9A 00 09 03 00 01 05");
}

TEST(Exchanges, LogoKeysFactory) {
  const std::string logo = wire::logoRequest(std::string(512, '\x5A'));
  ASSERT_EQ(logo.size(), 513u);
  EXPECT_EQ(uint8_t(logo[0]), 0x8C);
  EXPECT_EQ(wire::decodePrSetCell(u(bytes({0xAA, 0xA0, 0x0F, 0, 0}))), 4000);
  EXPECT_EQ(wire::decodePrSetCell(u(bytes({0xAA, 0xFF, 0xFF, 0xFF, 0xFF}))), -1);
  const std::string f = bytes({0x00, 0x10, 0x27, 1, 3, 7, 2, 5, 2, 0x0A, 0x00, 100, 0xE8, 0x03});
  const wire::FactorySettings fs = wire::decodeFactorySet(u(f));
  EXPECT_EQ(fs.Capacity, 10000);
  EXPECT_EQ(fs.PointWeight, 1);
  EXPECT_EQ(fs.PointPrice, 3);
  EXPECT_EQ(fs.PointAmount, 7);
  EXPECT_EQ(fs.DualRange, 2);
  EXPECT_EQ(fs.DivisionUpper, 5);
  EXPECT_EQ(fs.DivisionLower, 2);
  EXPECT_EQ(fs.Rounding, 10);
  EXPECT_EQ(fs.PriceWeight, 100);
  EXPECT_EQ(fs.TareLimit, 1000);
}
