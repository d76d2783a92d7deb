// New goods and messages bases through their menu entries.
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QToolButton>
#include <sched.h>
#include <sys/mount.h>

#include "shell/program.h"
#include "storage/db_navigator.h"
#include "storage/file_lock.h"
#include "support/file_access.h"
#include "transfers/range_dialogs.h"

#include "bases_fixture.h"

using NewBase = BasesTest;

TEST_F(NewBase, GoodsBaseHoldsItsStoredFirstRecordAndReadOnlySalesFields) {
  dlg.files.push_back(path("goods.db"));
  form->N3->trigger();
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Укажите имя файла новой базы товаров.")});
  ASSERT_EQ(dlg.fileRequests.size(), 1u);
  EXPECT_EQ(dlg.fileRequests[0].title, QStringLiteral("Сохранение  базы товаров или сообщений"));
  EXPECT_EQ(dlg.fileRequests[0].fileName, QStringLiteral("db1"));
  EXPECT_EQ(dlg.fileRequests[0].filter, QStringLiteral("*.db|*.db|*.dbf|*.dbf"));

  auto& t = table();
  ASSERT_TRUE(t.active());
  ASSERT_EQ(t.fieldCount(), 16);
  const char* names[16] = {"NO",    "PLUNO", "NAME1",    "NAME2", "PRICE", "LIFE",
                           "TARE",  "ICODE", "GCODE",    "MSGNO", "LOGOTYPE", "RST",
                           "START", "COUNTER", "SUMM",   "WEIGHT"};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(t.field(i).fieldName(), names[i]);
  EXPECT_EQ(t.fieldByName("START").size(), 17);
  EXPECT_TRUE(t.fieldByName("PLUNO").required());

  // The first record is in the file already.
  const QString file = QFileInfo(QString::fromLocal8Bit(t.tableName().c_str())).absoluteFilePath();
  EXPECT_EQ(column(file, "PLUNO"), std::vector<std::string>{"1"});
  EXPECT_EQ(column(file, "LIFE"), std::vector<std::string>{"0"});
  for (const char* zero : {"PRICE", "TARE", "ICODE", "GCODE", "MSGNO", "LOGOTYPE"})
    EXPECT_EQ(column(file, zero), std::vector<std::string>{"0"}) << zero;
  for (const char* empty : {"NAME1", "NAME2", "RST", "START", "COUNTER", "SUMM", "WEIGHT"})
    EXPECT_EQ(column(file, empty), std::vector<std::string>{""}) << empty;

  EXPECT_EQ(t.recordCount(), 1);
  EXPECT_EQ(t.state(), storage::State::Browse);
  EXPECT_FALSE(t.fieldByName("NO").visible());
  EXPECT_EQ(t.fieldByName("LIFE").alignment(), storage::Alignment::Right);
  for (const char* ro : {"START", "COUNTER", "SUMM", "WEIGHT"}) {
    EXPECT_TRUE(t.fieldByName(ro).readOnly()) << ro;
    EXPECT_THROW(t.fieldByName(ro).setAsString("5"), storage::DbError) << ro;
  }
  t.cancel();
  EXPECT_FALSE(t.fieldByName("PRICE").readOnly());

  const QStringList titles = gridTitles();
  ASSERT_EQ(titles.size(), 15);
  EXPECT_EQ(titles.first(), QStringLiteral("Номер PLU"));
  EXPECT_EQ(titles[4], QStringLiteral("Срок хранения"));
  EXPECT_EQ(titles.last(), QStringLiteral("Общий вес, гр."));
  EXPECT_EQ(gridRows(), 1);
}

