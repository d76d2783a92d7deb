// Opening the link, the handshake, the ping layer and the busy guard.
#include "link/scale_link.h"
#include "link_fixture.h"
#include "platform/icmp.h"
#include "platform/tcp_client.h"
#include "platform/ansi.h"
#include "shell/string_grid.h"
#include "shell/program.h"
#include "transfers/range_dialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <fstream>
#include <sys/stat.h>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

using HS = TForm1::HandshakeResult;
using Fault = ScaleEmulator::Fault;

namespace {
const QString kNoPing =
    QStringLiteral("Не удается установить связь с весами.Проверьте линию связи или сетевые настройки.");
const QString kNoConnect = QStringLiteral(
    "Не удается установить связь с весами. Линия связи исправна. Проверьте работоспособность весов или "
    "установку программного порта в конфигурации.");
const QString kBadTimeOut = QStringLiteral("Неправильная настройка параметра ComPortTimeOut в конфигурации.");
}  // namespace

TEST_F(LinkTest, OpensPingsAndConnects) {
  ASSERT_TRUE(open());
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(row, 1);
  EXPECT_EQ(timeOut, kTimeOut);
  ASSERT_EQ(ping.calls.size(), 1u);
  EXPECT_EQ(ping.calls[0].first, "127.0.0.1");
  EXPECT_EQ(ping.calls[0].second, kTimeOut);
  EXPECT_EQ(form->PingReplies, std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(clock.pauses, std::vector<int>{50});
  EXPECT_TRUE(form->TcpClient1.Connected());
  EXPECT_TRUE(scale.requests().empty());  // nothing is sent by the opening
}

// Every spelling of the address that the address check accepts reaches the
// scale: the ping and the connect take the canonical dotted form.
TEST_F(LinkTest, EveryAcceptedSpellingOfTheAddressReachesTheScale) {
  for (const char* cell : {"127.000.000.001", " 127.0.0.1", "127.0.0.01", "$7F.0.0.1", "0x7F.0.0.1"}) {
    SCOPED_TRACE(cell);
    form->StringGrid1->setCell(4, 1, cell);
    ping.calls.clear();
    const int before = scale.connectionCount();
    ASSERT_TRUE(open());
    EXPECT_TRUE(dlg.take().isEmpty());
    ASSERT_EQ(ping.calls.size(), 1u);
    EXPECT_EQ(ping.calls[0].first, "127.0.0.1");
    EXPECT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
    EXPECT_EQ(scale.connectionCount(), before + 1);
    EXPECT_EQ(form->StringGrid1->cell(4, 1), cell);  // the cell keeps what was typed
  }
}

TEST_F(LinkTest, EachOpeningFailureShowsItsMessage) {
  form->Edit32->setText(QStringLiteral("abc"));
  EXPECT_FALSE(open());
  form->Edit32->setText(QStringLiteral("-1"));
  EXPECT_FALSE(open());
  EXPECT_EQ(dlg.take(), QStringList({kBadTimeOut, kBadTimeOut}));
  EXPECT_TRUE(ping.calls.empty());

  form->Edit32->setText(QStringLiteral("300"));
  EXPECT_FALSE(open(QString()));
  EXPECT_FALSE(open(QStringLiteral("scale1")));  // exact match only
  EXPECT_FALSE(form->OpenScaleLink(QStringLiteral("Scale1 "), QStringLiteral("Для удаления ячеек"), row, timeOut));
  EXPECT_EQ(dlg.take(),
            QStringList({QStringLiteral("Для записи данных выберите весы из списка (или заполните конфигурацию)."),
                         QStringLiteral("Для записи данных выберите весы из списка (или заполните конфигурацию)."),
                         QStringLiteral("Для удаления ячеек выберите весы из списка (или заполните конфигурацию).")}));

  form->setConfigRows({{"1", "Scale1", "", "100", ScaleEmulator::kHost, scale.portText(), "", "", ""}});
  EXPECT_FALSE(open());
  EXPECT_EQ(dlg.take(),
            QStringList{QStringLiteral("Проверьте правильность заполнения таблицы конфигурации для выбранных весов.")});
  EXPECT_TRUE(ping.calls.empty());

  form->setConfigRows({{"1", "Scale1", "", "7", ScaleEmulator::kHost, scale.portText(), "", "", ""}});
  ping.answering.clear();
  EXPECT_FALSE(open());
  EXPECT_EQ(dlg.take(), QStringList{kNoPing});
  EXPECT_EQ(scale.connectionCount(), 0);

  ping.answering = {ScaleEmulator::kHost};
  scale.refuseConnections(true);
  EXPECT_FALSE(open());
  EXPECT_EQ(dlg.take(), QStringList{kNoConnect});
  EXPECT_FALSE(form->TcpClient1.Connected());
}

TEST_F(LinkTest, AnAnswerFromAnotherSenderCountsAndOwnCheckCanRefuse) {
  ping.from = "10.0.0.1";  // as a router's unreachable would come
  ASSERT_TRUE(open());
  EXPECT_EQ(form->PingReplies, std::vector<std::string>{"10.0.0.1"});

  int seenRow = -1;
  EXPECT_FALSE(form->OpenScaleLink(QStringLiteral("Scale1"), QStringLiteral("Для записи логотипа"), row, timeOut,
                                   [&](int r) {
                                     seenRow = r;
                                     return false;
                                   }));
  EXPECT_EQ(seenRow, 1);
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(ping.calls.size(), 1u);  // the refused operation did not ping
  EXPECT_FALSE(form->TcpClient1.Connected());  // but the old link was closed
}

TEST_F(LinkTest, LargestTimeOutStillPingsAndConnects) {
  form->Edit32->setText(QStringLiteral("2147483647"));
  ASSERT_TRUE(open());
  EXPECT_TRUE(dlg.take().isEmpty());
  EXPECT_EQ(timeOut, 2147483647);
  EXPECT_EQ(ping.calls.back().second, 2147483647);
  EXPECT_EQ(handshake(), HS::Accepted);
}

TEST_F(LinkTest, NextOperationClosesTheConnectionFirst) {
  ready();
  form->Edit32->setText(QStringLiteral("x"));
  EXPECT_FALSE(open());
  EXPECT_FALSE(form->TcpClient1.Connected());
}

TEST_F(LinkTest, HandshakeOutcomes) {
  ASSERT_TRUE(open());
  EXPECT_EQ(handshake(20), HS::Accepted);
  EXPECT_EQ(clock.pauses.back(), 20);
  ASSERT_EQ(scale.requests().size(), 1u);
  EXPECT_EQ(scale.requests()[0].bytes, "\x07");

  scale.inject(ScaleEmulator::kHandshake, {Fault::WrongEcho});
  EXPECT_EQ(handshake(), HS::WrongReply);
  scale.inject(ScaleEmulator::kHandshake, {Fault::WrongAnswerCode});
  EXPECT_EQ(handshake(), HS::WrongReply);
  scale.inject(ScaleEmulator::kHandshake, {Fault::Silence});
  EXPECT_EQ(handshake(), HS::NoData);
  // The answer code arriving well after the echo is still taken.
  scale.inject(ScaleEmulator::kHandshake, {.kind = Fault::Split, .length = 1, .delayMs = 100});
  EXPECT_EQ(handshake(0), HS::Accepted);
  // An answer code that never comes: a wrong reply, not a receive without end.
  scale.inject(ScaleEmulator::kHandshake, {.kind = Fault::Short, .length = 1});
  EXPECT_EQ(handshake(0), HS::WrongReply);
}

TEST_F(LinkTest, ScaleThatClosesAfterTheEchoGivesWrongReply) {
  ASSERT_TRUE(open());
  scale.inject(ScaleEmulator::kHandshake, {Fault::CloseAfterFirst});
  EXPECT_EQ(handshake(), HS::WrongReply);
  // The connection is gone: the next handshake has no data.
  EXPECT_EQ(handshake(), HS::NoData);
}

TEST_F(LinkTest, HandshakeOfAnotherScaleNumberGetsNoData) {
  scale.setScaleNumber(8);
  ASSERT_TRUE(open());
  EXPECT_EQ(handshake(), HS::NoData);
  // Only the low 8 bits of the number go out.
  form->StringGrid1->setCell(3, 1, "264");
  EXPECT_EQ(form->ScaleSelectHandshake(1, kTimeOut, 0), HS::WrongReply);  // echo 8 differs from 264
}

TEST_F(LinkTest, ZeroTimeOutOnlyLooks) {
  form->Edit32->setText(QStringLiteral("0"));
  ASSERT_TRUE(open());
  EXPECT_EQ(timeOut, 0);
  scale.inject(ScaleEmulator::kHandshake, {.kind = Fault::Late, .delayMs = 200});
  EXPECT_EQ(handshake(), HS::NoData);
}

TEST_F(LinkTest, BusyGuardRefusesASecondOperation) {
  {
    scalelink::BusyGuard first(*form);
    EXPECT_FALSE(first.refused());
    EXPECT_TRUE(form->ScaleBusy);
    scalelink::BusyGuard second(*form);
    EXPECT_TRUE(second.refused());
  }
  EXPECT_FALSE(form->ScaleBusy);  // only the owner clears it
}

TEST(TcpClientLayer, WaitIsFalseWhenThePeerClosedAndConnectFailsQuietly) {
  ScaleEmulator scale(3);
  TcpClient c;
  c.setRemoteHost(ScaleEmulator::kHost);
  c.setRemotePort(scale.portText());
  c.Open(1000);
  ASSERT_TRUE(c.Connected());
  scale.inject(ScaleEmulator::kHandshake, {Fault::Close});
  const char three = 3;
  c.SendBuf(&three, 1);
  EXPECT_FALSE(c.WaitForData(2000));
  unsigned char b = 0x55;
  EXPECT_EQ(c.ReceiveBuf(&b, 1), 0u);
  EXPECT_EQ(b, 0x55);  // a failed receive leaves the buffer alone

  // A changed port closes the socket; a refused port is "not connected".
  c.setRemotePort(scale.portText());
  EXPECT_TRUE(c.Active());
  scale.refuseConnections(true);
  c.setRemotePort("1");
  EXPECT_FALSE(c.Active());
  c.setRemotePort(scale.portText());
  c.Open(1000);
  EXPECT_FALSE(c.Connected());
  c.setRemotePort("not a port");
  c.Open(1000);
  EXPECT_FALSE(c.Connected());
}

// The operating system's ping against the loopback address, by every method
// that this machine allows.
TEST(IcmpLayer, SystemPingAnswersForLoopback) {
  using M = icmp::SystemPinger::Method;
  int worked = 0;
  for (M m : {M::Datagram, M::Raw, M::Utility, M::Auto}) {
    icmp::SystemPinger p(m);
    const icmp::ReplyStatus st = p.echo("127.0.0.1", 2000);
    if (st.BytesReceived > 0) {
      EXPECT_EQ(st.FromIpAddress, "127.0.0.1");
      ++worked;
    }
  }
  EXPECT_GT(worked, 0) << "no ping method works on this machine";
  // Not an address: no echo is sent at all.
  EXPECT_EQ(icmp::SystemPinger().echo("localhost", 100).BytesReceived, 0);
  EXPECT_EQ(icmp::SystemPinger().echo("-c9", 100).BytesReceived, 0);
}

TEST(IcmpLayer, ClientCallsItsHandlerOnceWithTheReply) {
  FakePing fake;
  icmp::IcmpClient client;
  std::vector<int> counts;
  client.OnReply = [&](icmp::IcmpClient* sender, const icmp::ReplyStatus& st) {
    EXPECT_EQ(sender, &client);
    counts.push_back(st.BytesReceived);
  };
  client.Host = "127.0.0.1";
  client.Ping();
  client.Host = "127.0.0.2";
  client.Ping();
  EXPECT_EQ(counts, (std::vector<int>{40, 0}));
}

// In an empty network namespace made for this test nothing answers, not even
// the loopback address: the real layer reports no reply.
TEST(IcmpLayer, NoReplyInAnEmptyNetworkNamespace) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::unshare(CLONE_NEWNET) != 0) ::_exit(77);
    const icmp::ReplyStatus st = icmp::SystemPinger(icmp::SystemPinger::Method::Raw).echo("127.0.0.1", 300);
    ::_exit(st.BytesReceived > 0 ? 1 : 0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no network namespaces here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Without privileges for a raw socket, without datagram ICMP sockets and
// without a ping utility that may send, nothing can be sent: the ping itself
// fails with a Russian text that says what the operator can do, every time,
// rather than passing for a scale that does not answer. Run in a child
// process as an unprivileged user outside the groups allowed datagram ICMP
// sockets; the text comes back through a pipe.
TEST(IcmpLayer, PingThatCannotBeSentIsAnErrorSayingWhatToDo) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs to drop root privileges";
  // A ping utility that may not open its socket, as iputils' says it.
  QTemporaryDir tools;
  ASSERT_TRUE(tools.isValid());
  ::chmod(tools.path().toLocal8Bit().constData(), 0755);
  const std::string fake = (tools.path() + "/ping").toStdString();
  std::ofstream(fake) << "#!/bin/sh\necho 'ping: socket: Operation not permitted' >&2\nexit 2\n";
  ::chmod(fake.c_str(), 0755);

  for (const std::string& path : {std::string("/nonexistent"), tools.path().toStdString()}) {
    SCOPED_TRACE(path);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(out[0]);
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(77);
      ::setenv("PATH", path.c_str(), 1);
      icmp::SystemPinger p;
      int errors = 0;
      std::string text;
      for (int i = 0; i < 2; ++i) {
        try {
          p.echo("127.0.0.1", 100);
        } catch (const icmp::PingError& e) {
          ++errors;
          text = e.what();
        }
      }
      if (::write(out[1], text.data(), text.size()) < 0) ::_exit(2);
      // A single method that cannot be used answers "nothing", as before.
      const bool quiet = icmp::SystemPinger(icmp::SystemPinger::Method::Raw).echo("127.0.0.1", 100).BytesReceived == 0;
      ::_exit(errors == 2 && quiet ? 0 : 1);
    }
    ::close(out[1]);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, std::size_t(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot drop privileges";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const QString shown = ansi::toUnicode(text);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Не удается отправить эхо-запрос ICMP (ping)"))) << text;
    for (const char* hint : {"root", "net.ipv4.ping_group_range", "iputils-ping"})
      EXPECT_TRUE(shown.contains(QLatin1String(hint))) << hint;
    if (path != "/nonexistent") {
      EXPECT_TRUE(shown.contains(QLatin1String("Operation not permitted")));
    }
  }
}

// A ping that cannot be sent ends the scale operation in the default error
// box with its own text, not with the message of a line that is down.
TEST_F(LinkTest, PingErrorEndsTheOperationInTheErrorBox) {
  struct Refused : icmp::Pinger {
    icmp::ReplyStatus echo(const std::string&, int) override {
      throw icmp::PingError(ansi::A(QStringLiteral("Не удается отправить эхо-запрос ICMP (ping)")));
    }
  } refused;
  icmp::install(&refused);
  form->ComboBox2->setEditText(QStringLiteral("Scale1"));
  Form4->showRange();
  Form4->Edit1->setText(QStringLiteral("1"));
  Form4->Edit2->setText(QStringLiteral("3"));
  Form4->Button1Click();
  icmp::install(&ping);
  const QStringList shown = dlg.take();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_EQ(shown[0], QStringLiteral("ERROR: Не удается отправить эхо-запрос ICMP (ping)"));
  EXPECT_FALSE(form->ScaleBusy);
  EXPECT_TRUE(form->Numb->isHidden());
}
