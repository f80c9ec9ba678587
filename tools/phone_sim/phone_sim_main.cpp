// phone_sim: stands in for the phone app on TCP port 5555 (see phone_simulator.h). Runs until
// killed, or as --seconds and --stop-on-input say; when it stops it prints how many video frames
// each connection carried and, with --sent, writes a record of every complete video frame.
// Exit codes: 0 done; 1 the simulator could not start (port busy, clip missing); 2 bad
// arguments; 3 the record could not be written.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

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
      "  --close-after N   close each connection after N bytes\n"
      "  --stall-after N   fall silent once on each connection after N bytes (still connected)\n"
      "  --stall-ms MS     for MS milliseconds, then go on (default 3000)\n"
      "  --silent-after N  fall silent for good on the first connection after N bytes, leaving\n"
      "                    it open (a phone that left the network); later ones are served\n"
      "  --damage-every N  damage the magic of every Nth video frame's header\n"
      "  --seconds S       stop after S seconds (default: run until killed)\n"
      "  --stop-on-input   stop as soon as a line is read from the input or the input ends\n"
      "  --sent FILE       when stopping, write one line per complete video frame sent:\n"
      "                    video <connection> <frame counter> <wall-clock us>\n"
      "  --clip-frames N   the clip's pictures carry the counters 0..N-1, in order (default 60)\n",
#ifdef BRINDLE_CLIP_DIR
      " (default ", BRINDLE_CLIP_DIR "/clip_1920x1080.264)"
#else
      "", ""
#endif
  );
}

bool takesValue(const std::string& arg) {
  return arg == "--port" || arg == "--bind" || arg == "--clip" || arg == "--rotation" || arg == "--fps" ||
         arg == "--max-frames" || arg == "--chunk" || arg == "--garbage" || arg == "--close-after" ||
         arg == "--stall-after" || arg == "--stall-ms" || arg == "--silent-after" || arg == "--damage-every" ||
         arg == "--seconds" || arg == "--sent" || arg == "--clip-frames";
}

bool parseNumber(const char* text, long long lo, long long hi, long long& out) {
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

std::int64_t wallUs(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

// The record of every complete video frame, its counter taken from its place in the clip.
// Simulator timestamps count from `wallEpoch` on the steady clock.
bool writeRecord(const std::string& path, const std::vector<phonesim::ConnectionRecord>& connections,
                 std::size_t clipUnits, std::chrono::system_clock::time_point wallEpoch) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) return false;
  for (std::size_t c = 0; c < connections.size(); c++) {
    long long index = 0;
    for (const phonesim::SentFrame& f : connections[c].frames) {
      if (f.type < 1 || f.type > 3) continue;
      long long counter = index++ % std::max<long long>(1, (long long)clipUnits);
      if (!f.complete) continue;
      auto sentAt = wallEpoch + std::chrono::microseconds(f.timestampUs);
      std::fprintf(file, "video %zu %lld %lld\n", c + 1, counter, static_cast<long long>(wallUs(sentAt)));
    }
  }
  return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  phonesim::SimulatorOptions options;
#ifdef BRINDLE_CLIP_DIR
  options.clipPath = BRINDLE_CLIP_DIR "/clip_1920x1080.264";
#endif
  long long seconds = 0, clipFrames = 60;
  bool stopOnInput = false;
  std::string sentPath;
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
    } else if (arg == "--stop-on-input") {
      stopOnInput = true;
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
    } else if (arg == "--stall-after") {
      ok = parseNumber(value, 0, 1LL << 50, n);
      options.stallAfter = n;
    } else if (arg == "--silent-after") {
      ok = parseNumber(value, 0, 1LL << 50, n);
      options.silentAfter = n;
    } else if (arg == "--stall-ms") {
      ok = parseNumber(value, 0, 3600 * 1000, n);
      options.stallMs = int(n);
    } else if (arg == "--damage-every") {
      ok = parseNumber(value, 1, 1 << 30, n);
      options.damageEvery = n;
    } else if (arg == "--seconds") {
      ok = parseNumber(value, 1, 24 * 3600, seconds);
    } else if (arg == "--sent") {
      sentPath = value;
    } else if (arg == "--clip-frames") {
      ok = parseNumber(value, 1, 1 << 20, clipFrames);
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
  // The simulator's timestamps count from the moment start() returns, on the steady clock;
  // reading the wall clock now maps them to wall-clock time.
  const auto wallEpoch = std::chrono::system_clock::now();
  if (!sentPath.empty() && clipFrames != (long long)simulator.clipUnitCount()) {
    std::printf("[phone_sim] clip holds %zu pictures, not %lld\n", simulator.clipUnitCount(), clipFrames);
  }

  std::atomic<bool> inputEnded{false};
  if (stopOnInput) {
    std::thread input([&] {
      int c;
      do c = std::getchar();
      while (c != EOF && c != '\n');
      inputEnded.store(true);
    });
    input.detach();  // may stay blocked in getchar; the process ends without it
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds > 0 ? seconds : 1);
  while (!inputEnded.load() && (seconds == 0 || std::chrono::steady_clock::now() < end)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  simulator.stop();

  std::vector<phonesim::ConnectionRecord> connections = simulator.connections();
  std::uint64_t total = 0;
  for (std::size_t c = 0; c < connections.size(); c++) {
    total += connections[c].videoFrames;
    std::printf("[phone_sim] connection #%zu: %llu video frames sent\n", c + 1,
                static_cast<unsigned long long>(connections[c].videoFrames));
  }
  std::printf("[phone_sim] video frames sent: %llu\n", static_cast<unsigned long long>(total));
  int exitCode = 0;
  if (!sentPath.empty() && !writeRecord(sentPath, connections, simulator.clipUnitCount(), wallEpoch)) {
    std::printf("[phone_sim] cannot write %s\n", sentPath.c_str());
    exitCode = 3;
  }
  std::fflush(stdout);
  return exitCode;
}
