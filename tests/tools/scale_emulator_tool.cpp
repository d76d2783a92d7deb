// A stand-alone emulated scale, so that the program can be tried without one:
//   scale_emulator_tool [scale-number [port]]
// listens on 127.0.0.1 (port 0 or none: a free one) until interrupted and
// prints each request it receives. Enter 127.0.0.1, the number and the port
// in the configuration table.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/intconv.h"
#include "support/scale_emulator.h"

namespace {
std::atomic<bool> g_stop{false};
void onSignal(int) { g_stop = true; }
}  // namespace

int main(int argc, char** argv) {
  const auto number = argc > 1 ? intconv::tryParse(argv[1]) : std::optional<int>(1);
  const auto port = argc > 2 ? intconv::tryParse(argv[2]) : std::optional<int>(0);
  if (argc > 3 || !number || *number < 1 || *number > 99 || !port || *port < 0 || *port > 65535) {
    std::fprintf(stderr, "usage: %s [scale-number 1..99 [port]]\n", argv[0]);
    return 2;
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  try {
    ScaleEmulator scale(*number, uint16_t(*port));
    std::printf("scale %d listening on %s:%u (Ctrl+C ends)\n", *number, ScaleEmulator::kHost, scale.port());
    std::fflush(stdout);
    std::size_t shown = 0;
    while (!g_stop) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const auto requests = scale.requests();
      for (; shown < requests.size(); ++shown) {
        const auto& r = requests[shown];
        if (r.command == ScaleEmulator::kHandshake) {
          std::printf("handshake %u\n", unsigned(uint8_t(r.bytes[0])));
        } else {
          std::printf("command 0x%02X, %zu bytes\n", unsigned(r.command), r.bytes.size());
        }
      }
      std::fflush(stdout);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
