#include "platform/name_lookup.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <arpa/inet.h>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>

#include "platform/clock.h"

namespace namelookup {
namespace {

// What a worker hands back; shared, because a look-up that runs out of time
// is left to finish on its own.
struct Pending {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::string name;
};

Resolver* g_installed = nullptr;

SystemResolver& systemResolver() {
  static SystemResolver r;
  return r;
}

bool isLoopback(const std::string& a) { return a.rfind("127.", 0) == 0; }

}  // namespace

std::string SystemResolver::reverse(const std::string& address) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) return {};

  auto pending = std::make_shared<Pending>();
  try {
    std::thread([pending, sa] {
      char host[NI_MAXHOST] = {};
      const bool found = ::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host,
                                       nullptr, 0, NI_NAMEREQD) == 0;
      std::lock_guard lock(pending->m);
      if (found) pending->name = host;
      pending->done = true;
      pending->cv.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return {};  // no thread to spare: no name
  }

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs_ > 0 ? limitMs_ : 0);
  for (;;) {
    {
      std::unique_lock lock(pending->m);
      const auto slice = std::min(deadline, Clock::now() + std::chrono::milliseconds(10));
      if (pending->cv.wait_until(lock, slice, [&] { return pending->done; })) return pending->name;
    }
    if (Clock::now() >= deadline) return {};
    clock_::processEvents();
  }
}

Resolver& current() { return g_installed ? *g_installed : systemResolver(); }
void install(Resolver* resolver) { g_installed = resolver; }

std::string chooseOwnIPv4(const std::vector<std::string>& resolved, const std::vector<Interface>& interfaces) {
  for (const std::string& a : resolved)
    if (!isLoopback(a)) return a;
  for (const Interface& i : interfaces) {
    if (!i.up || i.loopback) continue;
    for (const std::string& a : i.ipv4)
      if (!isLoopback(a)) return a;
  }
  return {};
}

QString ownIPv4() {
  std::vector<std::string> resolved;
  const QHostInfo info = QHostInfo::fromName(QHostInfo::localHostName());
  for (const QHostAddress& a : info.addresses())
    if (a.protocol() == QAbstractSocket::IPv4Protocol) resolved.push_back(a.toString().toStdString());

  std::vector<Interface> interfaces;
  for (const QNetworkInterface& n : QNetworkInterface::allInterfaces()) {
    Interface i;
    i.up = n.flags().testFlag(QNetworkInterface::IsUp);
    i.loopback = n.flags().testFlag(QNetworkInterface::IsLoopBack);
    for (const QNetworkAddressEntry& e : n.addressEntries())
      if (e.ip().protocol() == QAbstractSocket::IPv4Protocol) i.ipv4.push_back(e.ip().toString().toStdString());
    interfaces.push_back(std::move(i));
  }
  return QString::fromStdString(chooseOwnIPv4(resolved, interfaces));
}

}  // namespace namelookup
