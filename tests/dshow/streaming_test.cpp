// The source stream's worker in a real graph: when it starts and stops, how samples flow, how
// a stream ends, and how the command hand-shake behaves.
#include <gtest/gtest.h>

#include <atomic>

#include "graph_rig_win.h"
#include "support/wait.h"

namespace dshow::test {
namespace {

using namespace std::chrono_literals;

class StreamingTest : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    rig_.emplace(1);
    stream()->types = {makeVideoType(MEDIASUBTYPE_YUY2, 64, 48)};
  }
  TestStream* stream() { return rig_->source->stream(0); }
  cameraviewer::CaptureSink* sink() { return rig_->sink; }
  FILTER_STATE sourceState() {
    FILTER_STATE state;
    rig_->source->GetState(0, &state);
    return state;
  }
};

TEST_F(StreamingTest, PauseOnUnconnectedSourceStartsNoThread) {
  ASSERT_EQ(rig_->control->Pause(), S_OK);
  EXPECT_EQ(sourceState(), State_Paused);
  EXPECT_FALSE(stream()->ThreadExists());
  EXPECT_EQ(stream()->threadCreates, 0);
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Stop());
  EXPECT_EQ(sourceState(), State_Stopped);
}

TEST_F(StreamingTest, SamplesFlowFromPauseAndStopJoinsTheWorker) {
  ASSERT_EQ(rig_->connect(), S_OK);
  for (int round = 1; round <= 2; ++round) {
    ASSERT_HRESULT_SUCCEEDED(rig_->control->Pause());
    EXPECT_TRUE(stream()->ThreadExists());
    // Already pushing while paused, on a thread of its own.
    int before = sink()->received();
    ASSERT_TRUE(testsupport::waitUntil([&] { return sink()->received() >= before + 5; }, 5000ms));
    EXPECT_NE(stream()->workerThreadId, static_cast<int>(GetCurrentThreadId()));

    ASSERT_HRESULT_SUCCEEDED(rig_->control->Run());
    EXPECT_EQ(sourceState(), State_Running);
    int running = sink()->received();
    ASSERT_TRUE(testsupport::waitUntil([&] { return sink()->received() >= running + 5; }, 5000ms));

    ASSERT_HRESULT_SUCCEEDED(rig_->control->Stop());
    EXPECT_FALSE(stream()->ThreadExists());
    // One OnThreadCreate/OnThreadDestroy pair per active period.
    EXPECT_EQ(stream()->threadCreates, round);
    EXPECT_EQ(stream()->threadDestroys, round);
    int stopped = sink()->received();
    Sleep(50);
    EXPECT_EQ(sink()->received(), stopped);
  }
  EXPECT_EQ(sink()->endOfStreams(), 0);
}

TEST_F(StreamingTest, StopReleasesAWorkerWaitingForABuffer) {
  ASSERT_EQ(rig_->connect(), S_OK);
  sink()->holdSamples = true;  // both buffers stay downstream
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Pause());
  ASSERT_TRUE(testsupport::waitUntil([&] { return sink()->received() == 2 && stream()->waitingForBuffer == 1; }, 5000ms));
  Sleep(20);
  EXPECT_EQ(sink()->received(), 2);  // truly blocked, not spinning

  ASSERT_HRESULT_SUCCEEDED(rig_->control->Stop());
  EXPECT_FALSE(stream()->ThreadExists());
  EXPECT_EQ(stream()->threadDestroys, 1);
  sink()->releaseHeld();
}

TEST_F(StreamingTest, WorkerAnswersOnlyInitUntilInitialised) {
  TestStream* worker = stream();
  EXPECT_EQ(static_cast<HRESULT>(worker->CallWorker(CSourceStream::CMD_INIT)), E_FAIL);  // no thread yet
  ASSERT_TRUE(worker->Create());
  EXPECT_FALSE(worker->Create());
  EXPECT_EQ(static_cast<HRESULT>(worker->CallWorker(CSourceStream::CMD_PAUSE)), E_UNEXPECTED);
  EXPECT_EQ(static_cast<HRESULT>(worker->CallWorker(CSourceStream::CMD_STOP)), E_UNEXPECTED);
  EXPECT_EQ(worker->threadCreates, 0);
  EXPECT_EQ(static_cast<HRESULT>(worker->CallWorker(CSourceStream::CMD_INIT)), S_OK);
  EXPECT_EQ(worker->threadCreates, 1);
  EXPECT_EQ(static_cast<HRESULT>(worker->CallWorker(99)), E_NOTIMPL);
  EXPECT_EQ(static_cast<HRESULT>(worker->CallWorker(CSourceStream::CMD_STOP)), S_OK);
  EXPECT_EQ(static_cast<HRESULT>(worker->CallWorker(CSourceStream::CMD_EXIT)), S_OK);
  worker->Close();
  EXPECT_FALSE(worker->ThreadExists());
  EXPECT_EQ(worker->threadDestroys, 1);
}

