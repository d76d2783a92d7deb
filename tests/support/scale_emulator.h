#pragma once
// A scale for tests: an in-process TCP server on 127.0.0.1 (its own thread,
// a free port chosen by the system) that plays one scale of the wire
// protocol. It keeps every PLU cell, message, setting, price key, the logo,
// the factory settings, the current state and the grand totals; it records
// the bytes of every request; and it can misbehave on demand, per command.
//
// Use:
//   ScaleEmulator scale(7);                  // scale number 7
//   FakePing ping;                           // 127.0.0.1 answers the ping
//   row: number "7", address ScaleEmulator::kHost, port scale.portText()
//   scale.inject(0x82, {ScaleEmulator::Fault::Silence});  // next 0x82 unanswered
//   ... run the operation ...
//   scale.requests()  /  scale.plu(5)  /  scale.message(3) ...
//
// Protocol as played: a byte equal to the scale number is answered with that
// number and 0x80 (any other byte is ignored); the byte after an answered
// handshake is a command, whose body is read in full before the reply. Every
// request changes the storage as it would in a scale, whatever fault shapes
// its reply. A byte after an answered handshake that is no command is taken
// as a new handshake byte (recorded as such). Requests are
// recorded in arrival order: a handshake as command kHandshake with its one
// byte, a command with its command byte and body.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/icmp.h"

class ScaleEmulator {
 public:
  static constexpr const char* kHost = "127.0.0.1";
  static constexpr int kHandshake = -1;  // "command" of a handshake in faults and records

  // Listens on 127.0.0.1:port (0: a free port chosen by the system).
  explicit ScaleEmulator(int scaleNumber = 1, uint16_t port = 0);
  ~ScaleEmulator();
  ScaleEmulator(const ScaleEmulator&) = delete;
  ScaleEmulator& operator=(const ScaleEmulator&) = delete;

  uint16_t port() const { return port_; }
  std::string portText() const { return std::to_string(port_); }

  void setScaleNumber(int number);
  int scaleNumber() const;

  // ---- Faults ----
  struct Fault {
    enum Kind {
      Silence,          // no reply at all
      WrongEcho,        // handshake: echo is the number + 1, then 0x80
      WrongAnswerCode,  // handshake: right echo, then `status` (0x81 when 0)
      EmptyCell,        // reply 0xEE alone
      Status,           // first reply byte replaced by `status`, rest as usual
      Short,            // only the first `length` bytes of the reply
      Split,            // first `length` bytes, pause `delayMs`, the rest
      Late,             // pause `delayMs`, then the whole reply
      CloseAfterFirst,  // first reply byte (the echo of a handshake), then close
      Close,            // close the connection without a reply
    };
    Kind kind = Silence;
    int times = 1;             // exchanges it applies to; -1 = every one from now on
    unsigned char status = 0;  // Status, WrongAnswerCode
    std::size_t length = 0;    // Short, Split
    int delayMs = 0;           // Split, Late
    int skip = 0;              // matching exchanges answered normally before it applies
    int leadMs = 0;            // any kind: pause before the first byte of the reply
  };
  // Queues a fault for the given command byte (or kHandshake). Faults of one
  // command apply in the order queued, each for its `times` exchanges.
  void inject(int command, Fault fault);
  void clearFaults();
  // While on, connection attempts are refused (the port does not listen).
  void refuseConnections(bool on);

  // ---- Records ----
  struct Request {
    int command;        // command byte, or kHandshake
    std::string bytes;  // everything the request held (command byte included)
  };
  std::vector<Request> requests() const;
  // The bytes of every request of one command (kHandshake: the handshake bytes).
  std::vector<std::string> requestsOf(int command) const;
  void clearRequests();
  // Waits (at most 5 s) until at least count requests are recorded: for a
  // request the program sends without awaiting its reply. True when they are.
  bool waitForRequests(std::size_t count) const;
  int connectionCount() const;  // connections accepted so far

  // ---- Storage (every layout as on the wire) ----
  // A PLU cell: the 83-byte record as written by 0x82, and the 17 bytes of
  // sales data (start time, start date, sum, weight, counter) read by 0x81.
  std::optional<std::string> plu(int cell) const;
  std::string pluSales(int cell) const;
  void setPlu(int cell, const std::string& record83, const std::string& sales17 = std::string(17, '\0'));
  std::size_t pluCount() const;
  // A message: its 400 bytes of lines as written by 0x84.
  std::optional<std::string> message(int number) const;
  void setMessage(int number, const std::string& lines400);
  std::size_t messageCount() const;
  std::string userSettings() const;  // 9 bytes
  void setUserSettings(const std::string& bytes9);
  std::string shopName() const;  // 56 bytes
  void setShopName(const std::string& bytes56);
  int priceKey(int key) const;  // the cell key 1..54 calls (u32 on the wire)
  void setPriceKey(int key, int cell);
  std::string logo() const;  // 512 bytes
  void setLogo(const std::string& bytes512);
  std::string factorySettings() const;  // the 13 bytes after the status byte
  void setFactorySettings(const std::string& bytes13);
  std::string state() const;  // the 15 bytes after the status byte of 0x89
  void setState(const std::string& bytes15);
  std::string totals() const;  // the 40 bytes after the status byte of 0x85
  void setTotals(const std::string& bytes40);
  int totalsClears() const;          // 0x86 requests served
  std::string lastDate() const;      // body of the last 0x99 (6 bytes), empty before
  std::string lastTime() const;      // body of the last 0x9A (6 bytes), empty before

  // Body length of a command's request (after the command byte), or -1.
  static int bodyLength(int command);

 private:
  struct Client {
    int fd;
    std::string in;
    bool commandNext = false;
  };
  void run();
  void openListener();
  void closeListener();
  bool serve(Client& c);  // false: close the client
  std::string answer(int command, const std::string& request);
  std::optional<Fault> takeFault(int command);
  bool reply(Client& c, std::string bytes, const std::optional<Fault>& f);

  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  std::atomic<bool> stop_{false};
  bool wantRefuse_ = false, refusing_ = false;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;

  int number_;
  std::map<int, std::deque<Fault>> faults_;
  std::map<int, int> exchangeCount_;
  std::vector<Request> requests_;
  int connections_ = 0;

  std::map<int, std::pair<std::string, std::string>> plu_;
  std::map<int, std::string> messages_;
  std::string userSettings_, shop_, logo_, factory_, state_, totals_, date_, time_;
  std::array<int, 55> keys_{};
  int clears_ = 0;
};

// A ping for tests, installed while it lives: the addresses in `answering`
// answer (by default 127.0.0.1), every other one stays silent. With `from`
// set, every answer comes from that address (as a router's unreachable would).
class FakePing : public icmp::Pinger {
 public:
  FakePing() { icmp::install(this); }
  ~FakePing() override { icmp::install(nullptr); }
  std::set<std::string> answering{ScaleEmulator::kHost};
  std::string from;
  std::vector<std::pair<std::string, int>> calls;  // host, time-out
  icmp::ReplyStatus echo(const std::string& host, int timeoutMs) override;
};