TEST_F(NewBase, MessagesRecordIsStoredBySaveAndDroppedByAClose) {
  dlg.files.push_back(path("msg.db"));
  form->N4->trigger();
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Укажите имя файла новой базы сообщений.")});
  auto& t = table();
  ASSERT_TRUE(t.active());
  EXPECT_EQ(t.fieldCount(), 10);
  EXPECT_EQ(t.field(9).fieldName(), "LINE8");
  EXPECT_EQ(t.fieldByName("LINE8").size(), 50);
  EXPECT_EQ(t.state(), storage::State::Insert);
  EXPECT_EQ(t.fieldByName("MSGNO").asInteger(), 1);
  EXPECT_EQ(gridTitles().first(), QStringLiteral("Номер сообщения"));
  EXPECT_EQ(gridTitles().last(), QStringLiteral("Строка 8"));
  const QString file = QString::fromLocal8Bit(t.tableName().c_str());

  form->N10->trigger();  // "Сохранить"
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(column(file, "MSGNO"), std::vector<std::string>{"1"});

  // A second base whose record is closed before it is stored.
  newMessages("msg2.db");
  const QString file2 = QString::fromLocal8Bit(t.tableName().c_str());
  t.close();
  EXPECT_TRUE(column(file2, "MSGNO").empty());
}

TEST_F(NewBase, ClosingTheMainWindowDropsAnUnstoredMessage) {
  newMessages("msg.db");
  const QString file = QString::fromLocal8Bit(table().tableName().c_str());
  stop();
  EXPECT_TRUE(column(file, "MSGNO").empty());
}

