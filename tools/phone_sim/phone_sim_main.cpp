// phone_sim: stands in for the phone app on TCP port 5555 (see phone_simulator.h).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "tools/phone_sim/phone_simulator.h"

namespace {

void usage() {
  std::printf(
      "usage: phone_sim [options]\n"
      "  --port N          TCP port to listen on (default 5555)\n"
      "  --bind ADDRESS    IPv4 address to listen on (default 127.0.0.1)\n"
      "  --clip PATH       H.264 Annex B clip with access unit delimiters%s%s\n"
      "  --rotation DEG    rotation sent in the orientation message (default 0)\n"
      "  --mirror          send mirror true\n"
      "  --no-audio        send neither the audio format nor the tone\n"
      "  --fps F           video frames per second (default 30)\n"
      "  --max-frames N    stop streaming after N video frames on each connection\n"
      "  --chunk N         write everything in pieces of N bytes\n"
      "  --garbage N       send N garbage bytes before the server hello\n"
      "  --close-after N   close each connection after N bytes\n",
#ifdef BRINDLE_CLIP_DIR
      " (default ", BRINDLE_CLIP_DIR "/clip_1920x1080.264)"
#else
      "", ""
#endif
  );
}

bool takesValue(const std::string& arg) {
  return arg == "--port" || arg == "--bind" || arg == "--clip" || arg == "--rotation" || arg == "--fps" ||
         arg == "--max-frames" || arg == "--chunk" || arg == "--garbage" || arg == "--close-after";
}

bool parseNumber(const char* text, long long lo, long long hi, long long& out) {
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  phonesim::SimulatorOptions options;
#ifdef BRINDLE_CLIP_DIR
  options.clipPath = BRINDLE_CLIP_DIR "/clip_1920x1080.264";
#endif
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    long long n = 0;
    bool ok = true;
    bool usesValue = takesValue(arg);
    if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else if (arg == "--mirror") {
      options.mirror = true;
    } else if (arg == "--no-audio") {
      options.audio = false;
    } else if (usesValue && value == nullptr) {
      ok = false;
    } else if (arg == "--port") {
      ok = parseNumber(value, 0, 65535, n);
      options.port = std::uint16_t(n);
    } else if (arg == "--bind") {
      options.bindAddress = value;
    } else if (arg == "--clip") {
      options.clipPath = value;
    } else if (arg == "--rotation") {
      ok = parseNumber(value, -100000, 100000, n);
      options.rotation = int(n);
    } else if (arg == "--fps") {
      char* end = nullptr;
      options.fps = std::strtod(value, &end);
      ok = end != value && *end == '\0' && options.fps > 0.0 && options.fps <= 1000.0;
    } else if (arg == "--max-frames") {
      ok = parseNumber(value, 0, 1LL << 40, n);
      options.maxFrames = n;
    } else if (arg == "--chunk") {
      ok = parseNumber(value, 1, 1 << 30, n);
      options.chunk = std::size_t(n);
    } else if (arg == "--garbage") {
      ok = parseNumber(value, 1, 1 << 20, n);
      options.garbage = std::size_t(n);
    } else if (arg == "--close-after") {
      ok = parseNumber(value, 0, 1LL << 50, n);
      options.closeAfter = n;
    } else {
      std::fprintf(stderr, "phone_sim: unknown option %s\n", arg.c_str());
      usage();
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "phone_sim: %s needs a valid value\n", arg.c_str());
      return 2;
    }
    if (usesValue) ++i;
  }

  phonesim::PhoneSimulator simulator(options);
  simulator.onLog = [](const std::string& line) {
    std::printf("[phone_sim] %s\n", line.c_str());
    std::fflush(stdout);
  };
  if (!simulator.start()) return 1;
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));  // until killed
}