TEST_F(StreamingTest, FailedThreadStartLeavesTheStreamStartable) {
  ASSERT_EQ(rig_->connect(), S_OK);
  stream()->threadCreateResult = E_ABORT;
  EXPECT_EQ(rig_->source->Pause(), E_ABORT);
  EXPECT_EQ(sourceState(), State_Stopped);
  EXPECT_FALSE(stream()->ThreadExists());
  EXPECT_EQ(stream()->threadDestroys, 1);

  stream()->threadCreateResult = S_OK;
  ASSERT_EQ(rig_->source->Pause(), S_OK);
  ASSERT_TRUE(testsupport::waitUntil([&] { return sink()->received() >= 3; }, 5000ms));
  ASSERT_EQ(rig_->source->Stop(), S_OK);
  EXPECT_EQ(stream()->threadDestroys, 2);
}

TEST_F(StreamingTest, FillBufferFalseEndsTheStream) {
  ASSERT_EQ(rig_->connect(), S_OK);
  std::atomic<int> calls{0};
  stream()->fill = [&](IMediaSample*) { return ++calls <= 3 ? S_OK : S_FALSE; };
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Run());
  ASSERT_TRUE(testsupport::waitUntil([&] { return sink()->endOfStreams() == 1; }, 5000ms));
  Sleep(20);
  EXPECT_EQ(sink()->received(), 3);
  EXPECT_EQ(calls, 4);
  EXPECT_FALSE(rig_->waitForEvent(EC_ERRORABORT, nullptr, 50));
  // The worker idles until stopped.
  EXPECT_TRUE(stream()->ThreadExists());
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Stop());
  EXPECT_FALSE(stream()->ThreadExists());
}

TEST_F(StreamingTest, FillBufferErrorAbortsTheGraph) {
  ASSERT_EQ(rig_->connect(), S_OK);
  std::atomic<int> calls{0};
  stream()->fill = [&](IMediaSample*) { return ++calls <= 2 ? S_OK : E_ACCESSDENIED; };
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Run());
  LONG_PTR param = 0;
  ASSERT_TRUE(rig_->waitForEvent(EC_ERRORABORT, &param, 5000));
  EXPECT_EQ(static_cast<HRESULT>(param), E_ACCESSDENIED);
  EXPECT_EQ(sink()->endOfStreams(), 1);
  EXPECT_EQ(sink()->received(), 2);
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Stop());
  EXPECT_FALSE(stream()->ThreadExists());
}

TEST_F(StreamingTest, RefusedDeliveryStopsPushing) {
  ASSERT_EQ(rig_->connect(), S_OK);
  sink()->receiveResult = S_FALSE;
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Pause());
  ASSERT_TRUE(testsupport::waitUntil([&] { return sink()->received() == 1; }, 5000ms));
  Sleep(50);
  EXPECT_EQ(sink()->received(), 1);
  EXPECT_EQ(sink()->endOfStreams(), 0);
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Stop());
}

TEST_F(StreamingTest, FilterReleasedWhilePausedStopsItsWorker) {
  // Outside a graph, with a peer that lets go of its side first.
  rig_.reset();
  TestSource* source = nullptr;
  ComPtr<IBaseFilter> filter = createSource(1, &source);
  source->stream(0)->types = {makeVideoType(MEDIASUBTYPE_YUY2, 64, 48)};
  ComPtr<IBaseFilter> sinkFilter;
  cameraviewer::CaptureSink* sink = cameraviewer::CaptureSink::create();
  *sinkFilter.ReleaseAndGetAddressOf() = sink->filter();  // takes over the sink's own reference
  ASSERT_EQ(source->pin(0)->Connect(sink->pin(), nullptr), S_OK);
  ASSERT_EQ(source->Pause(), S_OK);
  ASSERT_TRUE(testsupport::waitUntil([&] { return sink->received() >= 3; }, 5000ms));
  sink->pin()->Disconnect();
  filter.Reset();  // the last reference: the worker must end before the pin goes
  EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
  int after = sink->received();
  Sleep(20);
  EXPECT_EQ(sink->received(), after);
}

// A downstream allocator whose Decommit fails while told to.
class StubbornAllocator : public LimitedAllocator {
 public:
  StubbornAllocator() : LimitedAllocator(1 << 20) {}
  HRESULT STDMETHODCALLTYPE Decommit() override { return refuse ? E_FAIL : LimitedAllocator::Decommit(); }
  std::atomic<bool> refuse{false};
};

TEST_F(StreamingTest, StopEndsTheWorkerEvenWhenTheDecommitFails) {
  auto* allocator = new StubbornAllocator();
  sink()->ownAllocator = allocator;
  allocator->Release();  // the sink's reference is the only one (ComPtr::Attach differs between SDKs)
  ASSERT_EQ(rig_->connect(), S_OK);
  ASSERT_EQ(sink()->allocator(), allocator);
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Pause());
  ASSERT_TRUE(testsupport::waitUntil([&] { return sink()->received() >= 3; }, 5000ms));
  allocator->refuse = true;
  EXPECT_EQ(rig_->source->Stop(), E_FAIL);
  // The filter now counts as stopped and may be destroyed with its pins: no worker may be left.
  EXPECT_FALSE(stream()->ThreadExists());
  EXPECT_EQ(stream()->threadDestroys, 1);
  allocator->refuse = false;
}

}  // namespace
}  // namespace dshow::test
