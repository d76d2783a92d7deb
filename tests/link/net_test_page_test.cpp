// The page "Тесты" driven through its controls: the address test and the
// scale check of the configuration table, and the subnet sweep. Pings go to
// the test double unless a test says otherwise; every address is 127.0.0.x.
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <functional>
#include <cstdlib>
#include <fstream>
#include <map>

#include "link/scale_link.h"
#include "link_fixture.h"
#include "platform/icmp.h"
#include "platform/name_lookup.h"
#include "shell/string_grid.h"
#include "support/netns.h"

#include <sys/wait.h>
#include <unistd.h>

using Fault = ScaleEmulator::Fault;

namespace {

const QString kBadTable = QStringLiteral("Проверьте правильность заполнения таблицы конфигурации.");

// The ping double with a hook called after each echo (the number of echoes
// so far), where a test can act as the operator would between two pings.
class HookedPing : public FakePing {
 public:
  std::function<void(std::size_t)> after;
  icmp::ReplyStatus echo(const std::string& host, int timeoutMs) override {
    const icmp::ReplyStatus st = FakePing::echo(host, timeoutMs);
    if (after) after(calls.size());
    return st;
  }
};

// Names of our own, installed while it lives; records what was asked.
class FakeNames : public namelookup::Resolver {
 public:
  FakeNames() { namelookup::install(this); }
  ~FakeNames() override { namelookup::install(nullptr); }
  std::map<std::string, std::string> names;
  std::vector<std::string> asked;
  std::function<void(std::size_t)> after;
  std::string reverse(const std::string& address) override {
    asked.push_back(address);
    const auto it = names.find(address);
    const std::string name = it == names.end() ? std::string() : it->second;
    if (after) after(asked.size());
    return name;
  }
};

QStringList items(const QListWidget* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

std::vector<std::string> hosts(const FakePing& ping) {
  std::vector<std::string> out;
  for (const auto& c : ping.calls) out.push_back(c.first);
  return out;
}

using Row = std::array<std::string, 9>;
Row row(const std::string& number, const std::string& address, const std::string& port) {
  return {"", "S" + number, "", number, address, port, "", "", ""};
}

}  // namespace

class NetTestPage : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    clock_::install(&clock);
    start();
    form->show();
    form->PageControl1->setCurrentWidget(form->TabSheet4);
    // Never the machine's own subnet.
    form->Edit30->setText(QStringLiteral("127.0.0."));
  }
  void TearDown() override {
    GuiTest::TearDown();
    clock_::install(nullptr);
  }
  void click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
  void scaleCheck() {
    form->RadioButton4->setChecked(true);
    click(form->Button18);
  }

  HookedPing ping;
  FakeNames names;
  RecordingClock clock;
};

// Edit31 is converted afresh at each run; when it is not an integer each
// mode has its fall-back, and a negative value counts as 0. No message.
TEST_F(NetTestPage, TimeOutOfEachModeFromEdit31) {
  ScaleEmulator scale(5);
  form->setConfigRows({row("5", "127.0.0.1", scale.portText())});
  struct Case {
    QString text;
    int address, check, sweep;
  };
  for (const Case& c : {Case{"abc", 200, 100, 100}, Case{"-30", 0, 0, 0}, Case{"$20", 32, 32, 32},
                        Case{"", 200, 100, 100}}) {
    SCOPED_TRACE(c.text.toStdString());
    form->Edit31->setText(c.text);
    ping.calls.clear();
    clock.pauses.clear();
    form->RadioButton3->setChecked(true);
    click(form->Button18);
    ASSERT_EQ(ping.calls.size(), 1u);
    EXPECT_EQ(ping.calls[0].second, c.address);

    scaleCheck();
    ASSERT_EQ(ping.calls.size(), 2u);
    EXPECT_EQ(ping.calls[1].second, c.check);
    // 50 after the ping, the time-out between the two answer bytes, 200
    // (with 0 the wait only looks, so the answer may not be there yet).
    if (c.check > 0 || clock.pauses.size() > 1) {
      EXPECT_EQ(clock.pauses, (std::vector<int>{50, c.check, 200}));
    }
    if (c.check > 0) {
      EXPECT_EQ(items(form->ListBox3), QStringList{"127.0.0.1"});
    }

    click(form->Button21);
    ASSERT_EQ(ping.calls.size(), 2u + 255u);
    EXPECT_EQ(ping.calls.back().second, c.sweep);
  }
  EXPECT_TRUE(dlg.take().isEmpty());
}

