#include "platform/x11/work_area.h"

#include <algorithm>

namespace vistaro::x11 {
namespace {

// Start and end are inclusive, as the property has them.
double spanOf(unsigned long start, unsigned long end) { return end >= start ? double(end - start) + 1 : 0; }

}  // namespace

std::vector<Strut> strutsFrom(const std::vector<unsigned long>& v, const Rect& root) {
  if (v.size() != 12 && v.size() != 4) return {};
  const bool partial = v.size() == 12;
  const double height = root.height, width = root.width;
  const double leftY = partial ? double(v[4]) : 0, leftH = partial ? spanOf(v[4], v[5]) : height;
  const double rightY = partial ? double(v[6]) : 0, rightH = partial ? spanOf(v[6], v[7]) : height;
  const double topX = partial ? double(v[8]) : 0, topW = partial ? spanOf(v[8], v[9]) : width;
  const double bottomX = partial ? double(v[10]) : 0, bottomW = partial ? spanOf(v[10], v[11]) : width;
  const Strut candidates[] = {
      {Strut::Edge::left, {root.x, root.y + leftY, double(v[0]), leftH}},
      {Strut::Edge::right, {root.maxX() - double(v[1]), root.y + rightY, double(v[1]), rightH}},
      {Strut::Edge::top, {root.x + topX, root.y, topW, double(v[2])}},
      {Strut::Edge::bottom, {root.x + bottomX, root.maxY() - double(v[3]), bottomW, double(v[3])}},
  };
  std::vector<Strut> struts;
  for (const Strut& strut : candidates) {
    const auto clipped = strut.area.intersection(root);
    if (clipped && !clipped->isEmpty()) struts.push_back({strut.edge, *clipped});
  }
  return struts;
}

Rect workAreaWithin(const Rect& monitor, const std::vector<Strut>& struts) {
  double left = monitor.minX(), right = monitor.maxX(), top = monitor.minY(), bottom = monitor.maxY();
  for (const Strut& strut : struts) {
    const auto overlap = strut.area.intersection(monitor);
    if (!overlap || overlap->isEmpty()) continue;
    const Rect& a = strut.area;
    switch (strut.edge) {
      case Strut::Edge::left:
        if (a.maxX() < monitor.maxX()) left = std::max(left, a.maxX());
        break;
      case Strut::Edge::right:
        if (a.minX() > monitor.minX()) right = std::min(right, a.minX());
        break;
      case Strut::Edge::top:
        if (a.maxY() < monitor.maxY()) top = std::max(top, a.maxY());
        break;
      case Strut::Edge::bottom:
        if (a.minY() > monitor.minY()) bottom = std::min(bottom, a.minY());
        break;
    }
  }
  return {left, top, std::max(0.0, right - left), std::max(0.0, bottom - top)};
}

}  // namespace vistaro::x11
