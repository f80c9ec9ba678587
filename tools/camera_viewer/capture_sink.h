// A minimal video renderer of our own: one input pin that accepts exactly one uncompressed
// format, holds samples while the graph is paused, releases them at their stream times while
// it runs, and hands every sample's bytes to `onSample`. Windows only.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace cameraviewer {

class CaptureSink;

// A new sink with one reference, accepting `subtype` at width x |height| in FORMAT_VideoInfo.
CaptureSink* createCaptureSink(const GUID& subtype, std::uint32_t width, std::uint32_t height);
IBaseFilter* sinkFilter(CaptureSink* sink);
IPin* sinkPin(CaptureSink* sink);

class CaptureSink {
 public:
  // Called on the source's worker thread with each sample's bytes (its actual data length).
  std::function<void(const std::uint8_t* bytes, std::size_t size)> onSample;

  int received() const { return received_.load(); }

 protected:
  virtual ~CaptureSink() = default;
  std::atomic<int> received_{0};
};

}  // namespace cameraviewer
