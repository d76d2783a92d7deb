// "Применить": the display settings of the open table through the field map.
#include "bases_fixture.h"

using ApplyDisplay = BasesTest;

namespace {

std::string label(storage::Table& t, const char* field) { return t.fieldByName(field).displayLabel(); }
std::string cp(const char* utf8) { return ansi::A(QString::fromUtf8(utf8)); }

}  // namespace

TEST_F(ApplyDisplay, WithoutATableNothingHappensAndNothingIsShown) {
  form->Button22->click();
  EXPECT_TRUE(dlg.take().isEmpty());
}

TEST_F(ApplyDisplay, LaterStepWinsForTwoNamesOnOneFieldAndEmptyNamesAreSkipped) {
  newGoods("goods.db");
  dlg.files.push_back(path("raw.db"));
  form->N11->trigger();  // a rename shows the raw fields
  auto& t = table();
  ASSERT_TRUE(t.active());
  ASSERT_EQ(label(t, "NAME1"), "NAME1");
  mapField(3, QStringLiteral("name1"));  // NAME2 -> the NAME1 field (case ignored)
  mapField(5, QString());                // LIFE: no name
  mapField(21, QStringLiteral("PRICE"));  // COUNTER -> PRICE
  form->Button22->click();
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(label(t, "NAME1"), cp("Наименование 2"));
  EXPECT_EQ(label(t, "NAME2"), "NAME2");
  EXPECT_EQ(label(t, "LIFE"), "LIFE");
  EXPECT_EQ(t.fieldByName("LIFE").alignment(), storage::Alignment::Left);
  EXPECT_EQ(label(t, "PRICE"), cp("Количество"));
  EXPECT_TRUE(t.fieldByName("PRICE").readOnly());
  EXPECT_FALSE(t.fieldByName("COUNTER").readOnly());
  EXPECT_FALSE(t.fieldByName("NO").visible());
}

TEST_F(ApplyDisplay, MessagesTableGetsItsLabelsOnly) {
  newMessages("msg.db");
  auto& t = table();
  EXPECT_EQ(label(t, "MSGNO"), cp("Номер сообщения"));
  EXPECT_EQ(label(t, "LINE1"), cp("Строка 1"));
  EXPECT_EQ(label(t, "LINE8"), cp("Строка 8"));
  EXPECT_FALSE(t.fieldByName("NO").visible());
  EXPECT_TRUE(dlg.take().isEmpty());
}
