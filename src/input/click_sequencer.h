#pragma once

#include <chrono>
#include <optional>

#include "core/executor.h"
#include "core/geometry.h"
#include "input/pointer_event.h"

namespace vistaro {

// Where toolkits count multiple clicks themselves (X11: GTK, Qt and Xt, each by its own time
// and distance window), the press that must count as the client's Nth click is planned here
// so that every toolkit counts exactly N: it joins the presses before it only when that is
// certain, and otherwise waits until no toolkit could join it and starts a chain of its own
// (quick presses up to N, the last being the client's). Presses are never left to chance in
// between.
class ClickSequencer {
 public:
  struct Plan {
    Duration wait{};  // before the first press
    int presses = 1;  // in quick succession
    bool operator==(const Plan&) const = default;
  };

  // `count` is 1..3; `now` is when the plan is carried out (the wait counts from there).
  Plan press(PointerButton button, Point point, int count, TimePoint now);

  // Every toolkit joins presses this close (Xt's 200 ms is the shortest window)...
  static constexpr Duration kJoinWithin = std::chrono::milliseconds(180);
  static constexpr double kJoinDistance = 4;  // pixels on each axis (GTK and Qt: 5)
  // ...and none joins them this far apart (GTK and Qt: 400 ms; GTK's triple counts from the
  // press before last, with twice the time).
  static constexpr Duration kApartAfter = std::chrono::milliseconds(500);
  static constexpr double kApartDistance = 16;

 private:
  struct Press {
    PointerButton button;
    Point point;
    TimePoint time;
    int count;  // as the toolkits count it
  };
  std::optional<Press> last_;
  std::optional<TimePoint> beforeLast_;  // of the same chain
};

}  // namespace vistaro
