// Start-up and shut-down of the main window, total.cfg and poles.cfg.
#include <sys/stat.h>
#include <map>
#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QAction>

#include "platform/ansi.h"
#include "shell/config_file.h"
#include "shell/program.h"
#include "shell/string_grid.h"
#include "bases/report_windows.h"
#include "transfers/range_dialogs.h"
#include "support/file_access.h"
#include "support/gui_fixture.h"

namespace {
const std::string kNineEmpty = "\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n";
const std::string kTotalDefaults = "TRUE\r\nTRUE\r\n1000\r\nTRUE\r\nTRUE\r\n50\r\nwsNormal\r\n";
}  // namespace

using Startup = GuiTest;

TEST_F(Startup, FirstStartInEmptyDirectoryWritesTheThreeFiles) {
  start();
  EXPECT_EQ(readFile("config.cfg"), kNineEmpty);
  EXPECT_EQ(readFile("total.cfg"), kTotalDefaults);
  const std::string poles = readFile("poles.cfg");
  EXPECT_EQ(std::count(poles.begin(), poles.end(), '\n'), 46);
  EXPECT_EQ(poles.substr(0, 20), "PLUNO\r\n" + ansi::A(QStringLiteral(" Номер PLU ")) + "\r\n");
  EXPECT_EQ(form->StringGrid1->RowCount(), 2);
  for (const char* name : {"ComboBox2", "ComboBox3", "ComboBox6", "ComboBox7", "ComboBox8"}) {
    auto* c = find<QComboBox>(name);
    ASSERT_EQ(c->count(), 1) << name;
    EXPECT_EQ(c->itemText(0), QString());
    EXPECT_EQ(c->currentIndex(), -1);
  }
  EXPECT_EQ(find<QLineEdit>("Edit30")->text(), QStringLiteral("192.168.1."));
  EXPECT_TRUE(find<QCheckBox>("CheckBox1")->isChecked());
  EXPECT_EQ(find<QLineEdit>("Edit32")->text(), QStringLiteral("1000"));
  EXPECT_EQ(find<QLineEdit>("Edit31")->text(), QStringLiteral("50"));
  EXPECT_TRUE(dlg.shown.isEmpty());

  auto* tabs = find<QTabWidget>("PageControl1");
  ASSERT_EQ(tabs->count(), 7);
  EXPECT_EQ(tabs->currentIndex(), 0);
  const QStringList captions = {"Товары и сообщения", "Конфигурация сети", "Настройки весов",
                                "Заводские установки", "Текущее состояние", "Логотип", "Тесты"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(tabs->tabText(i), captions[i]);

  // Price keys 1..54 in both columns, with their titles.
  auto* keys = find<StringGrid>("StringGrid2");
  EXPECT_EQ(keys->cellText(0, 0), QStringLiteral(" Клавиша цены "));
  EXPECT_EQ(keys->cellText(1, 0), QStringLiteral(" № PLU "));
  for (int r = 1; r <= 54; ++r) {
    EXPECT_EQ(keys->cellText(0, r), QString::number(r));
    EXPECT_EQ(keys->cellText(1, r), QString::number(r));
  }
}

TEST_F(Startup, WindowOpensAtItsGivenSizeWithItsCaption) {
  start();
  form->show();
  EXPECT_EQ(form->size(), QSize(721, 488));
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Работа с весами Norel KM ver.1.6 в локальной сети Ethernet"));
}

TEST_F(Startup, SubnetPrefixFromOwnAddress) {
  ownAddress = QStringLiteral("10.0.0.7");
  start();
  EXPECT_EQ(form->Edit30->text(), QStringLiteral("10.0.0."));
  stop();
  ownAddress = QString();  // the host name does not resolve
  start();
  EXPECT_EQ(form->Edit30->text(), QString());
  stop();
  ownAddress = QStringLiteral("localhost");
  start();
  EXPECT_EQ(form->Edit30->text(), QString());
}

TEST_F(Startup, ConfigTableIsRestoredAndWrittenBackOnClose) {
  writeFile("config.cfg", "1\r\nScale A\r\n\r\n1\r\n127.0.0.1\r\n5001\r\n\r\n\r\n\r\n" + kNineEmpty +
                              "3\r\nScale C\r\n\r\n3\r\n127.0.0.3\r\n5003\r\n\r\n\r\nnote\r\n");
  start();
  EXPECT_EQ(form->StringGrid1->RowCount(), 4);
  EXPECT_EQ(form->ComboBox2->count(), 3);
  EXPECT_EQ(form->ComboBox8->itemText(2), QStringLiteral("Scale C"));
  const std::string before = readFile("config.cfg");
  EXPECT_TRUE(closeWindow());
  EXPECT_EQ(readFile("config.cfg"), before);  // 27 lines, the empty row as nine empty lines
}

TEST_F(Startup, EveryByteOfTheConfigurationSurvivesARun) {
  std::string row;
  for (int c = 0; c < 9; ++c) row += "x\x98\xC0\xFF\x01" + std::to_string(c) + "\r\n";
  writeFile("config.cfg", row);
  start();
  EXPECT_TRUE(closeWindow());
  EXPECT_EQ(readFile("config.cfg"), row);
}

TEST_F(Startup, CloseWithBoxesUntickedWritesOnlyTotal) {
  writeFile("poles.cfg", "MYPLU\r\nnote\r\n");
  start();
  form->StringGrid1->setCellText(1, 1, QStringLiteral("changed"));
  form->StringGrid3->setCellText(2, 2, QStringLiteral("changed"));
  form->CheckBox3->setChecked(false);
  form->CheckBox13->setChecked(false);
  form->Edit32->setText(QStringLiteral("abc"));
  EXPECT_TRUE(closeWindow());
  EXPECT_EQ(readFile("config.cfg"), kNineEmpty);
  EXPECT_EQ(readFile("poles.cfg"), "MYPLU\r\nnote\r\n");
  EXPECT_EQ(readFile("total.cfg"), "TRUE\r\nFALSE\r\nabc\r\nTRUE\r\nFALSE\r\n50\r\nwsNormal\r\n");
  stop();
  start();  // a non-number time-out comes back unchanged
  EXPECT_EQ(form->Edit32->text(), QStringLiteral("abc"));
  EXPECT_FALSE(form->CheckBox3->isChecked());
}

TEST_F(Startup, ExitMenuClosesLikeTheCloseBox) {
  start();
  form->show();
  form->CheckBox1->setChecked(false);
  form->N2->trigger();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(readFile("total.cfg").substr(0, 7), "FALSE\r\n");
}

TEST_F(Startup, ClosingTheMainWindowEndsTheProgramWhileADialogShows) {
  start();
  form->show();
  Form2->show();  // a range dialog stays open, on top of the main window
  Form7->show();  // and a report window
  // The event loop ends when the main window closes; the guard only stops a
  // loop that would otherwise run on with the main window gone.
  bool ended = true;
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    ended = false;
    QApplication::quit();
  });
  QTimer::singleShot(0, form, [this] { form->close(); });
  guard.start(60000);
  QApplication::exec();
  EXPECT_TRUE(ended);
  EXPECT_FALSE(form->isVisible());
}

