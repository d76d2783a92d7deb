#include "platform/icmp.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/ansi.h"
#include "platform/oserror.h"

namespace icmp {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kEchoReply = 0, kEchoRequest = 8;
constexpr int kPayload = 32;

// ICMP types that answer for a request which did not reach its host.
bool isErrorType(uint8_t t) { return t == 3 || t == 4 || t == 5 || t == 11 || t == 12; }

int msLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? int(left) : 0;
}

uint16_t checksum(const uint8_t* p, std::size_t n) {
  uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < n; i += 2) sum += uint32_t(p[i]) << 8 | p[i + 1];
  if (n & 1) sum += uint32_t(p[n - 1]) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return uint16_t(~sum);
}

void buildEcho(uint8_t* pkt, uint16_t id, uint16_t seq) {
  std::memset(pkt, 0, 8 + kPayload);
  pkt[0] = kEchoRequest;
  pkt[4] = uint8_t(id >> 8);
  pkt[5] = uint8_t(id);
  pkt[6] = uint8_t(seq >> 8);
  pkt[7] = uint8_t(seq);
  for (int i = 0; i < kPayload; ++i) pkt[8 + i] = uint8_t('a' + i % 26);
  const uint16_t c = checksum(pkt, 8 + kPayload);
  pkt[2] = uint8_t(c >> 8);
  pkt[3] = uint8_t(c);
}

std::string addrText(const in_addr& a) {
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Waits until fd has something to read (or an error queued) or the deadline
// passes; false on time-out.
bool readable(int fd, Clock::time_point deadline, short& revents) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, msLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    revents = p.revents;
    return r > 0;
  }
}

std::atomic<uint16_t> g_sequence{0};

enum class Outcome { Unavailable, Answered, Silent };

