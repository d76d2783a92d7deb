#pragma once
// Host names and the PC's own address: the reverse look-up of an address
// through the system's resolver, bounded in time and behind a replaceable
// service so that tests can give names of their own, and the choice of the
// PC's own IPv4 address.
#include <QString>
#include <string>
#include <vector>

namespace namelookup {

class Resolver {
 public:
  virtual ~Resolver() = default;
  // The host name of a dotted IPv4 address, or empty text when it has none.
  virtual std::string reverse(const std::string& address) = 0;
};

// The system's resolver (hosts file, DNS, ...). Each look-up runs on a
// worker thread; the caller waits at most limitMs, letting the window's
// events run meanwhile, so that an unreachable name server cannot freeze the
// window. A look-up that runs out of time gives no name.
class SystemResolver final : public Resolver {
 public:
  explicit SystemResolver(int limitMs = 2000) : limitMs_(limitMs) {}
  std::string reverse(const std::string& address) override;

 private:
  int limitMs_;
};

// The service in use: the installed one, else the system's.
Resolver& current();
// Installs a service (nullptr restores the system's). The caller keeps
// ownership.
void install(Resolver* resolver);

inline std::string reverse(const std::string& address) { return current().reverse(address); }

// One network interface as the choice of the own address sees it.
struct Interface {
  bool up = false;
  bool loopback = false;
  std::vector<std::string> ipv4;  // dotted, in the system's order
};

// The PC's own IPv4 address: the first one the host name resolves to that
// is not a loopback address (127.0.0.0/8); when there is none, the first
// non-loopback IPv4 address of an interface that is up and not loopback;
// else empty text.
std::string chooseOwnIPv4(const std::vector<std::string>& resolved, const std::vector<Interface>& interfaces);

// The same choice from the system's resolver and interfaces.
QString ownIPv4();

}  // namespace namelookup
