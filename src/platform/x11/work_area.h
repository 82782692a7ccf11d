#pragma once

#include <vector>

#include "core/geometry.h"

namespace vistaro::x11 {

// A strip that a panel or dock keeps for itself along one edge of the root window.
struct Strut {
  enum class Edge { left, right, top, bottom };
  Edge edge = Edge::left;
  Rect area;  // root pixels
  bool operator==(const Strut&) const = default;
};

// The strips a window asks for: _NET_WM_STRUT_PARTIAL's twelve values, or _NET_WM_STRUT's four
// (each then spanning its whole edge); anything else asks for none. Strips are clipped to the root.
std::vector<Strut> strutsFrom(const std::vector<unsigned long>& values, const Rect& root);

// The monitor without the strips along its edges. The edges of the root window are all that struts
// can name, so a strip that reaches across the whole monitor belongs to a panel on an inner edge of
// a monitor further on, and leaves this one alone.
Rect workAreaWithin(const Rect& monitor, const std::vector<Strut>& struts);

}  // namespace vistaro::x11
