// Steady state of the encoder: once warmed up, a layer or a patch allocates only the returned
// bytes. Its own binary, because it replaces the global operator new.
#include <gtest/gtest.h>

#include <atomic>

#include "capture/frame_encoder.h"
#include "fakes/capture/test_images.h"

static std::atomic<int> allocations{-1};  // -1: not counting

void* operator new(size_t size) {
  if (allocations >= 0) ++allocations;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }

TEST(FrameEncoderSteadyState, AllocatesOnlyTheReturnedBytes) {
  using namespace vistaro;
  FrameEncoder encoder;
  const auto everyKind = [&](const PixelBuffer& pixels) {  // whole and partial layers, patches
    return encoder.encode(pixels, std::nullopt, 640, 1 << 30, 0.72) &&
           encoder.encode(pixels, Rect{0.25, 0.25, 0.5, 0.5}, 6000, 6000, 0.8) &&
           encoder.encodePatch(pixels, Rect{0, 0, 1280, 800}, 640, 400, Rect{32, 32, 64, 32}, 0.72) &&
           encoder.encodePatch(pixels, Rect{0, 0, 1280, 800}, 640, 400, Rect{100, 60, 20, 20}, 0.72);
  };
  EXPECT_TRUE(everyKind(*vistaro::testing::desktopLikeFrame(1280, 800)));
  const auto next = vistaro::testing::desktopLikeFrame(1280, 800, 2);
  allocations = 0;
  EXPECT_TRUE(everyKind(*next));
  EXPECT_EQ(allocations.exchange(-1), 4);
}
