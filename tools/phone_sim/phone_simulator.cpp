#include "tools/phone_sim/phone_simulator.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <utility>

#include "tools/phone_sim/sine_tone.h"
#include "tools/phone_sim/wire_format.h"

namespace phonesim {

namespace {

constexpr std::chrono::milliseconds kPollStep{50};        // how often waits look at the run flag
constexpr std::chrono::milliseconds kAudioPeriod{10};
constexpr std::chrono::milliseconds kCloseLinger{1000};   // reading after our FIN, for the peer's
constexpr long long kMaxClipBytes = 512LL * 1024 * 1024;
constexpr std::size_t kNoRecord = std::size_t(-1);

std::vector<std::uint8_t> garbageBytes(std::size_t count) {
  std::vector<std::uint8_t> out(count);
  // Never begins with 'S', so it can never pass for a server hello.
  for (std::size_t i = 0; i < count; ++i) out[i] = std::uint8_t((i * 37 + 0x5A) ^ 0xC3);
  return out;
}

std::string hexBytes(const std::uint8_t* data, std::size_t size) {
  std::string out;
  char text[4];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(text, sizeof text, i ? " %02X" : "%02X", data[i]);
    out += text;
  }
  return out;
}

}  // namespace

// One connection: hello, metadata, then paced video and audio until the client leaves, the
// simulator stops, the frame budget is spent or the byte budget cuts the connection.
class PhoneSimulator::Session {
 public:
  Session(PhoneSimulator& sim, Socket& socket, std::size_t record, int number)
      : sim_(sim), options_(sim.options_), socket_(socket), record_(record), number_(number) {}

  void run() {
    socket_.setNoDelay();
    Clock::time_point t0 = Clock::now();
    auto sinceEpoch = std::chrono::duration_cast<std::chrono::microseconds>(t0 - sim_.epoch_);
    std::uint64_t base = std::uint64_t(sinceEpoch.count());

    message_.clear();
    if (options_.garbage > 0) {
      message_ = garbageBytes(options_.garbage);
      if (options_.garbagePauseMs > 0) {
        auto pause = std::chrono::milliseconds(options_.garbagePauseMs);
        if (!send(message_) || !pump(Clock::now() + pause)) return finish();
        message_.clear();
      }
    }
    appendServerHello(message_);
    if (!send(message_)) return finish();

    std::string orientation = orientationJson(options_.rotation, options_.mirror);
    if (!sendFrame(kTypeOrientation, base, text(orientation))) return finish();
    if (options_.audio) {
      std::string format = audioFormatJson();
      if (!sendFrame(kTypeAudioFormat, base, text(format))) return finish();
    }

    const double periodUs = 1e6 / options_.fps;
    long long video = 0;
    long long audio = 0;
    for (;;) {
      if (options_.maxFrames >= 0 && video >= options_.maxFrames) {
        update([](ConnectionRecord& r) { r.streamDone = true; });
        // Stay connected, reading, until the client leaves or the simulator stops.
        pump(Clock::time_point::max());
        return finish();
      }
      auto videoOffset = std::chrono::microseconds(std::llround(video * periodUs));
      auto audioOffset = audio * kAudioPeriod;
      bool audioNext = options_.audio && audioOffset < videoOffset;
      auto offset = audioNext ? std::chrono::duration_cast<std::chrono::microseconds>(audioOffset) : videoOffset;
      if (!pump(t0 + offset)) return finish();
      std::uint64_t timestamp = base + std::uint64_t(offset.count());
      if (audioNext) {
        if (!sendFrame(kTypeAudioSamples, timestamp, sim_.tone_)) return finish();
        ++audio;
      } else {
        const AccessUnit& unit = sim_.units_[std::size_t(video % (long long)sim_.units_.size())];
        std::span<const std::uint8_t> payload(sim_.clip_.data() + unit.offset, unit.size);
        const bool damage = options_.damageEvery > 0 && (video + 1) % options_.damageEvery == 0;
        if (!sendFrame(unit.isKey ? kTypeVideoKey : kTypeVideo, timestamp, payload, damage)) return finish();
        ++video;
      }
    }
  }

  // Fell silent for good: the socket must outlive the session.
  bool silent() const { return silent_; }

 private:
  static std::span<const std::uint8_t> text(const std::string& s) {
    return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  }

  template <class F>
  void update(F change) {
    if (record_ == kNoRecord) return;
    std::lock_guard<std::mutex> lock(sim_.recordsMutex_);
    change(sim_.records_[record_]);
  }

