// Decode-and-publish rate of the 1080p clip through DecodePipeline on Media Foundation's
// H.264 decoder and the session's publisher, every unit fed as fast as the pipeline takes it,
// into a private ring.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "media/decode_pipeline_win.h"
#include "session/picture_publisher_win.h"
#include "support/bench_timer.h"
#include "tools/phone_sim/access_unit_splitter.h"

namespace {

// Counts the pictures on their way to the publisher.
struct Counted : media::PictureSink {
  explicit Counted(media::PictureSink& next) : next(next) {}
  void picture(const media::DecodedFrame& frame) override {
    ++pictures;
    next.picture(frame);
  }
  media::PictureSink& next;
  std::uint64_t pictures = 0;
};

}  // namespace

int main() {
  std::vector<std::uint8_t> clip;
  if (std::FILE* f = std::fopen(BRINDLE_CLIP_DIR "/clip_1920x1080.264", "rb")) {
    std::uint8_t buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), f)) > 0;) clip.insert(clip.end(), buffer, buffer + n);
    std::fclose(f);
  }
  const std::vector<phonesim::AccessUnit> units = phonesim::splitAccessUnits(clip);
  if (units.empty()) {
    std::printf("decode_publish_1080p: no clip\n");
    return 1;
  }

  std::vector<double> rates;
  for (int round = 0; round < 5; ++round) {
    session::Orientation orientation;
    session::PictureSlot preview;
    session::PicturePublisher publisher(orientation, preview);
    Counted counted(publisher);
    media::DecodePipeline pipeline(counted);
    const bool opened = publisher.open(1920, 1920, "brindle-bench-ring-" + std::to_string(GetCurrentProcessId()));
    if (!pipeline.start() || !opened) {
      std::printf("decode_publish_1080p: pipeline did not start\n");
      return 1;
    }
    std::vector<std::uint8_t> payload;
    double seconds = bench::secondsOf([&] {
      for (std::size_t i = 0; i < units.size(); ++i) {
        payload.assign(clip.begin() + std::ptrdiff_t(units[i].offset),
                       clip.begin() + std::ptrdiff_t(units[i].offset + units[i].size));
        pipeline.decode(payload, i * 33'333);
      }
    });
    pipeline.stop();
    rates.push_back(double(counted.pictures) / seconds);
  }
  std::printf("decode_publish_1080p_pictures_per_second: %.1f (median of %zu runs of %zu units)\n",
              bench::median(rates), rates.size(), units.size());
  return 0;
}
