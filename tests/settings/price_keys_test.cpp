// The sub-page "Клавиши цен" against the emulated scale: reading, writing
// and the defaults of the 54 price keys.
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "settings_fixture.h"
#include "shell/string_grid.h"

namespace {

const QString kRead = QStringLiteral("Чтение настройек клавиш цен закончено.");
const QString kWritten = QStringLiteral("Запись таблицы клавиш цен произведена.");
const QString kReadNoData = QStringLiteral("Ошибка обмена. Попробуйте еще раз или перезапустите программу.");
const QString kWriteFailed = QStringLiteral("В процессе обмена возникли ошибки. Повторите попытку записи еще раз.");
const QString kBadCell = QStringLiteral(
    "Проверьте правильность заполнения таблицы клавиш цен. Номер ячейки - это число от 1 до 4000.");

class PriceKeysPage : public SettingsTest {
 protected:
  QStringList column() const {
    QStringList out;
    for (int k = 1; k <= 54; ++k) out << form->StringGrid2->cellText(1, k);
    return out;
  }
  static QStringList numbers(int from, int to) {
    QStringList out;
    for (int k = from; k <= to; ++k) out << QString::number(k);
    return out;
  }
  // The keys written, in order, as (key, cell).
  std::vector<std::pair<int, int>> written() const {
    std::vector<std::pair<int, int>> out;
    for (const std::string& r : scale.requestsOf(0x8B)) {
      EXPECT_EQ(r.size(), 6u);
      out.emplace_back(uint8_t(r[5]), int(uint8_t(r[1]) | uint8_t(r[2]) << 8 | uint8_t(r[3]) << 16 |
                                          uint32_t(uint8_t(r[4])) << 24));
    }
    return out;
  }
  void fillCells(int base) {
    for (int k = 1; k <= 54; ++k) form->StringGrid2->setCellText(1, k, QString::number(base + k));
  }
};

TEST_F(PriceKeysPage, ReadsEveryKey) {
  for (int k = 1; k <= 54; ++k) scale.setPriceKey(k, 1000 + k);
  scale.setPriceKey(7, -1);  // cell bytes FF FF FF FF
  scale.setPriceKey(54, 4000);
  form->Button7->click();
  EXPECT_EQ(dlg.take(), QStringList{kRead});
  QStringList want;
  for (int k = 1; k <= 54; ++k) want << QString::number(k == 7 ? -1 : k == 54 ? 4000 : 1000 + k);
  EXPECT_EQ(column(), want);

  std::vector<std::string> requests;
  std::vector<int> pauses{50};  // the ping
  for (int k = 1; k <= 54; ++k) {
    requests.push_back(bytes({0x96, k}));
    pauses.insert(pauses.end(), {200, 20, 50});  // before the key, in the handshake, before the reply
  }
  EXPECT_EQ(scale.requestsOf(0x96), requests);
  EXPECT_EQ(scale.requestsOf(ScaleEmulator::kHandshake).size(), 54u);
  EXPECT_EQ(clk.pauses, pauses);
  EXPECT_EQ(form->StringGrid2->Row(), 1);
  EXPECT_EQ(form->StringGrid2->Col(), 1);
  EXPECT_TRUE(form->TcpClient1.Connected());

  // The defaults come back without the scale.
  const int connections = scale.connectionCount();
  form->Button23->click();
  EXPECT_EQ(column(), numbers(1, 54));
  EXPECT_EQ(scale.connectionCount(), connections);
  EXPECT_TRUE(dlg.take().isEmpty());
}

TEST_F(PriceKeysPage, ReadStopsAtAFailure) {
  for (int k = 1; k <= 54; ++k) scale.setPriceKey(k, 2000 + k);
  // A silent handshake stops the read and closes the connection.
  scale.inject(ScaleEmulator::kHandshake, {Fault::Silence, 1, 0, 0, 0, 9});
  form->Button7->click();
  EXPECT_EQ(dlg.take(), QStringList{kReadNoData});
  EXPECT_FALSE(form->TcpClient1.Connected());
  EXPECT_EQ(column(), numbers(2001, 2009) + numbers(10, 54));
  EXPECT_EQ(scale.requestsOf(0x96).size(), 9u);

  // A wrong reply, or no reply to the read, stops it with the link open.
  form->Button23->click();
  scale.clearRequests();
  scale.inject(ScaleEmulator::kHandshake, {Fault::WrongEcho, 1, 0, 0, 0, 3});
  form->Button7->click();
  EXPECT_EQ(dlg.take(), QStringList{msg::kWrongReply});
  EXPECT_TRUE(form->TcpClient1.Connected());
  EXPECT_EQ(column(), numbers(2001, 2003) + numbers(4, 54));
  scale.inject(0x96, {Fault::Silence, 1, 0, 0, 0, 1});
  form->Button23->click();
  form->Button7->click();
  EXPECT_EQ(dlg.take(), QStringList{msg::kTransferFailed});
  EXPECT_EQ(column(), numbers(2001, 2001) + numbers(2, 54));
}

TEST_F(PriceKeysPage, WritesEveryKey) {
  fillCells(3946);  // 3947 .. 4000
  form->Button8->click();
  EXPECT_EQ(dlg.take(), QStringList{kWritten});
  std::vector<std::pair<int, int>> want;
  for (int k = 1; k <= 54; ++k) want.emplace_back(k, 3946 + k);
  EXPECT_EQ(written(), want);
  EXPECT_EQ(scale.requestsOf(0x8B).back(), bytes({0x8B, 0xA0, 0x0F, 0x00, 0x00, 0x36}));
  for (int k = 1; k <= 54; ++k) EXPECT_EQ(scale.priceKey(k), 3946 + k);
  std::vector<int> pauses{50};
  for (int k = 1; k <= 54; ++k) pauses.insert(pauses.end(), {200, 50});
  EXPECT_EQ(clk.pauses, pauses);
  EXPECT_EQ(form->StringGrid2->Row(), 1);
  EXPECT_EQ(column(), numbers(3947, 4000));  // the table is unchanged
}

// A bad cell anywhere in the table stops the write before the first key is
// written, with the bad cell selected.
TEST_F(PriceKeysPage, WriteChecksEveryCellBeforeTheFirstKey) {
  // Typed as an operator does: "130 " in key 30's cell.
  form->show();
  form->PageControl1->setCurrentWidget(form->TabSheet3);
  form->PageControl2->setCurrentWidget(form->TabSheet13);
  QApplication::setActiveWindow(form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(form));
  StringGrid* grid = form->StringGrid2;
  grid->setFocus();
  grid->select(1, 30);
  QTest::keyClicks(QApplication::focusWidget(), "130 ");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  ASSERT_EQ(grid->cellText(1, 30), QStringLiteral("130 "));
  grid->select(1, 2);
  form->Button8->click();
  EXPECT_EQ(dlg.take(), QStringList{kBadCell});
  EXPECT_TRUE(ping.calls.empty());  // nothing sent
  EXPECT_EQ(grid->Row(), 30);

  for (const char* text : {"4001", "0", "-5", "abc", "", " 7 "}) {
    form->Button23->click();
    form->StringGrid2->setCellText(1, 54, QString::fromLatin1(text));
    form->Button8->click();
    EXPECT_EQ(dlg.take(), QStringList{kBadCell}) << text;
    EXPECT_TRUE(written().empty()) << text;
    EXPECT_EQ(form->StringGrid2->Row(), 54);
    EXPECT_EQ(form->StringGrid2->Col(), 1);
  }
  form->Button23->click();
  for (const char* text : {"1", "4000", "$FA0"}) {
    scale.clearRequests();
    form->StringGrid2->setCellText(1, 30, QString::fromLatin1(text));
    form->Button8->click();
    EXPECT_EQ(dlg.take(), QStringList{kWritten}) << text;
    ASSERT_EQ(written().size(), 54u);
    EXPECT_EQ(written()[29].second, text[0] == '1' ? 1 : 4000);
  }
}

// A key whose handshake gets no reply is skipped and the rest are written;
// the end says how many keys were not written instead of claiming success.
TEST_F(PriceKeysPage, WriteSkipsAKeyOnASilentHandshakeAndSaysSo) {
  const QString notWritten = QStringLiteral(
      "Не записано клавиш цен: %1 из 54. Весы не ответили на запрос для этих клавиш. Повторите попытку записи еще "
      "раз.");
  struct Case {
    std::vector<int> silentAfter;  // handshakes answered before each silent one
    std::size_t keysWritten;
    QString end;
  };
  const Case cases[] = {
      {{4}, 53, notWritten.arg(1)},
      {{0, 10, 40}, 51, notWritten.arg(3)},
  };
  for (const Case& c : cases) {
    fillCells(100);
    scale.clearRequests();
    for (int skip : c.silentAfter) scale.inject(ScaleEmulator::kHandshake, {Fault::Silence, 1, 0, 0, 0, skip});
    form->Button8->click();
    EXPECT_EQ(dlg.take(), QStringList{c.end});
    EXPECT_EQ(written().size(), c.keysWritten);
    EXPECT_EQ(form->StringGrid2->Row(), 1);
  }
  const auto keys = written();
  EXPECT_EQ(keys[0], (std::pair<int, int>{2, 102}));  // key 1 skipped in the last run
  fillCells(300);
  form->Button8->click();
  EXPECT_EQ(dlg.take(), QStringList{kWritten});
}

TEST_F(PriceKeysPage, WriteStopsOnAWrongReplyOrARefusedKey) {
  fillCells(100);
  scale.inject(ScaleEmulator::kHandshake, {Fault::WrongAnswerCode, 1, 0, 0, 0, 2});
  form->Button8->click();
  EXPECT_EQ(dlg.take(), QStringList{msg::kWrongReply});
  EXPECT_EQ(written().size(), 2u);

  scale.clearRequests();
  scale.inject(0x8B, {Fault::EmptyCell, 1, 0, 0, 0, 9});
  form->Button8->click();
  EXPECT_EQ(dlg.take(), QStringList{kWriteFailed});
  EXPECT_EQ(written().size(), 10u);
  EXPECT_TRUE(form->TcpClient1.Connected());
}

// Closing the window during a read or a write of the keys ends the loop at
// the next key; each end says how many keys it did or did not handle. The
// window stays with the run's last message and closes after the run, also
// when the scale falls silent while the close waits: the window system's
// close, queued meanwhile, comes only once the run's box is up.
TEST_F(PriceKeysPage, CloseDuringAReadOrWriteEndsItAtTheNextKey) {
  struct Case {
    const char* what;
    QPushButton* TForm1::*button;
    int command;
    // Handshakes and commands sent at the turn at which the close is asked
    // for. With a silent scale the next command gets no reply and the close,
    // queued at the last turn before its wait, comes only once that ends.
    std::size_t handshakes, commands;
    bool silent;
    QStringList end;
  };
  const Case cases[] = {
      {"read", &TForm1::Button7, 0x96, 5, 5, false,
       {QStringLiteral("Чтение прервано. Прочитано клавиш цен: 5 из 54. Повторите попытку чтения еще раз.")}},
      {"write", &TForm1::Button8, 0x8B, 4, 4, false,
       {QStringLiteral("Не записано клавиш цен: 49 из 54. Повторите попытку записи еще раз.")}},
      {"read, silent scale", &TForm1::Button7, 0x96, 4, 4, true, {msg::kTransferFailed}},
      {"write, silent scale", &TForm1::Button8, 0x8B, 5, 4, true, {kWriteFailed}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    stop();
    start();
    configure(std::to_string(kScale));
    form->Edit32->setText(QString::number(kTimeOut));
    form->ComboBox3->setEditText(name());
    for (int k = 1; k <= 54; ++k) scale.setPriceKey(k, 500 + k);
    fillCells(100);
    scale.clearRequests();
    if (c.silent) scale.inject(c.command, {Fault::Silence, 1, 0, 0, 0, int(c.commands)});
    form->show();
    QFile::remove(path("total.cfg"));
    bool asked = false, closedAtOnce = true, shownAtEnd = false;
    auto systemClose = [&] {
      // Behind a box the window system's close goes to the run.
      closedAtOnce = QApplication::activeModalWidget() ? !form->takeCloseDuringRun() : form->close();
    };
    clk.onTurn = [&] {
      if (asked || scale.requestsOf(ScaleEmulator::kHandshake).size() < c.handshakes ||
          scale.requestsOf(c.command).size() < c.commands)
        return;
      asked = true;
      if (c.silent)
        QMetaObject::invokeMethod(form, systemClose, Qt::QueuedConnection);
      else
        closedAtOnce = form->close();
    };
    dlg.onMessage = [&](const QString&) {
      shownAtEnd = form->isVisible();
      QMessageBox box(form);  // the box as the screen has it: modal while it is up
      QTimer answer;
      QObject::connect(&answer, &QTimer::timeout, &box, [&] {
        if (QApplication::activeModalWidget() == &box) box.accept();
      });
      answer.start(0);
      box.exec();
    };
    (form->*c.button)->click();
    clk.onTurn = nullptr;
    dlg.onMessage = nullptr;
    ASSERT_TRUE(asked);
    EXPECT_FALSE(closedAtOnce);
    EXPECT_EQ(scale.requestsOf(c.command).size(), 5u);
    EXPECT_EQ(dlg.take(), c.end);
    EXPECT_TRUE(shownAtEnd);
    const int read = c.command == 0x96 ? (c.silent ? 4 : 5) : 0;
    EXPECT_EQ(column(), numbers(501, 500 + read) + numbers(101 + read, 154));
    if (!c.silent && read) {
      EXPECT_EQ(form->StringGrid2->Row(), read + 1);  // the first key not read
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 5000));
    EXPECT_TRUE(QFile::exists(path("total.cfg")));
  }
}

TEST_F(PriceKeysPage, OpeningFailuresAndTheBusyFlag) {
  expectOpeningFailures(form->Button7, form->ComboBox3, "Для чтения настроек клавиш цен");
  expectOpeningFailures(form->Button8, form->ComboBox3, "Для записи таблицы клавиш цен");
  ping.calls.clear();
  form->ScaleBusy = true;
  form->Button7->click();
  form->Button8->click();
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_TRUE(ping.calls.empty());
  form->ScaleBusy = false;

  // While the write runs, the other scale operations show disabled and a read
  // clicked in one of its event-loop turns is refused.
  bool disabled = true;
  clk.onTurn = [&] {
    for (QPushButton* b : {form->Button7, form->Button8, form->Button11, form->Button1, form->Button5})
      disabled &= !b->isEnabled();
    form->Button7->click();
    form->Button7Click();
  };
  form->Button8->click();
  clk.onTurn = nullptr;
  EXPECT_TRUE(disabled);
  EXPECT_TRUE(form->Button7->isEnabled() && form->Button8->isEnabled());
  EXPECT_EQ(dlg.take(), QStringList{kWritten});
  EXPECT_TRUE(scale.requestsOf(0x96).empty());
}

}  // namespace
