#pragma once

#include <optional>
#include <ostream>

namespace vistaro {

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

// A rectangle in pixels (or fractions of a frame), origin top-left, y downwards.
struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double minX() const { return x; }
  double minY() const { return y; }
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  double area() const { return width * height; }
  bool isEmpty() const { return !(width > 0) || !(height > 0); }

  Rect insetBy(double dx, double dy) const { return {x + dx, y + dy, width - 2 * dx, height - 2 * dy}; }
  // Smallest rectangle of whole pixels that contains this one.
  Rect integral() const;
  Rect unionWith(const Rect& other) const;
  // Absent when the two do not overlap; touching edges give a zero-size result.
  std::optional<Rect> intersection(const Rect& other) const;
  bool intersects(const Rect& other) const;

  bool operator==(const Rect&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rect& rect);

}  // namespace vistaro
