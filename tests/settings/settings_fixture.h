#pragma once
// The program started against the scale emulator on 127.0.0.1: one scale
// "Весы 7" (number 7) in the configuration table and chosen in every scale
// list of the settings pages, a ping that answers only 127.0.0.1, and a
// clock that records its pauses instead of waiting and tells a fixed time.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <string>
#include <vector>

#include "platform/ansi.h"
#include "platform/clock.h"
#include "support/gui_fixture.h"
#include "support/scale_emulator.h"

class PageClock : public clock_::Clock {
 public:
  void sleep(int ms) override { pauses.push_back(ms); }
  void processEvents() override {
    QCoreApplication::processEvents();
    if (onTurn) onTurn();
  }
  QDateTime now() override { return fixedNow; }

  std::vector<int> pauses;
  QDateTime fixedNow{QDate(2026, 12, 6), QTime(9, 5, 7)};
  std::function<void()> onTurn;
};

// The messages shared by every settings page.
namespace msg {
inline const QString kBadTimeOut = QStringLiteral("Неправильная настройка параметра ComPortTimeOut в конфигурации.");
inline const QString kBadRow =
    QStringLiteral("Проверьте правильность заполнения таблицы конфигурации для выбранных весов.");
inline const QString kNoPing =
    QStringLiteral("Не удается установить связь с весами.Проверьте линию связи или сетевые настройки.");
inline const QString kNoConnect = QStringLiteral(
    "Не удается установить связь с весами. Линия связи исправна. Проверьте работоспособность весов или "
    "установку программного порта в конфигурации.");
inline const QString kNoData =
    QStringLiteral("Ошибка обмена. Повторите попытку еще раз или перезагрузите программу.");
inline const QString kWrongReply =
    QStringLiteral("Ошибка обмена. Повторите попытку еще раз или проверьте работоспособность весов.");
inline const QString kCommandFailed = QStringLiteral("Ошибка обмена. Проверьте работоспособность весов.");
inline const QString kTransferFailed = QStringLiteral("Ошибка передачи данных. Повторите попытку еще раз.");
inline QString unknown(const char* words) {
  return QString::fromUtf8(words) + QStringLiteral(" выберите весы из списка (или заполните конфигурацию).");
}
}  // namespace msg

class SettingsTest : public GuiTest {
 protected:
  static constexpr int kScale = 7;
  static constexpr int kTimeOut = 300;
  using Fault = ScaleEmulator::Fault;

  void SetUp() override {
    GuiTest::SetUp();
    oldLocale = QLocale();
    clock_::install(&clk);
    start();
    configure(std::to_string(kScale));
    form->Edit32->setText(QString::number(kTimeOut));
    for (QComboBox* box : {form->ComboBox3, form->ComboBox6, form->ComboBox7}) box->setEditText(name());
  }
  void TearDown() override {
    GuiTest::TearDown();
    clock_::install(nullptr);
    QLocale::setDefault(oldLocale);
  }
  static QString name() { return QStringLiteral("Весы 7"); }
  void configure(const std::string& number) {
    form->setConfigRows(
        {{"1", ansi::A(name()), "", number, ScaleEmulator::kHost, scale.portText(), "", "", ""}});
  }

  // The opening failures through one button, each with its message and with
  // nothing sent: a time-out that is no number, a name not in the table, a
  // bad row, no ping reply, a refused connection. question: the button's
  // confirmation after the row check (answered Yes); tail: what the button
  // shows after a failed ping or connect.
  void expectOpeningFailures(QPushButton* button, QComboBox* list, const char* words,
                             const QString& question = {}, const QStringList& tail = {}) {
    const QStringList asked = question.isEmpty() ? QStringList{} : QStringList{"?: " + question};
    auto yes = [&] {
      if (!question.isEmpty()) dlg.answers.push_back(dialogs::Answer::Yes);
    };
    form->Edit32->setText(QStringLiteral("abc"));
    button->click();
    EXPECT_EQ(dlg.take(), QStringList{msg::kBadTimeOut});
    form->Edit32->setText(QString::number(kTimeOut));

    list->setEditText(QStringLiteral("Весы 8"));
    button->click();
    EXPECT_EQ(dlg.take(), QStringList{msg::unknown(words)});
    list->setEditText(name());

    configure("100");
    button->click();
    EXPECT_EQ(dlg.take(), QStringList{msg::kBadRow});
    configure(std::to_string(kScale));

    ping.answering.clear();
    yes();
    button->click();
    EXPECT_EQ(dlg.take(), asked + QStringList{msg::kNoPing} + tail);
    ping.answering = {ScaleEmulator::kHost};

    scale.refuseConnections(true);
    yes();
    button->click();
    EXPECT_EQ(dlg.take(), asked + QStringList{msg::kNoConnect} + tail);
    scale.refuseConnections(false);
    EXPECT_TRUE(scale.requests().empty());
    EXPECT_EQ(scale.connectionCount(), 0);
  }

  // The requests the scale received, each as command (or kHandshake) and bytes.
  std::vector<int> commands() const {
    std::vector<int> out;
    for (const auto& r : scale.requests()) out.push_back(r.command);
    return out;
  }
  static std::string bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v) s += char(uint8_t(b));
    return s;
  }
  // A handshake (-1) before each command.
  static std::vector<int> exchanges(std::initializer_list<int> cmds) {
    std::vector<int> out;
    for (int c : cmds) {
      out.push_back(ScaleEmulator::kHandshake);
      out.push_back(c);
    }
    return out;
  }

  QLocale oldLocale;
  ScaleEmulator scale{kScale};
  FakePing ping;
  PageClock clk;
};
