// Writing the logo into a scale and reading it back, against the emulator.
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QWindow>
#include <QToolButton>
#include <deque>
#include <functional>
#include <optional>

#include "link/link_fixture.h"
#include "logo_fixture.h"

using namespace logotest;

namespace {

const QString kLoaded = QStringLiteral("Логотип загружен");
const QString kRead = QStringLiteral("Логотип прочитан.");
const QString kTransferError = QStringLiteral("Ошибка передачи данных. Повторите попытку еще раз.");

class LogoTransferTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    form->ComboBox8->setCurrentText(QStringLiteral("Scale1"));
  }
  void write() { find<QPushButton>("Button13")->click(); }
  void read() { find<QPushButton>("Button12")->click(); }
};

}  // namespace

TEST_F(LogoTransferTest, WriteSendsTheHandshakeThenTheCommandAndTheRaster) {
  click(form, 1, 1);
  click(form, 319, 5);
  const std::string drawn = raster(form);
  write();
  EXPECT_EQ(dlg.take(), QStringList{kLoaded});
  const auto requests = scale.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].command, ScaleEmulator::kHandshake);
  EXPECT_EQ(requests[0].bytes, bytesOf({kNumber}));
  EXPECT_EQ(requests[1].bytes, "\x8C" + drawn);
  EXPECT_EQ(scale.logo(), drawn);
  // Writing asks nothing and keeps the flag.
  EXPECT_TRUE(form->LogoModified);
  EXPECT_EQ(clock.pauses, (std::vector<int>{50, 50}));

  // The toolbar button does the same; a white logo goes out as zeros.
  form->LogoModified = false;
  find<QToolButton>("SpeedButton33")->click();
  scale.clearRequests();
  find<QToolButton>("SpeedButton37")->click();
  EXPECT_EQ(dlg.take(), QStringList{kLoaded});
  EXPECT_EQ(scale.requestsOf(0x8C), std::vector<std::string>{"\x8C" + std::string(512, '\0')});
}

TEST_F(LogoTransferTest, ReadShowsTheScalesLogoAndSetsTheFlag) {
  scale.setLogo(logotest::pattern(1));
  read();
  EXPECT_EQ(dlg.take(), QStringList{kRead});
  EXPECT_EQ(raster(form), logotest::pattern(1));
  EXPECT_TRUE(editFieldShowsPreview(form));
  EXPECT_TRUE(form->LogoModified);
  EXPECT_EQ(scale.requestsOf(0x97), std::vector<std::string>{"\x97"});
  EXPECT_EQ(clock.pauses, (std::vector<int>{50, 50, 900}));

  // Read and written back unchanged: the scale gets the same bytes.
  scale.setLogo(std::string(512, '\0'));
  find<QToolButton>("SpeedButton37")->click();
  EXPECT_EQ(dlg.take(), QStringList{kLoaded});
  EXPECT_EQ(scale.logo(), logotest::pattern(1));

  // After the read, opening a logo file asks first.
  dlg.answers = {Answer::Cancel};
  find<QToolButton>("SpeedButton34")->click();
  EXPECT_EQ(dlg.take(), QStringList{kQuestion});
}

TEST_F(LogoTransferTest, ReadAsksFirstWhenTheLogoChanged) {
  click(form, 1, 1);
  const std::string drawn = raster(form);
  scale.setLogo(logotest::pattern(2));
  const int connections = scale.connectionCount();

  // Cancel: no connection, nothing changes.
  dlg.answers = {Answer::Cancel};
  find<QToolButton>("SpeedButton38")->click();
  EXPECT_EQ(dlg.take(), QStringList{kQuestion});
  EXPECT_EQ(scale.connectionCount(), connections);
  EXPECT_TRUE(scale.requests().empty());
  EXPECT_EQ(raster(form), drawn);
  EXPECT_TRUE(form->LogoModified);

  // Yes and saved: the drawing goes to the file first.
  dlg.answers = {Answer::Yes};
  dlg.files.push_back(path("before.kmi"));
  read();
  EXPECT_EQ(dlg.take(), (QStringList{kQuestion, kRead}));
  EXPECT_EQ(readFile("before.kmi"), drawn);
  EXPECT_EQ(raster(form), logotest::pattern(2));
}