TEST_F(NetTestPage, SweepPingsOneToTwoHundredFiftyFiveAndNamesWhoAnswered) {
  ping.answering = {"127.0.0.7", "127.0.0.3", "127.0.0.255"};
  names.names = {{"127.0.0.3", "till-3"}, {"127.0.0.255", "last"}};
  ping.after = [&](std::size_t n) {
    if (n == 100) {
      EXPECT_TRUE(form->Button24->isVisible());
      EXPECT_TRUE(form->ProgressBar1->isVisible());
      EXPECT_EQ(form->ProgressBar1->maximum(), 255);
      EXPECT_EQ(form->ProgressBar1->value(), 100);
    }
  };
  click(form->Button21);
  std::vector<std::string> expected;
  for (int i = 1; i <= 255; ++i) expected.push_back("127.0.0." + std::to_string(i));
  EXPECT_EQ(hosts(ping), expected);
  // In the order of the answers; a host without a name keeps the blanks.
  EXPECT_EQ(items(form->ListBox4),
            QStringList({"127.0.0.3   till-3", "127.0.0.7   ", "127.0.0.255   last"}));
  EXPECT_FALSE(form->Button24->isVisible());
  EXPECT_FALSE(form->ProgressBar1->isVisible());
  EXPECT_TRUE(clock.pauses.empty());  // no pause between the pings
  EXPECT_TRUE(dlg.take().isEmpty());

  // A new sweep starts from an empty list; "Очистить" empties it.
  click(form->Button21);
  EXPECT_EQ(form->ListBox4->count(), 3);
  click(form->Button20);
  EXPECT_EQ(form->ListBox4->count(), 0);
}

// Only three numbers 0..255, each with its full stop, make a prefix; any
// other text is refused before the first ping and the list keeps its lines.
TEST_F(NetTestPage, SweepTakesOnlyAPrefixOfThreeNumbers) {
  const QStringList refused = {QStringLiteral("Неправильно задана IP - подсеть. Это три числа от 0 до 255, "
                                              "после каждого точка, например 192.168.1.")};
  auto sweep = [&](const char* typed) {
    form->Edit30->selectAll();
    QTest::keyClicks(form->Edit30, QString::fromLatin1(typed));
    click(form->Button21);
    return dlg.take();
  };
  form->ListBox4->addItem(QStringLiteral("old"));
  for (const char* typed : {"127.0.0", " 127.0.0.1", "127.0.0.1.", "127.0.256.", "127..0.", "$7F.0.0.", ""})
    EXPECT_EQ(sweep(typed), refused) << typed;
  EXPECT_TRUE(ping.calls.empty());
  EXPECT_EQ(items(form->ListBox4), QStringList{"old"});
  // Blanks around the prefix are dropped; the pings name the three numbers.
  ping.answering = {"127.0.0.9"};
  EXPECT_TRUE(sweep(" 127.000.0. ").isEmpty());
  EXPECT_EQ(ping.calls.size(), 255u);
  EXPECT_EQ(items(form->ListBox4), QStringList{"127.0.0.9   "});
}

TEST_F(NetTestPage, SweepWithoutAnswersEndsAtOnce) {
  ping.answering.clear();
  form->ListBox4->addItem(QStringLiteral("old"));
  click(form->Button21);
  EXPECT_EQ(ping.calls.size(), 255u);
  EXPECT_EQ(form->ListBox4->count(), 0);
  EXPECT_TRUE(names.asked.empty());
  EXPECT_FALSE(form->ProgressBar1->isVisible());
  EXPECT_FALSE(form->Button24->isVisible());
}

