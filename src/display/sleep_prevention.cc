#include "display/sleep_prevention.h"

namespace vistaro {

SleepPrevention::~SleepPrevention() {
  release_.cancel();
  if (holding_) inhibitor_.release();
}

void SleepPrevention::set(bool on) {
  release_.cancel();
  if (on) {
    if (!holding_) inhibitor_.inhibit();
    holding_ = true;
    inhibitor_.declareUserActivity();
    return;
  }
  if (!holding_) return;
  inhibitor_.declareUserActivity();
  release_.schedule(main_, kReleaseDelay, guard_.wrap([this] {
    holding_ = false;
    inhibitor_.release();
    inhibitor_.declareUserActivity();
  }));
}

}  // namespace vistaro
