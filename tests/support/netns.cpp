#include "netns.h"

#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

bool enterNewNetworkNamespace() { return ::unshare(CLONE_NEWNET) == 0; }

bool setLoopbackUp() {
  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags = short(ifr.ifr_flags | IFF_UP);
  ok = ok && ::ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
  ::close(s);
  return ok;
}
