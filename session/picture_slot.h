// The newest decoded picture, handed from the video thread to the UI thread. The slot holds at
// most one: a picture not yet taken is replaced by the next. Its lock is held for one copy on
// the video side and one move on the UI side, never across decoding or drawing.
#pragma once

#include <mutex>

#include "media/decoded_frame.h"

namespace session {

class PictureSlot {
 public:
  // Stream thread. Keeps a copy of a packed picture (stride = width, chroma plane right after
  // `height` luma rows). A picture of width or height 0 is ignored; one whose rows are not
  // packed, or whose bytes are too few, is dropped with a "[Preview]" line. Either way the
  // waiting picture stays.
  void put(const media::DecodedFrame& picture);
  // UI thread. Moves the waiting picture into `out` and empties the slot; false, with `out`
  // untouched, when none waits.
  bool take(media::DecodedFrame& out);
  // Any thread. Whether a picture waits to be taken.
  bool waiting() const;
  // Empties the slot and frees its bytes.
  void clear();

 private:
  mutable std::mutex mutex_;
  media::DecodedFrame picture_;
  bool ready_ = false;
};

}  // namespace session
