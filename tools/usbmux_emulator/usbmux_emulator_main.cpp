// usbmux_emulator: serves the USB mux protocol until Enter (or end of input) so the control
// program can be tried without iTunes. Tunnels go to the phone simulator on this machine.
//
//   usbmux_emulator [--port N] [--no-tcp] [--pipe] [--device ID]... [--no-devices]
//                   [--reject NUMBER] [--tunnel-host ADDRESS]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/usbmux_emulator/usbmux_emulator.h"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: usbmux_emulator [--port N] [--no-tcp] [--pipe] [--device ID]... [--no-devices]\n"
               "                       [--reject NUMBER] [--tunnel-host ADDRESS]\n");
}

bool number(const char* text, unsigned long max, unsigned long& out) {
  char* end = nullptr;
  out = std::strtoul(text, &end, 10);
  return end != text && *end == '\0' && out <= max && text[0] != '-';
}

}  // namespace

int main(int argc, char** argv) {
  usbmuxemu::EmulatorOptions options;
  bool devicesGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    unsigned long n = 0;
    if (arg == "--port" && value && number(value, 65535, n)) {
      options.tcpPort = std::uint16_t(n);
      ++i;
    } else if (arg == "--no-tcp") {
      options.tcp = false;
    } else if (arg == "--pipe") {
      options.pipe = true;
    } else if (arg == "--device" && value && number(value, 0xFFFFFFFFul, n)) {
      if (!devicesGiven) options.deviceIds.clear();
      devicesGiven = true;
      options.deviceIds.push_back(std::uint32_t(n));
      ++i;
    } else if (arg == "--no-devices") {
      devicesGiven = true;
      options.deviceIds.clear();
    } else if (arg == "--reject" && value && number(value, 0x7FFFFFFF, n)) {
      options.rejectWith = std::int32_t(n);
      ++i;
    } else if (arg == "--tunnel-host" && value) {
      options.tunnelHost = value;
      ++i;
    } else {
      usage();
      return 2;
    }
  }

  usbmuxemu::UsbMuxEmulator emulator(options);
  emulator.onLog = [](const std::string& line) {
    std::printf("[usbmux_emulator] %s\n", line.c_str());
    std::fflush(stdout);
  };
  if (!emulator.start()) return 1;  // the reason is already printed
  std::printf("[usbmux_emulator] press Enter to stop\n");
  std::fflush(stdout);
  for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
  }
  emulator.stop();
  return 0;
}
