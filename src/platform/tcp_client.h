#pragma once
// The one TCP client of the program over the OS sockets, with the blocking
// semantics the scale link relies on: a connect that reports through
// Connected() instead of raising, sends whose failures go unnoticed, a wait
// for readable data bounded in milliseconds and a receive that takes only
// what has already arrived. Nothing here raises an exception.
#include <cstddef>
#include <string>

class TcpClient {
 public:
  TcpClient() = default;
  ~TcpClient();
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  // Setting a different host or port closes an open socket.
  void setRemoteHost(const std::string& host);
  void setRemotePort(const std::string& port);
  const std::string& RemoteHost() const { return host_; }
  const std::string& RemotePort() const { return port_; }

  // Active: a socket exists (it may or may not be connected).
  bool Active() const { return fd_ >= 0; }
  bool Connected() const { return connected_; }

  // Activates the socket and connects to RemoteHost:RemotePort, waiting at
  // most timeoutMs (a negative value waits 0). A failure leaves Connected()
  // false. TCP_NODELAY is set on every connection.
  void Open(int timeoutMs);
  // Closes the connection; never fails.
  void Close();

  // Turns Nagle's algorithm back on (false) or off (true, the default) for
  // the open connection; for measurements.
  void setNoDelay(bool on);

  // One send of exactly the bytes given; the number sent or -1. Never raises
  // SIGPIPE.
  long SendBuf(const void* data, std::size_t n);
  // Waits at most ms milliseconds (0: only looks) until a byte can be read.
  // False on time-out, on a socket error and when the peer has closed the
  // connection. Reads nothing.
  bool WaitForData(int ms);
  // One receive of at most n bytes of what has already arrived; never
  // blocks. The number received, 0 when nothing is there or on an error.
  std::size_t ReceiveBuf(void* data, std::size_t n);

 private:
  std::string host_;
  std::string port_;
  int fd_ = -1;
  bool connected_ = false;
};