// A save asked for by new, open, import or a read from the scale that does
// not happen (its dialog cancelled, the replace of an existing file refused)
// ends that action as Cancel does: the drawing and its flag stay, no other
// dialog follows and the scale is not contacted.
TEST_F(LogoTransferTest, ASaveThatDoesNotHappenEndsTheActionThatAsked) {
  writeFile("kept.kmi", logotest::pattern(4));
  scale.setLogo(logotest::pattern(5));
  click(form, 1, 1);
  const std::string drawn = raster(form);
  const QString replace = QStringLiteral("?: ВНИМАНИЕ !\r\nФайл %1 уже существует и будет заменен.\r\nПродолжить ?")
                              .arg(path("kept.kmi"));
  struct Save {
    const char* what;
    std::deque<Answer> answers;
    std::optional<QString> file;
    QStringList shown;
  };
  const Save saves[] = {
      {"dialog cancelled", {Answer::Yes}, std::nullopt, {kQuestion}},
      {"replace refused", {Answer::Yes, Answer::No}, path("kept.kmi"), {kQuestion, replace}},
  };
  const int connections = scale.connectionCount();
  for (const char* button : {"SpeedButton33", "SpeedButton34", "SpeedButton36", "SpeedButton38"}) {
    for (const Save& s : saves) {
      SCOPED_TRACE(std::string(button) + ", " + s.what);
      dlg.answers = s.answers;
      dlg.files = {s.file};
      find<QToolButton>(button)->click();
      EXPECT_EQ(dlg.take(), s.shown);
      EXPECT_TRUE(dlg.answers.empty() && dlg.files.empty());
      EXPECT_EQ(raster(form), drawn);
      EXPECT_TRUE(editFieldShowsPreview(form));
      EXPECT_TRUE(form->LogoModified);
    }
  }
  EXPECT_EQ(readFile("kept.kmi"), logotest::pattern(4));
  EXPECT_EQ(scale.connectionCount(), connections);
  EXPECT_TRUE(scale.requests().empty());
}

TEST_F(LogoTransferTest, EveryFailureHasItsMessageAndLeavesTheLogo) {
  click(form, 1, 1);
  form->LogoModified = false;  // the read asks nothing
  const std::string drawn = raster(form);
  scale.setLogo(logotest::pattern(4));
  struct Case {
    const char* what;
    std::function<void()> arrange;
    QString writeMessage, readMessage;
  };
  const QString noData = QStringLiteral("Ошибка обмена. Повторите попытку еще раз или перезагрузите программу.");
  const QString wrong = QStringLiteral("Ошибка обмена. Повторите попытку еще раз или проверьте работоспособность весов.");
  const Case cases[] = {
      {"time-out not a number", [&] { form->Edit32->setText("1o00"); },
       QStringLiteral("Неправильная настройка параметра ComPortTimeOut в конфигурации."), {}},
      {"no such scale", [&] { form->ComboBox8->setCurrentText("Scale2"); },
       QStringLiteral("Для записи логотипа выберите весы из списка (или заполните конфигурацию)."),
       QStringLiteral("Для чтения логотипа выберите весы из списка (или заполните конфигурацию).")},
      {"bad row",
       [&] {
         form->setConfigRows({{"1", "Scale1", "", "100", ScaleEmulator::kHost, scale.portText(), "", "", ""}});
       },
       QStringLiteral("Проверьте правильность заполнения таблицы конфигурации для выбранных весов."), {}},
      {"no ping reply", [&] { ping.answering.clear(); },
       QStringLiteral("Не удается установить связь с весами.Проверьте линию связи или сетевые настройки."), {}},
      {"connect refused", [&] { scale.refuseConnections(true); },
       QStringLiteral("Не удается установить связь с весами. Линия связи исправна. Проверьте работоспособность "
                      "весов или установку программного порта в конфигурации."),
       {}},
      {"handshake silent", [&] { scale.inject(ScaleEmulator::kHandshake, {ScaleEmulator::Fault::Silence}); }, noData,
       {}},
      {"wrong echo", [&] { scale.inject(ScaleEmulator::kHandshake, {ScaleEmulator::Fault::WrongEcho}); }, wrong, {}},
      {"wrong answer code",
       [&] { scale.inject(ScaleEmulator::kHandshake, {ScaleEmulator::Fault::WrongAnswerCode}); }, wrong, {}},
      {"command unanswered",
       [&] {
         scale.inject(0x8C, {ScaleEmulator::Fault::Silence});
         scale.inject(0x97, {ScaleEmulator::Fault::Silence});
       },
       kTransferError, {}},
  };
  for (bool writing : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (writing ? " (write)" : " (read)"));
      c.arrange();
      writing ? write() : read();
      const QString expected = writing || c.readMessage.isEmpty() ? c.writeMessage : c.readMessage;
      EXPECT_EQ(dlg.take(), QStringList{expected});
      EXPECT_EQ(raster(form), drawn);
      EXPECT_FALSE(form->LogoModified);
      // Back to a working link.
      form->Edit32->setText(QString::number(kTimeOut));
      form->ComboBox8->setCurrentText(QStringLiteral("Scale1"));
      form->setConfigRows({{"1", "Scale1", "", std::to_string(kNumber), ScaleEmulator::kHost, scale.portText(), "",
                            "", ""}});
      ping.answering = {ScaleEmulator::kHost};
      scale.refuseConnections(false);
      scale.clearFaults();
      scale.setLogo(logotest::pattern(4));
    }
  }

  // A write the scale does not acknowledge.
  scale.inject(0x8C, {ScaleEmulator::Fault::Status, 1, 0xEE});
  write();
  EXPECT_EQ(dlg.take(), QStringList{kTransferError});
}

