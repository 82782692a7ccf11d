// Real frames from the real encoder through a live TLS hub to the reference client library,
// in a network namespace of the test's own.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "client/frame_message.h"
#include "client/layer_images.h"
#include "fakes/capture/test_images.h"
#include "support/child_process.h"
#include "support/live_hub.h"
#include "support/loopback_client.h"
#include "support/temp_dir.h"

namespace vistaro::testing {
namespace {

// A patched layer is a mosaic of separately compressed pieces; against one fresh encode of
// the same frame it stays well above visible difference.
constexpr double kPatchedLayerPsnr = 30.0;

std::shared_ptr<PixelBuffer> copyOf(const PixelBuffer& frame) {
  auto copy = PixelBuffer::allocate(frame.width(), frame.height());
  for (int y = 0; y < frame.height(); ++y) std::memcpy(copy->mutableRow(y), frame.row(y), frame.width() * 4u);
  return copy;
}

// Dark stripes, as text typed into the block would leave.
void typeInto(PixelBuffer& frame, const Rect& block) {
  for (int y = int(block.y); y < int(block.maxY()); ++y) {
    for (int x = int(block.x); x < int(block.maxX()); ++x) {
      if ((x / 3 + y / 5) % 2) std::memset(frame.mutableRow(y) + x * 4, 0x18, 3);
    }
  }
}

client::RgbImage freshLayer(const PixelBuffer& frame, std::optional<Rect> region, int64_t maxW, int64_t maxH, double q) {
  return *client::decodeJpeg(FrameEncoder().encode(frame, region, maxW, maxH, q)->jpeg);
}
double psnrOf(const client::RgbImage& a, const client::RgbImage& b) {
  EXPECT_EQ(a.width, b.width);
  return psnr(a.rgb.data(), b.rgb.data(), a.rgb.size() / 3, 3);
}
void expectSize(client::FrameMessage::Image jpeg, int64_t width, int64_t height) {
  const auto image = client::decodeJpeg(jpeg);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, width);
  EXPECT_EQ(image->height, height);
}

class FrameDelivery : public ::testing::Test {
 protected:
  LoopbackClient::Options phone(bool patch) {
    client::ClientOptions options{.port = port, .pin = "123456", .name = "phone"};
    if (patch) options.features = {"patch"};
    return {options};
  }
  void submit(SharedPixels frame, DirtyRegion changes = DirtyRegion::unknown()) {
    hub->submit({std::move(frame), 1, 1.0, std::move(changes)});
  }
  LiveHub hub{{.realEncoder = true}};
  uint16_t port = hub.nextListeningPort();
};

TEST_F(FrameDelivery, WholeLayersAndPatchesDecodeToTheAnnouncedSizesAndAddUpToTheFrame) {
  // 1280 × 800, base at most 640 wide: 640 × 400. The middle quarter at most 320 × 320: 320 × 200.
  const RequestMessage request{.viewport = std::vector<double>{0.25, 0.25, 0.5, 0.5},
                               .detailMaxW = 320, .detailMaxH = 320, .baseMaxW = 640};
  LoopbackClient plain(phone(false)), patched(phone(true));
  ASSERT_TRUE(plain.welcomes.take() && patched.welcomes.take());
  const auto first = desktopLikeFrame(1280, 800);
  submit(first);
  client::LayerImages layers;
  for (LoopbackClient* client : {&plain, &patched}) {
    client->act([&](client::ClientConnection& c) { c.request(request); });
    const auto body = client->frames.take();
    const auto frame = client::parseFrameMessage(*body);
    ASSERT_TRUE(frame);
    expectSize(frame->base, 640, 400);
    expectSize(frame->detail, 320, 200);
    if (client == &patched) {
      EXPECT_TRUE(layers.apply(*frame));
    }
  }

  auto second = copyOf(*first);
  const std::vector<Rect> typed{{100, 100, 120, 40}, {700, 500, 90, 30}};
  for (const Rect& block : typed) typeInto(*second, block);
  submit(second, DirtyRegion::of(typed));
  for (LoopbackClient* client : {&plain, &patched}) client->act([&](client::ClientConnection& c) { c.request(request); });
  const auto whole = client::parseFrameMessage(*plain.frames.take());
  expectSize(whole->base, 640, 400);
  EXPECT_FALSE(whole->header.basePatches);

  const Bytes partialBody = *patched.frames.take();
  const auto partial = client::parseFrameMessage(partialBody);
  ASSERT_TRUE(partial && partial->header.basePatches && partial->header.detailPatches);
  EXPECT_EQ(partial->header.baseLen, 0);
  EXPECT_EQ(partial->header.basePatches->size(), 2u);
  EXPECT_EQ(partial->header.detailPatches->size(), 1u) << "only the second block lies in the viewport";
  for (size_t i = 0; i < partial->basePatches.size(); ++i) {
    expectSize(partial->basePatches[i], (*partial->header.basePatches)[i].w, (*partial->header.basePatches)[i].h);
  }
  EXPECT_TRUE(layers.apply(*partial));

  const double againstSecond = psnrOf(*layers.base(), freshLayer(*second, std::nullopt, 640, int64_t{1} << 62, 0.72));
  EXPECT_GE(againstSecond, kPatchedLayerPsnr);
  EXPECT_GE(psnrOf(*layers.detail(), freshLayer(*second, Rect{0.25, 0.25, 0.5, 0.5}, 320, 320, 0.8)), kPatchedLayerPsnr);
  // And the patches did the work: the held layer is much closer to the second frame than to the first.
  EXPECT_GT(againstSecond, psnrOf(*layers.base(), freshLayer(*first, std::nullopt, 640, int64_t{1} << 62, 0.72)) + 5);
}

TEST_F(FrameDelivery, ClientProgramWatchesAndWritesTheLayers) {
  submit(desktopLikeFrame(1280, 800));
  TempDir out;
  ChildProcess watcher({VISTARO_BINARY_DIR "/client/vistaro-client", "--pin", "123456", "--port", std::to_string(port),
                        "watch", "--base-max-w", "640", "--viewport", "0,0,0.5,0.5", "--patch", "--frames", "1",
                        "--out", out.path().string()});
  EXPECT_EQ(watcher.waitForExit(), 0) << watcher.output();
  EXPECT_NE(watcher.output().find("\nframe seq=1 "), std::string::npos) << watcher.output();
  EXPECT_NE(watcher.output().find(" base=640x400 detail=640x400 patches=0+0 latency="), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(out / "base.ppm"));
  EXPECT_EQ(std::filesystem::file_size(out / "detail.ppm"), 15u + 640 * 400 * 3);
  for (const char* command : {"--help", "watch"}) {  // help for the program and for a command: no PIN needed
    ChildProcess help({VISTARO_BINARY_DIR "/client/vistaro-client", command, "--help"});
    EXPECT_EQ(help.waitForExit(), 0);
    EXPECT_NE(help.output().find("watch [--viewport"), std::string::npos) << help.output();
  }
}

TEST_F(FrameDelivery, ClientThatStopsReadingHoldsNobodyElseBack) {
  // Loopback buffers as small as a slow mobile link's, in this test's own network namespace.
  int64_t socketBuffers = 0;
  for (const char* path : {"/proc/sys/net/ipv4/tcp_wmem", "/proc/sys/net/ipv4/tcp_rmem"}) {
    std::ofstream(path) << "4096 16384 65536";
    int64_t low = 0, initial = 0, high = 0;
    std::ifstream(path) >> low >> initial >> high;
    socketBuffers += high;
  }
  // The stalled client asks for everything at full resolution, then stops reading in its first frame.
  const RequestMessage everything{.viewport = std::vector<double>{0, 0, 1, 1}, .detailMaxW = 6000,
                                  .detailMaxH = 6000, .baseMaxW = 2880};
  LoopbackClient stalled(phone(false));
  LoopbackClient::Options zoomed = phone(true), overview = phone(false);
  zoomed.pull = RequestMessage{.viewport = std::vector<double>{0.1, 0.1, 0.2, 0.2}, .detailMaxW = 400,
                               .detailMaxH = 400, .baseMaxW = 320};
  overview.pull = RequestMessage{.baseMaxW = 480};
  LoopbackClient zooming(zoomed), overviewing(overview);
  for (LoopbackClient* client : {&stalled, &zooming, &overviewing}) ASSERT_TRUE(client->welcomes.take());
  stalled.stallAtNextFrame();
  stalled.act([&](client::ClientConnection& c) { c.request(everything), c.request(everything); });

  auto frame = PixelBuffer::allocate(2880, 1800);
  std::mt19937 random(7);
  for (size_t i = 0; i < size_t(2880) * 1800; ++i) reinterpret_cast<uint32_t*>(frame->mutableData())[i] = random();
  submit(frame);
  for (int round = 0; round < 8; ++round) {
    if (round > 0) {
      frame = copyOf(*frame);
      const Rect typed{400.0 + round * 40, 400, 40, 20};
      typeInto(*frame, typed);
      submit(frame, DirtyRegion::of({typed}));
    }
    for (LoopbackClient* client : {&zooming, &overviewing}) {
      const auto body = client->frames.take();
      ASSERT_TRUE(body) << "round " << round;
      EXPECT_EQ(client::parseFrameMessage(*body)->header.seq, uint64_t(round + 1));
    }
  }
  // The frame the stalled client still had coming was more than the sockets between it and the hub hold.
  stalled.resume();
  const auto late = stalled.frames.take();
  ASSERT_TRUE(late);
  EXPECT_GT(int64_t(late->size()), socketBuffers);
}

}  // namespace
}  // namespace vistaro::testing
