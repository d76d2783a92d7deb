#pragma once
// ICMP echo (ping): one request, one bounded wait, one reply callback. The
// echo itself goes through a replaceable service so that tests never depend
// on raw-socket privileges or on a network.
#include <functional>
#include <stdexcept>
#include <string>

namespace icmp {

// What one ping gave: the byte count of the reply (0 when nothing came in
// time) and the address of its sender.
struct ReplyStatus {
  int BytesReceived = 0;
  std::string FromIpAddress;
};

class Pinger {
 public:
  virtual ~Pinger() = default;
  // Sends one echo request to host (a dotted IPv4 address) and waits at most
  // timeoutMs for one answer.
  virtual ReplyStatus echo(const std::string& host, int timeoutMs) = 0;
};

// The ping itself cannot be sent (no way of sending an ICMP echo is allowed
// on this machine). The text (Windows-1251) gives the reasons and what the
// operator can do about them.
class PingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The operating system's ping. Auto tries, in this order, an unprivileged
// ICMP datagram socket, a raw socket and the system's ping utility. An echo
// reply to our own request, and a destination-unreachable, source-quench,
// redirect, time-exceeded or parameter-problem message from any sender,
// count as an answer. When no method can be used, Auto throws PingError; a
// single method that cannot be used gives the answer "nothing".
class SystemPinger final : public Pinger {
 public:
  enum class Method { Auto, Datagram, Raw, Utility };
  explicit SystemPinger(Method method = Method::Auto) : method_(method) {}
  ReplyStatus echo(const std::string& host, int timeoutMs) override;

 private:
  Method method_;
};

// The service in use: the installed one, else the system's.
Pinger& current();
// Installs a service (nullptr restores the system's). The caller keeps
// ownership.
void install(Pinger* pinger);

// The ICMP echo client of the main window.
class IcmpClient {
 public:
  using ReplyHandler = std::function<void(IcmpClient* sender, const ReplyStatus& status)>;
  IcmpClient() = default;
  explicit IcmpClient(ReplyHandler onReply) : OnReply(std::move(onReply)) {}

  std::string Host;
  int ReceiveTimeout = 0;  // milliseconds
  ReplyHandler OnReply;

  // Synchronous: one echo to Host, then OnReply once with what came back.
  void Ping();
};

}  // namespace icmp