// A ping that cannot be sent at all is not a network where nobody answers:
// each test ends in the error box with the reason, once.
TEST_F(NetTestPage, PingThatCannotBeSentEndsEachTestInTheErrorBox) {
  struct Refused : icmp::Pinger {
    int calls = 0;
    icmp::ReplyStatus echo(const std::string&, int) override {
      ++calls;
      throw icmp::PingError("no ping");
    }
  } refused;
  icmp::install(&refused);
  form->setConfigRows({row("1", "127.0.0.2", "1"), row("2", "127.0.0.3", "1")});
  for (QPushButton* b : {form->Button21, form->Button18}) {
    refused.calls = 0;
    click(b);
    EXPECT_EQ(refused.calls, 1);
    EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("ERROR: no ping")});
    EXPECT_FALSE(form->ProgressBar1->isVisible());
  }
  scaleCheck();
  EXPECT_EQ(dlg.take(), QStringList{QStringLiteral("ERROR: no ping")});
  icmp::install(&ping);
  EXPECT_FALSE(form->ScaleBusy);
}

TEST_F(NetTestPage, StopInThePingPhaseListsNothing) {
  ping.answering = {"127.0.0.1", "127.0.0.2"};
  ping.after = [&](std::size_t n) {
    if (n == 10) click(form->Button24);
  };
  click(form->Button21);
  // The click was seen before the next ping.
  EXPECT_EQ(ping.calls.size(), 10u);
  EXPECT_EQ(form->ListBox4->count(), 0);
  EXPECT_TRUE(names.asked.empty());
  EXPECT_FALSE(form->Button24->isVisible());
  EXPECT_FALSE(form->ProgressBar1->isVisible());
}

