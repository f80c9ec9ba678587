// e2e_phone_sim: the phone simulator as the end-to-end test and the main job run it, with a
// record of every picture sent: at the end it writes one line per complete video frame,
//   video <connection> <frame counter> <wall-clock us>
// to the --sent file, and prints how many video frames each connection carried.
//   e2e_phone_sim [--port N] [--clip PATH] [--clip-frames N] [--no-audio] [--seconds S] --sent FILE
// Runs until its input ends (or a line is read) or S seconds (default 120) have passed.
// Exit codes: 0 done; 1 the simulator could not start (port busy, clip missing); 2 bad arguments;
// 3 the record could not be written.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tools/phone_sim/phone_simulator.h"

namespace {

std::int64_t wallUs(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
  phonesim::SimulatorOptions options;
  std::string sentPath;
  int seconds = 120;
  int clipFrames = 60;  // the test clips hold counters 0..59, sent in that order
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = true;
    if (a == "--no-audio") {
      options.audio = false;
      continue;
    }
    if (!v) ok = false;
    else if (a == "--port") options.port = std::uint16_t(std::atoi(v)), ok = options.port > 0;
    else if (a == "--clip") options.clipPath = v;
    else if (a == "--clip-frames") clipFrames = std::atoi(v), ok = clipFrames > 0;
    else if (a == "--seconds") seconds = std::atoi(v), ok = seconds > 0 && seconds <= 3600;
    else if (a == "--sent") sentPath = v;
    else ok = false;
    if (!ok) {
      std::fprintf(stderr, "usage: e2e_phone_sim [--port N] [--clip PATH] [--clip-frames N] [--no-audio] "
                           "[--seconds S] --sent FILE\n");
      return 2;
    }
    i++;
  }
  if (sentPath.empty() || options.clipPath.empty()) {
    std::fprintf(stderr, "e2e_phone_sim: --sent and --clip are needed\n");
    return 2;
  }

  phonesim::PhoneSimulator simulator(options);
  simulator.onLog = [](const std::string& line) {
    std::printf("[phone_sim] %s\n", line.c_str());
    std::fflush(stdout);
  };
  if (!simulator.start()) return 1;
  // The simulator's timestamps count from the moment start() returns, on the steady clock;
  // reading the wall clock now maps them to wall-clock time.
  auto wallEpoch = std::chrono::system_clock::now();
  if (clipFrames != int(simulator.clipUnitCount())) {
    std::printf("[phone_sim] clip holds %zu pictures, not %d\n", simulator.clipUnitCount(), clipFrames);
  }

  std::atomic<bool> inputEnded{false};
  std::thread input([&] {
    int c;
    do c = std::getchar();
    while (c != EOF && c != '\n');
    inputEnded.store(true);
  });
  input.detach();  // may stay blocked in getchar; the process ends without it
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!inputEnded.load() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  simulator.stop();

  FILE* file = std::fopen(sentPath.c_str(), "w");
  if (!file) {
    std::printf("[phone_sim] cannot write %s\n", sentPath.c_str());
    return 3;
  }
  std::vector<phonesim::ConnectionRecord> connections = simulator.connections();
  std::uint64_t total = 0;
  for (std::size_t c = 0; c < connections.size(); c++) {
    long long index = 0;
    for (const phonesim::SentFrame& f : connections[c].frames) {
      if (f.type < 1 || f.type > 3) continue;
      long long counter = index++ % std::max(1, int(simulator.clipUnitCount()));
      if (!f.complete) continue;
      auto sentAt = wallEpoch + std::chrono::microseconds(f.timestampUs);
      std::fprintf(file, "video %zu %lld %lld\n", c + 1, counter, static_cast<long long>(wallUs(sentAt)));
    }
    total += connections[c].videoFrames;
    std::printf("[phone_sim] connection #%zu: %llu video frames sent\n", c + 1,
                static_cast<unsigned long long>(connections[c].videoFrames));
  }
  bool written = std::fclose(file) == 0;
  std::printf("[phone_sim] video frames sent: %llu\n", static_cast<unsigned long long>(total));
  std::fflush(stdout);
  return written ? 0 : 3;
}