  // Writes in pieces of options_.chunk and stops at the close-after budget; false when the
  // connection is over (budget spent or write failed).
  bool send(std::span<const std::uint8_t> bytes) {
    std::size_t size = bytes.size();
    bool cut = false;
    if (options_.closeAfter >= 0) {
      std::uint64_t budget = std::uint64_t(options_.closeAfter);
      std::uint64_t left = sent_ < budget ? budget - sent_ : 0;
      if (size > left) {
        size = std::size_t(left);
        cut = true;
      }
    }
    const std::uint8_t* p = bytes.data();
    std::size_t piece = options_.chunk > 0 ? options_.chunk : size;
    while (size > 0) {
      std::size_t n = std::min(piece, size);
      if (silentAt_ >= 0) {
        const std::uint64_t silentAt = std::uint64_t(silentAt_);
        if (sent_ >= silentAt) {
          silent_ = true;
          update([](ConnectionRecord& r) { r.silent = true; });
          sim_.log("connection #%d: silent for good after %llu bytes, left open", number_, (unsigned long long)sent_);
          return false;
        }
        n = std::size_t(std::min<std::uint64_t>(n, silentAt - sent_));
      }
      if (options_.stallAfter >= 0 && !stalled_) {
        const std::uint64_t stallAt = std::uint64_t(options_.stallAfter);
        if (sent_ >= stallAt) {
          // Silent, though still connected and reading, then on where it stopped.
          stalled_ = true;
          sim_.log("connection #%d: stalling %d ms after %llu bytes", number_, options_.stallMs,
                   (unsigned long long)sent_);
          if (!pump(Clock::now() + std::chrono::milliseconds(options_.stallMs))) return false;
        } else if (sent_ + n > stallAt) {
          n = std::size_t(stallAt - sent_);
        }
      }
      if (!socket_.sendAll(p, n)) {
        if (sim_.running_.load()) {
          sim_.log("connection #%d: write failed after %llu bytes", number_, (unsigned long long)sent_);
        }
        return false;
      }
      sent_ += n;
      update([this](ConnectionRecord& r) { r.bytesSent = sent_; });
      p += n;
      size -= n;
    }
    if (cut) {
      sim_.log("connection #%d: closing after %llu bytes", number_, (unsigned long long)sent_);
      cutShort_ = true;
      return false;
    }
    return true;
  }

  bool sendFrame(std::uint8_t type, std::uint64_t timestampUs, std::span<const std::uint8_t> payload,
                 bool damage = false) {
    message_.clear();
    appendFrame(message_, type, timestampUs, payload);
    if (damage) message_[0] = 'i';  // "iPCF"
    std::size_t slot = kNoRecord;
    update([&](ConnectionRecord& r) {
      if (r.frames.size() >= kMaxRecordedFrames) return;
      slot = r.frames.size();
      r.frames.push_back(
          SentFrame{type, timestampUs, std::uint32_t(payload.size()), payloadHash(payload), false, damage});
    });
    if (!send(message_)) return false;
    update([&](ConnectionRecord& r) {
      if (slot != kNoRecord) r.frames[slot].complete = true;
      if (type == kTypeVideo || type == kTypeVideoKey) r.videoFrames += 1;
      if (type == kTypeVideoKey) r.keyFrames += 1;
      if (damage) r.damagedFrames += 1;
    });
    return true;
  }

  // Reads what the client sends until `until`; false when it left, a read failed or the
  // simulator is stopping. Reads what is waiting even when `until` has passed, so a sender
  // that falls behind its schedule still hears the client.
  bool pump(Clock::time_point until) {
    std::uint8_t buffer[4096];
    for (;;) {
      if (!sim_.running_.load()) return false;
      Clock::time_point now = Clock::now();
      std::chrono::milliseconds left{0};
      if (now < until) left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
      Socket::Wait wait = socket_.waitReadable(int(std::min(left, kPollStep).count()));
      if (wait == Socket::Wait::Failed) return false;
      if (wait == Socket::Wait::Timeout) {
        if (Clock::now() >= until) return true;
        continue;
      }
      long n = socket_.receive(buffer, sizeof buffer);
      if (n <= 0) {
        clientGone_ = true;
        return false;
      }
      received(buffer, std::size_t(n));
    }
  }

  void received(const std::uint8_t* data, std::size_t size) {
    std::size_t before = std::size_t(std::min<std::uint64_t>(clientCount_, kClientHelloSize));
    clientCount_ += size;
    update([&](ConnectionRecord& r) {
      r.clientByteCount += size;
      std::size_t room = kMaxClientBytes - r.clientBytes.size();
      r.clientBytes.insert(r.clientBytes.end(), data, data + std::min(room, size));
    });
    // The first 16 bytes are the client hello, whatever chunks they came in.
    std::size_t take = std::min(kClientHelloSize - before, size);
    std::copy(data, data + take, hello_ + before);
    if (before < kClientHelloSize && before + take == kClientHelloSize) {
      bool ok = std::equal(hello_, hello_ + kClientHelloSize, kExpectedClientHello);
      update([ok](ConnectionRecord& r) { r.clientHello = ok; });
      if (ok) {
        sim_.log("connection #%d: client hello (16 bytes)", number_);
      } else {
        sim_.log("connection #%d: 16 bytes that are not a client hello: %s", number_,
                 hexBytes(hello_, kClientHelloSize).c_str());
      }
    }
  }

