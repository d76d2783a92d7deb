#include "scale_emulator.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void sleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool sendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t r = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    done += std::size_t(r);
  }
  return true;
}

uint32_t le(const std::string& s, std::size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | uint8_t(s[at + std::size_t(i)]);
  return v;
}

std::string fitted(const std::string& s, std::size_t n) {
  std::string out = s;
  out.resize(n, '\0');
  return out;
}

}  // namespace

ScaleEmulator::ScaleEmulator(int scaleNumber, uint16_t port) : port_(port), number_(scaleNumber) {
  userSettings_ = std::string("\x01\x00\x00\x01\x01\x05\x00\x14\x00", 9);
  shop_ = std::string(56, ' ');
  logo_ = std::string(512, '\0');
  // 15 kg capacity, three decimals of weight, two of price and amount.
  factory_ = std::string("\x98\x3a\x04\x03\x03\x00\x05\x02\x01\x00\x64\x88\x13", 13);
  state_ = std::string(15, '\0');
  totals_ = std::string(40, '\0');
  for (int k = 1; k <= 54; ++k) keys_[std::size_t(k)] = k;
  openListener();
  if (listenFd_ < 0) throw std::runtime_error("scale emulator: cannot listen on 127.0.0.1");
  thread_ = std::thread([this] { run(); });
}

ScaleEmulator::~ScaleEmulator() {
  stop_ = true;
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  closeListener();
}

void ScaleEmulator::openListener() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // loopback only
  a.sin_port = htons(port_);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return;
  }
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  listenFd_ = fd;
}

void ScaleEmulator::closeListener() {
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = -1;
}

void ScaleEmulator::refuseConnections(bool on) {
  std::unique_lock lock(mu_);
  wantRefuse_ = on;
  cv_.wait(lock, [&] { return refusing_ == on || stop_; });
}

void ScaleEmulator::run() {
  std::vector<Client> clients;
  while (!stop_) {
    {
      std::lock_guard lock(mu_);
      if (wantRefuse_ != refusing_) {
        if (wantRefuse_) {
          closeListener();
        } else {
          openListener();
        }
        refusing_ = wantRefuse_;
        cv_.notify_all();
      }
    }
    std::vector<pollfd> fds;
    if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
    const std::size_t first = fds.size();
    for (auto& c : clients) fds.push_back({c.fd, POLLIN, 0});
    const int r = ::poll(fds.data(), fds.size(), 20);
    if (r <= 0) continue;
    std::vector<Client> kept;
    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client& c = clients[i];
      bool keep = true;
      if (fds[first + i].revents & (POLLIN | POLLHUP | POLLERR)) {
        char buf[4096];
        const ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
          c.in.append(buf, std::size_t(n));
          keep = serve(c);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
          keep = false;
        }
      }
      if (keep) {
        kept.push_back(c);
      } else {
        ::close(c.fd);
      }
    }
    clients.swap(kept);
    if (first == 1 && (fds[0].revents & POLLIN)) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        clients.push_back({fd, {}, false});
        std::lock_guard lock(mu_);
        ++connections_;
      }
    }
  }
  for (auto& c : clients) ::close(c.fd);
}

bool ScaleEmulator::serve(Client& c) {
  while (!c.in.empty()) {
    if (!c.commandNext) {
      const unsigned char b = uint8_t(c.in[0]);
      c.in.erase(0, 1);
      int number;
      std::optional<Fault> f;
      {
        std::lock_guard lock(mu_);
        requests_.push_back({kHandshake, std::string(1, char(b))});
        cv_.notify_all();
        number = number_;
        if (b != uint8_t(number)) continue;  // another scale's number: ignored
        f = takeFault(kHandshake);
      }
      std::string ans{char(b), char(0x80)};
      if (f && f->kind == Fault::WrongEcho) ans[0] = char(b + 1);
      if (f && f->kind == Fault::WrongAnswerCode) ans[1] = char(f->status ? f->status : 0x81);
      // A wrong or missing answer leaves the scale waiting for a handshake.
      c.commandNext = !f || f->kind == Fault::Late || f->kind == Fault::Split;
      if (!reply(c, ans, f)) return false;
      continue;
    }
    const int command = uint8_t(c.in[0]);
    const int body = bodyLength(command);
    if (body < 0) {
      // Not a command: taken as a new handshake (scale numbers and commands
      // never share a value).
      c.commandNext = false;
      continue;
    }
    if (c.in.size() < std::size_t(1 + body)) return true;  // the rest is still on its way
    const std::string request = c.in.substr(0, std::size_t(1 + body));
    c.in.erase(0, request.size());
    c.commandNext = false;
    std::string ans;
    std::optional<Fault> f;
    {
      std::lock_guard lock(mu_);
      requests_.push_back({command, request});
      cv_.notify_all();
      ans = answer(command, request);
      f = takeFault(command);
    }
    if (!reply(c, ans, f)) return false;
  }
  return true;
}

