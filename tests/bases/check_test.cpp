// The base check with its Stop, the logo choice and the two renumberings.
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "bases_fixture.h"

namespace {

const QString kDone = QStringLiteral("Таблица заполнена правильно.");
const QString kStopped = QStringLiteral("Действие прервано");
const QString kNumbered = QStringLiteral("Таблица пронумерована.");

}  // namespace

class BaseCheck : public BasesTest {
 protected:
  bool progressHidden() {
    return form->ProgressBar3->isHidden() && form->Numb->isHidden() && form->Button3->isHidden();
  }
  // Goods PLU 1 (the first record) and PLU 7, 3, 9.
  QString goods() {
    newGoods("goods.db");
    addGoods(7, "Pears", 300);
    addGoods(3, "Apples", 100);
    addGoods(9, "Plums", 200);
    return QString::fromLocal8Bit(table().tableName().c_str());
  }
  QString messages(std::initializer_list<int> numbers) {
    newMessages("msg.db");
    table().cancel();
    for (int n : numbers) addMessage(n, "line");
    return QString::fromLocal8Bit(table().tableName().c_str());
  }
};

TEST_F(BaseCheck, WithoutATableEveryEntryAsksForOne) {
  form->ToolButton8->click();
  dlg.answers = {dialogs::Answer::Yes, dialogs::Answer::Yes};
  form->PLU2->trigger();
  form->MSG2->trigger();
  EXPECT_EQ(dlg.take(), (QStringList{noTable(), noTable(), noTable()}));
  EXPECT_EQ(dlg.answers.size(), 2u);  // no question was asked
}

TEST_F(BaseCheck, GoodTableEndsOnTheFirstRecordAndBadRecordStaysCurrent) {
  goods();
  table().last();
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{kDone});
  EXPECT_EQ(table().recNo(), 1);
  EXPECT_TRUE(progressHidden());
  EXPECT_EQ(form->ProgressBar3->maximum(), 4);
  EXPECT_EQ(form->Numb->text(), QStringLiteral("4"));

  addGoods(12, "Bad life", 10, "31.02.09");
  addGoods(13, "Bad price", 1000000);
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Ошибка ввода срока годности")});
  EXPECT_EQ(table().recNo(), 5);
  EXPECT_EQ(table().fieldByName("PLUNO").asInteger(), 12);
  EXPECT_TRUE(progressHidden());
}

TEST_F(BaseCheck, EmptyPluNumberFailsAndAMissingPluFieldPasses) {
  goods();
  auto& t = table();
  t.first();
  t.edit();
  t.fieldByName("MSGNO").setAsInteger(1001);
  t.post();
  t.append();
  t.fieldByName("PLUNO").setAsInteger(0);
  t.fieldByName("LIFE").setAsString("10");
  t.post();
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Ошибка ввода номера сообщения")});
  // PLUNO mapped to a wrong name reads 1; the message number still fails.
  mapField(1, QStringLiteral("NOSUCH"));
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Ошибка ввода номера сообщения")});
  t.first();
  t.edit();
  t.fieldByName("MSGNO").setAsInteger(0);
  t.post();
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{kDone});
  mapField(1, QStringLiteral("PLUNO"));
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Ошибка ввода номера PLU")});
  EXPECT_EQ(t.recNo(), 5);
}

TEST_F(BaseCheck, MessagesTableIsCheckedByItsMessageNumberOnly) {
  messages({1, 1000});
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{kDone});
  addMessage(1001, "too far");
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Ошибка ввода номера сообщения")});
  EXPECT_EQ(table().recNo(), 3);
}

TEST_F(BaseCheck, EmptyTablePassesAtOnce) {
  messages({});
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{kDone});
}

