#include "receiver/frame_parser.h"

#include <algorithm>
#include <cstring>

#include "common/debug_log.h"
#include "receiver/protocol.h"

namespace receiver {

namespace {

// A header's length is only a claim: memory for at most this much of a payload is set aside
// before its bytes arrive (a real frame fits); a longer payload grows as its bytes come.
constexpr std::size_t kPayloadReserveLimit = std::size_t(1) << 20;

std::uint32_t readBigEndian32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// Two halves, which compilers turn into two loads and byte swaps; a loop of eight bytes stays one
// shift and or a byte.
std::uint64_t readBigEndian64(const std::uint8_t* p) {
  return (std::uint64_t(readBigEndian32(p)) << 32) | readBigEndian32(p + 4);
}

bool isPhoneFrameType(std::uint8_t type) {
  return type == kFrameVideo || type == kFrameVideoKey || type == kFrameVideoOther || type == kFrameOrientation ||
         type == kFrameAudioFormat || type == kFrameAudioSamples;
}

// Where the scan for the next magic stops in [data, data + size): at a whole "IPCF", else at
// a tail that may begin one (its rest still to come), else at the end.
std::size_t findMagic(const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    const std::size_t n = std::min(sizeof kFrameMagic, size - i);
    if (std::memcmp(data + i, kFrameMagic, n) == 0) return i;
  }
  return size;
}

}  // namespace

void FrameParser::feed(std::span<const std::uint8_t> chunk) {
  const std::uint8_t* p = chunk.data();
  std::size_t n = chunk.size();
  while (n > 0) {
    if (missing_ > 0) {
      // The rest of a payload goes straight into its frame.
      const std::size_t take = std::min(missing_, n);
      appendPayload(p, take);
      p += take;
      n -= take;
      missing_ -= take;
      if (missing_ == 0) deliver();
      continue;
    }
    if (!buffer_.empty()) {
      // Complete the partial hello or header first; nothing more is ever copied into buffer_.
      const std::size_t need = helloReceived_ ? kFrameHeaderSize : kServerHelloSize;
      const std::size_t take = std::min(need - buffer_.size(), n);
      buffer_.insert(buffer_.end(), p, p + take);
      p += take;
      n -= take;
      if (buffer_.size() < need) return;
      if (!helloReceived_) {
        const bool hello = std::memcmp(buffer_.data(), kServerHelloMagic, sizeof kServerHelloMagic) == 0;
        buffer_.clear();
        helloReceived_ = hello;
        if (!hello) return;  // garbage before the hello drops the rest of the chunk
        continue;
      }
      if (takeHeader(buffer_.data())) {
        buffer_.clear();
        continue;
      }
      // Damage inside the buffered header: the scan goes on from its second byte (at most 19
      // bytes, so this recursion is at most that deep), then in the rest of the chunk.
      const std::vector<std::uint8_t> rest(buffer_.begin() + 1, buffer_.end());
      buffer_.clear();
      feed(rest);
      continue;
    }
    if (!helloReceived_) {
      if (n < kServerHelloSize) {
        buffer_.assign(p, p + n);
        return;
      }
      if (std::memcmp(p, kServerHelloMagic, sizeof kServerHelloMagic) != 0) return;
      helloReceived_ = true;
      p += kServerHelloSize;
      n -= kServerHelloSize;
      continue;
    }
    if (resyncing_) {
      const std::size_t skip = findMagic(p, n);
      p += skip;
      n -= skip;
      if (n == 0) return;
    }
    // Whole frames back to back, as a healthy stream brings them, each judged and handed on in
    // one step: small frames cost little more than their copy. Damage, and a frame the chunk
    // cuts short, take the steps below.
    while (n >= kFrameHeaderSize && !resyncing_ && helloReceived_ &&
           std::memcmp(p, kFrameMagic, sizeof kFrameMagic) == 0) {
      const std::uint32_t length = readBigEndian32(p + 16);
      if (length > n - kFrameHeaderSize || length > kMaxFramePayload) break;
      frame_.type = p[4];
      frame_.timestampUs = readBigEndian64(p + 8);
      frame_.payload.assign(p + kFrameHeaderSize, p + kFrameHeaderSize + length);
      p += kFrameHeaderSize + length;
      n -= kFrameHeaderSize + length;
      deliver();
    }
    if (n == 0) return;
    if (n < kFrameHeaderSize) {
      buffer_.assign(p, p + n);
      return;
    }
    if (takeHeader(p)) {
      p += kFrameHeaderSize;
      n -= kFrameHeaderSize;
    } else {
      p += 1;  // scan on past this byte
      n -= 1;
    }
  }
}

bool FrameParser::takeHeader(const std::uint8_t* data) {
  const bool scanning = resyncing_;
  resyncing_ = true;
  if (std::memcmp(data, kFrameMagic, sizeof kFrameMagic) != 0) return false;
  const std::uint32_t length = readBigEndian32(data + 16);
  if (length > kMaxFramePayload) {
    if (!scanning) {
      logLine("[StreamController] frame length %u exceeds %u — buffer discarded\n", length, kMaxFramePayload);
    }
    return false;
  }
  // After damage "IPCF" may as well lie inside a payload: only a type the phone sends ends the scan.
  if (scanning && !isPhoneFrameType(data[4])) return false;
  resyncing_ = false;
  frame_.type = data[4];
  frame_.timestampUs = readBigEndian64(data + 8);
  frame_.payload.clear();
  announced_ = length;
  missing_ = length;
  if (missing_ == 0) deliver();
  return true;
}

void FrameParser::appendPayload(const std::uint8_t* data, std::size_t size) {
  // Memory follows the bytes that came, never the header's claim beyond kPayloadReserveLimit,
  // and never more than the announced length.
  std::vector<std::uint8_t>& payload = frame_.payload;
  const std::size_t needed = payload.size() + size;
  if (needed > payload.capacity()) {
    payload.reserve(std::min(std::max({needed, 2 * payload.capacity(), std::min(announced_, kPayloadReserveLimit)}),
                             announced_));
  }
  payload.insert(payload.end(), data, data + size);
}

void FrameParser::deliver() {
  sink_.frame(frame_);
}

void FrameParser::reset() {
  buffer_.clear();
  helloReceived_ = false;
  resyncing_ = false;
  frame_.payload.clear();
  missing_ = 0;
  announced_ = 0;
}

std::size_t FrameParser::bufferedBytes() const {
  return buffer_.size() + (missing_ > 0 ? kFrameHeaderSize + frame_.payload.size() : 0);
}

}  // namespace receiver
