// A video sink of our own with one input pin "In", as a capture application's renderer: it
// connects with the types its `accept` verdict allows, takes the source's allocator unless it
// offers one, records every sample and hands its bytes to `onSample`. As a renderer it holds
// samples while paused and releases them at their stream times while running; otherwise it
// takes them as fast as they come. The knobs below let tests stand it in for any downstream
// filter. Windows only; 32- and 64-bit.
#pragma once

#include <windows.h>

#include <dshow.h>
#include <wrl/client.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace cameraviewer {

struct SampleRecord {
  REFERENCE_TIME start = -1, stop = -1;  // -1 when the sample carries no time
  bool sync = false;
  std::vector<std::uint8_t> bytes;  // only for the first samples after reset(keep)
};

class CaptureSink {
 public:
  // A new sink; the caller holds its one reference and releases it through filter().
  static CaptureSink* create();

  virtual IBaseFilter* filter() = 0;
  virtual IPin* pin() = 0;

  // Set while the sink is stopped and unconnected.
  std::function<HRESULT(const AM_MEDIA_TYPE*)> accept;  // verdict on a type (S_OK takes it); none: any
  std::vector<const AM_MEDIA_TYPE*> preferred;           // what EnumMediaTypes offers; kept alive by the caller
  bool renderer = false;
  Microsoft::WRL::ComPtr<IMemAllocator> ownAllocator;    // offered by GetAllocator; none: VFW_E_NO_ALLOCATOR
  ALLOCATOR_PROPERTIES requirements = {};
  HRESULT requirementsResult = E_NOTIMPL;
  bool holdSamples = false;      // keep every received sample until releaseHeld
  HRESULT receiveResult = S_OK;  // what Receive answers once it has taken a sample
  std::size_t recordLimit = 100'000;  // samples whose times samples() keeps; 0 for a long capture
  // Each sample's bytes (its actual data length), on the source's worker thread.
  std::function<void(const std::uint8_t* bytes, std::size_t size)> onSample;

  // What reached it.
  int received() const { return received_.load(); }
  int endOfStreams() const { return endOfStreams_.load(); }
  int notifyAllocatorCalls() const { return notifyAllocatorCalls_.load(); }
  IMemAllocator* allocator() const { return notified_.Get(); }  // the one NotifyAllocator named
  // Forgets the recorded samples; the next `keep` samples keep their bytes.
  void reset(std::size_t keep);
  std::vector<SampleRecord> samples() const;
  void releaseHeld();
  // Bounded wait until at least `count` samples arrived in total.
  bool waitForSamples(int count, DWORD timeoutMs) const;

 protected:
  CaptureSink() = default;
  virtual ~CaptureSink();
  void record(IMediaSample* sample);

  std::atomic<int> received_{0};
  std::atomic<int> endOfStreams_{0};
  std::atomic<int> notifyAllocatorCalls_{0};
  Microsoft::WRL::ComPtr<IMemAllocator> notified_;

 private:
  mutable std::mutex mutex_;
  std::vector<SampleRecord> samples_;
  std::vector<IMediaSample*> held_;
  std::size_t keep_ = 0;
};

// A verdict that takes exactly one uncompressed format: `subtype` at width x |height| in a
// whole FORMAT_VideoInfo block; VFW_E_TYPE_NOT_ACCEPTED for anything else.
std::function<HRESULT(const AM_MEDIA_TYPE*)> acceptOnly(const GUID& subtype, std::uint32_t width,
                                                        std::uint32_t height);

}  // namespace cameraviewer
