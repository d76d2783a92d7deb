// Opening, saving, renaming, the grid font and the sort entries.
#include <QComboBox>
#include <QTabWidget>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sched.h>
#include <iostream>
#include <optional>
#include <map>

#include "bases_fixture.h"
#include "storage/file_lock.h"
#include "support/file_access.h"

namespace {

// Copies the sample tables into dir (the originals are never opened).
void copyTree(const QString& from, const QString& to) {
  QDir().mkpath(to);
  for (const QFileInfo& fi : QDir(from).entryInfoList(QDir::Files)) {
    const QString dst = to + "/" + fi.fileName();
    QFile::copy(fi.absoluteFilePath(), dst);
    QFile(dst).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  }
}

QString sortMessage(const QString& name) {
  return QStringLiteral("Поле ") + name +
         QStringLiteral(" отсутствует в выбранной базе данных или не проиндксировано. Проверьте "
                        "настройку совместимости полей БД или не пользуйтесь данной функцией "
                        "сортировки.");
}

}  // namespace

class OpenBase : public BasesTest {
 protected:
  // A goods base with four records besides the first: PLU 1 (empty name),
  // 7 "Pears", 3 "apples", 9 "Apples" with NAME2 "b", 5 "Apples" with "a".
  QString goodsBase() {
    newGoods("goods.db");
    addGoods(7, "Pears", 300);
    addGoods(3, "apples", 100);
    auto& t = table();
    t.append();
    t.fieldByName("PLUNO").setAsInteger(9);
    t.fieldByName("NAME1").setAsString("Apples");
    t.fieldByName("NAME2").setAsString("b");
    t.post();
    t.append();
    t.fieldByName("PLUNO").setAsInteger(5);
    t.fieldByName("NAME1").setAsString("Apples");
    t.fieldByName("NAME2").setAsString("a");
    t.post();
    return QString::fromLocal8Bit(t.tableName().c_str());
  }
  QString messagesBase() {
    newMessages("msg.db");
    form->N10->trigger();
    addMessage(4, "four");
    return QString::fromLocal8Bit(table().tableName().c_str());
  }
};

TEST_F(OpenBase, EveryTableOfTheSampleSetShowsItsRecords) {
  const QString root = QStringLiteral(KMS_TESTDATA_DIR "/tables");
  copyTree(root + "/paradox", path("paradox"));
  copyTree(root + "/dbase", path("dbase"));
  const std::map<QString, int> expected = {
      {"paradox/C.DB", 3},         {"paradox/NOTE1251.DB", 2}, {"paradox/STATES.DB", 53},
      {"paradox/TypSammlung.DB", 5}, {"paradox/bcd.db", 3},    {"paradox/case.db", 1},
      {"paradox/date35.db", 3},    {"paradox/date4.db", 3},    {"paradox/fk4.db", 2},
      {"paradox/indexed.db", 0},   {"paradox/memo.db", 2},     {"paradox/primary.db", 0},
      {"paradox/timestamp.db", 2}, {"dbase/PYACFL.DBF", 15},   {"dbase/cars.dbf", 4},
      {"dbase/cp1251.dbf", 4},     {"dbase/dbase_03.dbf", 14}, {"dbase/dbase_83.dbf", 67},
      {"dbase/dbase_8b.dbf", 10},
  };
  // A goods base first, so that the open entry must choose the format itself.
  newGoods("goods.db");
  for (const auto& [name, rows] : expected) {
    openTable(path(name));
    EXPECT_TRUE(table().active()) << name.toStdString();
    EXPECT_EQ(gridRows(), rows) << name.toStdString();
    EXPECT_EQ(table().recordCount(), rows) << name.toStdString();
    if (rows > 0) {
      const QModelIndex first = form->DBGrid1->model()->index(0, 0);
      EXPECT_TRUE(first.isValid()) << name.toStdString();
    }
  }
  EXPECT_TRUE(dlg.take().isEmpty());
}

