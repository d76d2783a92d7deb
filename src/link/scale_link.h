#pragma once
// Shared steps of every exchange with a scale: sending a request, the bounded
// wait for a reply and the gathering of its parts, and the guard that keeps a
// second scale operation from starting while one runs.
#include <chrono>
#include <cstddef>
#include <string>

class TcpClient;
class TForm1;

namespace scalelink {

// Sends a whole request (command byte and body). Normally one send; with
// setOneSendPerByte(true) one send per byte (kept for measurements only: the
// bytes on the wire are the same).
void sendRequest(TcpClient& client, const std::string& request);
void setOneSendPerByte(bool on);

// The bound of a reply: the time-out counted from the moment its one wait
// for data begins (a negative time-out counts as 0). Every part of the reply
// must be in by then.
using Deadline = std::chrono::steady_clock::time_point;
Deadline replyDeadline(int timeoutMs);

// One wait for readable data of at most timeoutMs (a negative value is 0).
bool waitForReply(TcpClient& client, int timeoutMs);

// Takes n bytes into buf: what has arrived, then whatever follows until all
// n are in or the deadline has passed (or the peer closed the connection).
// Always one receive at least. Returns the number of bytes received; the
// rest of buf is left as it was.
std::size_t receivePart(TcpClient& client, unsigned char* buf, std::size_t n, Deadline deadline);

// Sends the request, waits once and takes the whole reply of n bytes; true
// when all n came and the first is Ack (a short reply fails the exchange).
bool acknowledgedReply(TcpClient& client, const std::string& request, unsigned char* reply, std::size_t n,
                       int timeOutMs);
// A write whose answer is the one byte Ack.
bool acknowledgedWrite(TcpClient& client, const std::string& request, int timeOutMs);

// Holds TForm1::ScaleBusy for the life of one scale operation or long table
// loop. When the flag is already set (another operation runs and the event
// loop let this one start), the new operation is refused: refused() is true
// and the caller returns at once without a message or any other effect; the
// running operation goes on undisturbed.
class BusyGuard {
 public:
  explicit BusyGuard(TForm1& form);
  ~BusyGuard();
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;
  bool refused() const { return !owner_; }

 private:
  TForm1& form_;
  bool owner_;
};

}  // namespace scalelink
