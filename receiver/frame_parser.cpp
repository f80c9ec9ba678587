#include "receiver/frame_parser.h"

#include <algorithm>
#include <cstring>

#include "common/debug_log.h"
#include "receiver/protocol.h"

namespace receiver {

namespace {

// A header's length is only a claim: memory for at most this much of a payload is set aside
// before its bytes arrive (a real frame fits); a longer payload grows the buffer as it comes.
constexpr std::size_t kPayloadReserveLimit = std::size_t(1) << 20;

std::uint64_t readBigEndian64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

std::uint32_t readBigEndian32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

}  // namespace

void FrameParser::feed(std::span<const std::uint8_t> chunk) {
  const std::uint8_t* p = chunk.data();
  std::size_t n = chunk.size();
  while (n > 0) {
    if (missing_ > 0) {
      // The rest of a payload goes straight into its frame.
      std::size_t take = std::min(missing_, n);
      frame_.payload.insert(frame_.payload.end(), p, p + take);
      p += take;
      n -= take;
      missing_ -= take;
      if (missing_ == 0) deliver();
      continue;
    }
    if (!buffer_.empty()) {
      // Complete the partial hello or header first; nothing more is ever copied into buffer_.
      std::size_t need = helloReceived_ ? kFrameHeaderSize : kServerHelloSize;
      std::size_t take = std::min(need - buffer_.size(), n);
      buffer_.insert(buffer_.end(), p, p + take);
      p += take;
      n -= take;
      if (buffer_.size() < need) return;
      std::size_t used = 0;
      Step step = parseOne(buffer_.data(), buffer_.size(), used);
      buffer_.clear();
      if (step == Step::DiscardAll) return;
      continue;
    }
    std::size_t used = 0;
    Step step = parseOne(p, n, used);
    if (step == Step::DiscardAll) return;
    if (step == Step::NeedMore) {
      buffer_.assign(p, p + n);
      return;
    }
    p += used;
    n -= used;
  }
}

FrameParser::Step FrameParser::parseOne(const std::uint8_t* data, std::size_t size, std::size_t& used) {
  if (!helloReceived_) {
    if (size < kServerHelloSize) return Step::NeedMore;
    if (std::memcmp(data, kServerHelloMagic, sizeof kServerHelloMagic) != 0) return Step::DiscardAll;
    helloReceived_ = true;
    used = kServerHelloSize;
    return Step::Continue;
  }
  if (size < kFrameHeaderSize) return Step::NeedMore;
  if (std::memcmp(data, kFrameMagic, sizeof kFrameMagic) != 0) return Step::DiscardAll;
  std::uint32_t length = readBigEndian32(data + 16);
  if (length > kMaxFramePayload) {
    logLine("[StreamController] frame length %u exceeds %u — buffer discarded\n", length,
            kMaxFramePayload);
    return Step::DiscardAll;
  }
  frame_.type = data[4];
  frame_.timestampUs = readBigEndian64(data + 8);
  std::size_t available = std::min<std::size_t>(size - kFrameHeaderSize, length);
  frame_.payload.clear();
  if (available < length) frame_.payload.reserve(std::min<std::size_t>(length, kPayloadReserveLimit));
  frame_.payload.insert(frame_.payload.end(), data + kFrameHeaderSize, data + kFrameHeaderSize + available);
  missing_ = length - available;
  used = kFrameHeaderSize + available;
  if (missing_ == 0) deliver();
  return Step::Continue;
}

void FrameParser::deliver() {
  if (onFrame) onFrame(frame_);
}

void FrameParser::reset() {
  buffer_.clear();
  helloReceived_ = false;
  frame_.payload.clear();
  missing_ = 0;
}

std::size_t FrameParser::bufferedBytes() const {
  return buffer_.size() + (missing_ > 0 ? kFrameHeaderSize + frame_.payload.size() : 0);
}

}  // namespace receiver
