// The sub-page "Дата и время" against the emulated scale.
#include <QDateTimeEdit>

#include "settings_fixture.h"

namespace {

const QString kWritten = QStringLiteral("Запись даты и времени произведена.");
const QString kFailed = QStringLiteral("Ошибка обмена. Повторите еще раз.");
const QString kNoData = QStringLiteral(
    "Ошибка обмена. Линия связи исправна. Проверьте работоспособность весов или перезагрузите программу.");

class DatePage : public SettingsTest {
 protected:
  // Unticks "Загрузить дату и время компьютера" and sets both fields.
  void setFields(QDate date, QTime time) {
    form->CheckBox12->setChecked(false);
    form->DateTimePicker1->setDate(date);
    form->DateTimePicker2->setTime(time);
  }
};

TEST_F(DatePage, WritesTheDateThenTheTimeOfTheFields) {
  setFields(QDate(2026, 12, 6), QTime(9, 5, 7));
  form->Button5->click();
  EXPECT_EQ(dlg.take(), QStringList{kWritten});
  EXPECT_EQ(commands(), exchanges({0x99, 0x9A}));
  EXPECT_EQ(scale.requestsOf(0x99), std::vector<std::string>{bytes({0x99, 0, 6, 1, 2, 202, 6})});
  EXPECT_EQ(scale.requestsOf(0x9A), std::vector<std::string>{bytes({0x9A, 0, 9, 0, 5, 0, 7})});
  // Ping and the two handshakes: no pause between the commands.
  EXPECT_EQ(clk.pauses, (std::vector<int>{50, 50, 50}));
  EXPECT_TRUE(form->TcpClient1.Connected());

  setFields(QDate(1999, 1, 31), QTime(23, 59, 0));
  form->Button5->click();
  EXPECT_EQ(scale.lastDate(), bytes({3, 1, 0, 1, 199, 9}));
  EXPECT_EQ(scale.lastTime(), bytes({2, 3, 5, 9, 0, 0}));
}

TEST_F(DatePage, FixedFormsWhateverTheDesktopLocale) {
  for (const QLocale& l : {QLocale(QLocale::English, QLocale::UnitedStates), QLocale(QLocale::German, QLocale::Germany),
                           QLocale(QLocale::Japanese, QLocale::Japan)}) {
    QLocale::setDefault(l);
    stop();
    start();
    configure(std::to_string(kScale));
    form->Edit32->setText(QString::number(kTimeOut));
    form->ComboBox3->setEditText(name());
    setFields(QDate(2026, 12, 6), QTime(21, 5, 7));
    EXPECT_EQ(form->DateTimePicker1->text(), "06.12.2026");
    EXPECT_EQ(form->DateTimePicker2->text(), "21:05:07");
    form->Button5->click();
    EXPECT_EQ(dlg.take(), QStringList{kWritten}) << l.name().toStdString();
    EXPECT_EQ(scale.lastDate(), bytes({0, 6, 1, 2, 202, 6}));
    EXPECT_EQ(scale.lastTime(), bytes({2, 1, 0, 5, 0, 7}));
  }
}

TEST_F(DatePage, TickedBoxTakesTheComputerClockAtEachClick) {
  EXPECT_TRUE(form->CheckBox12->isChecked());
  form->DateTimePicker1->setDate(QDate(2000, 1, 1));
  form->DateTimePicker2->setTime(QTime(1, 1, 1));
  form->ComboBox3->setEditText(QStringLiteral("нет таких"));
  form->Button5->click();
  EXPECT_EQ(dlg.take(), QStringList{msg::unknown("Для записи даты и времени")});
  EXPECT_EQ(form->DateTimePicker1->date(), QDate(2026, 12, 6));
  EXPECT_EQ(form->DateTimePicker2->time(), QTime(9, 5, 7));

  form->ComboBox3->setEditText(name());
  clk.fixedNow = QDateTime(QDate(2027, 2, 28), QTime(0, 0, 59));
  form->Button5->click();
  EXPECT_EQ(dlg.take(), QStringList{kWritten});
  EXPECT_EQ(scale.lastDate(), bytes({2, 8, 0, 2, 202, 7}));
  EXPECT_EQ(scale.lastTime(), bytes({0, 0, 0, 0, 5, 9}));
}

TEST_F(DatePage, FailuresAndWhatWasWrittenBeforeThem) {
  setFields(QDate(2026, 12, 6), QTime(9, 5, 7));
  expectOpeningFailures(form->Button5, form->ComboBox3, "Для записи даты и времени");

  // The time command fails after the date was written.
  scale.clearRequests();
  scale.inject(0x9A, {Fault::Silence});
  form->Button5->click();
  EXPECT_EQ(dlg.take(), QStringList{kFailed});
  EXPECT_EQ(scale.lastDate(), bytes({0, 6, 1, 2, 202, 6}));
  EXPECT_EQ(commands(), exchanges({0x99, 0x9A}));

  // The date command fails: the time is not sent.
  scale.clearRequests();
  scale.inject(0x99, {Fault::EmptyCell});
  form->Button5->click();
  EXPECT_EQ(dlg.take(), QStringList{kFailed});
  EXPECT_EQ(commands(), exchanges({0x99}));

  for (int skip : {0, 1}) {  // before the date, before the time
    scale.clearRequests();
    scale.inject(ScaleEmulator::kHandshake, {Fault::Silence, 1, 0, 0, 0, skip});
    form->Button5->click();
    EXPECT_EQ(dlg.take(), QStringList{kNoData});
    EXPECT_EQ(scale.requestsOf(0x99).size(), std::size_t(skip));
    scale.inject(ScaleEmulator::kHandshake, {Fault::WrongEcho, 1, 0, 0, 0, skip});
    form->Button5->click();
    EXPECT_EQ(dlg.take(), QStringList{msg::kWrongReply});
    EXPECT_TRUE(scale.requestsOf(0x9A).empty());
  }
}

TEST_F(DatePage, RefusedWhileAnotherScaleOperationRuns) {
  form->DateTimePicker1->setDate(QDate(2000, 1, 1));
  form->ScaleBusy = true;
  form->Button5->click();
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_TRUE(ping.calls.empty());
  EXPECT_EQ(form->DateTimePicker1->date(), QDate(2000, 1, 1));
}

}  // namespace