// A save dialog's name that holds a file: the operator is asked once, with
// the file named; No ends the entry as its cancel does and keeps the file
// and the open base, Yes replaces it.
TEST_F(NewBase, ReplacingAnExistingFileIsAskedFirst) {
  const QString goods = path("goods.db");
  auto asked = [](const QString& file, bool base) {
    return QStringLiteral("?: ВНИМАНИЕ !\r\nФайл ") + file +
           (base ? QStringLiteral(" уже существует.\r\nВсе записи этой базы будут удалены.\r\nПродолжить ?")
                 : QStringLiteral(" уже существует и будет заменен.\r\nПродолжить ?"));
  };
  newGoods("held.db");
  newGoods("goods.db");
  addGoods(2, "Apples", 100);
  addGoods(3, "Pears", 120);
  const std::vector<std::string> three = {"1", "2", "3"};
  const QString goodsNote = QStringLiteral("Укажите имя файла новой базы товаров.");
  const QString msgNote = QStringLiteral("Укажите имя файла новой базы сообщений.");
  const QString goodsCancel = QStringLiteral("Новая база товаров не создана.");
  const QString msgCancel = QStringLiteral("Новая база сообщений не создана.");
  const struct {
    QAction* entry;
    QString note, cancel;
  } entries[] = {{form->N3, goodsNote, goodsCancel}, {form->N4, msgNote, msgCancel},
                 {form->N12, goodsNote, goodsCancel}, {form->N13, msgNote, msgCancel}};
  for (const auto& e : entries) {
    SCOPED_TRACE(e.entry->objectName().toStdString());
    dlg.files.push_back(goods);
    dlg.answers = {dialogs::Answer::No};
    e.entry->trigger();
    EXPECT_EQ(dlg.take(), (QStringList{e.note, asked(goods, true), e.cancel}));
    EXPECT_EQ(column(goods, "PLUNO"), three);
    ASSERT_TRUE(table().active());
    EXPECT_EQ(table().tableName(), goods.toStdString());
    EXPECT_EQ(table().recordCount(), 3);
    EXPECT_FALSE(Form4->isVisible());
    EXPECT_FALSE(Form5->isVisible());
  }
  // A table there that another program holds: Yes is refused with the
  // reason before the open base is closed.
  const QString held = path("held.db");
  storage::FileLock other;
  ASSERT_EQ(other.acquire(held.toStdString()), storage::FileLock::Result::Locked);
  for (const auto& e : entries) {
    SCOPED_TRACE(e.entry->objectName().toStdString());
    dlg.files.push_back(held);
    dlg.answers = {dialogs::Answer::Yes};
    e.entry->trigger();
    EXPECT_EQ(dlg.take(), (QStringList{e.note, asked(held, true),
                                       "ERROR: Таблица «" + held + "» открыта для записи другим пользователем или программой"}));
    ASSERT_TRUE(table().active());
    EXPECT_EQ(table().tableName(), goods.toStdString());
    EXPECT_EQ(table().recordCount(), 3);
    EXPECT_FALSE(Form4->isVisible());
    EXPECT_FALSE(Form5->isVisible());
  }
  other.release();
  // Held with a lock over the whole file: refused as held, before the question.
  {
    WholeFileLock whole(held);
    ASSERT_TRUE(whole.held());
    dlg.files.push_back(held);
    form->N3->trigger();
    EXPECT_EQ(dlg.take(), (QStringList{goodsNote, "ERROR: Таблица «" + held + "» открыта для записи другим пользователем или программой"}));
  }
  EXPECT_EQ(column(held, "PLUNO"), std::vector<std::string>{"1"});
  // The open table itself, read-only here because this user may not write
  // its files (the folder he may), while another program writes it: Yes is
  // refused all the same.
  table().close();
  ASSERT_EQ(other.acquire(goods.toStdString()), storage::FileLock::Result::Locked);
  const QStringList goodsFiles = QDir(dir->path()).entryList({"goods.*"}, QDir::Files);
  for (const QString& f : goodsFiles) QFile(path(f)).setPermissions(QFile::ReadOwner);
  {
    WithoutFileOverride user;
    ASSERT_TRUE(user.ok());
    openTable(goods);
    EXPECT_EQ(dlg.take(), QStringList{"База данных открыта только для чтения: её изменяет другой пользователь или программа."});
    dlg.files.push_back(goods);
    dlg.answers = {dialogs::Answer::Yes};
    form->N3->trigger();
    EXPECT_EQ(dlg.take(), (QStringList{goodsNote, asked(goods, true),
                                       "ERROR: Таблица «" + goods + "» открыта для записи другим пользователем или программой"}));
    EXPECT_EQ(column(goods, "PLUNO"), three);
  }
  other.release();
  for (const QString& f : goodsFiles) QFile(path(f)).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  // The default name "goods" means goods.db; Yes replaces it as before.
  dlg.files.push_back(path("goods"));
  dlg.answers = {dialogs::Answer::Yes};
  form->N3->trigger();
  EXPECT_EQ(dlg.take(), (QStringList{goodsNote, asked(goods, true)}));
  EXPECT_EQ(column(goods, "PLUNO"), std::vector<std::string>{"1"});

  // A rename onto another table.
  newMessages("msg.db");
  form->N10->trigger();
  dlg.files.push_back(goods);
  dlg.answers = {dialogs::Answer::No};
  form->N11->trigger();
  EXPECT_EQ(dlg.take(), QStringList{asked(goods, true)});
  EXPECT_EQ(column(goods, "PLUNO"), std::vector<std::string>{"1"});
  ASSERT_TRUE(table().active());
  EXPECT_EQ(table().tableName(), path("msg.db").toStdString());
  dlg.files.push_back(goods);
  dlg.answers = {dialogs::Answer::Yes};
  form->N11->trigger();
  EXPECT_EQ(dlg.take(), QStringList{asked(goods, true)});
  ASSERT_TRUE(table().active());
  EXPECT_EQ(table().tableName(), goods.toStdString());
  EXPECT_EQ(column(goods, "MSGNO"), std::vector<std::string>{"1"});
  EXPECT_FALSE(QFileInfo::exists(path("msg.db")));

  // A logo file and a configuration file.
  const struct {
    QToolButton* save;
    QString file;
  } files[] = {{form->SpeedButton35, path("logo.kmi")}, {form->SpeedButton18, path("net.cfl")}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.save->objectName().toStdString());
    const QString name = QFileInfo(f.file).fileName();
    writeFile(name, "someone's file");
    dlg.files.push_back(f.file);
    dlg.answers = {dialogs::Answer::No};
    f.save->click();
    EXPECT_EQ(dlg.take(), QStringList{asked(f.file, false)});
    EXPECT_EQ(readFile(name), "someone's file");
    dlg.files.push_back(f.file);
    dlg.answers = {dialogs::Answer::Yes};
    f.save->click();
    EXPECT_EQ(dlg.take(), QStringList{asked(f.file, false)});
    EXPECT_NE(readFile(name), "someone's file");
  }
}

