#include "platform/tcp_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/intconv.h"

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? int(left) : 0;
}

}  // namespace

TcpClient::~TcpClient() { Close(); }

void TcpClient::setRemoteHost(const std::string& host) {
  if (host != host_) Close();
  host_ = host;
}

void TcpClient::setRemotePort(const std::string& port) {
  if (port != port_) Close();
  port_ = port;
}

void TcpClient::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  connected_ = false;
}

void TcpClient::Open(int timeoutMs) {
  if (connected_) return;
  Close();
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  const auto port = intconv::tryParse(port_);
  if (!port || *port < 1 || *port > 65535 || ::inet_pton(AF_INET, host_.c_str(), &addr.sin_addr) != 1)
    return;
  addr.sin_port = htons(uint16_t(*port));

  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) return;
  const int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) return;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
      pollfd p{fd_, POLLOUT, 0};
      const int r = ::poll(&p, 1, msLeft(deadline));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return;  // time-out or error: not connected
      break;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return;
  }
  connected_ = true;
}

void TcpClient::setNoDelay(bool on) {
  if (fd_ < 0) return;
  const int v = on ? 1 : 0;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v);
}

long TcpClient::SendBuf(const void* data, std::size_t n) {
  if (fd_ < 0) return -1;
  const char* p = static_cast<const char*>(data);
  std::size_t done = 0;
  // The socket is non-blocking; a full send buffer is waited out briefly so
  // that one call still hands over all its bytes.
  while (done < n) {
    const ssize_t r = ::send(fd_, p + done, n - done, MSG_NOSIGNAL);
    if (r > 0) {
      done += std::size_t(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd pf{fd_, POLLOUT, 0};
      if (::poll(&pf, 1, 5000) > 0) continue;
    }
    return done ? long(done) : -1;
  }
  return long(done);
}

bool TcpClient::WaitForData(int ms) {
  if (fd_ < 0) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms > 0 ? ms : 0);
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, msLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    char c;
    const ssize_t n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    return n > 0;  // 0: the peer closed; <0: socket error
  }
}

std::size_t TcpClient::ReceiveBuf(void* data, std::size_t n) {
  if (fd_ < 0 || n == 0) return 0;
  for (;;) {
    const ssize_t r = ::recv(fd_, data, n, MSG_DONTWAIT);
    if (r < 0 && errno == EINTR) continue;
    return r > 0 ? std::size_t(r) : 0;
  }
}
