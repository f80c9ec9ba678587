// Decodes H.264 access units (Annex B byte stream, one unit per call) to NV12 pictures with the
// Media Foundation H.264 decoder transform, synchronously: every picture the transform has
// ready when a unit has been fed is handed to the sink before `feed` returns. Pictures come as
// the transform lays them out (rows of `stride` bytes, chroma from row `codedHeight`).
// Failures are logged as "[H264Decoder]" lines and never reach the caller. Windows only.
//
// Pictures are as wide and high as the transform's display aperture says; when it reports none
// (Wine's does not), the frame cropping of the stream's sequence parameter set gives the size,
// so a 1080-row stream coded as 1088 rows comes out 1080 rows high.
#pragma once

#include <wrl/client.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/debug_log.h"
#include "media/decoded_frame.h"
#include "media/h264_sps.h"

struct IMFTransform;
struct IMFSample;

namespace media {

class H264Decoder {
 public:
  // `sink` receives each picture on the feeding thread, and outlives the decoder.
  explicit H264Decoder(PictureSink& sink);
  ~H264Decoder();
  H264Decoder(const H264Decoder&) = delete;
  H264Decoder& operator=(const H264Decoder&) = delete;

  // Starts Media Foundation and creates, configures and starts a new decoder transform. True
  // at once when already started. On failure everything is released and shut down again.
  bool start();
  // The same with a transform supplied by the caller (one reference is taken) instead of a
  // new Media Foundation decoder.
  bool start(IMFTransform* transform);
  // Ends streaming and releases the transform; pictures still inside it are dropped.
  void stop();

  // Submits one access unit; `timestampUs` comes back on its picture. Dropped when stopped or
  // when it is not an Annex B byte stream. When the transform fails before the first picture of
  // a sequence (from a unit with a sequence parameter set on), a fresh transform is started and
  // given that sequence's units again. When no fresh transform can be made, the units are
  // dropped until a later sequence start, and the tries back off (0.5 s, doubling up to 8 s);
  // such an episode is logged by its first try only and ends with the next picture.
  void feed(std::span<const std::uint8_t> accessUnit, std::uint64_t timestampUs);
  // Has the transform give out the pictures it holds back for the units after them (Wine's
  // holds about three): when those units will not come, the pictures would wait for the next
  // ones, however late. Delivered before this returns; the next unit decodes as usual.
  void releaseHeldPictures();

  bool started() const { return started_; }
  std::uint64_t framesDecoded() const { return framesDecoded_; }  // since construction
  std::size_t keptBytes() const { return keptBytes_; }  // held for a restart

  // Makes the decoder transform of every decoder in the process instead of Media Foundation:
  // tests play a Windows without an H.264 decoder (an N edition without the Media Feature Pack)
  // with one that fails. Null brings the system's back. Set it while no decoder starts.
  using TransformMaker = long (*)(IMFTransform** transform);
  static void setTransformMaker(TransformMaker maker);

 private:
  void note(const char* format, ...) const BRINDLE_PRINTF_LIKE(2, 3);
  void logFailure(const char* step, long hr) const;
  bool createTransform();
  bool restartTransform();
  bool configure();
  void negotiateOutput();
  // Both false when the transform failed in a way that may leave it unusable.
  bool submit(std::span<const std::uint8_t> accessUnit, std::uint64_t timestampUs);
  bool drainOutput();
  void keepSequenceStart(std::span<const std::uint8_t> accessUnit, std::uint64_t timestampUs);
  void restartWithSequenceStart();
  void dropSequenceStart();
  Microsoft::WRL::ComPtr<IMFSample> makeInputSample(std::span<const std::uint8_t> accessUnit, std::uint64_t timestampUs);
  void extractPicture(IMFSample* sample);

  PictureSink& sink_;
  Microsoft::WRL::ComPtr<IMFTransform> decoder_;   // null while stopped, or after a restart that failed
  Microsoft::WRL::ComPtr<IMFTransform> supplied_;  // the caller's transform, reused on a restart
  bool started_ = false;
  std::uint64_t framesDecoded_ = 0;
  void* mtaUsage_ = nullptr;         // keeps the process's multithreaded apartment alive while started
  media::DecodedFrame picture_;   // reused so its bytes are not reallocated per picture

  // The units since the last sequence parameter set, kept until a picture of that sequence
  // comes out, so a transform that fails meanwhile can be replaced without losing them.
  struct KeptUnit {
    std::vector<std::uint8_t> bytes;
    std::uint64_t timestampUs = 0;
  };
  std::vector<KeptUnit> sequenceStart_;
  std::uint64_t sequenceTimeUs_ = 0;
  bool sequenceShown_ = true;
  std::size_t keptBytes_ = 0;  // in sequenceStart_
  // Restarts that failed since the last picture; while any did, the next waits until
  // nextRestartNs_ and logs nothing.
  int failedRestarts_ = 0;
  std::int64_t nextRestartNs_ = 0;
  bool quiet_ = false;
  // The picture size of the newest sequence parameter set; nothing when unreadable.
  std::optional<SequencePictureSize> sequenceSize_;
};

}  // namespace media
