// Start-up and shut-down of the main window in a fresh start-up directory.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

#include "platform/ansi.h"
#include "support/gui_fixture.h"
#include "shell/string_grid.h"

using Startup = GuiTest;

TEST_F(Startup, FirstStartInEmptyDirectoryWritesTheThreeFiles) {
  start();
  EXPECT_EQ(readFile("config.cfg"), std::string(9 * 2, '\n').replace(0, 18, "\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n"));
  EXPECT_EQ(readFile("total.cfg"), "TRUE\r\nTRUE\r\n1000\r\nTRUE\r\nTRUE\r\n50\r\nwsNormal\r\n");
  const std::string poles = readFile("poles.cfg");
  EXPECT_EQ(std::count(poles.begin(), poles.end(), '\n'), 46);
  EXPECT_EQ(poles.substr(0, 20), "PLUNO\r\n" + ansi::A(QStringLiteral(" Номер PLU ")) + "\r\n");
  EXPECT_EQ(form->StringGrid1->RowCount(), 2);
  for (const char* name : {"ComboBox2", "ComboBox3", "ComboBox6", "ComboBox7", "ComboBox8"}) {
    auto* c = find<QComboBox>(name);
    ASSERT_EQ(c->count(), 1) << name;
    EXPECT_EQ(c->itemText(0), QString());
  }
  EXPECT_EQ(find<QLineEdit>("Edit30")->text(), QStringLiteral("192.168.1."));
  EXPECT_EQ(find<QTabWidget>("PageControl1")->count(), 7);
  EXPECT_TRUE(dlg.shown.isEmpty());
}