TEST_F(NewBase, TheSameEntryTwiceUnderTheDefaultNameReplacesTheFirstTable) {
  // The dialog returns "db1" without an extension, as offered.
  dlg.files.push_back(path("db1"));
  form->N3->trigger();
  ASSERT_TRUE(table().active());
  addGoods(2, "Apples", 100);
  const QString file = path("db1.db");
  ASSERT_EQ(column(file, "PLUNO").size(), 2u);
  EXPECT_EQ(dlg.fileRequests.back().fileName, QStringLiteral("db1"));
  dlg.files.push_back(path("db1"));
  dlg.answers = {dialogs::Answer::Yes};
  form->N3->trigger();
  EXPECT_EQ(dlg.take().size(), 3);  // both notes and the question
  ASSERT_TRUE(table().active());
  EXPECT_EQ(column(file, "PLUNO"), std::vector<std::string>{"1"});
  EXPECT_EQ(dlg.fileRequests.back().fileName, path("db1"));  // the name chosen last
}

// After a dBase base was opened, the default name "db1" still means the
// Paradox table db1.db: the dBase table db1.dbf beside it is left alone and
// db1.db is replaced, for every entry that makes a new base.
TEST_F(NewBase, TheDefaultNameAfterADbaseBaseReplacesOnlyTheParadoxTable) {
  const QString dbf = path("db1.dbf");
  ASSERT_TRUE(QFile::copy(QStringLiteral(KMS_TESTDATA_DIR "/tables/dbase/dbase_03.dbf"), dbf));
  const std::string dbfBytes = readFile("db1.dbf");
  newGoods("db1.db");
  addGoods(2, "Apples", 100);
  for (QAction* entry : {form->N3, form->N4, form->N12, form->N13}) {
    SCOPED_TRACE(entry->objectName().toStdString());
    openTable(dbf);
    ASSERT_TRUE(table().active());
    dlg.files.push_back(path("db1"));
    dlg.answers = {dialogs::Answer::Yes};
    entry->trigger();
    dlg.take();
    EXPECT_EQ(readFile("db1.dbf"), dbfBytes);
    ASSERT_TRUE(table().active());
    EXPECT_EQ(table().tableName(), path("db1").toStdString());
    EXPECT_EQ(column(path("db1.db"), entry == form->N3 ? "PLUNO" : "NO").size(), entry == form->N3 ? 1u : 0u);
    Form4->hide();
    Form5->hide();
  }
}

// A chosen name that holds anything but a Paradox table is refused with a
// message naming the file, and nothing is deleted: not the file, nor the
// files of the same stem beside it.
TEST_F(NewBase, ANameThatHoldsNoParadoxTableIsRefusedAndNothingDeleted) {
  newGoods("goods.db");
  addGoods(2, "Apples", 100);
  const std::string open = table().tableName();
  writeFile("other.db", "not a table at all");
  writeFile("report.txt", "monthly report\r\n");
  writeFile("report.PX", "someone else's index");
  writeFile("photo.jpg", "\xFF\xD8\xFF\xE0 picture");
  const QStringList before = QDir(dir->path()).entryList(QDir::Files);
  for (const char* name : {"other.db", "report.txt", "photo.jpg", "other"}) {
    for (QAction* entry : {form->N3, form->N4, form->N12, form->N13}) {
      SCOPED_TRACE(std::string(name) + " " + entry->objectName().toStdString());
      dlg.files.push_back(path(name));
      entry->trigger();
      const QStringList shown = dlg.take();
      ASSERT_EQ(shown.size(), 2);
      const QString file = path(std::string(name) == "other" ? "other.db" : name);
      EXPECT_EQ(shown[1], QStringLiteral("Файл %1 не является таблицей Paradox и не будет заменен. "
                                         "Новая база не создана: укажите другое имя файла.")
                              .arg(file));
      EXPECT_FALSE(Form4->isVisible());
      EXPECT_FALSE(Form5->isVisible());
      EXPECT_EQ(table().tableName(), open);  // the open base stays open
      EXPECT_TRUE(table().active());
    }
  }
  EXPECT_EQ(QDir(dir->path()).entryList(QDir::Files), before);
  EXPECT_EQ(readFile("report.PX"), "someone else's index");
  EXPECT_EQ(column(path("goods.db"), "PLUNO"), (std::vector<std::string>{"1", "2"}));
}