TEST_F(Startup, UnwritableSettingsFileKeepsWindowOpenAndStopsLaterFiles) {
  start();
  form->show();
  QFile::remove(path("config.cfg"));
  QDir(dir->path()).mkdir("config.cfg");
  QFile::remove(path("total.cfg"));
  form->CheckBox1->setChecked(false);
  EXPECT_FALSE(closeWindow());
  ASSERT_EQ(dlg.shown.size(), 1);
  EXPECT_TRUE(dlg.shown[0].startsWith("ERROR: "));
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(QFile::exists(path("total.cfg")));
  // Once the obstacle is gone, a later close writes everything.
  QDir(dir->path()).rmdir("config.cfg");
  EXPECT_TRUE(closeWindow());
  EXPECT_EQ(readFile("config.cfg"), kNineEmpty);
  EXPECT_EQ(readFile("total.cfg").substr(0, 7), "FALSE\r\n");
}

// A start-up directory that the program may not write in, whose files it
// may write: every close writes the files in place and ends the program.
TEST_F(Startup, UnwritableDirectoryWithWritableFilesStillCloses) {
  start();
  form->show();
  form->CheckBox1->setChecked(false);
  const QByteArray d = dir->path().toLocal8Bit();
  ASSERT_EQ(::chmod(d.constData(), 0555), 0);
  {
    WithoutFileOverride user;
    ASSERT_TRUE(user.ok());
    EXPECT_TRUE(closeWindow());
  }
  ::chmod(d.constData(), 0755);
  EXPECT_TRUE(dlg.shown.isEmpty()) << dlg.shown.join('\n').toStdString();
  EXPECT_EQ(readFile("total.cfg").substr(0, 7), "FALSE\r\n");
  EXPECT_EQ(QDir(dir->path()).entryList(QDir::Files).size(), 3);  // no temporary file left
}

