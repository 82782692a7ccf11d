#include "core/geometry.h"

#include <algorithm>
#include <cmath>

namespace vistaro {

Rect Rect::integral() const {
  const double x0 = std::floor(minX());
  const double y0 = std::floor(minY());
  const double x1 = std::ceil(maxX());
  const double y1 = std::ceil(maxY());
  return {x0, y0, x1 - x0, y1 - y0};
}

Rect Rect::unionWith(const Rect& other) const {
  const double x0 = std::min(minX(), other.minX());
  const double y0 = std::min(minY(), other.minY());
  const double x1 = std::max(maxX(), other.maxX());
  const double y1 = std::max(maxY(), other.maxY());
  return {x0, y0, x1 - x0, y1 - y0};
}

std::optional<Rect> Rect::intersection(const Rect& other) const {
  const double x0 = std::max(minX(), other.minX());
  const double y0 = std::max(minY(), other.minY());
  const double x1 = std::min(maxX(), other.maxX());
  const double y1 = std::min(maxY(), other.maxY());
  if (!(x1 >= x0) || !(y1 >= y0)) return std::nullopt;
  return Rect{x0, y0, x1 - x0, y1 - y0};
}

bool Rect::intersects(const Rect& other) const {
  auto common = intersection(other);
  return common && !common->isEmpty();
}

std::ostream& operator<<(std::ostream& out, const Rect& rect) {
  return out << "(" << rect.x << ", " << rect.y << ", " << rect.width << ", " << rect.height << ")";
}

}  // namespace vistaro
