// The sub-page "Формат этикетки и особенности печати" against the emulated
// scale: reading and writing the user settings and the shop name, the checks
// before a write, and the defaults of the printing options.
#include <QCheckBox>
#include <QComboBox>
#include <QTest>

#include "settings_fixture.h"

namespace {

const QString kQuestion =
    QStringLiteral("?: ВНИМАНИЕ !\r\nНастройки пользователя будут изменены.\r\nПродолжить ?");
const QString kNotChanged = QStringLiteral("Настройки весов не изменены");
const QString kChanged = QStringLiteral("Настройки весов изменены");
const QString kBadDepartment = QStringLiteral("Неправильная настройка номера отдела. Это число от 0 до 999.");
const QString kBadOffset = QStringLiteral("Неправильная настройка параметра сдвиг печати. Это число от 1 до 99.");
const QString kBadWeight = QStringLiteral(
    "Неправильная настройка минимального изменения веса для автопечати. Это число от 0 до 6000.");
const QString kBadLabel = QStringLiteral("Выберите правильный формат этикетки из списка.");
const QString kBadBarcode = QStringLiteral("Выберите правильный формат штрих-кода из списка.");

class UserSettingsPage : public SettingsTest {
 protected:
  int flags() const {
    int f = 0;
    const auto boxes = form->printFlagBoxes();
    for (int bit = 0; bit < 8; ++bit)
      if (boxes[std::size_t(bit)]->isChecked()) f |= 1 << bit;
    return f;
  }
  void setFlags(int f) {
    const auto boxes = form->printFlagBoxes();
    for (int bit = 0; bit < 8; ++bit) boxes[std::size_t(bit)]->setChecked(f >> bit & 1);
  }
  // Fields that pass every check.
  void fill(const QString& dept = "7", const QString& label = "41", const QString& barcode = "3",
            const QString& offset = "5", const QString& weight = "20") {
    form->Edit2->setText(dept);
    form->ComboBox4->setEditText(label);
    form->ComboBox5->setEditText(barcode);
    form->Edit3->setText(offset);
    form->Edit4->setText(weight);
  }
  QStringList write(dialogs::Answer a = dialogs::Answer::Yes) {
    dlg.answers.push_back(a);
    form->Button2->click();
    return dlg.take();
  }
};

TEST_F(UserSettingsPage, StartsEmptyWithTheFormatLists) {
  for (QLineEdit* e : {form->Edit2, form->Edit3, form->Edit4, form->Edit5, form->Edit6}) EXPECT_EQ(e->text(), "");
  EXPECT_EQ(form->ComboBox4->currentText(), "");
  EXPECT_EQ(form->ComboBox5->currentText(), "");
  EXPECT_EQ(flags(), 0);
  QStringList labels, barcodes;
  for (int i = 0; i < form->ComboBox4->count(); ++i) labels << form->ComboBox4->itemText(i);
  for (int i = 0; i < form->ComboBox5->count(); ++i) barcodes << form->ComboBox5->itemText(i);
  QStringList wantLabels;
  for (int i = 1; i <= 20; ++i) wantLabels << QString::number(i);
  for (int i = 41; i <= 56; ++i) wantLabels << QString::number(i);
  wantLabels << "58";
  EXPECT_EQ(labels, wantLabels);
  EXPECT_EQ(barcodes, (QStringList{"0", "1", "2", "3", "4", "5", "6", "7", "8"}));
}

TEST_F(UserSettingsPage, ReadsSettingsThenShopName) {
  // Department 795 (digits 5, 9, 7), label format 77 (not in the list),
  // barcode 4, offset 12, flags 0x3C, minimum weight 6000.
  scale.setUserSettings(bytes({5, 9, 7, 77, 4, 12, 0x3C, 0x70, 0x17}));
  std::string shop = "Shop " + bytes({0x8C, 0xA0, 0xA3, 0xA0, 0xA7, 0xA8, 0xAD, 0x20, 0xF0});  // Магазин Ё
  shop.resize(28, '\0');
  shop += std::string(27, 'x') + "y";
  scale.setShopName(shop);

  form->Button1->click();
  EXPECT_TRUE(dlg.take().isEmpty());  // no message on success
  EXPECT_EQ(commands(), exchanges({0x95, 0x98}));
  EXPECT_EQ(clk.pauses, (std::vector<int>{50, 50, 200, 50}));
  EXPECT_EQ(form->Edit2->text(), "795");
  EXPECT_EQ(form->ComboBox4->currentText(), "77");
  EXPECT_EQ(form->ComboBox5->currentText(), "4");
  EXPECT_EQ(form->ComboBox5->currentIndex(), 4);
  EXPECT_EQ(form->Edit3->text(), "12");
  EXPECT_EQ(form->Edit4->text(), "6000");
  EXPECT_EQ(flags(), 0x3C);
  EXPECT_TRUE(form->CheckBox6->isChecked() && form->CheckBox7->isChecked() && form->CheckBox8->isChecked() &&
              form->CheckBox9->isChecked());
  // The zeros turned into blanks, the blanks that fill a line up not shown.
  EXPECT_EQ(form->Edit5->text(), QStringLiteral("Shop Магазин Ё"));
  EXPECT_EQ(form->Edit6->text(), QString(27, 'x') + "y");
}

TEST_F(UserSettingsPage, DefaultsTickTheFourPrintingOptions) {
  setFlags(0xC3);
  form->Edit2->setText("12");
  form->Button6->click();
  EXPECT_EQ(flags(), 0x3C);
  EXPECT_EQ(form->Edit2->text(), "12");
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(scale.connectionCount(), 0);
}

TEST_F(UserSettingsPage, ReadFailures) {
  expectOpeningFailures(form->Button1, form->ComboBox3, "Для чтения настроек пользователя");
  form->Edit2->setText("old");
  form->Edit5->setText("old shop");
  for (auto [cmd, f, want] : {std::tuple{ScaleEmulator::kHandshake, Fault{Fault::Silence}, msg::kNoData},
                              std::tuple{ScaleEmulator::kHandshake, Fault{Fault::WrongEcho}, msg::kWrongReply},
                              std::tuple{0x95, Fault{Fault::Silence}, msg::kCommandFailed},
                              std::tuple{0x95, Fault{Fault::EmptyCell}, msg::kCommandFailed}}) {
    scale.inject(cmd, f);
    form->Button1->click();
    EXPECT_EQ(dlg.take(), QStringList{want});
    EXPECT_EQ(form->Edit2->text(), "old");
  }
  // The shop name fails after the settings: the settings stay shown.
  scale.setUserSettings(bytes({1, 0, 0, 2, 3, 4, 0xFF, 0, 0}));
  for (auto [cmd, f, want] :
       {std::tuple{ScaleEmulator::kHandshake, Fault{Fault::Silence, 1, 0, 0, 0, 1}, msg::kNoData},
        std::tuple{0x98, Fault{Fault::Status, 1, 0x55}, msg::kCommandFailed}}) {
    scale.inject(cmd, f);
    form->Button1->click();
    EXPECT_EQ(dlg.take(), QStringList{want});
    EXPECT_EQ(form->Edit2->text(), "1");
    EXPECT_EQ(flags(), 0xFF);
    EXPECT_EQ(form->Edit5->text(), "old shop");
  }
}

TEST_F(UserSettingsPage, WritesSettingsThenShopName) {
  fill("795", "44", "8", "99", "6000");
  setFlags(0xA5);
  form->Edit5->setText(QStringLiteral("Ёлка"));
  form->Edit6->setText(QString(40, 'z'));
  EXPECT_EQ(write(), (QStringList{kQuestion, kChanged}));
  EXPECT_EQ(commands(), exchanges({0x8A, 0x94}));
  EXPECT_EQ(clk.pauses, (std::vector<int>{50, 50, 200, 50}));
  EXPECT_EQ(scale.requestsOf(0x8A), std::vector<std::string>{bytes({0x8A, 5, 9, 7, 44, 8, 99, 0xA5, 0x70, 0x17})});
  // 0xF0 is Ё in the scale's character set, then 0xA5 0xAB 0xAA 0xA0.
  const std::string line1 = bytes({0xF0, 0xAB, 0xAA, 0xA0}) + std::string(24, '\0');
  EXPECT_EQ(scale.shopName(), line1 + std::string(28, 'z'));
  EXPECT_EQ(scale.userSettings(), bytes({5, 9, 7, 44, 8, 99, 0xA5, 0x70, 0x17}));
  EXPECT_TRUE(form->TcpClient1.Connected());

  // Five characters go out followed by 23 zeros; 28 characters go out whole.
  fill("0", "1", "0", "1", "0");
  form->Edit5->setText("abcde");
  form->Edit6->setText(QString(28, 'q'));
  EXPECT_EQ(write(), (QStringList{kQuestion, kChanged}));
  EXPECT_EQ(scale.shopName(), "abcde" + std::string(23, '\0') + std::string(28, 'q'));
  EXPECT_EQ(scale.userSettings(), bytes({0, 0, 0, 1, 0, 1, 0xA5, 0, 0}));
  EXPECT_EQ(scale.requestsOf(0x94).back().size(), 57u);
}

// A shop line read as blanks shows empty, so that what is typed into it is
// what goes out; a line takes no more than the 28 characters that are sent.
TEST_F(UserSettingsPage, TypedShopLinesAreWhatGoesOut) {
  scale.setUserSettings(bytes({1, 0, 0, 2, 3, 4, 0x3C, 0, 0}));
  scale.setShopName(std::string(56, ' '));
  form->Button1->click();
  EXPECT_EQ(form->Edit5->text(), "");
  form->Edit5->end(false);
  typeText(form->Edit5, "Romashka");
  typeText(form->Edit6, QString(30, 'w'));
  EXPECT_EQ(form->Edit6->text(), QString(28, 'w'));
  EXPECT_EQ(write(), (QStringList{kQuestion, kChanged}));
  EXPECT_EQ(scale.shopName(), "Romashka" + std::string(20, '\0') + std::string(28, 'w'));
}

TEST_F(UserSettingsPage, ANoChangesNothingAndContactsNoScale) {
  fill("1000");  // not checked before the answer
  EXPECT_EQ(write(dialogs::Answer::No), (QStringList{kQuestion, kNotChanged}));
  EXPECT_TRUE(ping.calls.empty());
  EXPECT_EQ(scale.connectionCount(), 0);
}

TEST_F(UserSettingsPage, FieldsAreCheckedInOrderAfterTheYes) {
  struct Case {
    QStringList fields;  // department, label, barcode, offset, weight
    QString message;     // empty: passes
  };
  const Case cases[] = {
      {{"1000", "1", "1", "1", "0"}, kBadDepartment},
      {{"", "1", "1", "1", "0"}, kBadDepartment},
      {{"abc", "x", "x", "0", "6001"}, kBadDepartment},  // the first failure only
      {{"-1", "1", "1", "1", "0"}, kBadDepartment},
      {{"999", "1", "1", "0", "0"}, kBadOffset},
      {{"0", "1", "1", "100", "0"}, kBadOffset},
      {{"0", "1", "1", "", "6001"}, kBadOffset},
      {{"0", "1", "1", "99", "6001"}, kBadWeight},
      {{"0", "1", "1", "1", "-1"}, kBadWeight},
      {{"0", "1", "1", "1", "6 000"}, kBadWeight},
      {{"0", "", "1", "1", "6000"}, kBadLabel},
      {{"0", "12a", "", "1", "6000"}, kBadLabel},
      {{"0", "12", "", "1", "6000"}, kBadBarcode},
      {{"0", "12", "b", "1", "6000"}, kBadBarcode},
      {{"0", "256", "1", "1", "6000"}, kBadLabel},  // a format goes out as one byte
      {{"0", "12", "-1", "1", "6000"}, kBadBarcode},
  };
  for (const Case& c : cases) {
    fill(c.fields[0], c.fields[1], c.fields[2], c.fields[3], c.fields[4]);
    EXPECT_EQ(write(), (QStringList{kQuestion, c.message})) << c.fields.join('|').toStdString();
  }
  // Typed as an operator does: 300 and 264 would reach the scale as 44 and 8.
  fill("0", "", "", "1", "6000");
  QTest::keyClicks(form->ComboBox4, "300");
  QTest::keyClicks(form->ComboBox5, "264");
  EXPECT_EQ(write(), (QStringList{kQuestion, kBadLabel}));
  form->ComboBox4->setEditText("1");
  EXPECT_EQ(write(), (QStringList{kQuestion, kBadBarcode}));
  EXPECT_TRUE(ping.calls.empty());
  EXPECT_EQ(scale.connectionCount(), 0);

  // The bounds that pass; a format not in the list passes.
  fill("999", "0", "$FF", "99", "6000");
  EXPECT_EQ(write(), (QStringList{kQuestion, kChanged}));
  EXPECT_EQ(scale.userSettings().substr(0, 6), bytes({9, 9, 9, 0, 0xFF, 99}));
}

TEST_F(UserSettingsPage, WriteFailures) {
  fill();
  expectOpeningFailures(form->Button2, form->ComboBox3, "Для записи настроек пользователя", kQuestion.mid(3),
                        {kNotChanged});
  for (auto [cmd, f, want] : {std::tuple{ScaleEmulator::kHandshake, Fault{Fault::Silence}, msg::kNoData},
                              std::tuple{ScaleEmulator::kHandshake, Fault{Fault::WrongAnswerCode}, msg::kWrongReply},
                              std::tuple{0x8A, Fault{Fault::EmptyCell}, msg::kCommandFailed}}) {
    scale.inject(cmd, f);
    EXPECT_EQ(write(), (QStringList{kQuestion, want}));
  }
  EXPECT_TRUE(scale.requestsOf(0x94).empty());

  // The shop name fails after the settings were written: no further message.
  fill("321");
  scale.inject(0x94, {Fault::Silence});
  EXPECT_EQ(write(), (QStringList{kQuestion, msg::kCommandFailed}));
  EXPECT_EQ(scale.userSettings().substr(0, 3), bytes({1, 2, 3}));
  scale.inject(ScaleEmulator::kHandshake, {Fault::WrongEcho, 1, 0, 0, 0, 1});
  EXPECT_EQ(write(), (QStringList{kQuestion, msg::kWrongReply}));
}

TEST_F(UserSettingsPage, RefusedWhileAnotherScaleOperationRuns) {
  fill();
  form->ScaleBusy = true;
  form->Button1->click();
  form->Button2->click();  // not even the question
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_TRUE(ping.calls.empty());
}

}  // namespace