TEST_F(OpenBase, OpenedGoodsTableGetsItsDisplaySettings) {
  const QString file = goodsBase();
  table().close();
  openTable(file);
  auto& t = table();
  ASSERT_TRUE(t.active());
  EXPECT_EQ(t.recordCount(), 5);
  EXPECT_EQ(t.recNo(), 1);
  EXPECT_FALSE(t.fieldByName("NO").visible());
  EXPECT_TRUE(t.fieldByName("COUNTER").readOnly());
  EXPECT_EQ(gridTitles().first(), QStringLiteral("Номер PLU"));
  EXPECT_EQ(gridRows(), 5);
}

TEST_F(OpenBase, UnreadableFilesAreRefusedWithTheirReasonAndTheOpenBaseStays) {
  const QString good = goodsBase();
  const std::string real = readFile("goods.db");
  ASSERT_GT(real.size(), 200u);
  writeFile("truncated.db", real.substr(0, 100));
  std::string corrupt = real;
  for (size_t i = 0; i < corrupt.size(); i += 7) corrupt[i] = char(0xA5 ^ i);
  writeFile("corrupt.db", corrupt);
  writeFile("text.dbf", "PLUNO;NAME1\r\n1;Apples\r\n");
  writeFile("empty.db", "");
  writeFile("dbase_as_paradox.db", std::string("\x03\x7c\x01\x01", 4) + std::string(60, '\0'));
  QDir().mkpath(path("folder.db"));
  const QStringList bad = {path("truncated.db"), path("corrupt.db"), path("text.dbf"),
                           path("empty.db"), path("dbase_as_paradox.db"), path("folder.db"),
                           path("missing.db")};
  for (const QString& f : bad) {
    table().setRecNo(4);
    openTable(f);
    const QStringList shown = dlg.take();
    ASSERT_EQ(shown.size(), 1) << f.toStdString();
    EXPECT_TRUE(shown[0].contains(QFileInfo(f).fileName())) << shown[0].toStdString();
    EXPECT_TRUE(table().active()) << f.toStdString();
    EXPECT_EQ(QString::fromLocal8Bit(table().tableName().c_str()), good);
    EXPECT_EQ(gridRows(), 5) << f.toStdString();
    EXPECT_EQ(form->DBGrid1->currentIndex().row(), 3);  // on the record the operator was on
    // The other entries go on working after the refusal.
    form->N10->trigger();
    form->PLU1->trigger();
    dlg.files.push_back(std::nullopt);
    form->N11->trigger();
    dlg.take();
  }
  openTable(good);
  EXPECT_TRUE(table().active());
  EXPECT_EQ(gridRows(), 5);

  // The open base's file gone meanwhile: the refusal says that it could not
  // be opened again, and why.
  ASSERT_TRUE(QFile::remove(good));
  openTable(path("missing.db"));
  const QStringList shown = dlg.take();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_TRUE(shown[0].contains("missing.db")) << shown[0].toStdString();
  EXPECT_TRUE(shown[0].contains(QStringLiteral("База ") + good + QStringLiteral(", которая была открыта, не открыта снова: ")))
      << shown[0].toStdString();
  EXPECT_FALSE(table().active());
}

TEST_F(OpenBase, CancelledOpenLeavesTableOrderAndPendingRecordAlone) {
  goodsBase();
  form->N5->trigger();
  auto& t = table();
  t.insert();
  t.fieldByName("NAME1").setAsString("typed");
  dlg.files.push_back(std::nullopt);
  form->ToolButton2->click();
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(t.indexFieldNames(), "NAME1");
  EXPECT_EQ(t.state(), storage::State::Insert);
  EXPECT_EQ(t.fieldByName("NAME1").asString(), "typed");
}

TEST_F(OpenBase, PendingRecordThatCannotBeStoredKeepsTheOldTableOpen) {
  const QString goods = goodsBase();
  const QString msgs = messagesBase();
  openTable(goods);
  auto& t = table();
  t.insert();
  t.fieldByName("NAME1").setAsString("no number");  // PLUNO is required
  openTable(msgs);
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("ERROR: Поле «PLUNO» должно быть заполнено")});
  EXPECT_EQ(QString::fromLocal8Bit(t.tableName().c_str()), goods);
  EXPECT_TRUE(t.active());
  EXPECT_EQ(t.state(), storage::State::Insert);

  // An untouched new record is dropped and the opening goes on.
  t.cancel();
  t.insert();
  openTable(msgs);
  EXPECT_EQ(QString::fromLocal8Bit(t.tableName().c_str()), msgs);
  EXPECT_EQ(t.recordCount(), 2);
  EXPECT_EQ(column(goods, "PLUNO").size(), 5u);
}

