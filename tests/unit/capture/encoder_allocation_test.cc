// Steady state of the encoder: once warmed up, encoding a layer or a patch
// allocates only the returned bytes. Its own binary, because it replaces the
// global operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "capture/frame_encoder.h"
#include "fakes/capture/test_images.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};
}  // namespace

void* operator new(size_t size) {
  if (counting) ++allocations;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }

namespace vistaro {
namespace {

int allocationsDuring(const auto& work) {
  allocations = 0;
  counting = true;
  work();
  counting = false;
  return allocations;
}

TEST(FrameEncoderSteadyState, AllocatesOnlyTheReturnedBytes) {
  auto frame = testing::desktopLikeFrame(1280, 800);
  auto next = testing::desktopLikeFrame(1280, 800, 2);
  FrameEncoder encoder;
  auto everyKind = [&](const SharedPixels& pixels) {
    EXPECT_TRUE(encoder.encode(*pixels, std::nullopt, 640, 1 << 30, 0.72));
    EXPECT_TRUE(encoder.encode(*pixels, Rect{0.25, 0.25, 0.5, 0.5}, 6000, 6000, 0.8));
    EXPECT_TRUE(encoder.encodePatch(*pixels, Rect{0, 0, 1280, 800}, 640, 400, Rect{32, 32, 64, 32}, 0.72));
    EXPECT_TRUE(encoder.encodePatch(*pixels, Rect{0, 0, 1280, 800}, 640, 400, Rect{100, 60, 20, 20}, 0.72));
  };
  everyKind(frame);
  EXPECT_EQ(allocationsDuring([&] { everyKind(next); }), 4);
}

}  // namespace
}  // namespace vistaro
