#include "capture/change_detector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace vistaro {
namespace {

using Rects = std::vector<Rect>;

// A frame with a deterministic pattern; padding bytes after each row hold noise.
std::shared_ptr<PixelBuffer> patternFrame(int width, int height, size_t padding = 0) {
  auto frame = PixelBuffer::allocate(width, height, static_cast<size_t>(width) * 4 + padding);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = frame->mutableRow(y);
    for (size_t i = 0; i < frame->bytesPerRow(); ++i) row[i] = static_cast<uint8_t>(i * 7 + y * 13);
  }
  return frame;
}

std::shared_ptr<PixelBuffer> copyOf(const PixelBuffer& frame) {
  auto copy = PixelBuffer::allocate(frame.width(), frame.height(), frame.bytesPerRow(), frame.format());
  std::memcpy(copy->mutableData(), frame.data(), frame.bytesPerRow() * static_cast<size_t>(frame.height()));
  return copy;
}

void touch(PixelBuffer& frame, int x, int y) { frame.mutableRow(y)[x * 4 + 1] ^= 0x5a; }

Rect whole(const PixelBuffer& frame) { return {0, 0, double(frame.width()), double(frame.height())}; }

TEST(ChangeDetector, FirstFrameIsWholeAndAnIdenticalFrameHasNoChanges) {
  ChangeDetector detector;
  auto frame = patternFrame(200, 100);
  EXPECT_EQ(detector.detectChanges(frame, 1, Rects{whole(*frame)}), std::nullopt);
  EXPECT_EQ(detector.detectChanges(copyOf(*frame), 1, Rects{whole(*frame)}), (Rects{}));
}

TEST(ChangeDetector, RectanglesOutsideTheFrameOrMalformedAreSkipped) {
  ChangeDetector detector;
  auto frame = patternFrame(100, 100);
  detector.detectChanges(frame, 1, std::nullopt);
  auto next = copyOf(*frame);
  touch(*next, 50, 50);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(detector.detectChanges(next, 1, Rects{{100, 0, 10, 10}, {-20, -20, 10, 10}, {10, 10, 0, 5}}),
            Rects{});
  // Nothing here may crash; what a non-finite rectangle reports is of no concern.
  detector.detectChanges(next, 1, Rects{{nan, 0, 10, 10}, {0, nan, inf, inf}, {-inf, -inf, inf, inf}});
}

TEST(ChangeDetector, AChangedTileIsCopiedWhole) {
  ChangeDetector detector;
  auto frame = patternFrame(128, 128);
  detector.detectChanges(frame, 1, std::nullopt);
  auto next = copyOf(*frame);
  touch(*next, 3, 0);   // first row: the comparison stops here
  touch(*next, 60, 63);  // last row: must still reach the history
  EXPECT_EQ(detector.detectChanges(next, 1, Rects{whole(*frame)}), (Rects{{0, 0, 64, 64}}));
  EXPECT_EQ(detector.detectChanges(copyOf(*next), 1, Rects{whole(*frame)}), (Rects{}));
}

TEST(ChangeDetector, AbsentDirtyInformationRefreshesTheWholeCopy) {
  ChangeDetector detector;
  auto frame = patternFrame(200, 100);
  detector.detectChanges(frame, 1, std::nullopt);
  auto next = copyOf(*frame);
  touch(*next, 199, 99);
  EXPECT_EQ(detector.detectChanges(next, 1, std::nullopt), std::nullopt);
  EXPECT_EQ(detector.detectChanges(copyOf(*next), 1, Rects{whole(*frame)}), (Rects{}));
}

TEST(ChangeDetector, ANewSizeOrDisplayStartsAFreshHistory) {
  ChangeDetector detector;
  auto frame = patternFrame(200, 100);
  detector.detectChanges(frame, 1, std::nullopt);
  EXPECT_EQ(detector.detectChanges(copyOf(*frame), 2, Rects{whole(*frame)}), std::nullopt);
  EXPECT_EQ(detector.detectChanges(copyOf(*frame), 2, Rects{whole(*frame)}), (Rects{}));
  auto smaller = patternFrame(100, 100);
  EXPECT_EQ(detector.detectChanges(smaller, 2, Rects{whole(*smaller)}), std::nullopt);
  EXPECT_EQ(detector.detectChanges(copyOf(*smaller), 2, Rects{whole(*smaller)}), (Rects{}));
}