TEST_F(OpenBase, InitialDirectoryFollowsThePickedScale) {
  std::vector<std::array<std::string, 9>> rows(4);
  rows[0][1] = "A", rows[0][6] = "D:\\Base\\tovar.db";
  rows[1][1] = "B", rows[1][6] = "E:\\goods.db";
  rows[2][1] = "C", rows[2][6] = "goods.db";
  rows[3][1] = "D", rows[3][6] = "/srv/shop/goods.db";
  form->setConfigRows(rows);
  form->SpeedButton26Click();
  auto* combo = find<QComboBox>("ComboBox2");
  auto dirAfterPick = [&](int index) {
    combo->setCurrentIndex(index);
    dlg.files.push_back(std::nullopt);
    form->ToolButton2->click();
    return dlg.fileRequests.back().initialDir;
  };
  EXPECT_EQ(dirAfterPick(0), QStringLiteral("D:\\Base"));
  EXPECT_EQ(dirAfterPick(1), QStringLiteral("E:"));
  EXPECT_EQ(dirAfterPick(3), QStringLiteral("/srv/shop"));
  EXPECT_EQ(dirAfterPick(2), QString());
  EXPECT_EQ(dirAfterPick(0), QStringLiteral("D:\\Base"));
  // A change of page and back clears the pick while the name stays shown:
  // the directory stays as it was.
  EXPECT_EQ(dirAfterPick(1), QStringLiteral("E:"));
  combo->setCurrentIndex(0);
  form->PageControl1->setCurrentWidget(form->TabSheet2);
  form->PageControl1->setCurrentWidget(form->TabSheet1);
  ASSERT_EQ(combo->currentText(), QStringLiteral("A"));
  dlg.files.push_back(std::nullopt);
  form->ToolButton2->click();
  EXPECT_EQ(dlg.fileRequests.back().initialDir, QStringLiteral("E:"));
  EXPECT_EQ(dirAfterPick(0), QStringLiteral("D:\\Base"));
  EXPECT_EQ(dirAfterPick(-1), QStringLiteral("D:\\Base"));
  EXPECT_EQ(dlg.fileRequests.back().title, QStringLiteral("Открытие базы товаров или сообщений"));
  EXPECT_TRUE(dlg.take().isEmpty());
}

TEST_F(OpenBase, SaveStoresAChangedRecordOrSaysWhyAndIsSilentWithoutATable) {
  form->N10->trigger();
  EXPECT_TRUE(dlg.take().isEmpty());
  const QString file = goodsBase();
  auto& t = table();
  t.first();
  t.edit();
  t.fieldByName("PRICE").setAsInteger(4242);
  form->N10->trigger();
  EXPECT_EQ(t.state(), storage::State::Browse);
  EXPECT_EQ(column(file, "PRICE")[0], "4242");
  // A record that cannot be stored stays pending, with the reason.
  t.append();
  t.fieldByName("NAME1").setAsString("no number");
  form->N10->trigger();
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("ERROR: Поле «PLUNO» должно быть заполнено")});
  EXPECT_EQ(t.state(), storage::State::Insert);
}

TEST_F(OpenBase, RenameMovesTheTableAndShowsTheRawFields) {
  const QString file = goodsBase();
  dlg.files.push_back(path("renamed.db"));
  form->N11->trigger();
  EXPECT_TRUE(dlg.take().isEmpty());
  auto& t = table();
  ASSERT_TRUE(t.active());
  EXPECT_EQ(QFileInfo(QString::fromLocal8Bit(t.tableName().c_str())).fileName(),
            QStringLiteral("renamed.db"));
  EXPECT_FALSE(QFileInfo::exists(file));
  EXPECT_EQ(t.recordCount(), 5);
  EXPECT_TRUE(t.fieldByName("NO").visible());
  EXPECT_FALSE(t.fieldByName("COUNTER").readOnly());
  EXPECT_EQ(gridTitles().first(), QStringLiteral("NO"));
  EXPECT_EQ(gridTitles()[1], QStringLiteral("PLUNO"));
  // "Применить" gives the settings back.
  form->Button22->click();
  EXPECT_EQ(gridTitles().first(), QStringLiteral("Номер PLU"));
}

