// Connecting a CSourceStream pin to a sink inside a real filter graph: which types are tried
// in which order, which failures are reported, and how the allocator is chosen.
#include <gtest/gtest.h>

#include <cstring>

#include "graph_rig_win.h"

namespace dshow::test {
namespace {

const CMediaType kYuy2 = makeVideoType(MEDIASUBTYPE_YUY2, 64, 48);
const CMediaType kNv12 = makeVideoType(MEDIASUBTYPE_NV12, 64, 48);
const CMediaType kRgb = makeVideoType(MEDIASUBTYPE_RGB24, 64, 48);

class ConnectionTest : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    rig_.emplace(2);
    stream()->types = {kYuy2, kNv12};
  }
  TestStream* stream(int index = 0) { return rig_->source->stream(index); }
  cameraviewer::CaptureSink* sink() { return rig_->sink; }
  std::vector<CMediaType>& offered() { return rig_->offered; }
};

TEST_F(ConnectionTest, ReceivingPinTypesComeBeforeOurOwn) {
  sink()->preferred = {&kRgb, &kNv12};  // RGB is refused by our pin, NV12 taken
  ASSERT_EQ(rig_->connect(), S_OK);

  // The refused RGB never reached the sink; the sink's NV12 won over our first type, YUY2.
  ASSERT_EQ(offered().size(), 1u);
  EXPECT_TRUE(offered()[0] == kNv12);
  AM_MEDIA_TYPE connected = {};
  ASSERT_EQ(stream()->ConnectionMediaType(&connected), S_OK);
  EXPECT_TRUE(CMediaType(connected) == kNv12);
  FreeMediaType(connected);

  // A sink with nothing we take falls through to our own list.
  ASSERT_EQ(stream()->Disconnect(), S_OK);
  sink()->pin()->Disconnect();
  sink()->preferred = {&kRgb};
  offered().clear();
  ASSERT_EQ(rig_->connect(), S_OK);
  ASSERT_EQ(offered().size(), 1u);
  EXPECT_TRUE(offered()[0] == kYuy2);
}

