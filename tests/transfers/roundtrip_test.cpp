// A goods base of 4,000 records loaded into the emulated scale and read back
// into a new table gives the same records field for field: names as they
// went out (filled with blanks to 28, the last four blanked when a logo
// travels in them), LOGOTYPE and RST through the names, LIFE in both forms.
#include <QAction>
#include <QCheckBox>
#include <map>

#include "transfer_fixture.h"

namespace {

using RoundTrip = TransferTest;

Goods goodsFor(int i) {
  Goods g;
  g.plu = i;
  const std::string word = ansi::A(QStringLiteral("Йогурт ёжик №"));
  switch (i % 3) {
    case 0: g.name1 = (word + std::to_string(i) + std::string(28, 'x')).substr(0, 28); break;
    case 1: g.name1 = "T" + std::to_string(i); break;
    default: g.name1 = (word + std::to_string(i) + std::string(28, 'y')).substr(0, 27); break;
  }
  g.name2 = i % 5 ? ansi::A(QStringLiteral("Вторая строка ")) + std::to_string(i) : "";
  g.price = (i * 7919) % 1000000;
  if (i % 2)
    g.life = std::to_string(i % 1000);
  else
    g.life = QString::asprintf("%02d.%02d.%02d", 1 + i % 28, 1 + i % 12, i % 100).toStdString();
  g.tare = (i * 3) % 5991;
  g.icode = (i * 131) % 1000000;
  g.gcode = (i * 17) % 1000000;
  g.msgno = i % 1001;
  g.logotype = (i / 3) % 3;
  if (g.logotype) g.rst = i % 4 ? ansi::A(QStringLiteral("РС")) + std::to_string(i % 100) : "7";
  return g;
}

// A name as it comes back: the first 28 characters of what was sent (blanks
// appended up to 29), with the four logo characters blanked.
std::string nameBack(const std::string& name, int logotype) {
  std::string s = name.size() < 28 ? name + std::string(29 - name.size(), ' ') : name;
  s.resize(28);
  if (logotype) s.replace(24, 4, "    ");
  return s;
}

std::string rtrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

TEST_F(RoundTrip, FourThousandGoodsComeBackFieldForField) {
  startWithScale();
  newGoodsTable();
  for (int i = 1; i <= 4000; ++i) addGoods(goodsFor(i));
  form->CheckBox1->setChecked(true);
  runDialog(Form2, 1, 4000);
  ASSERT_EQ(dlg.take(), QStringList{QStringLiteral("Данные переданы")});
  ASSERT_EQ(scale.pluCount(), 4000u);

  dlg.files.push_back(path("back"));
  form->N12->trigger();
  dlg.take();
  runDialog(Form4, 1, 4000);
  ASSERT_EQ(dlg.take(), QStringList{QStringLiteral("Данные приняты")});
  storage::Table& t = table();
  ASSERT_EQ(t.recordCount(), 4000);

  int checked = 0;
  for (t.first(); !t.eof(); t.next()) {
    const int plu = t.fieldByName("PLUNO").asInteger();
    ASSERT_GE(plu, 1);
    ASSERT_LE(plu, 4000);
    const Goods g = goodsFor(plu);
    SCOPED_TRACE(plu);
    // The table may keep or drop trailing blanks; everything before them counts.
    EXPECT_EQ(rtrim(t.fieldByName("NAME1").asString()), rtrim(nameBack(g.name1, g.logotype)));
    EXPECT_EQ(rtrim(t.fieldByName("NAME2").asString()), rtrim(nameBack(g.name2, g.logotype)));
    EXPECT_EQ(t.fieldByName("PRICE").asInteger(), g.price);
    EXPECT_EQ(t.fieldByName("LIFE").asString(), g.life);
    EXPECT_EQ(t.fieldByName("TARE").asInteger(), g.tare);
    EXPECT_EQ(t.fieldByName("ICODE").asInteger(), g.icode);
    EXPECT_EQ(t.fieldByName("GCODE").asInteger(), g.gcode);
    EXPECT_EQ(t.fieldByName("MSGNO").asInteger(), g.msgno);
    EXPECT_EQ(t.fieldByName("LOGOTYPE").asInteger(), g.logotype);
    const std::string rst = g.logotype ? (g.rst + "    ").substr(0, 4) : "";
    EXPECT_EQ(rtrim(t.fieldByName("RST").asString()), rtrim(rst));
    EXPECT_EQ(t.fieldByName("START").asString(), "00.00.00 00:00:00");
    if (::testing::Test::HasFailure()) break;
    ++checked;
  }
  EXPECT_EQ(checked, 4000);
}

}  // namespace