// A rename onto another table is checked whole before anything is deleted
// or closed: refused, it says why, and both tables stay as they were, the
// open one open. A name that holds no table of the open table's kind is
// refused with a message, the file left alone.
TEST_F(OpenBase, RenameThatWouldReplaceIsCheckedBeforeAnythingIsDeleted) {
  newGoods("old.db");
  for (int plu = 2; plu <= 5; ++plu) addGoods(plu, "old", plu);
  const QString goods = goodsBase();
  const QString old = path("old.db");
  const std::vector<std::string> oldPlus = {"1", "2", "3", "4", "5"};
  writeFile("notes.db", "not a table");
  ASSERT_TRUE(QFile::copy(QStringLiteral(KMS_TESTDATA_DIR "/tables/dbase/dbase_03.dbf"), path("other.dbf")));
  const QString asked = QStringLiteral("?: ВНИМАНИЕ !\r\nФайл %1 уже существует.\r\nВсе записи этой "
                                       "базы будут удалены.\r\nПродолжить ?");
  const QString held = QStringLiteral("ERROR: Таблица «%1» открыта для записи другим пользователем или программой");
  const QString notTable = QStringLiteral("Файл %1 не является таблицей Paradox и не будет заменен. "
                                          "База не переименована: укажите другое имя файла.");
  struct Case {
    QString target, lockedFile;  // the new name; a table another program holds for writing
    QStringList shown;
    bool wholeFile = false;  // held with a lock over the whole file, not asked about
  };
  const Case cases[] = {
      {old, goods, {asked.arg(old), held.arg(goods)}},
      {old, old, {asked.arg(old), held.arg(old)}},
      {old, old, {held.arg(old)}, true},
      {path("notes.db"), {}, {notTable.arg(path("notes.db"))}},
      {path("other.dbf"), {}, {notTable.arg(path("other.dbf"))}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target.toStdString() + " " + c.lockedFile.toStdString());
    storage::FileLock other;
    std::optional<WholeFileLock> whole;
    if (c.wholeFile) {
      whole.emplace(c.lockedFile);
      ASSERT_TRUE(whole->held());
    }
    if (c.lockedFile == goods) table().close();
    if (!c.lockedFile.isEmpty() && !c.wholeFile) {
      ASSERT_EQ(other.acquire(QFile::encodeName(c.lockedFile).toStdString()), storage::FileLock::Result::Locked);
    }
    if (c.lockedFile == goods) {
      openTable(goods);  // read-only: the other program writes it
      dlg.take();
    }
    const std::string notesBytes = readFile("notes.db");
    dlg.files.push_back(c.target);
    dlg.answers = {dialogs::Answer::Yes};
    form->N11->trigger();
    EXPECT_EQ(dlg.take(), c.shown);
    ASSERT_TRUE(table().active());
    EXPECT_EQ(QString::fromLocal8Bit(table().tableName().c_str()), goods);
    EXPECT_EQ(table().recordCount(), 5);
    other.release();
    whole.reset();
    EXPECT_EQ(column(old, "PLUNO"), oldPlus);
    EXPECT_EQ(column(goods, "PLUNO").size(), 5u);
    EXPECT_EQ(readFile("notes.db"), notesBytes);
    EXPECT_TRUE(QFileInfo::exists(path("other.dbf")));
  }

  // The rename itself refused by the system, once the replaced table is set
  // aside: the open table's folder not writable by this user (EACCES), and
  // the new name in a bind mount of the same disk (EXDEV). Both tables stay.
  QDir().mkpath(path("w"));
  const QString rejected = QStringLiteral("ERROR: Не удаётся переименовать файл «%1»: %2");
  for (const bool crossMount : {false, true}) {
    SCOPED_TRACE(crossMount ? "bind mount" : "folder not writable");
    for (const QFileInfo& f : QDir(dir->path()).entryInfoList({"old.*"}, QDir::Files)) {
      QFile::remove(path("w/" + f.fileName()));
      ASSERT_TRUE(QFile::copy(f.filePath(), path("w/" + f.fileName())));
    }
    QString target = path("w/old.db");
    std::optional<WithoutFileOverride> ordinaryUser;
    if (crossMount) {
      QDir().mkpath(path("b"));
      // A mount namespace of this thread's own keeps the mount from the rest of the system.
      if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          ::mount(QFile::encodeName(path("w")).constData(), QFile::encodeName(path("b")).constData(), nullptr,
                  MS_BIND, nullptr) != 0) {
        std::cout << "[  SKIPPED ] no bind mount here\n";
        continue;
      }
      target = path("b/old.db");
    } else {
      QFile(dir->path()).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
      ordinaryUser.emplace();
      ASSERT_TRUE(ordinaryUser->ok());
    }
    dlg.files.push_back(target);
    dlg.answers = {dialogs::Answer::Yes};
    form->N11->trigger();
    ordinaryUser.reset();
    if (crossMount) ::umount(QFile::encodeName(path("b")).constData());
    QFile(dir->path()).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString why = crossMount ? "новое имя находится на другом диске или в другой точке монтирования"
                                   : "нет прав доступа";
    EXPECT_EQ(dlg.take(), (QStringList{asked.arg(target), rejected.arg(goods, why)}));
    const QString kept = path("w/old.db");  // the same files, seen outside the mount
    EXPECT_EQ(QFileInfo::exists(kept) ? column(kept, "PLUNO") : std::vector<std::string>{}, oldPlus);
    ASSERT_TRUE(table().active());
    EXPECT_EQ(QString::fromLocal8Bit(table().tableName().c_str()), goods);
    EXPECT_EQ(table().recordCount(), 5);
    EXPECT_FALSE(table().fieldByName("NO").visible());  // shown as it was
    EXPECT_TRUE(QDir(path("w")).entryList({"*-replaced*"}).isEmpty());
  }
}

