// The link to one scale: opening it (time-out, row, ping, connect), the
// handshake before every command and the ping reply handler.
#include "link/scale_link.h"

#include <QLineEdit>
#include <atomic>
#include <chrono>
#include <limits>

#include "link/wire.h"
#include "platform/ansi.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/intconv.h"
#include "platform/ipv4.h"
#include "platform/tcp_client.h"
#include "shell/string_grid.h"
#include "shell/tform1.h"

namespace scalelink {
namespace {
std::atomic<bool> g_perByte{false};
}

void setOneSendPerByte(bool on) { g_perByte = on; }

void sendRequest(TcpClient& client, const std::string& request) {
  if (g_perByte) {
    for (char c : request) client.SendBuf(&c, 1);
  } else {
    client.SendBuf(request.data(), request.size());
  }
}

Deadline replyDeadline(int timeoutMs) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
}

bool waitForReply(TcpClient& client, int timeoutMs) { return client.WaitForData(timeoutMs < 0 ? 0 : timeoutMs); }

std::size_t receivePart(TcpClient& client, unsigned char* buf, std::size_t n, Deadline deadline) {
  using Clock = std::chrono::steady_clock;
  std::size_t got = client.ReceiveBuf(buf, n);
  while (got < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (!client.WaitForData(left > 0 ? int(left) : 0)) break;
    const std::size_t more = client.ReceiveBuf(buf + got, n - got);
    if (more == 0) break;
    got += more;
  }
  return got;
}

bool acknowledgedReply(TcpClient& client, const std::string& request, unsigned char* reply, std::size_t n,
                       int timeOutMs) {
  sendRequest(client, request);
  const Deadline deadline = replyDeadline(timeOutMs);
  if (!waitForReply(client, timeOutMs)) return false;
  return receivePart(client, reply, n, deadline) == n && reply[0] == wire::Ack;
}

bool acknowledgedWrite(TcpClient& client, const std::string& request, int timeOutMs) {
  unsigned char b = 0;
  return acknowledgedReply(client, request, &b, 1, timeOutMs);
}

BusyGuard::BusyGuard(TForm1& form) : form_(form), owner_(!form.ScaleBusy) {
  if (!owner_) return;
  form_.ScaleBusy = true;
  form_.ShowBusy(true);
}

BusyGuard::~BusyGuard() {
  if (!owner_) return;
  form_.ScaleBusy = false;
  form_.ShowBusy(false);
}

}  // namespace scalelink

bool TForm1::OpenScaleLink(const QString& Selector, const QString& Words, int& Row, int& ComPortTimeOut,
                           const std::function<bool(int Row)>& OwnCheck) {
  // 1. The previous connection.
  TcpClient1.Close();

  // 2. The time-out; a negative one would leave every wait without a bound.
  const auto timeOut = intconv::tryParse(ansi::A(Edit32->text()));
  if (!timeOut || *timeOut < 0) {
    dialogs::message(QStringLiteral("Неправильная настройка параметра ComPortTimeOut в конфигурации."));
    return false;
  }
  ComPortTimeOut = *timeOut;

  // 3. The scale's row.
  Row = NumberColFrom(ansi::A(Selector));
  if (Row == -1) {
    dialogs::message(Words + QStringLiteral(" выберите весы из списка (или заполните конфигурацию)."));
    return false;
  }

  // 4. Its check, then the caller's own.
  if (!RightCfg1(Row)) {
    dialogs::message(QStringLiteral("Проверьте правильность заполнения таблицы конфигурации для выбранных весов."));
    return false;
  }
  if (OwnCheck && !OwnCheck(Row)) return false;

  // 5. Ping. The sockets take the canonical dotted form of the four values
  // that the address check converted ("127.000.000.001", " 127.0.0.1" and
  // "$7F.0.0.1" all name 127.0.0.1).
  const std::string host = ipv4::dotted(StringGrid1->cell(4, Row)).value_or(StringGrid1->cell(4, Row));
  PingReplies.clear();
  clock_::processEvents();
  IdIcmpClient1.Host = host;
  IdIcmpClient1.ReceiveTimeout = ComPortTimeOut;
  IdIcmpClient1.Ping();
  clock_::sleep(50);
  if (PingReplies.empty()) {
    dialogs::message(
        QStringLiteral("Не удается установить связь с весами.Проверьте линию связи или сетевые настройки."));
    return false;
  }

  // 6. Connect, bounded a little beyond the time-out (a time-out near the
  // top of the integer range must not wrap round to no wait at all).
  TcpClient1.setRemoteHost(host);
  TcpClient1.setRemotePort(StringGrid1->cell(5, Row));
  clock_::processEvents();
  const int connectMs = ComPortTimeOut > std::numeric_limits<int>::max() - 2000 ? std::numeric_limits<int>::max()
                                                                                 : ComPortTimeOut + 2000;
  if (!TcpClient1.Active()) TcpClient1.Open(connectMs);
  if (!TcpClient1.Connected()) {
    dialogs::message(QStringLiteral(
        "Не удается установить связь с весами. Линия связи исправна. Проверьте работоспособность весов или "
        "установку программного порта в конфигурации."));
    return false;
  }
  return true;
}

TForm1::HandshakeResult TForm1::ScaleSelectHandshake(int Row, int TimeOut, int Pause) {
  const unsigned char number = uint8_t(intconv::tryParse(StringGrid1->cell(3, Row)).value_or(0));
  scalelink::sendRequest(TcpClient1, std::string(1, char(number)));
  const scalelink::Deadline deadline = scalelink::replyDeadline(TimeOut);
  if (!scalelink::waitForReply(TcpClient1, TimeOut)) return HandshakeResult::NoData;
  unsigned char echo = 0;
  TcpClient1.ReceiveBuf(&echo, 1);
  clock_::sleep(Pause);
  // An answer code that never comes (or a closed connection) is a wrong reply.
  unsigned char code = 0;
  scalelink::receivePart(TcpClient1, &code, 1, deadline);
  const auto again = intconv::tryParse(StringGrid1->cell(3, Row));
  return again && *again == echo && code == 0x80 ? HandshakeResult::Accepted : HandshakeResult::WrongReply;
}

void TForm1::IdIcmpClient1Reply(icmp::IcmpClient* /*Sender*/, const icmp::ReplyStatus& ReplyStatus) {
  if (ReplyStatus.BytesReceived > 0) PingReplies.push_back(ReplyStatus.FromIpAddress);
}
