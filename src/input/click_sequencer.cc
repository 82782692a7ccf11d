#include "input/click_sequencer.h"

#include <algorithm>
#include <cmath>

namespace vistaro {
namespace {

bool within(Point a, Point b, double distance) {
  return std::abs(a.x - b.x) <= distance && std::abs(a.y - b.y) <= distance;
}

}  // namespace

ClickSequencer::Plan ClickSequencer::press(PointerButton button, Point point, int count, TimePoint now) {
  Plan plan{.presses = count};
  const bool sameButton = last_ && last_->button == button;
  if (sameButton && last_->count < count && now - last_->time < kJoinWithin &&
      within(last_->point, point, kJoinDistance)) {
    plan.presses = count - last_->count;
    beforeLast_ = plan.presses == 1 ? last_->time : now;
  } else {
    if (sameButton && within(last_->point, point, kApartDistance)) {
      TimePoint apart = last_->time + kApartAfter;
      if (beforeLast_) apart = std::max(apart, *beforeLast_ + 2 * kApartAfter);
      plan.wait = std::max(Duration::zero(), apart - now);
    }
    beforeLast_.reset();
    if (count > 1) beforeLast_ = now + plan.wait;
  }
  last_ = Press{button, point, now + plan.wait, count};
  return plan;
}

}  // namespace vistaro
