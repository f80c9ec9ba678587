#include "common/stage_trace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace stagetrace_detail {
std::atomic<bool> on{false};
}  // namespace stagetrace_detail

namespace {

// About five minutes of 60 fps video with every stage and camera sample; later records are dropped.
constexpr std::size_t kCapacity = std::size_t(1) << 17;

struct Entry {
  std::atomic<bool> ready{false};
  TraceStage stage = TraceStage::Received;
  std::uint64_t timestampUs = 0;
  std::int64_t atNs = 0;
};

struct Trace {
  std::string path;
  std::unique_ptr<Entry[]> entries;
  std::atomic<std::size_t> next{0};
  // Not std::call_once: clang's MinGW builds cannot link libstdc++'s thread-local once state.
  std::atomic<bool> writerStarted{false};
  std::mutex writeMutex;  // guards what follows
  std::FILE* file = nullptr;
  std::size_t written = 0;
  bool toldFull = false;
};

// Never freed: the background thread writes until the process ends.
std::atomic<Trace*> trace{nullptr};

int processId() {
#ifdef _WIN32
  return _getpid();
#else
  return int(getpid());
#endif
}

void flush(Trace& t) {
  std::lock_guard<std::mutex> lock(t.writeMutex);
  if (t.file == nullptr) t.file = std::fopen(t.path.c_str(), "ab");
  if (t.file == nullptr) return;
  const std::size_t reserved = t.next.load(std::memory_order_acquire);
  const std::size_t end = reserved < kCapacity ? reserved : kCapacity;
  char line[80];
  // In order, up to the first record still being filled in.
  for (; t.written < end && t.entries[t.written].ready.load(std::memory_order_acquire); ++t.written) {
    const Entry& e = t.entries[t.written];
    const int n = std::snprintf(line, sizeof line, "%s %llu %lld\n", traceStageName(e.stage),
                                static_cast<unsigned long long>(e.timestampUs), static_cast<long long>(e.atNs));
    if (n > 0) std::fwrite(line, 1, std::size_t(n), t.file);
  }
  if (reserved > kCapacity && t.written == kCapacity && !t.toldFull) {
    std::fputs("# buffer full: later records dropped\n", t.file);
    t.toldFull = true;
  }
  std::fflush(t.file);
}

void writeInBackground(Trace* t) {
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    flush(*t);
  }
}

// Read once, before any thread of this code runs.
std::string environmentPath() {
#ifdef _MSC_VER
  char* value = nullptr;
  std::size_t size = 0;
  if (_dupenv_s(&value, &size, "BRINDLE_STAGE_TRACE") != 0 || value == nullptr) return {};
  std::string path(value);
  std::free(value);
  return path;
#else
  const char* value = std::getenv("BRINDLE_STAGE_TRACE");  // NOLINT(concurrency-mt-unsafe)
  return value != nullptr ? value : "";
#endif
}

// Read once as the process (or the camera's DLL) starts. No thread and no file here: in a DLL
// this runs under the loader lock.
// NOLINTNEXTLINE(cert-err58-cpp): the initialiser is noexcept and catches everything.
[[maybe_unused]] const bool startedFromEnvironment = []() noexcept {
  try {
    const std::string path = environmentPath();
    return !path.empty() && startStageTrace(path);
  } catch (...) {
    return false;  // no memory for a path: no trace
  }
}();

}  // namespace

const char* traceStageName(TraceStage stage) {
  static const char* const names[kTraceStageCount] = {"received",    "cut",       "decoder_in",
                                                      "decoder_out", "published", "delivered"};
  const auto i = static_cast<std::size_t>(stage);
  return i < std::size_t(kTraceStageCount) ? names[i] : "unknown";
}

namespace stagetrace_detail {

void record(TraceStage stage, std::uint64_t timestampUs, std::int64_t atNs) {
  Trace* t = trace.load(std::memory_order_acquire);
  if (t == nullptr) return;
  if (!t->writerStarted.exchange(true, std::memory_order_acq_rel)) std::thread(writeInBackground, t).detach();
  const std::size_t i = t->next.fetch_add(1, std::memory_order_relaxed);
  if (i >= kCapacity) return;
  Entry& e = t->entries[i];
  e.stage = stage;
  e.timestampUs = timestampUs;
  e.atNs = atNs;
  e.ready.store(true, std::memory_order_release);
}

}  // namespace stagetrace_detail

bool startStageTrace(const std::string& path) {
  if (trace.load(std::memory_order_acquire) != nullptr) return false;
  auto* t = new (std::nothrow) Trace;
  if (t == nullptr) return false;
  t->entries.reset(new (std::nothrow) Entry[kCapacity]);
  if (!t->entries) {
    delete t;
    return false;
  }
  t->path = path + "." + std::to_string(processId());
  Trace* expected = nullptr;
  if (!trace.compare_exchange_strong(expected, t, std::memory_order_acq_rel)) {
    delete t;
    return false;
  }
  stagetrace_detail::on.store(true, std::memory_order_relaxed);
  return true;
}

void flushStageTrace() {
  if (Trace* t = trace.load(std::memory_order_acquire)) flush(*t);
}