TEST_F(LogoTransferTest, NoLogoOperationStartsWhileTheLinkIsBusy) {
  form->ScaleBusy = true;
  click(form, 1, 1);
  write();
  read();
  EXPECT_TRUE(dlg.shown.isEmpty());
  EXPECT_EQ(scale.connectionCount(), 0);
  EXPECT_TRUE(form->ScaleBusy);
  form->ScaleBusy = false;

  // While one runs, the entries of both show disabled.
  std::vector<bool> enabled;
  dlg.onMessage = [&](const QString&) {
    for (const char* name : {"SpeedButton37", "SpeedButton38"}) enabled.push_back(find<QToolButton>(name)->isEnabled());
    for (const char* name : {"Button12", "Button13"}) enabled.push_back(find<QPushButton>(name)->isEnabled());
  };
  write();
  EXPECT_EQ(dlg.take(), QStringList{kLoaded});
  EXPECT_EQ(enabled, std::vector<bool>(4, false));
  EXPECT_FALSE(form->ScaleBusy);
  EXPECT_TRUE(find<QToolButton>("SpeedButton38")->isEnabled());
}

// What the operator does while a read waits for the scale: a click on the
// logo is queued until the read's box is up, which keeps it off the logo just
// read; a close, which the window system turns away from a window behind a
// box, reaches the run, and the window closes after it. A box answered while
// it is being shown ends its run all the same.
TEST_F(LogoTransferTest, InputQueuedWhileAReadWaitsNeverReachesThePageBehindItsBox) {
  scale.setLogo(logotest::pattern(1));
  form->PageControl1->setCurrentWidget(form->TabSheet7);
  form->show();

  dialogs::install(nullptr);  // the program's own boxes
  struct AnswerAtShow : QObject {
    bool eventFilter(QObject* o, QEvent* e) override {
      auto* box = qobject_cast<QMessageBox*>(o);
      if (box && e->type() == QEvent::Show) box->button(QMessageBox::Ok)->click();
      return false;
    }
  } answer;
  qApp->installEventFilter(&answer);
  bool hung = false;
  QTimer watchdog;  // frees a box left waiting for an answer that came
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w)) {
        hung = true;
        qApp->removeEventFilter(&answer);
        box->show();
        box->done(0);
      }
  });
  watchdog.start(3000);
  read();
  watchdog.stop();
  qApp->removeEventFilter(&answer);
  dialogs::install(&dlg);
  EXPECT_FALSE(hung);
  EXPECT_EQ(raster(form), logotest::pattern(1));

  scale.setLogo(logotest::pattern(2));
  form->LogoModified = false;
  bool takenByRun = false;
  clock.onSleep = [&](int ms) {
    if (ms != 900) return;  // the read waits for the scale's reply
    QWindow* window = form->windowHandle();
    const QPoint at = form->Image1->mapTo(form, QPoint(12, 7));
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
      QCoreApplication::postEvent(window, new QMouseEvent(type, at, window->mapToGlobal(at), Qt::LeftButton,
                                                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                                          Qt::NoModifier));
    QMetaObject::invokeMethod(form, [&] {
      // Behind a box the window system's close goes to the run.
      takenByRun = QApplication::activeModalWidget() ? form->takeCloseDuringRun() : !form->close();
    }, Qt::QueuedConnection);
  };
  dlg.onMessage = [&](const QString&) {
    QMessageBox box(form);  // modal while it is up, as on a screen
    QTimer ok;
    QObject::connect(&ok, &QTimer::timeout, &box, [&] {
      if (QApplication::activeModalWidget() == &box) box.accept();
    });
    ok.start(0);
    box.exec();
  };
  read();
  clock.onSleep = nullptr;
  dlg.onMessage = nullptr;
  EXPECT_EQ(dlg.take(), QStringList{kRead});
  EXPECT_EQ(raster(form), logotest::pattern(2));
  EXPECT_TRUE(takenByRun);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 5000));
}