TEST_F(BaseCheck, StopEndsTheCheckWithItsMessageOnly) {
  goods();
  HookClock clock;
  bool busyDuring = false;
  clock.onTurn = [&](int turn) {
    busyDuring = form->ScaleBusy;
    if (turn == 2) {
      EXPECT_TRUE(form->Button3->isVisibleTo(form));
      form->Button3->click();
    }
  };
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{kStopped});
  EXPECT_TRUE(progressHidden());
  EXPECT_EQ(table().recNo(), 2);
  EXPECT_TRUE(busyDuring);
  EXPECT_FALSE(form->ScaleBusy);
  EXPECT_EQ(form->TransferCancelled, 1);
}

TEST_F(BaseCheck, CheckAfterAFailedOpenAsksForABase) {
  writeFile("broken.db", "not a table");
  openTable(path("broken.db"));
  form->ToolButton8->click();
  const QStringList shown = dlg.take();
  ASSERT_EQ(shown.size(), 2) << shown.join("|").toStdString();
  EXPECT_TRUE(shown[0].contains(QStringLiteral("broken.db"))) << shown[0].toStdString();
  EXPECT_EQ(shown[1], QStringLiteral("Откройте базу товаров или сообщений. Имя текущей базы не определено."));
  EXPECT_TRUE(progressHidden());
  EXPECT_FALSE(form->ScaleBusy);
}

TEST_F(BaseCheck, LogoChoiceWritesTheCurrentRecordOnly) {
  const QString file = goods();
  auto* combo = find<QComboBox>("ComboBox1");
  ASSERT_EQ(combo->count(), 3);
  EXPECT_EQ(combo->itemText(0), QStringLiteral("Отсутствует"));
  EXPECT_EQ(combo->itemText(1), QStringLiteral("Ростест"));
  table().setRecNo(2);
  combo->setCurrentIndex(2);
  emit combo->activated(2);
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(table().state(), storage::State::Browse);
  EXPECT_EQ(column(file, "LOGOTYPE"), (std::vector<std::string>{"0", "2", "", ""}));

  // A typed text selects no item and writes nothing.
  combo->setEditText(QStringLiteral("5"));
  combo->setCurrentIndex(-1);
  emit combo->activated(-1);
  EXPECT_EQ(column(file, "LOGOTYPE")[1], "2");

  // A messages table has no logo field: nothing changes, nothing is shown.
  const QString msgs = messages({3});
  combo->setCurrentIndex(1);
  emit combo->activated(1);
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(table().state(), storage::State::Browse);
  EXPECT_EQ(column(msgs, "MSGNO"), std::vector<std::string>{"3"});
}

TEST_F(BaseCheck, PluRenumberingNumbersTheCurrentOrder) {
  const QString file = goods();
  form->N5->trigger();  // by name: Apples(3), Pears(7), Plums(9), then PLU 1 with no name first
  dlg.answers = {dialogs::Answer::No};
  form->PLU2->trigger();
  ASSERT_EQ(dlg.take().size(), 1);
  EXPECT_EQ(column(file, "PLUNO"), (std::vector<std::string>{"1", "7", "3", "9"}));

  dlg.answers = {dialogs::Answer::Yes};
  form->PLU2->trigger();
  const QStringList shown = dlg.take();
  ASSERT_EQ(shown.size(), 2);
  EXPECT_EQ(shown[0], QStringLiteral("?: ВНИМАНИЕ !\r\nНомера ячеек PLU будут изменены в "
                                     "соответствии с номером строки таблицы.\r\nПродолжить ?"));
  EXPECT_EQ(shown[1], kNumbered);
  // File order: first record, Pears, Apples, Plums.
  EXPECT_EQ(column(file, "PLUNO"), (std::vector<std::string>{"1", "3", "2", "4"}));
  EXPECT_EQ(table().recNo(), 1);
  EXPECT_TRUE(form->Button3->isHidden());
}

TEST_F(BaseCheck, PluRenumberingInAnOrderByPluItselfReachesEveryRecord) {
  const QString file = goods();
  auto& t = table();
  for (t.first(); !t.eof(); t.next()) {
    t.edit();
    t.fieldByName("PLUNO").setAsInteger(50);
    t.post();
  }
  form->PLU1->trigger();
  dlg.answers = {dialogs::Answer::Yes};
  form->PLU2->trigger();
  EXPECT_EQ(dlg.take().last(), kNumbered);
  std::vector<std::string> plus = column(file, "PLUNO");
  std::sort(plus.begin(), plus.end());
  EXPECT_EQ(plus, (std::vector<std::string>{"1", "2", "3", "4"}));
}