TEST(ChangeDetector, UnusableBuffersPassTheDirtyInformationThroughAndKeepTheHistory) {
  ChangeDetector detector;
  auto frame = patternFrame(64, 64);
  detector.detectChanges(frame, 1, std::nullopt);
  const Rects dirty{{1, 2, 3, 4}};

  auto yuv = PixelBuffer::allocate(64, 64, 0, PixelFormat::other);
  EXPECT_EQ(detector.detectChanges(yuv, 1, dirty), dirty);
  EXPECT_EQ(detector.detectChanges(yuv, 1, std::nullopt), std::nullopt);
  auto unmapped = std::make_shared<PixelBuffer>(PixelFormat::bgra, 64, 64, 256, nullptr);
  EXPECT_EQ(detector.detectChanges(unmapped, 1, dirty), dirty);
  EXPECT_EQ(detector.detectChanges(nullptr, 1, dirty), dirty);
  auto shortRows = PixelBuffer::allocate(64, 64, 200);
  EXPECT_EQ(detector.detectChanges(shortRows, 1, dirty), dirty);
  const int huge = std::numeric_limits<int>::max();
  auto overflowing = std::make_shared<PixelBuffer>(PixelFormat::bgra, huge, huge, size_t{1} << 62,
                                                   std::shared_ptr<uint8_t>(frame, frame->mutableData()));
  EXPECT_EQ(detector.detectChanges(overflowing, 1, dirty), dirty);

  EXPECT_EQ(detector.detectChanges(copyOf(*frame), 1, Rects{whole(*frame)}), (Rects{}));
}

TEST(ChangeDetector, PaddingBytesAfterEachRowAreIgnored) {
  ChangeDetector detector;
  auto frame = patternFrame(100, 70, 48);
  detector.detectChanges(frame, 1, std::nullopt);
  auto next = copyOf(*frame);
  for (int y = 0; y < 70; ++y) next->mutableRow(y)[400 + y % 48] ^= 0xff;
  EXPECT_EQ(detector.detectChanges(next, 1, Rects{whole(*frame)}), (Rects{}));
  touch(*next, 99, 69);
  EXPECT_EQ(detector.detectChanges(next, 1, Rects{whole(*frame)}), (Rects{{64, 64, 36, 6}}));
}

// Random frames and dirty lists against a tile-by-tile model of the detector: edge tiles cut to
// odd sizes, overlapping and fractional rectangles, rectangles partly or wholly outside the frame,
// and changes outside every rectangle that wait until one covers them.
TEST(ChangeDetector, AgreesWithATileByTileModel) {
  std::mt19937 random(7);
  for (int round = 0; round < 30; ++round) {
    const int w = 1 + static_cast<int>(random() % 400), h = 1 + static_cast<int>(random() % 200);
    ChangeDetector detector;
    auto frame = patternFrame(w, h, random() % 2 * 32);
    detector.detectChanges(frame, 1, std::nullopt);
    auto model = copyOf(*frame);  // the model's history
    for (int step = 0; step < 5; ++step) {
      auto next = copyOf(*frame);
      for (int n = static_cast<int>(random() % 8); n > 0; --n) touch(*next, random() % w, random() % h);
      Rects dirty;
      for (int n = static_cast<int>(random() % 5); n > 0; --n) {
        dirty.push_back({double(int(random() % (w + 40)) - 20) + 0.5 * (random() % 2),
                         double(int(random() % (h + 40)) - 20), double(random() % 150), double(random() % 90)});
      }
      Rects expected;
      std::vector<bool> visited(size_t((w + 63) / 64) * size_t((h + 63) / 64));
      for (const Rect& r : dirty) {
        auto c = whole(*frame).intersection(r);
        if (!c || c->isEmpty()) continue;
        for (int ty = int(c->minY()) / 64; ty <= (int(std::ceil(c->maxY())) - 1) / 64; ++ty) {
          for (int tx = int(c->minX()) / 64; tx <= (int(std::ceil(c->maxX())) - 1) / 64; ++tx) {
            if (visited[size_t(ty * ((w + 63) / 64) + tx)]) continue;
            visited[size_t(ty * ((w + 63) / 64) + tx)] = true;
            const int tw = std::min(64, w - tx * 64), th = std::min(64, h - ty * 64);
            bool differs = false;
            for (int y = ty * 64; y < ty * 64 + th; ++y) {
              differs |= std::memcmp(next->row(y) + tx * 256, model->row(y) + tx * 256, size_t(tw) * 4) != 0;
            }
            if (!differs) continue;
            for (int y = ty * 64; y < ty * 64 + th; ++y) {
              std::memcpy(model->mutableRow(y) + tx * 256, next->row(y) + tx * 256, size_t(tw) * 4);
            }
            expected.push_back({double(tx * 64), double(ty * 64), double(tw), double(th)});
          }
        }
      }
      ASSERT_EQ(detector.detectChanges(next, 1, dirty), expected) << w << "x" << h << " round " << round;
      frame = next;
    }
  }
}

}  // namespace
}  // namespace vistaro
