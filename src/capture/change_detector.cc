#include "capture/change_detector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace vistaro {

// A frame that passed the size checks: every row offset below is known not to overflow.
struct ChangeDetector::Frame {
  const uint8_t* base;
  int64_t width;
  int64_t height;
  size_t bytesPerRow;

  const uint8_t* row(int64_t y) const { return base + static_cast<size_t>(y) * bytesPerRow; }
};

namespace {

enum TileState : uint8_t { skipped, comparing, changed };

// Calls visit(first, last) for each maximal run of neighbouring tiles in the wanted state.
template <typename Visit>
void forEachRun(const std::vector<uint8_t>& states, uint8_t wanted, Visit visit) {
  const int64_t count = static_cast<int64_t>(states.size());
  for (int64_t first = 0; first < count;) {
    if (states[static_cast<size_t>(first)] != wanted) {
      ++first;
      continue;
    }
    int64_t last = first;
    while (last + 1 < count && states[static_cast<size_t>(last + 1)] == wanted) ++last;
    visit(first, last);
    first = last + 1;
  }
}

bool checkedSizes(const PixelBuffer& buffer) {
  const int64_t w = buffer.width();
  const int64_t h = buffer.height();
  if (w <= 0 || h <= 0) return false;
  size_t rowBytes = 0;
  size_t frameBytes = 0;
  size_t lastRowStart = 0;
  size_t end = 0;
  if (__builtin_mul_overflow(static_cast<size_t>(w), size_t{4}, &rowBytes)) return false;
  if (__builtin_mul_overflow(rowBytes, static_cast<size_t>(h), &frameBytes)) return false;
  if (frameBytes > static_cast<size_t>(PTRDIFF_MAX)) return false;
  if (buffer.bytesPerRow() < rowBytes) return false;
  if (__builtin_mul_overflow(buffer.bytesPerRow(), static_cast<size_t>(h - 1), &lastRowStart)) return false;
  return !__builtin_add_overflow(lastRowStart, rowBytes, &end);
}

}  // namespace

DirtyRegion ChangeDetector::detectChanges(const CapturedFrame& captured) {
  const SharedPixels& buffer = captured.pixels;
  if (!buffer || buffer->format() != PixelFormat::bgra || !buffer->data()) return captured.changes;
  if (!checkedSizes(*buffer)) return captured.changes;
  const Frame frame{buffer->data(), buffer->width(), buffer->height(), buffer->bytesPerRow()};

  if (!previous_ || frame.width != width_ || frame.height != height_ || captured.display != displayID_) {
    replaceHistory(frame, captured.display);
    return DirtyRegion::unknown();
  }
  if (!captured.changes.known()) {
    copyRows(frame, 0, frame.width, 0, frame.height);
    return DirtyRegion::unknown();
  }
  std::vector<Rect> changedTiles;
  if (captured.changes.empty()) return DirtyRegion::none();

  if (++callStamp_ == 0) {
    std::fill(visitedStamp_.begin(), visitedStamp_.end(), 0);
    callStamp_ = 1;
  }
  const Rect bounds{0, 0, static_cast<double>(frame.width), static_cast<double>(frame.height)};
  for (const Rect& dirty : captured.changes.rects()) {
    const auto clipped = bounds.intersection(dirty);
    if (!clipped || clipped->isEmpty()) continue;
    if (!std::isfinite(clipped->maxX()) || !std::isfinite(clipped->maxY())) continue;
    const int64_t tx0 = static_cast<int64_t>(std::trunc(clipped->minX())) / tileSize;
    const int64_t tx1 = (static_cast<int64_t>(std::ceil(clipped->maxX())) - 1) / tileSize;
    const int64_t ty0 = static_cast<int64_t>(std::trunc(clipped->minY())) / tileSize;
    const int64_t ty1 = (static_cast<int64_t>(std::ceil(clipped->maxY())) - 1) / tileSize;
    if (tx1 < tx0 || ty1 < ty0) continue;
    for (int64_t ty = ty0; ty <= ty1; ++ty) compareTileRow(frame, ty, tx0, tx1, changedTiles);
  }
  return DirtyRegion::of(std::move(changedTiles));
}