std::optional<ScaleEmulator::Fault> ScaleEmulator::takeFault(int command) {
  auto it = faults_.find(command);
  if (it == faults_.end() || it->second.empty()) return std::nullopt;
  Fault& f = it->second.front();
  if (f.skip > 0) {
    --f.skip;
    return std::nullopt;
  }
  Fault out = f;
  if (f.times > 0 && --f.times == 0) it->second.pop_front();
  return out;
}

bool ScaleEmulator::reply(Client& c, std::string bytes, const std::optional<Fault>& f) {
  if (!f) return sendAll(c.fd, bytes);
  sleepMs(f->leadMs);
  switch (f->kind) {
    case Fault::Silence:
      return true;
    case Fault::EmptyCell:
      return sendAll(c.fd, std::string(1, char(0xEE)));
    case Fault::Status:
      if (!bytes.empty()) bytes[0] = char(f->status);
      return sendAll(c.fd, bytes);
    case Fault::Short:
      return sendAll(c.fd, bytes.substr(0, f->length));
    case Fault::Split: {
      const std::size_t n = std::min(f->length, bytes.size());
      if (!sendAll(c.fd, bytes.substr(0, n))) return false;
      sleepMs(f->delayMs);
      return sendAll(c.fd, bytes.substr(n));
    }
    case Fault::Late:
      sleepMs(f->delayMs);
      return sendAll(c.fd, bytes);
    case Fault::CloseAfterFirst:
      sendAll(c.fd, bytes.substr(0, 1));
      return false;
    case Fault::Close:
      return false;
    case Fault::WrongEcho:
    case Fault::WrongAnswerCode:
      return sendAll(c.fd, bytes);
  }
  return true;
}

int ScaleEmulator::bodyLength(int command) {
  switch (command) {
    case 0x81: return 4;
    case 0x82: return 83;
    case 0x83: return 2;
    case 0x84: return 402;
    case 0x85: case 0x86: case 0x89: case 0x95: case 0x97: case 0x98: case 0x9B: return 0;
    case 0x8A: return 9;
    case 0x8B: return 5;
    case 0x8C: return 512;
    case 0x8D: case 0x92: return 4;
    case 0x94: return 56;
    case 0x96: return 1;
    case 0x99: case 0x9A: return 6;
    default: return -1;
  }
}

// The scale's own work for one request (called with the lock held); returns
// its normal reply.
std::string ScaleEmulator::answer(int command, const std::string& rq) {
  const std::string ack(1, char(0xAA));
  const std::string body = rq.substr(1);
  switch (command) {
    case 0x81: {
      const auto it = plu_.find(int(le(body, 0, 4)));
      if (it == plu_.end()) return std::string(1, char(0xEE));
      return ack + it->second.first + it->second.second;
    }
    case 0x82: {
      auto& cell = plu_[int(le(body, 0, 4))];
      cell.first = body;
      if (cell.second.empty()) cell.second = std::string(17, '\0');
      return ack;
    }
    case 0x83: {
      const auto it = messages_.find(int(le(body, 0, 2)));
      if (it == messages_.end()) return std::string(1, char(0xEE));
      return ack + it->second + std::string(1, '\0');
    }
    case 0x84:
      messages_[int(le(body, 0, 2))] = body.substr(2);
      return ack;
    case 0x85:
      return ack + totals_;
    case 0x86:
      // The counters go to zero; the clearing time, date and free cells stay.
      std::fill(totals_.begin(), totals_.begin() + 30, '\0');
      ++clears_;
      return ack;
    case 0x89:
      return ack + state_;
    case 0x8A:
      userSettings_ = body;
      return ack;
    case 0x8B: {
      const int key = uint8_t(body[4]);
      if (key >= 1 && key <= 54) keys_[std::size_t(key)] = int(le(body, 0, 4));
      return ack;
    }
    case 0x8C:
      logo_ = body;
      return ack;
    case 0x8D:
      plu_.erase(int(le(body, 0, 4)));
      return ack;
    case 0x92: {
      const auto it = plu_.find(int(le(body, 0, 4)));
      if (it != plu_.end()) std::fill(it->second.second.begin() + 6, it->second.second.end(), '\0');
      return ack;
    }
    case 0x94:
      shop_ = body;
      return ack;
    case 0x95:
      return ack + userSettings_;
    case 0x96: {
      const int key = uint8_t(body[0]);
      const uint32_t cell = key >= 1 && key <= 54 ? uint32_t(keys_[std::size_t(key)]) : 0;
      std::string out = ack;
      for (int i = 0; i < 4; ++i) out += char(uint8_t(cell >> (8 * i)));
      return out;
    }
    case 0x97:
      return ack + logo_;
    case 0x98:
      return ack + shop_;
    case 0x99:
      date_ = body;
      return ack;
    case 0x9A:
      time_ = body;
      return ack;
    case 0x9B:
      return ack + factory_;
    default:
      return {};
  }
}