TEST_F(BaseCheck, PluRenumberingOfAMessagesTableChangesNothing) {
  const QString file = messages({5, 6});
  dlg.answers = {dialogs::Answer::Yes};
  form->PLU2->trigger();
  EXPECT_EQ(dlg.take().last(), QStringLiteral("Таблица не содержит номеров PLU."));
  EXPECT_EQ(column(file, "MSGNO"), (std::vector<std::string>{"5", "6"}));
  EXPECT_EQ(table().state(), storage::State::Browse);
  EXPECT_TRUE(form->Button3->isHidden());
}

TEST_F(BaseCheck, MessageRenumberingRefusesGoodsTablesAndNumbersMessages) {
  const QString file = goods();
  dlg.answers = {dialogs::Answer::Yes};
  form->MSG2->trigger();
  EXPECT_EQ(dlg.take().last(),
            QStringLiteral("Изменить по номеру MSG можно только таблицу MSG, а не таблицу товаров."));
  EXPECT_EQ(column(file, "MSGNO"), (std::vector<std::string>{"0", "0", "0", "0"}));

  // Even an empty goods table is refused.
  newGoods("empty.db");
  table().deleteRecord();
  ASSERT_EQ(table().recordCount(), 0);
  dlg.answers = {dialogs::Answer::Yes};
  form->MSG2->trigger();
  EXPECT_EQ(dlg.take().last(),
            QStringLiteral("Изменить по номеру MSG можно только таблицу MSG, а не таблицу товаров."));

  const QString msgs = messages({40, 7, 12});
  form->MSG1->trigger();  // 7, 12, 40
  dlg.answers = {dialogs::Answer::Yes};
  form->MSG2->trigger();
  const QStringList shown = dlg.take();
  EXPECT_EQ(shown[0], QStringLiteral("?: ВНИМАНИЕ !\r\nНомера MSG будут изменены в соответствии с "
                                     "номером строки таблицы.\r\nПродолжить ?"));
  EXPECT_EQ(shown.last(), kNumbered);
  EXPECT_EQ(column(msgs, "MSGNO"), (std::vector<std::string>{"3", "1", "2"}));
}

TEST_F(BaseCheck, StopDuringRenumberingKeepsTheNumbersGivenSoFar) {
  const QString file = messages({40, 30, 20, 10});
  HookClock clock;
  clock.onTurn = [&](int turn) {
    if (turn == 3) form->Button3->click();
  };
  dlg.answers = {dialogs::Answer::Yes};
  form->MSG2->trigger();
  EXPECT_EQ(dlg.take().last(), kStopped);
  EXPECT_EQ(column(file, "MSGNO"), (std::vector<std::string>{"1", "2", "20", "10"}));
  EXPECT_TRUE(form->Button3->isHidden());
  EXPECT_FALSE(form->ScaleBusy);
}

TEST_F(BaseCheck, CheckAndRenumberingMessagesAreInformationBoxes) {
  MessageKinds kinds(dlg);
  const std::vector<dialogs::Kind> oneInfo{dialogs::Kind::Information};
  form->ToolButton8->click();  // no table yet
  EXPECT_EQ(kinds.take(), oneInfo);
  // The creation entries show plain boxes.
  dlg.files.push_back(std::nullopt);
  form->N3->trigger();
  EXPECT_EQ(kinds.take(), (std::vector<dialogs::Kind>{dialogs::Kind::Plain, dialogs::Kind::Plain}));

  goods();
  kinds.take();
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{kDone});
  EXPECT_EQ(kinds.take(), oneInfo);
  addGoods(12, "Bad life", 10, "1.13.09");
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("Ошибка ввода срока годности")});
  EXPECT_EQ(kinds.take(), oneInfo);
  dlg.answers = {dialogs::Answer::Yes, dialogs::Answer::Yes};
  form->MSG2->trigger();
  form->PLU2->trigger();
  EXPECT_EQ(dlg.take().last(), kNumbered);
  EXPECT_EQ(kinds.take(), (std::vector<dialogs::Kind>{dialogs::Kind::Information, dialogs::Kind::Information}));
  HookClock clock;
  clock.onTurn = [&](int) { form->Button3->click(); };
  form->ToolButton8->click();
  EXPECT_EQ(dlg.take(), QStringList{kStopped});
  EXPECT_EQ(kinds.take(), oneInfo);
}

