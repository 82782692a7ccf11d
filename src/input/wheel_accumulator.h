#pragma once

#include <cstdint>

namespace vistaro {

// Turns pixel scroll distances into whole wheel clicks. What is left over stays
// for the next event of the same gesture, so slow scrolls add up to clicks and
// fast ones are not multiplied; a new gesture starts from nothing.
class WheelAccumulator {
 public:
  // A desktop wheel notch scrolls about three text lines, which is roughly what
  // a phone user moves for one notch's worth of content.
  static constexpr int64_t kPixelsPerClick = 40;

  void beginGesture() { remainder_ = 0; }
  // Signed clicks for this many pixels; positive when pixels are positive.
  int64_t clicksFor(int64_t pixels);

 private:
  int64_t remainder_ = 0;
};

}  // namespace vistaro
