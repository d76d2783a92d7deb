// The page "Заводские установки" against the emulated scale.
#include <QCheckBox>

#include "settings_fixture.h"

namespace {

class FactoryPage : public SettingsTest {
 protected:
  QStringList fields() const {
    QStringList out;
    for (QLineEdit* e : {form->Edit7, form->Edit8, form->Edit9, form->Edit10, form->Edit11, form->Edit12,
                         form->Edit13, form->Edit15, form->Edit14})
      out << e->text();
    return out;
  }
};

TEST_F(FactoryPage, ShowsTheFactorySettings) {
  form->Edit10->setText("keep");
  // Capacity 10000, points 1, 3, 7, dual range 2, divisions 5 and 2,
  // rounding 0x0164, price weight 100, tare limit 1000.
  scale.setFactorySettings(bytes({0x10, 0x27, 1, 3, 7, 2, 5, 2, 0x64, 0x01, 100, 0xE8, 0x03}));
  form->Button9->click();
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(commands(), exchanges({0x9B}));
  EXPECT_EQ(scale.requestsOf(0x9B), std::vector<std::string>{"\x9B"});
  EXPECT_EQ(clk.pauses, (std::vector<int>{50, 50, 50}));  // ping, handshake, before the reply
  EXPECT_EQ(fields(), (QStringList{"10000", "0", "0,00", "keep", "5", "2", "356", "100", "1000"}));
  EXPECT_TRUE(form->CheckBox18->isChecked());

  scale.setFactorySettings(bytes({0xFF, 0xFF, 0, 2, 4, 0, 255, 0, 0, 0, 0, 0, 0}));
  form->Button9->click();
  EXPECT_EQ(fields(), (QStringList{"65535", "0", "0,0", "0,000", "255", "0", "0", "0", "0"}));
  EXPECT_FALSE(form->CheckBox18->isChecked());
  scale.setFactorySettings(bytes({0, 0, 5, 6, 255, 1}));
  form->Button9->click();
  EXPECT_EQ(fields().mid(1, 3), (QStringList{"0,0000", "0,0", "0,000"}));
  EXPECT_TRUE(form->CheckBox18->isChecked());
}

TEST_F(FactoryPage, Failures) {
  expectOpeningFailures(form->Button9, form->ComboBox6, "Для чтения заводских настроек");
  for (auto [cmd, f, want] : {std::tuple{ScaleEmulator::kHandshake, Fault{Fault::Silence}, msg::kNoData},
                              std::tuple{ScaleEmulator::kHandshake, Fault{Fault::WrongEcho}, msg::kWrongReply},
                              std::tuple{0x9B, Fault{Fault::Silence}, msg::kTransferFailed}}) {
    scale.inject(cmd, f);
    form->Button9->click();
    EXPECT_EQ(dlg.take(), QStringList{want});
    EXPECT_EQ(fields(), QStringList(9, ""));
  }
  // The status byte is not examined.
  scale.inject(0x9B, {Fault::Status, 1, 0x00});
  form->Button9->click();
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(form->Edit7->text(), "15000");
  form->ScaleBusy = true;
  form->Edit7->clear();
  form->Button9->click();
  EXPECT_EQ(form->Edit7->text(), "");
  EXPECT_EQ(scale.requestsOf(0x9B).size(), 2u);
}

}  // namespace