TEST_F(BaseCheck, LogoChoiceOnARecordBeingTypedKeepsWhatWasTyped) {
  const QString file = goods();
  auto* combo = find<QComboBox>("ComboBox1");
  auto& t = table();
  // A new record with a name but no PLU number cannot be stored: it stays
  // pending with its name, without the logo number, and the reason is shown.
  t.insert();
  t.fieldByName("NAME1").setAsString("typed");
  combo->setCurrentIndex(2);
  emit combo->activated(2);
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("ERROR: Поле «PLUNO» должно быть заполнено")});
  EXPECT_EQ(combo->currentIndex(), 0);
  ASSERT_EQ(t.state(), storage::State::Insert);
  EXPECT_EQ(t.fieldByName("NAME1").asString(), "typed");
  EXPECT_TRUE(t.fieldByName("LOGOTYPE").isNull());
  t.fieldByName("PLUNO").setAsInteger(44);
  form->N10->trigger();
  EXPECT_EQ(column(file, "NAME1").back(), "typed");
  EXPECT_EQ(column(file, "LOGOTYPE").back(), "");

  // An edited record whose change is stored with the logo number.
  t.first();
  t.edit();
  t.fieldByName("PRICE").setAsInteger(77);
  combo->setCurrentIndex(2);
  emit combo->activated(2);
  EXPECT_EQ(t.state(), storage::State::Browse);
  EXPECT_EQ(column(file, "PRICE")[0], "77");
  EXPECT_EQ(column(file, "LOGOTYPE")[0], "2");

  // A new record in which nothing was typed is dropped, with the reason.
  t.insert();
  combo->setCurrentIndex(1);
  emit combo->activated(1);
  EXPECT_EQ(t.state(), storage::State::Browse);
  EXPECT_EQ(t.recordCount(), 5);
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("ERROR: Поле «PLUNO» должно быть заполнено")});
}

TEST_F(BaseCheck, WhileALoopRunsAnotherLoopOrANewTableIsRefused) {
  const QString file = goods();
  const size_t requests = dlg.fileRequests.size();
  HookClock clock;
  bool stopShown = false;
  clock.onTurn = [&](int turn) {
    if (turn != 2) return;
    // Pressed while the check runs: nothing starts, nothing is asked.
    form->ToolButton8->click();
    dlg.answers = {dialogs::Answer::Yes};
    form->PLU2->trigger();
    form->MSG2->trigger();
    form->N3->trigger();
    form->N4->trigger();
    form->ToolButton2->click();
    form->N11->trigger();
    EXPECT_EQ(dlg.answers.size(), 1u);
    EXPECT_EQ(dlg.fileRequests.size(), requests);
    // The running check keeps its Stop button and its table.
    stopShown = form->Button3->isVisibleTo(form) && form->ProgressBar3->isVisibleTo(form);
    form->Button3->click();
  };
  form->ToolButton8->click();
  EXPECT_TRUE(stopShown);
  EXPECT_EQ(dlg.take(), QStringList{kStopped});
  EXPECT_EQ(QString::fromLocal8Bit(table().tableName().c_str()), file);
  EXPECT_EQ(column(file, "PLUNO"), (std::vector<std::string>{"1", "7", "3", "9"}));
  EXPECT_FALSE(form->ScaleBusy);
  dlg.answers.clear();
}