TEST_F(NetTestPage, StopInTheNamingPhaseKeepsTheLinesMadeSoFar) {
  ping.answering = {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"};
  names.after = [&](std::size_t n) {
    if (n == 1) {
      EXPECT_EQ(form->ProgressBar1->maximum(), 3);
      EXPECT_EQ(form->ProgressBar1->value(), 0);
    }
    if (n == 2) click(form->Button24);
  };
  click(form->Button21);
  EXPECT_EQ(items(form->ListBox4), QStringList({"127.0.0.1   ", "127.0.0.2   "}));
  EXPECT_FALSE(form->Button24->isVisible());
}

TEST_F(NetTestPage, AddressTestListsEveryAnswerInTableOrder) {
  ping.answering = {"127.0.0.1", "127.0.0.2"};
  form->setConfigRows({row("1", "127.0.0.2", "1"), row("2", "127.0.0.9", "1"), row("3", " 127.000.0.2", "1"),
                       row("4", "127.0.0.1", "1")});
  form->ListBox3->addItem(QStringLiteral("old"));
  click(form->Button18);
  // Pinged in the canonical form; the answering address stands twice.
  EXPECT_EQ(hosts(ping), (std::vector<std::string>{"127.0.0.2", "127.0.0.9", "127.0.0.2", "127.0.0.1"}));
  EXPECT_EQ(items(form->ListBox3), QStringList({"127.0.0.2", "127.0.0.2", "127.0.0.1"}));
  EXPECT_FALSE(form->Button25->isVisible());
  EXPECT_FALSE(form->ProgressBar1->isVisible());
  EXPECT_TRUE(dlg.take().isEmpty());
  click(form->Button19);
  EXPECT_EQ(form->ListBox3->count(), 0);
}

TEST_F(NetTestPage, InvalidTableShowsOnlyItsMessage) {
  form->setConfigRows({row("1", "127.0.0.1", "1"), row("2", "127.0.0.256", "1")});
  form->ListBox3->addItem(QStringLiteral("kept"));
  for (QRadioButton* mode : {form->RadioButton3, form->RadioButton4}) {
    mode->setChecked(true);
    click(form->Button18);
    EXPECT_EQ(dlg.take(), QStringList{kBadTable});
  }
  EXPECT_TRUE(ping.calls.empty());
  EXPECT_EQ(items(form->ListBox3), QStringList{"kept"});
  EXPECT_FALSE(form->Button25->isVisible());
}

// Only the rows whose scale answers the ping, the connect and the handshake
// are listed, without a message for the others.
TEST_F(NetTestPage, ScaleCheckListsOnlyTheScalesThatAnswerTheHandshake) {
  ScaleEmulator good(7), refusing(8), other(9), wrongCode(10), closing(11);
  refusing.refuseConnections(true);
  wrongCode.inject(ScaleEmulator::kHandshake, {Fault::WrongAnswerCode});
  closing.inject(ScaleEmulator::kHandshake, {Fault::CloseAfterFirst});
  ping.answering = {"127.0.0.1"};
  form->setConfigRows({row("7", "127.0.0.1", good.portText()), row("8", "127.0.0.1", refusing.portText()),
                       row("12", "127.0.0.1", other.portText()),  // another scale number
                       row("7", "127.0.0.5", good.portText()),    // silent address
                       row("10", "127.0.0.1", wrongCode.portText()), row("11", "127.0.0.1", closing.portText()),
                       row("7", "127.0.0.01", good.portText())});
  form->Edit31->setText(QStringLiteral("40"));
  scaleCheck();
  EXPECT_EQ(items(form->ListBox3), QStringList({"127.0.0.1", "127.0.0.01"}));
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(good.connectionCount(), 2);
  EXPECT_EQ(refusing.connectionCount(), 0);
  EXPECT_EQ(hosts(ping).size(), 7u);
  // Per row that answers the ping: 50; and where bytes came back: the
  // time-out between them and 200. The silent number and the refused port
  // get only the 50.
  EXPECT_EQ(clock.pauses, (std::vector<int>{50, 40, 200, 50, 50, 50, 50, 40, 200, 50, 40, 200, 50, 40, 200}));
  EXPECT_FALSE(form->Button25->isVisible());
}

TEST_F(NetTestPage, StopEndsTheScaleCheckBeforeTheNextRow) {
  ScaleEmulator scale(3);
  form->setConfigRows(
      {row("3", "127.0.0.1", scale.portText()), row("3", "127.0.0.1", scale.portText()), row("3", "127.0.0.1", scale.portText())});
  ping.after = [&](std::size_t n) {
    EXPECT_TRUE(form->Button25->isVisible());
    if (n == 1) click(form->Button25);
  };
  scaleCheck();
  EXPECT_EQ(ping.calls.size(), 1u);
  EXPECT_EQ(items(form->ListBox3), QStringList{"127.0.0.1"});  // the row under way is finished
  EXPECT_FALSE(form->Button25->isVisible());
}

// The tests share the busy flag with every scale operation.
TEST_F(NetTestPage, NoTestStartsWhileAnotherScaleOperationRuns) {
  form->setConfigRows({row("1", "127.0.0.1", "1")});
  {
    scalelink::BusyGuard running(*form);
    click(form->Button18);
    click(form->Button21);
  }
  EXPECT_TRUE(ping.calls.empty());

  // While a sweep runs, a click on "Тест" is refused and Stop still works.
  ping.after = [&](std::size_t n) {
    if (n != 5) return;
    EXPECT_TRUE(form->ScaleBusy);
    click(form->Button18);
    click(form->Button24);
  };
  click(form->Button21);
  EXPECT_EQ(ping.calls.size(), 5u);
  EXPECT_FALSE(form->ScaleBusy);
  EXPECT_TRUE(dlg.take().isEmpty());
}

// The system's resolver: 127.0.0.1 has a name in every hosts file; a text
// that is no address has none.
TEST(NameLookup, SystemResolverNamesLoopback) {
  namelookup::SystemResolver r;
  EXPECT_FALSE(r.reverse("127.0.0.1").empty());
  EXPECT_EQ(r.reverse("not an address"), "");
}

TEST(NameLookup, OwnAddressSkipsLoopback) {
  using namelookup::chooseOwnIPv4;
  using I = namelookup::Interface;
  const std::vector<I> ifs = {I{true, true, {"127.0.0.1"}}, I{false, false, {"10.1.1.1"}},
                              I{true, false, {"127.0.0.9", "192.168.5.20"}}, I{true, false, {"172.16.0.1"}}};
  EXPECT_EQ(chooseOwnIPv4({"10.0.0.7", "127.0.1.1"}, ifs), "10.0.0.7");
  EXPECT_EQ(chooseOwnIPv4({"127.0.1.1", "10.0.0.8"}, ifs), "10.0.0.8");
  // Only loopback from the name (a stock Debian host): the first interface
  // that is up and not loopback.
  EXPECT_EQ(chooseOwnIPv4({"127.0.1.1"}, ifs), "192.168.5.20");
  EXPECT_EQ(chooseOwnIPv4({}, ifs), "192.168.5.20");
  EXPECT_EQ(chooseOwnIPv4({"127.0.1.1"}, {ifs[0], ifs[1]}), "");
}

// ---- The real ICMP layer inside a network namespace made for the test ----

namespace {

// Runs this test binary again, moved into a new network namespace with its
// loopback up or down, to run only NetTestPage.SweepInsideANamespace there.
// (A fork alone would inherit the locks of threads that do not exist in the
// child.) The sweep's lines come back through the file `out`; the result is
// the child's exit status, 77 when namespaces are not allowed here.
int sweepInNamespace(bool loopbackUp, const std::string& out) {
  char self[4096] = {};
  if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return -1;
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.push_back("KMS_NETNS_SWEEP_OUT=" + out);
  env.push_back("QT_QPA_PLATFORM=offscreen");
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string filter = "--gtest_filter=NetTestPage.SweepInsideANamespace";
  char* argv[] = {self, filter.data(), nullptr};

  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (!enterNewNetworkNamespace()) ::_exit(77);
    if (loopbackUp && !setLoopbackUp()) ::_exit(78);
    ::execve(self, argv, envp.data());
    ::_exit(79);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

// The sweep of "127.0.0." with the system's ping inside a network namespace
// made for the test: with loopback up all 255 addresses answer, with it down
// none does.
TEST_F(NetTestPage, RealPingSweepInsideANetworkNamespace) {
  for (const bool up : {true, false}) {
    SCOPED_TRACE(up ? "loopback up" : "loopback down");
    const QString out = path(up ? "up.txt" : "down.txt");
    const int status = sweepInNamespace(up, out.toStdString());
    if (status == 77) GTEST_SKIP() << "no network namespaces here";
    ASSERT_EQ(status, 0);
    const std::string text = readFile(up ? "up.txt" : "down.txt");
    if (!up) {
      EXPECT_EQ(text, "");
      continue;
    }
    std::string expected;
    for (int i = 1; i <= 255; ++i) expected += "127.0.0." + std::to_string(i) + "   \n";
    EXPECT_EQ(text, expected);
  }
}

// Run only by the test above, inside its namespace.
TEST_F(NetTestPage, SweepInsideANamespace) {
  const char* out = std::getenv("KMS_NETNS_SWEEP_OUT");
  if (!out) GTEST_SKIP() << "runs inside the namespace of RealPingSweepInsideANetworkNamespace";
  icmp::install(nullptr);  // the system's ping, not the double
  form->Edit31->setText(QStringLiteral("20"));
  click(form->Button21);
  std::string text;
  for (const QString& line : items(form->ListBox4)) text += line.toStdString() + "\n";
  std::ofstream(out, std::ios::binary) << text;
}