TEST_F(NewBase, CancelledDialogChangesNothing) {
  newGoods("goods.db");
  addGoods(2, "Apples", 100);
  table().last();
  dlg.files.push_back(std::nullopt);
  form->N3->trigger();
  EXPECT_EQ(dlg.take(), (QStringList{QStringLiteral("Укажите имя файла новой базы товаров."),
                                     QStringLiteral("Новая база товаров не создана.")}));
  dlg.files.push_back(std::nullopt);
  form->N4->trigger();
  EXPECT_EQ(dlg.take().last(), QStringLiteral("Новая база сообщений не создана."));
  EXPECT_TRUE(table().active());
  EXPECT_EQ(table().recordCount(), 2);
  EXPECT_EQ(table().recNo(), 2);
}

TEST_F(NewBase, MappedFieldNamesNameTheFieldsAndTheIndexes) {
  mapField(4, QStringLiteral("CENA"));   // PRICE
  mapField(2, QStringLiteral("NAIM1"));  // NAME1
  newGoods("goods.db");
  auto& t = table();
  ASSERT_TRUE(t.active());
  EXPECT_EQ(t.field(4).fieldName(), "CENA");
  EXPECT_EQ(t.field(2).fieldName(), "NAIM1");
  EXPECT_EQ(t.fieldByName("CENA").displayLabel(), ansi::A(QStringLiteral("Цена")));
  EXPECT_EQ(t.fieldByName("CENA").asInteger(), 0);

  // The indexes as the file holds them.
  storage::Table check;
  check.setTableName(t.tableName());
  check.open();
  bool price = false, name = false;
  for (const auto& ix : check.indexDefs()) {
    if (ix.name == "indPRICE") price = ix.fields == "CENA";
    if (ix.name == "indNAME1") name = ix.fields == "NAIM1;NAME2";
  }
  EXPECT_TRUE(price);
  EXPECT_TRUE(name);
  check.close();

  // The sort by price follows the map.
  form->N6->trigger();
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(t.indexFieldNames(), "CENA");
}

// A field map that cannot make a table is refused with the reason before
// anything is closed or deleted: the open table stays open and the table
// the operator agreed to replace stays as it was.
TEST_F(NewBase, AFieldMapThatCannotMakeATableIsRefusedWithTheReason) {
  newGoods("goods.db");
  newGoods("old.db");
  addGoods(2, "Apples", 100);
  ASSERT_TRUE(table().active());
  const QString open = QString::fromLocal8Bit(table().tableName().c_str());
  struct Case {
    QString name1, name2, error;
  };
  const Case cases[] = {
      {QStringLiteral("Name"), QStringLiteral("NAME"), QStringLiteral("ERROR: Повторяющееся имя поля «NAME»")},
      {QString(), QStringLiteral("NAME2"), QStringLiteral("ERROR: Не задано имя поля")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error.toStdString());
    mapField(2, c.name1);
    mapField(3, c.name2);
    for (QAction* entry : {form->N3, form->N12}) {
      dlg.files.push_back(path("goods.db"));
      dlg.answers = {dialogs::Answer::Yes};
      entry->trigger();
      EXPECT_EQ(dlg.take().last(), c.error);
      ASSERT_TRUE(table().active());
      EXPECT_EQ(QString::fromLocal8Bit(table().tableName().c_str()), open);
      EXPECT_EQ(gridRows(), 2);
      EXPECT_EQ(column(path("goods.db"), "PLUNO"), std::vector<std::string>{"1"});
      EXPECT_FALSE(Form4->isVisible());
    }
  }
  // The messages layout does not use the goods names.
  newMessages("msg.db");
  EXPECT_TRUE(table().active());
  EXPECT_EQ(gridRows(), 1);
}

// A full disk (a small memory file system in this thread's own mount
// namespace) refuses a new base with its cause, and no file is left of it.
TEST_F(NewBase, AFullDiskRefusesANewBaseWithItsCause) {
  const QByteArray disk = QFile::encodeName(path("full"));
  QDir().mkpath(path("full"));
  if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("tmpfs", disk.constData(), "tmpfs", 0, "size=16k") != 0)
    GTEST_SKIP() << "no mount namespace here";
  QFile filler(path("full/filler"));
  ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
  while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
  }
  filler.close();
  dlg.files.push_back(path("full/goods.db"));
  form->N3->trigger();
  const QStringList shown = dlg.take();
  EXPECT_EQ(QDir(path("full")).entryList(QDir::Files), QStringList{"filler"});
  ::umount2(disk.constData(), MNT_DETACH);
  ASSERT_FALSE(shown.isEmpty());
  EXPECT_EQ(shown.last(), QStringLiteral("ERROR: Не удаётся записать файл «%1»: на диске нет места").arg(path("full/goods.db")));
  EXPECT_FALSE(table().active());
}