void ScaleEmulator::setScaleNumber(int number) {
  std::lock_guard lock(mu_);
  number_ = number;
}
int ScaleEmulator::scaleNumber() const {
  std::lock_guard lock(mu_);
  return number_;
}

void ScaleEmulator::inject(int command, Fault fault) {
  std::lock_guard lock(mu_);
  faults_[command].push_back(fault);
}
void ScaleEmulator::clearFaults() {
  std::lock_guard lock(mu_);
  faults_.clear();
}

std::vector<ScaleEmulator::Request> ScaleEmulator::requests() const {
  std::lock_guard lock(mu_);
  return requests_;
}
std::vector<std::string> ScaleEmulator::requestsOf(int command) const {
  std::lock_guard lock(mu_);
  std::vector<std::string> out;
  for (const auto& r : requests_)
    if (r.command == command) out.push_back(r.bytes);
  return out;
}
void ScaleEmulator::clearRequests() {
  std::lock_guard lock(mu_);
  requests_.clear();
}
bool ScaleEmulator::waitForRequests(std::size_t count) const {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, std::chrono::seconds(5), [&] { return requests_.size() >= count; });
}
int ScaleEmulator::connectionCount() const {
  std::lock_guard lock(mu_);
  return connections_;
}

std::optional<std::string> ScaleEmulator::plu(int cell) const {
  std::lock_guard lock(mu_);
  const auto it = plu_.find(cell);
  if (it == plu_.end()) return std::nullopt;
  return it->second.first;
}
std::string ScaleEmulator::pluSales(int cell) const {
  std::lock_guard lock(mu_);
  const auto it = plu_.find(cell);
  return it == plu_.end() ? std::string() : it->second.second;
}
void ScaleEmulator::setPlu(int cell, const std::string& record83, const std::string& sales17) {
  std::lock_guard lock(mu_);
  plu_[cell] = {fitted(record83, 83), fitted(sales17, 17)};
}
std::size_t ScaleEmulator::pluCount() const {
  std::lock_guard lock(mu_);
  return plu_.size();
}
std::optional<std::string> ScaleEmulator::message(int number) const {
  std::lock_guard lock(mu_);
  const auto it = messages_.find(number);
  if (it == messages_.end()) return std::nullopt;
  return it->second;
}
void ScaleEmulator::setMessage(int number, const std::string& lines400) {
  std::lock_guard lock(mu_);
  messages_[number] = fitted(lines400, 400);
}
std::size_t ScaleEmulator::messageCount() const {
  std::lock_guard lock(mu_);
  return messages_.size();
}

#define KMS_EMU_FIELD(get, set, member, size)       \
  std::string ScaleEmulator::get() const {          \
    std::lock_guard lock(mu_);                      \
    return member;                                  \
  }                                                 \
  void ScaleEmulator::set(const std::string& v) {   \
    std::lock_guard lock(mu_);                      \
    member = fitted(v, size);                       \
  }
KMS_EMU_FIELD(userSettings, setUserSettings, userSettings_, 9)
KMS_EMU_FIELD(shopName, setShopName, shop_, 56)
KMS_EMU_FIELD(logo, setLogo, logo_, 512)
KMS_EMU_FIELD(factorySettings, setFactorySettings, factory_, 13)
KMS_EMU_FIELD(state, setState, state_, 15)
KMS_EMU_FIELD(totals, setTotals, totals_, 40)
#undef KMS_EMU_FIELD

int ScaleEmulator::priceKey(int key) const {
  std::lock_guard lock(mu_);
  return key >= 1 && key <= 54 ? keys_[std::size_t(key)] : 0;
}
void ScaleEmulator::setPriceKey(int key, int cell) {
  std::lock_guard lock(mu_);
  if (key >= 1 && key <= 54) keys_[std::size_t(key)] = cell;
}
int ScaleEmulator::totalsClears() const {
  std::lock_guard lock(mu_);
  return clears_;
}
std::string ScaleEmulator::lastDate() const {
  std::lock_guard lock(mu_);
  return date_;
}
std::string ScaleEmulator::lastTime() const {
  std::lock_guard lock(mu_);
  return time_;
}

icmp::ReplyStatus FakePing::echo(const std::string& host, int timeoutMs) {
  calls.emplace_back(host, timeoutMs);
  icmp::ReplyStatus st;
  if (answering.count(host)) {
    st.BytesReceived = 40;
    st.FromIpAddress = from.empty() ? host : from;
  }
  return st;
}