  void finish() {
    if (silent_) return;
    if (cutShort_ && !clientGone_) {
      // Our data first, then our FIN: reading until the client closes keeps the close graceful
      // (closing with unread client bytes would reset the connection and could lose data).
      socket_.shutdownSend();
      pump(Clock::now() + kCloseLinger);
    }
    sim_.log("connection #%d closed: %llu bytes sent, %llu bytes received", number_, (unsigned long long)sent_,
             (unsigned long long)clientCount_);
  }

  PhoneSimulator& sim_;
  const SimulatorOptions& options_;
  Socket& socket_;
  std::size_t record_;
  int number_;
  std::vector<std::uint8_t> message_;
  std::uint64_t sent_ = 0;
  std::uint64_t clientCount_ = 0;
  std::uint8_t hello_[kClientHelloSize] = {};
  bool cutShort_ = false;
  bool clientGone_ = false;
  bool stalled_ = false;
  const long long silentAt_ = number_ == 1 ? options_.silentAfter : -1;
  bool silent_ = false;
};

PhoneSimulator::PhoneSimulator(SimulatorOptions options) : options_(std::move(options)) {}

PhoneSimulator::~PhoneSimulator() { stop(); }

void PhoneSimulator::log(const char* format, ...) {
  if (!onLog) return;
  char line[512];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0) return;
  onLog(line);
}

bool PhoneSimulator::loadClip() {
  if (options_.clipPath.empty()) {
    log("no clip given");
    return false;
  }
  std::FILE* file = std::fopen(options_.clipPath.c_str(), "rb");
  if (file == nullptr) {
    log("cannot open clip %s", options_.clipPath.c_str());
    return false;
  }
  clip_.clear();
  std::uint8_t buffer[65536];
  std::size_t n;
  bool tooBig = false;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    if ((long long)(clip_.size() + n) > kMaxClipBytes) {
      tooBig = true;
      break;
    }
    clip_.insert(clip_.end(), buffer, buffer + n);
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed || tooBig) {
    log(tooBig ? "clip %s is larger than 512 MB" : "cannot read clip %s", options_.clipPath.c_str());
    return false;
  }
  units_ = splitAccessUnits(clip_);
  if (units_.empty()) {
    log("clip %s holds no access units (encode it with access unit delimiters)", options_.clipPath.c_str());
    return false;
  }
  if (!units_.front().isKey) log("clip %s does not begin with a key frame", options_.clipPath.c_str());
  return true;
}

bool PhoneSimulator::start() {
  if (running_.load() || worker_.joinable()) return false;
  if (!(options_.fps > 0.0 && options_.fps <= 1000.0)) {
    log("frame rate %g is outside 0..1000", options_.fps);
    return false;
  }
  if (!loadClip()) return false;
  tone_ = sineToneFrame();
  if (!initSockets()) {
    log("cannot start the socket library");
    return false;
  }
  std::string error;
  listener_ = Socket::listenTcp(options_.bindAddress, options_.port, error);
  if (!listener_.valid()) {
    log("%s", error.c_str());
    return false;
  }
  port_ = listener_.localPort();
  epoch_ = Clock::now();
  running_.store(true);
  worker_ = std::thread([this] { run(); });
  return true;
}

void PhoneSimulator::stop() {
  running_.store(false);
  {
    std::lock_guard<std::mutex> lock(liveMutex_);
    if (live_) live_->shutdownBoth();  // wakes a write blocked on a client that stopped reading
  }
  if (worker_.joinable()) worker_.join();
  listener_.close();
}

std::vector<ConnectionRecord> PhoneSimulator::connections() const {
  std::lock_guard<std::mutex> lock(recordsMutex_);
  return records_;
}

void PhoneSimulator::run() {
  log("listening on %s:%u with %u access units", options_.bindAddress.c_str(), unsigned(port_),
      unsigned(units_.size()));
  int number = 0;
  std::vector<Socket> silent;  // connections that fell silent, open until the simulator stops
  while (running_.load()) {
    Socket::Wait wait = listener_.waitReadable(int(kPollStep.count()));
    if (wait == Socket::Wait::Timeout) continue;
    std::string peer;
    Socket connection = wait == Socket::Wait::Ready ? listener_.accept(peer) : Socket();
    if (!connection.valid()) {
      log("accept failed");
      std::this_thread::sleep_for(kPollStep);
      continue;
    }
    ++number;
    std::size_t record = kNoRecord;
    {
      std::lock_guard<std::mutex> lock(recordsMutex_);
      if (records_.size() < kMaxRecordedConnections) {
        record = records_.size();
        records_.emplace_back();
        records_.back().peer = peer;
      }
    }
    log("connection #%d from %s", number, peer.c_str());
    {
      std::lock_guard<std::mutex> lock(liveMutex_);
      live_ = &connection;
    }
    Session session(*this, connection, record, number);
    session.run();
    {
      std::lock_guard<std::mutex> lock(liveMutex_);
      live_ = nullptr;
    }
    if (session.silent()) {
      silent.push_back(std::move(connection));
      continue;
    }
    connection.close();
    if (record != kNoRecord) {
      std::lock_guard<std::mutex> lock(recordsMutex_);
      records_[record].closed = true;
    }
  }
}

}  // namespace phonesim
