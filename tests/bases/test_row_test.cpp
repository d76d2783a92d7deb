// The record check: the eight codes, their bounds and their order.
#include <QLocale>

#include "bases_fixture.h"

namespace {

struct Rec {
  int plu = 1, price = 0;
  std::string life = "0";
  int tare = 0, icode = 0, gcode = 0, msgno = 0, logo = 0;
};

}  // namespace

class TestRowCheck : public BasesTest {
 protected:
  int check(const Rec& r) {
    return form->TestRow(r.plu, r.price, r.life, r.tare, r.icode, r.gcode, r.msgno, r.logo);
  }
  template <class F>
  int with(F change) {
    Rec r;
    change(r);
    return check(r);
  }
};

TEST_F(TestRowCheck, BoundsOfTheNumericValues) {
  EXPECT_EQ(check(Rec{}), 0);
  EXPECT_EQ(with([](Rec& r) { r.plu = 4000; }), 0);
  EXPECT_EQ(with([](Rec& r) { r.plu = 4001; }), 1);
  EXPECT_EQ(with([](Rec& r) { r.plu = 0; }), 1);
  EXPECT_EQ(with([](Rec& r) { r.price = 999999; }), 0);
  EXPECT_EQ(with([](Rec& r) { r.price = 1000000; }), 2);
  EXPECT_EQ(with([](Rec& r) { r.price = -1; }), 2);
  EXPECT_EQ(with([](Rec& r) { r.tare = 5990; }), 0);
  EXPECT_EQ(with([](Rec& r) { r.tare = 5991; }), 4);
  EXPECT_EQ(with([](Rec& r) { r.icode = 1000000; }), 5);
  EXPECT_EQ(with([](Rec& r) { r.gcode = -1; }), 6);
  EXPECT_EQ(with([](Rec& r) { r.msgno = 1000; }), 0);
  EXPECT_EQ(with([](Rec& r) { r.msgno = 1001; }), 7);
  EXPECT_EQ(with([](Rec& r) { r.logo = 2; }), 0);
  EXPECT_EQ(with([](Rec& r) { r.logo = -1; }), 8);
  EXPECT_EQ(with([](Rec& r) { r.logo = 3; }), 8);
}

TEST_F(TestRowCheck, ShelfLifeAsDaysOrAsDate) {
  auto life = [&](const char* text) { return with([&](Rec& r) { r.life = text; }); };
  EXPECT_EQ(life("999"), 0);
  EXPECT_EQ(life("0"), 0);
  EXPECT_EQ(life("1000"), 3);  // four characters: taken as a date
  EXPECT_EQ(life("-1"), 3);
  EXPECT_EQ(life(""), 3);
  EXPECT_EQ(life("ab"), 3);
  EXPECT_EQ(life("31.12.09"), 0);
  EXPECT_EQ(life("1.2.09"), 0);
  EXPECT_EQ(life("31.02.09"), 3);
  EXPECT_EQ(life("29.02.08"), 0);
  EXPECT_EQ(life("29.02.09"), 3);
  EXPECT_EQ(life("31.12.2009"), 3);  // the scale keeps a two-digit year
  EXPECT_EQ(life("31/12/09"), 3);
  EXPECT_EQ(life("31.12.09 "), 3);
}

TEST_F(TestRowCheck, DateFormIsTheSameWhateverTheLocale) {
  const QLocale old;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(with([](Rec& r) { r.life = "31.12.09"; }), 0);
  EXPECT_EQ(with([](Rec& r) { r.life = "12/31/09"; }), 3);
  QLocale::setDefault(old);
}

TEST_F(TestRowCheck, SeveralBadValuesGiveTheFirstCodeInOrder) {
  Rec all;
  all.plu = 0, all.price = -1, all.life = "x", all.tare = -1, all.icode = -1, all.gcode = -1,
  all.msgno = -1, all.logo = -1;
  EXPECT_EQ(check(all), 1);
  all.plu = 1;
  EXPECT_EQ(check(all), 2);
  all.price = 0;
  EXPECT_EQ(check(all), 3);
  all.life = "5";
  EXPECT_EQ(check(all), 4);
  all.tare = 0;
  EXPECT_EQ(check(all), 5);
  all.icode = 0;
  EXPECT_EQ(check(all), 6);
  all.gcode = 0;
  EXPECT_EQ(check(all), 7);
  all.msgno = 0;
  EXPECT_EQ(check(all), 8);
  all.logo = 0;
  EXPECT_EQ(check(all), 0);
  EXPECT_EQ(TForm1::testRowMessage(3), QStringLiteral("Ошибка ввода срока годности"));
  EXPECT_EQ(TForm1::testRowMessage(8), QStringLiteral("Ошибка ввода значения логотипа"));
}
