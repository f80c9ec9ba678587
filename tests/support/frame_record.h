// Frames as a receiver got them, recorded from any thread, to compare with the phone
// simulator's record of the frames it sent.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "receiver/frame.h"
#include "receiver/stream_sink.h"
#include "tools/phone_sim/phone_simulator.h"
#include "tools/phone_sim/wire_format.h"

namespace testsupport {

struct ArrivedFrame {
  std::uint8_t type;
  std::uint64_t timestampUs;
  std::uint32_t size;
  std::uint32_t hash;  // phonesim::payloadHash of the payload
};

inline ArrivedFrame arrivedFrame(const receiver::Frame& f) {
  return {f.type, f.timestampUs, std::uint32_t(f.payload.size()), phonesim::payloadHash(f.payload)};
}

// A stream sink that records the frames and states it gets.
class FrameRecorder : public receiver::StreamSink {
 public:
  void frame(const receiver::Frame& f) override {
    ArrivedFrame arrived = arrivedFrame(f);
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(arrived);
  }
  void streamState(transport::State s) override {
    std::lock_guard<std::mutex> lock(mutex_);
    states_.push_back(s);
  }
  std::vector<ArrivedFrame> frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  std::vector<transport::State> states() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return states_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<ArrivedFrame> frames_;
  std::vector<transport::State> states_;
};

// Every frame sent whole, and each arrived in order with its type, timestamp and payload.
inline void expectArrivedAsSent(const std::vector<ArrivedFrame>& arrived,
                                const std::vector<phonesim::SentFrame>& sent) {
  ASSERT_EQ(arrived.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    EXPECT_TRUE(sent[i].complete);
    EXPECT_EQ(arrived[i].type, sent[i].type);
    EXPECT_EQ(arrived[i].timestampUs, sent[i].timestampUs);
    EXPECT_EQ(arrived[i].size, sent[i].size);
    EXPECT_EQ(arrived[i].hash, sent[i].hash);
  }
}

}  // namespace testsupport