// config.cfg made read-only by its owner is not replaced: the close shows
// the error and the window stays open; a symbolic link is written through.
TEST_F(Startup, ReadOnlyConfigIsReportedAndALinkIsWrittenThrough) {
  writeFile("shops.cfl", kNineEmpty);
  ASSERT_EQ(::symlink("shops.cfl", path("config.cfg").toLocal8Bit().constData()), 0);
  start();
  form->setConfigRows({{"1", "A", "", "1", "127.0.0.1", "5001", "", "", ""}});
  EXPECT_TRUE(closeWindow());
  EXPECT_TRUE(QFileInfo(path("config.cfg")).isSymLink());
  EXPECT_EQ(readFile("shops.cfl").substr(0, 6), "1\r\nA\r\n");
  stop();

  QFile::remove(path("config.cfg"));
  writeFile("config.cfg", kNineEmpty);
  ASSERT_EQ(::chmod(path("config.cfg").toLocal8Bit().constData(), 0444), 0);
  start();
  form->setConfigRows({{"1", "A", "", "1", "127.0.0.1", "5001", "", "", ""}});
  form->CheckBox1->setChecked(false);
  {
    WithoutFileOverride user;
    ASSERT_TRUE(user.ok());
    EXPECT_FALSE(closeWindow());
  }
  ASSERT_EQ(dlg.shown.size(), 1);
  EXPECT_TRUE(dlg.shown[0].startsWith("ERROR: "));
  EXPECT_TRUE(dlg.shown[0].contains(QStringLiteral("нет прав доступа"))) << dlg.shown[0].toStdString();
  EXPECT_EQ(readFile("config.cfg"), kNineEmpty);
  EXPECT_EQ(QFile::permissions(path("config.cfg")) & QFileDevice::WriteOwner, 0);
  EXPECT_EQ(readFile("total.cfg"), kTotalDefaults);  // the later files are not written
}

// A read error inside a settings file ends that file's reading and keeps
// what was read; start-up goes on. The process's own memory is a file whose
// reading fails at once.
TEST_F(Startup, ReadErrorInsideASettingsFileEndsOnlyItsReading) {
  ASSERT_EQ(::symlink("/proc/self/mem", path("config.cfg").toLocal8Bit().constData()), 0);
  writeFile("total.cfg", "FALSE\r\nTRUE\r\n777\r\n");
  start();
  EXPECT_TRUE(dlg.shown.isEmpty()) << dlg.shown.join('\n').toStdString();
  EXPECT_EQ(form->configRows(), std::vector<ConfigTableRow>{ConfigTableRow{}});
  EXPECT_EQ(form->ComboBox2->count(), 1);        // the lists were refilled
  EXPECT_TRUE(QFile::exists(path("poles.cfg")));  // and poles.cfg read
  EXPECT_FALSE(form->CheckBox1->isChecked());     // and total.cfg
  EXPECT_EQ(form->Edit32->text(), QStringLiteral("777"));
  // What the error kept from being read is not written over at the close.
  EXPECT_TRUE(closeWindow());
  ASSERT_EQ(dlg.shown.size(), 1);
  EXPECT_TRUE(dlg.shown[0].contains(QStringLiteral("config.cfg» не записан"))) << dlg.shown[0].toStdString();
  EXPECT_TRUE(QFileInfo(path("config.cfg")).isSymLink());
  dlg.take();
  stop();

  QFile::remove(path("config.cfg"));
  QFile::remove(path("total.cfg"));
  QFile::remove(path("poles.cfg"));
  ASSERT_EQ(::symlink("/proc/self/mem", path("total.cfg").toLocal8Bit().constData()), 0);
  ASSERT_EQ(::symlink("/proc/self/mem", path("poles.cfg").toLocal8Bit().constData()), 0);
  start();
  EXPECT_TRUE(dlg.shown.isEmpty()) << dlg.shown.join('\n').toStdString();
  EXPECT_TRUE(form->CheckBox1->isChecked());  // the controls keep their states
  EXPECT_EQ(form->Edit32->text(), QStringLiteral("1000"));
  EXPECT_EQ(form->StringGrid3->cell(2, 1), "PLUNO");  // the defaults stay
  stop();
  // Nothing may be written through those links.
  QFile::remove(path("total.cfg"));
  QFile::remove(path("poles.cfg"));
}