// Compares the unvisited tiles tx0..tx1 of one tile row. The rows are walked in
// scan-line order with one memcmp over each run of still-equal neighbouring
// tiles, which keeps the memory access sequential; a tile stops being compared
// at its first differing row, as a tile-by-tile walk would.
void ChangeDetector::compareTileRow(const Frame& frame, int64_t ty, int64_t tx0, int64_t tx1,
                                    std::vector<Rect>& changedTiles) {
  const int64_t tilesPerRow = (frame.width + tileSize - 1) / tileSize;
  const int64_t count = tx1 - tx0 + 1;
  tileState_.assign(static_cast<size_t>(count), skipped);
  int64_t comparingCount = 0;
  for (int64_t i = 0; i < count; ++i) {
    uint32_t& stamp = visitedStamp_[static_cast<size_t>(ty * tilesPerRow + tx0 + i)];
    if (stamp == callStamp_) continue;
    stamp = callStamp_;
    tileState_[static_cast<size_t>(i)] = comparing;
    ++comparingCount;
  }

  const int64_t y0 = ty * tileSize;
  const int64_t rows = std::min(frame.height - y0, tileSize);
  auto tileSpan = [&](int64_t first, int64_t last) {  // byte offset and length of tiles first..last
    const int64_t x0 = (tx0 + first) * tileSize;
    const int64_t x1 = std::min((tx0 + last + 1) * tileSize, frame.width);
    return std::pair<size_t, size_t>(static_cast<size_t>(x0) * 4, static_cast<size_t>(x1 - x0) * 4);
  };
  for (int64_t y = y0; y < y0 + rows && comparingCount > 0; ++y) {
    const uint8_t* fresh = frame.row(y);
    const uint8_t* old = previous_.get() + static_cast<size_t>(y * stride_);
    forEachRun(tileState_, comparing, [&](int64_t first, int64_t last) {
      const auto [offset, length] = tileSpan(first, last);
      if (std::memcmp(fresh + offset, old + offset, length) == 0) return;
      for (int64_t i = first; i <= last; ++i) {
        const auto [tileOffset, tileLength] = tileSpan(i, i);
        if (std::memcmp(fresh + tileOffset, old + tileOffset, tileLength) == 0) continue;
        tileState_[static_cast<size_t>(i)] = changed;
        --comparingCount;
      }
    });
  }

  forEachRun(tileState_, changed, [&](int64_t first, int64_t last) {
    const auto [offset, length] = tileSpan(first, last);
    for (int64_t i = first; i <= last; ++i) {
      const auto [tileOffset, tileLength] = tileSpan(i, i);
      changedTiles.push_back(changedBounds(frame, static_cast<int64_t>(tileOffset / 4),
                                           static_cast<int64_t>(tileLength / 4), y0, rows));
    }
    copyRows(frame, static_cast<int64_t>(offset / 4), static_cast<int64_t>(length / 4), y0, rows);
  });
}

// The smallest rectangle holding every pixel of the tile that differs from the history: a
// keystroke changes a glyph, and its patch need not cover the whole tile. Rows are looked at
// from both ends and columns only outside the bounds found so far, so a tile that changed
// all over costs a few comparisons, not a pass over its pixels.
Rect ChangeDetector::changedBounds(const Frame& frame, int64_t x0, int64_t width, int64_t y0, int64_t rows) const {
  const auto fresh = [&](int64_t y) { return frame.row(y) + static_cast<size_t>(x0) * 4; };
  const auto old = [&](int64_t y) { return previous_.get() + static_cast<size_t>(y * stride_ + x0 * 4); };
  const auto rowDiffers = [&](int64_t y) { return std::memcmp(fresh(y), old(y), static_cast<size_t>(width) * 4) != 0; };
  const auto pixelDiffers = [&](int64_t y, int64_t x) { return std::memcmp(fresh(y) + x * 4, old(y) + x * 4, 4) != 0; };
  int64_t minY = y0, maxY = y0 + rows - 1;
  while (minY < maxY && !rowDiffers(minY)) ++minY;  // the caller knows some row differs
  while (maxY > minY && !rowDiffers(maxY)) --maxY;
  int64_t minX = width, maxX = -1;
  for (int64_t y = minY; y <= maxY && (minX > 0 || maxX < width - 1); ++y) {
    for (int64_t x = 0; x < minX; ++x) {
      if (pixelDiffers(y, x)) {
        minX = x;
        break;
      }
    }
    for (int64_t x = width - 1; x > maxX; --x) {
      if (pixelDiffers(y, x)) {
        maxX = x;
        break;
      }
    }
  }
  return Rect{static_cast<double>(x0 + minX), static_cast<double>(minY), static_cast<double>(maxX - minX + 1),
              static_cast<double>(maxY - minY + 1)};
}

void ChangeDetector::replaceHistory(const Frame& frame, DisplayID displayID) {
  previous_.reset();
  stride_ = frame.width * 4;
  const size_t bytes = static_cast<size_t>(stride_ * frame.height);
  const size_t rounded = (bytes + 63) / 64 * 64;  // aligned_alloc wants a multiple of the alignment
  previous_.reset(static_cast<uint8_t*>(std::aligned_alloc(64, rounded)));
  if (!previous_) throw std::bad_alloc();
  width_ = frame.width;
  height_ = frame.height;
  displayID_ = displayID;
  const int64_t tiles = ((width_ + tileSize - 1) / tileSize) * ((height_ + tileSize - 1) / tileSize);
  visitedStamp_.assign(static_cast<size_t>(tiles), 0);
  callStamp_ = 0;
  copyRows(frame, 0, frame.width, 0, frame.height);
}

void ChangeDetector::copyRows(const Frame& frame, int64_t x0, int64_t width, int64_t y0, int64_t rows) {
  const size_t offset = static_cast<size_t>(x0) * 4;
  const size_t length = static_cast<size_t>(width) * 4;
  for (int64_t y = y0; y < y0 + rows; ++y) {
    std::memcpy(previous_.get() + static_cast<size_t>(y * stride_) + offset, frame.row(y) + offset, length);
  }
}

}  // namespace vistaro