TEST_F(OpenBase, RenameOntoATableOnAnotherDiskIsRefusedBeforeItIsDeleted) {
  // A memory file system stands in for the other disk.
  QTemporaryDir shm(QStringLiteral("/dev/shm/kms-XXXXXX"));
  struct stat here {}, there {};
  if (!shm.isValid() || ::stat(QFile::encodeName(path("")).constData(), &here) != 0 ||
      ::stat(QFile::encodeName(shm.path()).constData(), &there) != 0 || here.st_dev == there.st_dev)
    GTEST_SKIP() << "no second file system at /dev/shm";
  const QString far = shm.path() + "/far.db";
  dlg.files.push_back(far);
  form->N3->trigger();
  dlg.take();
  const std::vector<std::string> farPlus = column(far, "PLUNO");
  const QString goods = goodsBase();
  dlg.files.push_back(far);
  dlg.answers = {dialogs::Answer::Yes};
  form->N11->trigger();
  const QStringList shown = dlg.take();
  ASSERT_EQ(shown.size(), 2);
  EXPECT_TRUE(shown[1].endsWith(QStringLiteral("новое имя указывает на другой диск"))) << shown[1].toStdString();
  EXPECT_EQ(column(far, "PLUNO"), farPlus);
  ASSERT_TRUE(table().active());
  EXPECT_EQ(QString::fromLocal8Bit(table().tableName().c_str()), goods);
  EXPECT_EQ(table().recordCount(), 5);
}

TEST_F(OpenBase, FontDialogSetsTheGridFont) {
  QFont f(QStringLiteral("Courier"), 17);
  dlg.fonts.push_back(f);
  form->ToolButton16->click();
  EXPECT_EQ(form->DBGrid1->font().pointSize(), 17);
  dlg.fonts.push_back(std::nullopt);
  form->ToolButton16->click();
  EXPECT_EQ(form->DBGrid1->font().pointSize(), 17);
}