// A config.cfg that can be neither read nor created is reported; the steps
// after it are still done.
TEST_F(Startup, ConfigThatCannotBeOpenedLeavesTheLaterStepsDone) {
  QDir(dir->path()).mkdir("config.cfg");
  writeFile("total.cfg", "FALSE\r\n");
  start();
  ASSERT_EQ(dlg.shown.size(), 1);
  EXPECT_TRUE(dlg.shown[0].startsWith("ERROR: "));
  EXPECT_EQ(form->ComboBox2->count(), 1);  // the lists were refilled
  EXPECT_TRUE(QFile::exists(path("poles.cfg")));
  EXPECT_FALSE(form->CheckBox1->isChecked());  // total.cfg was read
  EXPECT_EQ(form->Edit30->text(), QStringLiteral("192.168.1."));  // earlier steps done
}

// A settings file that is there but cannot be read (no read permission, a
// pipe, a folder, a link to nowhere) is reported at start-up, the others are
// still read, and no close writes over it: the close says so and goes ahead.
// The readable set is the control: a start and a close give it back whole.
TEST_F(Startup, SettingsFilesThatCannotBeReadKeepTheirContents) {
  std::string poles;
  for (int r = 1; r <= 23; ++r) poles += "F" + std::to_string(r) + "\r\nnote\r\n";
  const std::map<QString, std::string> files = {
      {"config.cfg", "1\r\nScale A\r\n\r\n1\r\n127.0.0.1\r\n5001\r\n\r\n\r\n\r\n"},
      {"poles.cfg", poles},
      {"total.cfg", "FALSE\r\nTRUE\r\n700\r\nTRUE\r\nTRUE\r\n60\r\nwsNormal\r\n"}};
  const auto place = [&] {
    for (const auto& [name, bytes] : files) {
      QDir(dir->path()).rmdir(name);
      QFile::remove(path(name));
      writeFile(name, bytes);
    }
  };
  // Starts and closes; `broken` is the one file that cannot be read. Gives
  // what start-up showed.
  const auto run = [&](const QString& broken) {
    start();
    const QString atStart = dlg.take().join('\n');
    EXPECT_EQ(atStart.isEmpty(), broken.isEmpty()) << atStart.toStdString();
    EXPECT_TRUE(atStart.startsWith("ERROR: ") || broken.isEmpty());
    EXPECT_TRUE(atStart.contains(broken));
    // The files that can be read are read.
    EXPECT_EQ(form->ComboBox2->itemText(0), QString(broken == "config.cfg" ? "" : "Scale A"));
    EXPECT_EQ(form->Ass("PLUNO"), broken == "poles.cfg" ? "PLUNO" : "F1");
    EXPECT_EQ(form->Edit32->text(), QString(broken == "total.cfg" ? "1000" : "700"));
    EXPECT_TRUE(closeWindow());
    const QString atClose = dlg.take().join('\n');
    EXPECT_EQ(atClose.isEmpty(), broken.isEmpty()) << atClose.toStdString();
    EXPECT_TRUE(atClose.contains(broken + QStringLiteral("» не записан")) || broken.isEmpty());
    stop();
    return atStart;
  };
  const auto expectKept = [&](const QString& broken) {
    for (const auto& [name, bytes] : files) EXPECT_TRUE(name == broken || readFile(name) == bytes) << name.toStdString();
  };

  place();
  run({});
  expectKept({});

  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name.toStdString());
    place();
    const QByteArray file = path(name).toLocal8Bit();
    ASSERT_EQ(::chmod(file.constData(), 0200), 0);
    {
      WithoutFileOverride user;
      ASSERT_TRUE(user.ok());
      run(name);
    }
    ::chmod(file.constData(), 0600);
    expectKept({});
  }

  // Things at the name that root cannot read either.
  const auto obstacle = [&](const QString& name, int kind) {
    place();
    QFile::remove(path(name));
    const QByteArray file = path(name).toLocal8Bit();
    const bool made = kind == 0   ? ::mkfifo(file.constData(), 0600) == 0
                      : kind == 1 ? QDir(dir->path()).mkdir(name)
                                  : ::symlink("nowhere/x.cfg", file.constData()) == 0;
    ASSERT_TRUE(made);
    const QString atStart = run(name);
    EXPECT_TRUE(kind != 0 || atStart.contains(QStringLiteral("не обычный файл"))) << atStart.toStdString();
    expectKept(name);
    struct stat left {};
    ASSERT_EQ(::lstat(file.constData(), &left), 0);
    EXPECT_TRUE(kind == 0 ? S_ISFIFO(left.st_mode) : kind == 1 ? S_ISDIR(left.st_mode) : S_ISLNK(left.st_mode));
  };
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    obstacle("config.cfg", kind);
  }
  obstacle("poles.cfg", 1);
  obstacle("total.cfg", 0);
}

