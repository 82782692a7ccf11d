#include "input/wheel_accumulator.h"

namespace vistaro {

int64_t WheelAccumulator::clicksFor(int64_t pixels) {
  remainder_ += pixels;
  int64_t clicks = remainder_ / kPixelsPerClick;  // truncates towards zero: keeps the sign of the rest
  remainder_ -= clicks * kPixelsPerClick;
  return clicks;
}

}  // namespace vistaro