TEST_F(NewBase, AnOrderChosenEarlierNeverKeepsANewTableClosed) {
  newGoods("goods.db");
  form->N8->trigger();  // by sales count: goods only
  ASSERT_EQ(table().indexFieldNames(), "COUNTER");
  newMessages("msg.db");
  EXPECT_TRUE(table().active());
  EXPECT_EQ(table().indexFieldNames(), "");
  EXPECT_TRUE(dlg.take().isEmpty());
}

TEST_F(NewBase, BaseCreatedUnderADbfNameOpensAgain) {
  newGoods("goods.dbf");
  ASSERT_TRUE(table().active());
  const QString file = QString::fromLocal8Bit(table().tableName().c_str());
  addGoods(2, "Apples", 100);
  newMessages("msg.db");
  openTable(file);
  EXPECT_TRUE(table().active());
  EXPECT_EQ(table().recordCount(), 2);
  EXPECT_TRUE(dlg.take().isEmpty());
}

TEST_F(NewBase, GoodsCreationLetsEventsRunTwiceMessagesCreationNever) {
  HookClock clock;
  newGoods("goods.db");
  EXPECT_EQ(clock.turns, 2);
  clock.turns = 0;
  newMessages("msg.db");
  EXPECT_EQ(clock.turns, 0);
}

TEST_F(NewBase, RecordInsertedWithTheNavigatorStartsEmpty) {
  newGoods("goods.db");
  auto* nav = find<storage::DbNavigator>("DBNavigator1");
  ASSERT_NE(nav, nullptr);
  EXPECT_EQ(nav->parentWidget(), form->NavigatorPlace);
  EXPECT_EQ(nav->button(storage::DbNavigator::Insert)->toolTip(), QStringLiteral("Вставка записи"));
  nav->click(storage::DbNavigator::Insert);
  auto& t = table();
  EXPECT_EQ(t.state(), storage::State::Insert);
  for (int i = 0; i < t.fieldCount(); ++i) EXPECT_TRUE(t.field(i).isNull()) << t.field(i).fieldName();
  EXPECT_EQ(gridRows(), 2);
}

TEST_F(NewBase, GridColumnsShowTheirWholeTitlesAndKeepTheOperatorsWidths) {
  newGoods("goods.db");
  QTableView* grid = form->DBGrid1;
  QAbstractItemModel* m = grid->model();
  ASSERT_EQ(m->columnCount(), 15);
  QFont bold = grid->horizontalHeader()->font();
  bold.setBold(true);
  const QFontMetrics title(bold), cells(grid->font());
  for (int c = 0; c < m->columnCount(); ++c) {
    const QString label = m->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_GE(grid->columnWidth(c), title.horizontalAdvance(label)) << label.toStdString();
  }
  // A name column holds its 28 characters.
  EXPECT_GE(grid->columnWidth(1), cells.horizontalAdvance(QString(28, QLatin1Char('0'))));

  // A width the operator sets survives a new record and a stored one.
  grid->horizontalHeader()->resizeSection(1, 321);
  form->DBNavigator1->click(storage::DbNavigator::Insert);
  EXPECT_EQ(grid->columnWidth(1), 321);
  table().fieldByName("PLUNO").setAsInteger(2);
  form->N10->trigger();
  EXPECT_EQ(gridRows(), 2);
  EXPECT_EQ(grid->columnWidth(1), 321);

  // Another table gets widths of its own; so does a larger grid font.
  newMessages("msg.db");
  const int before = grid->columnWidth(1);
  EXPECT_GE(before, cells.horizontalAdvance(QString(50, QLatin1Char('0'))));
  QFont big = grid->font();
  big.setPointSize(big.pointSize() * 2);
  dlg.fonts.push_back(big);
  form->ToolButton16->click();
  EXPECT_GT(grid->columnWidth(1), before);
}