TEST_F(ConnectionTest, PartialTypesNarrowTheSearch) {
  // Subtype only: the first type of that subtype.
  CMediaType bySubtype;
  bySubtype.SetSubtype(&MEDIASUBTYPE_NV12);
  ASSERT_EQ(rig_->connect(0, &bySubtype), S_OK);
  ASSERT_EQ(offered().size(), 1u);
  EXPECT_TRUE(offered()[0] == kNv12);
  ASSERT_EQ(stream()->Disconnect(), S_OK);
  sink()->pin()->Disconnect();

  // A format type compares the format bytes too: a different size matches nothing.
  CMediaType byFormat;
  byFormat.SetFormatType(&FORMAT_VideoInfo);
  CMediaType other = makeVideoType(MEDIASUBTYPE_NV12, 32, 48);
  byFormat.SetFormat(other.pbFormat, other.cbFormat);
  offered().clear();
  EXPECT_EQ(rig_->connect(0, &byFormat), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_TRUE(offered().empty());
  byFormat.SetFormat(kYuy2.pbFormat, kYuy2.cbFormat);
  ASSERT_EQ(rig_->connect(0, &byFormat), S_OK);
  EXPECT_TRUE(offered().back() == kYuy2);
  ASSERT_EQ(stream()->Disconnect(), S_OK);
  sink()->pin()->Disconnect();

  // Major type and format type set: that type exactly, and its result is final even though
  // other types would have connected.
  CMediaType exact = kYuy2;
  exact.SetSubtype(&GUID_NULL);
  offered().clear();
  EXPECT_EQ(rig_->connect(0, &exact), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_TRUE(offered().empty());
  EXPECT_FALSE(stream()->IsConnected());
}

TEST_F(ConnectionTest, OnlyUnusualFailuresAreRemembered) {
  for (HRESULT refusal : {E_FAIL, E_INVALIDARG, VFW_E_TYPE_NOT_ACCEPTED}) {
    rig_->verdict = [refusal](const AM_MEDIA_TYPE*) { return refusal; };
    offered().clear();
    EXPECT_EQ(rig_->connect(), VFW_E_NO_ACCEPTABLE_TYPES) << std::hex << refusal;
    EXPECT_EQ(offered().size(), 2u);  // every type was tried
  }

  // Any other failure is reported, even when later types fail in the ordinary way.
  int calls = 0;
  rig_->verdict = [&calls](const AM_MEDIA_TYPE*) { return ++calls == 1 ? VFW_E_WRONG_STATE : E_FAIL; };
  EXPECT_EQ(rig_->connect(), VFW_E_WRONG_STATE);
  EXPECT_EQ(calls, 2);

  // Nothing offered anywhere.
  stream()->types.clear();
  rig_->verdict = nullptr;
  EXPECT_EQ(rig_->connect(), VFW_E_NO_ACCEPTABLE_TYPES);
}

TEST_F(ConnectionTest, FailedConnectionLeavesNothingBehind) {
  rig_->verdict = [](const AM_MEDIA_TYPE*) { return E_FAIL; };
  int before = stream()->breakConnects;
  ASSERT_EQ(rig_->connect(), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_GT(stream()->breakConnects, before);
  EXPECT_FALSE(stream()->IsConnected());
  EXPECT_EQ(stream()->Allocator(), nullptr);
  IPin* peer = reinterpret_cast<IPin*>(1);
  EXPECT_EQ(stream()->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(peer, nullptr);
  AM_MEDIA_TYPE type;
  std::memset(&type, 0xCD, sizeof(type));
  EXPECT_EQ(stream()->ConnectionMediaType(&type), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(type.majortype, GUID_NULL);
  EXPECT_EQ(type.pbFormat, nullptr);

  // The same pins connect afterwards.
  rig_->verdict = nullptr;
  ASSERT_EQ(rig_->connect(), S_OK);
  ASSERT_EQ(stream()->ConnectedTo(&peer), S_OK);
  EXPECT_EQ(peer, sink()->pin());
  peer->Release();
}

TEST_F(ConnectionTest, ConnectionStateRules) {
  ASSERT_EQ(rig_->connect(), S_OK);
  EXPECT_EQ(stream()->Connect(sink()->pin(), nullptr), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(stream()->ReceiveConnection(stream(1), &kYuy2), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(stream()->Connect(nullptr, nullptr), E_POINTER);

  // Two output pins never connect, whichever side starts.
  stream(1)->types = {kYuy2};
  EXPECT_EQ(stream(1)->ReceiveConnection(stream(0), &kYuy2), VFW_E_INVALID_DIRECTION);
  TestSource* other = nullptr;
  ComPtr<IBaseFilter> otherFilter = createSource(1, &other);
  other->stream(0)->types = {kYuy2};
  EXPECT_EQ(stream(1)->Connect(other->pin(0), nullptr), VFW_E_INVALID_DIRECTION);

  // While paused nothing connects or disconnects.
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Pause());
  EXPECT_EQ(stream(1)->Connect(sink()->pin(), nullptr), VFW_E_NOT_STOPPED);
  EXPECT_EQ(stream(0)->Disconnect(), VFW_E_NOT_STOPPED);
  ASSERT_HRESULT_SUCCEEDED(rig_->control->Stop());

  EXPECT_EQ(stream(0)->Disconnect(), S_OK);
  EXPECT_EQ(stream(0)->Disconnect(), S_FALSE);
  EXPECT_EQ(stream(0)->Allocator(), nullptr);
}

TEST_F(ConnectionTest, RefusedDownstreamAllocatorFallsBackToTheStandardOne) {
  auto* limited = new LimitedAllocator(1000);
  sink()->ownAllocator = limited;
  limited->Release();  // the sink's reference is the only one (ComPtr::Attach differs between SDKs)
  sink()->requirements = {5, 100, 0, 0};
  sink()->requirementsResult = S_OK;
  stream()->bufferSize = 4096;
  stream()->bufferCount = 3;
  ASSERT_EQ(rig_->connect(), S_OK);

  ASSERT_EQ(stream()->seenProperties.size(), 2u);
  // The first attempt starts from the sink's requirements, alignment 0 made 1 ...
  const ALLOCATOR_PROPERTIES& first = stream()->seenProperties[0];
  EXPECT_EQ(first.cBuffers, 5);
  EXPECT_EQ(first.cbBuffer, 100);
  EXPECT_EQ(first.cbAlign, 1);
  // ... and the second sees what the first left.
  const ALLOCATOR_PROPERTIES& second = stream()->seenProperties[1];
  EXPECT_EQ(second.cBuffers, 3);
  EXPECT_EQ(second.cbBuffer, 4096);
  EXPECT_EQ(second.cbAlign, 1);

  EXPECT_EQ(limited->setPropertiesCalls, 1);
  IMemAllocator* chosen = stream()->Allocator();
  ASSERT_NE(chosen, nullptr);
  EXPECT_NE(chosen, static_cast<IMemAllocator*>(limited));
  EXPECT_EQ(sink()->allocator(), chosen);
  ALLOCATOR_PROPERTIES actual = {};
  ASSERT_EQ(chosen->GetProperties(&actual), S_OK);
  EXPECT_EQ(actual.cbBuffer, 4096);
  EXPECT_EQ(actual.cBuffers, 3);
}

TEST_F(ConnectionTest, DownstreamAllocatorIsUsedWhenItAgrees) {
  auto* roomy = new LimitedAllocator(1 << 20);
  sink()->ownAllocator = roomy;
  roomy->Release();  // the sink's reference is the only one (ComPtr::Attach differs between SDKs)
  ASSERT_EQ(rig_->connect(), S_OK);
  EXPECT_EQ(stream()->seenProperties.size(), 1u);
  EXPECT_EQ(stream()->Allocator(), static_cast<IMemAllocator*>(roomy));
  EXPECT_EQ(sink()->notifyAllocatorCalls(), 1);
}

}  // namespace
}  // namespace dshow::test