TEST_F(Startup, PolesFileOfTenAndFortyFiveLines) {
  std::string ten;
  for (int i = 1; i <= 10; ++i) ten += "L" + std::to_string(i) + "\r\n";
  writeFile("poles.cfg", ten);
  start();
  EXPECT_EQ(form->Ass("PLUNO"), "L1");
  EXPECT_EQ(form->StringGrid3->cell(3, 5), "L10");
  EXPECT_EQ(form->Ass("TARE"), "TARE");  // row 6 keeps its default
  EXPECT_EQ(form->StringGrid3->cellText(3, 6), QStringLiteral(" Вес тары, гр. "));
  stop();

  std::string odd;
  for (int i = 1; i <= 45; ++i) odd += "L" + std::to_string(i) + "\r\n";
  writeFile("poles.cfg", odd);
  start();
  EXPECT_EQ(form->Ass("WEIGHT"), "L45");
  EXPECT_EQ(form->StringGrid3->cell(3, 23), "");
  EXPECT_EQ(form->Ass("SUMM"), "L43");
}

TEST_F(Startup, TotalCfgLinesAreReadStrictly) {
  writeFile("total.cfg", "true\r\nTRUE \r\n77\r\n");
  start();
  EXPECT_FALSE(form->CheckBox1->isChecked());
  EXPECT_FALSE(form->CheckBox3->isChecked());
  EXPECT_EQ(form->Edit32->text(), QStringLiteral("77"));
  EXPECT_FALSE(form->CheckBox12->isChecked());
  EXPECT_FALSE(form->CheckBox13->isChecked());
  EXPECT_EQ(form->Edit31->text(), QString());
  EXPECT_FALSE(form->windowState() & Qt::WindowMaximized);
}

TEST_F(Startup, WindowClosedMaximizedOpensMaximized) {
  start();
  form->setWindowState(Qt::WindowMaximized);
  EXPECT_TRUE(closeWindow());
  EXPECT_NE(readFile("total.cfg").find("wsMaximized\r\n"), std::string::npos);
  stop();
  start();
  EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);
  stop();
  writeFile("total.cfg", "TRUE\r\nTRUE\r\n1000\r\nTRUE\r\nTRUE\r\n50\r\nwsHuge\r\n");
  start();
  EXPECT_FALSE(form->windowState() & Qt::WindowMaximized);
}

TEST_F(Startup, HelpOpensAtItsKeyword) {
  start();
  form->show();
  QApplication::setActiveWindow(form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(form));
  QTest::keyClick(form, Qt::Key_F1);
  ASSERT_NE(form->HelpWindow, nullptr);
  auto* help = form->HelpWindow->findChild<QTextBrowser*>(QStringLiteral("HelpBrowser"));
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->source().toString().endsWith("index.html"));
  EXPECT_TRUE(help->toPlainText().contains(QStringLiteral("Содержание")));
  form->SpeedButton30->click();
  EXPECT_TRUE(help->toPlainText().contains(QStringLiteral("Конфигурация сети")));
  form->N16->trigger();
  EXPECT_TRUE(help->source().toString().endsWith("goods.html"));
}
