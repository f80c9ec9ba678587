// Cuts the phone's byte stream into frames: waits for the 8-byte server hello, then takes
// 20-byte headers and their payloads, back to back.
//
// Bytes before the hello that do not begin with "SHLO" discard everything buffered, the rest of
// the current chunk included. After the hello, a header without the "IPCF" magic, or announcing
// more than kMaxFramePayload, is damage: the parser scans forward, across chunks, for the next
// "IPCF" whose header is plausible (a frame type the phone sends and a length within the bound)
// and carries on from there; the bytes before it are dropped. Where frames are found does not
// depend on how the stream was cut into chunks.
//
// Partial hellos, headers and payloads are kept until the rest arrives. Each payload byte is
// copied once, straight into the frame; the frame and its buffer are reused, so steady
// streaming allocates nothing. A header's length is only a claim: at most 1 MiB is set aside
// before the payload arrives, and a longer one grows as its bytes come, never past its length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "receiver/frame.h"
#include "receiver/stream_sink.h"

namespace receiver {

class FrameParser {
 public:
  // `sink` receives each complete frame, and outlives the parser.
  explicit FrameParser(StreamSink& sink) : sink_(sink) {}

  // Appends a chunk and delivers every frame it completes.
  void feed(std::span<const std::uint8_t> chunk);
  // Forgets buffered bytes (capacity stays) and waits for a new server hello.
  void reset();

  bool helloReceived() const { return helloReceived_; }
  // Bytes held back: a partial hello or header, or the received part of a pending payload.
  std::size_t bufferedBytes() const;
  // Memory held for the pending (or last) payload.
  std::size_t payloadCapacity() const { return frame_.payload.capacity(); }

 private:
  // Judges the 20 header bytes at `data`; a good header starts frame_, a bad one starts (or
  // continues) the scan for the next.
  bool takeHeader(const std::uint8_t* data);
  void appendPayload(const std::uint8_t* data, std::size_t size);
  void deliver();

  StreamSink& sink_;
  std::vector<std::uint8_t> buffer_;  // a partial hello or header, never more
  bool helloReceived_ = false;
  bool resyncing_ = false;      // after damage: only a plausible header ends the scan
  Frame frame_;                 // the frame being assembled, reused
  std::size_t missing_ = 0;     // payload bytes frame_ still waits for
  std::size_t announced_ = 0;   // its header's length
};

}  // namespace receiver