// An unprivileged ICMP datagram socket: the kernel sets the identifier and
// passes up only the replies to this socket; error messages arrive on the
// error queue.
Outcome pingDatagram(const sockaddr_in& to, int timeoutMs, ReplyStatus& st, std::string& why) {
  Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (s.get() < 0) {
    why = (QStringLiteral("датаграммный сокет ICMP: ") + osErrorText(errno)).toStdString();
    return Outcome::Unavailable;
  }
  const int one = 1;
  ::setsockopt(s.get(), IPPROTO_IP, IP_RECVERR, &one, sizeof one);
  uint8_t pkt[8 + kPayload];
  buildEcho(pkt, 0, ++g_sequence);
  if (::sendto(s.get(), pkt, sizeof pkt, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
    return Outcome::Silent;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  short revents = 0;
  while (readable(s.get(), deadline, revents)) {
    if (revents & POLLERR) {
      uint8_t data[256];
      char control[512];
      sockaddr_in from{};
      iovec iov{data, sizeof data};
      msghdr msg{};
      msg.msg_name = &from;
      msg.msg_namelen = sizeof from;
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      const ssize_t n = ::recvmsg(s.get(), &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
      if (n < 0) continue;
      for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
        const auto* ee = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
        if (ee->ee_origin != SO_EE_ORIGIN_ICMP) continue;
        const auto* off = reinterpret_cast<const sockaddr_in*>(SO_EE_OFFENDER(ee));
        st.BytesReceived = int(n) > 0 ? int(n) : 8;
        st.FromIpAddress = addrText(off->sin_addr);
        return Outcome::Answered;
      }
      continue;
    }
    uint8_t buf[1500];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        ::recvfrom(s.get(), buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    if (n >= 8 && buf[0] == kEchoReply) {
      st.BytesReceived = int(n);
      st.FromIpAddress = addrText(from.sin_addr);
      return Outcome::Answered;
    }
  }
  return Outcome::Silent;
}

// A raw socket sees every ICMP message of the host, so only the reply to our
// own request, or an error message that quotes it, is taken.
Outcome pingRaw(const sockaddr_in& to, int timeoutMs, ReplyStatus& st, std::string& why) {
  Fd s(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (s.get() < 0) {
    why = (QStringLiteral("сокет ICMP типа raw: ") + osErrorText(errno)).toStdString();
    return Outcome::Unavailable;
  }
  const uint16_t id = uint16_t(::getpid() ^ 0x4B4D);
  const uint16_t seq = ++g_sequence;
  uint8_t pkt[8 + kPayload];
  buildEcho(pkt, id, seq);
  if (::sendto(s.get(), pkt, sizeof pkt, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
    return Outcome::Silent;
  auto ours = [&](const uint8_t* icmpHdr) {
    return (uint16_t(icmpHdr[4] << 8 | icmpHdr[5]) == id) && (uint16_t(icmpHdr[6] << 8 | icmpHdr[7]) == seq);
  };
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  short revents = 0;
  while (readable(s.get(), deadline, revents)) {
    uint8_t buf[1500];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        ::recvfrom(s.get(), buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 20) continue;
    const std::size_t ihl = std::size_t(buf[0] & 0x0F) * 4;
    if (ihl < 20 || std::size_t(n) < ihl + 8) continue;  // shorter than an IP header and 8 bytes
    const uint8_t* ic = buf + ihl;
    bool match = false;
    if (ic[0] == kEchoReply) {
      match = ours(ic);
    } else if (isErrorType(ic[0])) {
      // The error quotes the IP header and the first 8 bytes of our request.
      const uint8_t* inner = ic + 8;
      const std::size_t avail = std::size_t(n) - ihl - 8;
      if (avail >= 20) {
        const std::size_t innerIhl = std::size_t(inner[0] & 0x0F) * 4;
        if (innerIhl >= 20 && avail >= innerIhl + 8 && inner[innerIhl] == kEchoRequest)
          match = ours(inner + innerIhl);
      }
    }
    if (match) {
      st.BytesReceived = int(std::size_t(n) - ihl);
      st.FromIpAddress = addrText(from.sin_addr);
      return Outcome::Answered;
    }
  }
  return Outcome::Silent;
}

// The system's ping utility: exit code 0 means an answer came.
Outcome pingUtility(const std::string& host, int timeoutMs, ReplyStatus& st, std::string& why) {
  QProcess p;
  // The utility takes at most this many whole seconds.
  constexpr int kMaxSeconds = 2000000;
  const double secs = std::min((timeoutMs > 0 ? timeoutMs : 1) / 1000.0, double(kMaxSeconds));
  // Its messages in English, whatever the operator's language.
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
  p.setProcessEnvironment(env);
  p.start(QStringLiteral("ping"), {QStringLiteral("-n"), QStringLiteral("-q"), QStringLiteral("-c"),
                                   QStringLiteral("1"), QStringLiteral("-W"), QString::number(secs, 'f', 3),
                                   QString::fromStdString(host)});
  if (!p.waitForStarted(3000)) {
    why = "ping: " + p.errorString().toStdString();
    return Outcome::Unavailable;
  }
  // A little beyond the utility's own wait, without overflowing.
  const int waitMs = timeoutMs > std::numeric_limits<int>::max() - 3000 ? std::numeric_limits<int>::max()
                                                                        : timeoutMs + 3000;
  if (!p.waitForFinished(waitMs)) {
    p.kill();
    p.waitForFinished(1000);
    return Outcome::Silent;
  }
  if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) {
    st.BytesReceived = 8 + kPayload;
    st.FromIpAddress = host;
    return Outcome::Answered;
  }
  // A utility that may not open its socket sends nothing: that is no
  // silence of the scale.
  const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
  if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 2 &&
      (err.contains(QLatin1String("Operation not permitted")) || err.contains(QLatin1String("Permission denied")) ||
       err.contains(QLatin1String("cap_net_raw")))) {
    why = "ping: " + err.section(QLatin1Char('\n'), 0, 0).toStdString();
    return Outcome::Unavailable;
  }
  return Outcome::Silent;
}

// The error box text for a ping that no method could send; the reasons are
// UTF-8.
std::string unavailableText(const std::string& reasons) {
  return ansi::fromUnicode(
      QStringLiteral("Не удается отправить эхо-запрос ICMP (ping), которым программа проверяет связь с "
                     "весами: системе не хватает прав (%1).\n\n"
                     "Что можно сделать:\n"
                     "- запустить программу от имени администратора (root);\n"
                     "- или разрешить непривилегированные ICMP-сокеты, например командой\n"
                     "  sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
                     "  (постоянно - строкой net.ipv4.ping_group_range = 0 2147483647 в /etc/sysctl.conf);\n"
                     "- или установить пакет iputils-ping (утилиту ping).")
          .arg(QString::fromUtf8(reasons.c_str())));
}

SystemPinger& systemPinger() {
  static SystemPinger p;
  return p;
}

Pinger* g_installed = nullptr;

}  // namespace

ReplyStatus SystemPinger::echo(const std::string& host, int timeoutMs) {
  ReplyStatus st;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  if (::inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1) return st;  // not an address: no answer
  if (timeoutMs < 0) timeoutMs = 0;

  std::string why;
  std::string reasons;
  auto tried = [&](Outcome o) {
    if (o == Outcome::Unavailable) reasons += (reasons.empty() ? "" : "; ") + why;
    return o != Outcome::Unavailable;
  };
  if ((method_ == Method::Auto || method_ == Method::Datagram) && tried(pingDatagram(to, timeoutMs, st, why)))
    return st;
  if ((method_ == Method::Auto || method_ == Method::Raw) && tried(pingRaw(to, timeoutMs, st, why))) return st;
  if ((method_ == Method::Auto || method_ == Method::Utility) && tried(pingUtility(host, timeoutMs, st, why)))
    return st;
  if (method_ == Method::Auto) throw PingError(unavailableText(reasons));
  return st;
}

Pinger& current() { return g_installed ? *g_installed : systemPinger(); }
void install(Pinger* pinger) { g_installed = pinger; }

void IcmpClient::Ping() {
  const ReplyStatus st = current().echo(Host, ReceiveTimeout);
  if (OnReply) OnReply(this, st);
}

}  // namespace icmp