TEST_F(OpenBase, SortsOrderByTheMappedFieldOrShowTheirMessage) {
  goodsBase();
  auto& t = table();
  form->N5->trigger();  // by NAME1 then NAME2, ignoring case
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(shownColumn("PLUNO"), (std::vector<std::string>{"1", "3", "5", "9", "7"}));
  form->PLU1->trigger();
  EXPECT_EQ(shownColumn("PLUNO"), (std::vector<std::string>{"1", "3", "5", "7", "9"}));
  form->N6->trigger();
  EXPECT_EQ(t.indexFieldNames(), "PRICE");
  form->N7->trigger();
  form->N8->trigger();
  form->MSG1->trigger();
  EXPECT_EQ(t.indexFieldNames(), "MSGNO");
  EXPECT_TRUE(dlg.take().isEmpty());

  // A logical field mapped to an empty name: the primary order, no message.
  mapField(1, QString());
  form->PLU1->trigger();
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(t.indexFieldNames(), "");
  EXPECT_EQ(shownColumn("PLUNO"), (std::vector<std::string>{"1", "7", "3", "9", "5"}));

  // A messages table has no PLU number: the message names the mapped field.
  mapField(1, QStringLiteral("PLUNO"));
  messagesBase();
  form->MSG1->trigger();
  ASSERT_EQ(t.indexFieldNames(), "MSGNO");
  form->PLU1->trigger();
  EXPECT_EQ(dlg.take(), QStringList{sortMessage(QStringLiteral("PLUNO"))});
  mapField(1, QStringLiteral("NOMER"));
  form->PLU1->trigger();
  EXPECT_EQ(dlg.take(), QStringList{sortMessage(QStringLiteral("NOMER"))});
  EXPECT_EQ(t.indexFieldNames(), "MSGNO");
}

TEST_F(OpenBase, SortWithoutATableIsOnlyRecordedAndOpenClearsIt) {
  form->N5->trigger();
  EXPECT_TRUE(dlg.take().isEmpty());
  const QString file = goodsBase();
  table().close();
  form->N5->trigger();
  openTable(file);
  EXPECT_EQ(table().indexFieldNames(), "");
}

TEST_F(OpenBase, TableHeldByAnotherWriterOpensForReadingOnly) {
  const QString file = goodsBase();
  table().close();
  storage::FileLock other;
  ASSERT_EQ(other.acquire(QFile::encodeName(file).toStdString()), storage::FileLock::Result::Locked);
  openTable(file);
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("База данных открыта только для чтения: её изменяет другой пользователь или программа.")});
  ASSERT_TRUE(table().active());
  EXPECT_TRUE(table().readOnly());
  EXPECT_EQ(gridRows(), 5);
  // Entries that write give their own failure and change nothing.
  dlg.answers = {dialogs::Answer::Yes};
  form->PLU2->trigger();
  EXPECT_EQ(dlg.take().last(), QStringLiteral("Таблица не содержит номеров PLU."));
  form->ComboBox1->setCurrentIndex(2);
  emit form->ComboBox1->activated(2);
  const QStringList refused = dlg.take();
  ASSERT_EQ(refused.size(), 1);
  EXPECT_TRUE(refused[0].startsWith(QStringLiteral("ERROR: Изменение невозможно"))) << refused[0].toStdString();
  EXPECT_EQ(form->ComboBox1->currentIndex(), 0);
  form->ToolButton8->click();  // the check reads: two records lack a shelf life
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Ошибка ввода срока годности")});
  EXPECT_EQ(table().recNo(), 4);
  EXPECT_EQ(table().state(), storage::State::Browse);
  other.release();
  EXPECT_EQ(column(file, "PLUNO"), (std::vector<std::string>{"1", "7", "3", "9", "5"}));
  EXPECT_EQ(column(file, "LOGOTYPE")[0], "0");
  // Held with a lock over the whole file, it cannot be read: refused at once
  // as held, and the open base stays.
  newGoods("other.db");
  WholeFileLock whole(file);
  ASSERT_TRUE(whole.held());
  openTable(file);
  EXPECT_EQ(dlg.take(), QStringList{"ERROR: Таблица «" + file + "» открыта для записи другим пользователем или программой: прочитать её не удалось"});
  EXPECT_EQ(table().tableName(), path("other.db").toStdString());
}

TEST_F(OpenBase, SortIsRefusedWhileALoopWalksTheTable) {
  goodsBase();
  form->ScaleBusy = true;  // a transfer, check or renumbering runs
  form->N5->trigger();
  EXPECT_EQ(table().indexFieldNames(), "");
  EXPECT_TRUE(dlg.take().isEmpty());
  form->ScaleBusy = false;
  form->N5->trigger();
  EXPECT_EQ(table().indexFieldNames(), "NAME1");
}
