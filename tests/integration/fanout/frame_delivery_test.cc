#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "capture/frame_encoder.h"
#include "client/frame_message.h"
#include "client/layer_images.h"
#include "fakes/capture/test_images.h"
#include "fakes/fake_service_advertiser.h"
#include "integration/fanout/frame_client.h"
#include "integration/hub/live_hub.h"

namespace vistaro::testing {
namespace {

using client::FrameMessage;
using client::RgbImage;

// A patched layer is a mosaic of separately compressed pieces; against one
// fresh encode of the same frame it stays well above visible difference.
constexpr double kPatchedLayerPsnr = 30.0;

std::shared_ptr<PixelBuffer> copyOf(const PixelBuffer& frame) {
  auto copy = PixelBuffer::allocate(frame.width(), frame.height());
  for (int y = 0; y < frame.height(); ++y) std::memcpy(copy->mutableRow(y), frame.row(y), frame.width() * 4u);
  return copy;
}

// Dark stripes, as text typed into the block would leave.
void typeInto(PixelBuffer& frame, const Rect& block) {
  for (int y = int(block.y); y < int(block.y + block.height); ++y) {
    for (int x = int(block.x); x < int(block.x + block.width); ++x) {
      if ((x / 3 + y / 5) % 2) std::memset(frame.mutableRow(y) + x * 4, 0x18, 3);
    }
  }
}

RgbImage freshLayer(const PixelBuffer& frame, std::optional<Rect> region, int64_t maxW, int64_t maxH, double q) {
  FrameEncoder encoder;
  return *client::decodeJpeg(encoder.encode(frame, region, maxW, maxH, q)->jpeg);
}

double psnrOf(const RgbImage& a, const RgbImage& b) {
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  return psnr(a.rgb.data(), b.rgb.data(), a.rgb.size() / 3, 3);
}

struct Received {
  Bytes body;  // the message's spans point here
  FrameMessage message;
};

std::optional<Received> nextFrame(FrameClient& client) {
  auto body = client.frames.take();
  if (!body) return std::nullopt;
  Received received{std::move(*body), {}};
  auto message = client::parseFrameMessage(received.body);
  if (!message) return std::nullopt;
  received.message = std::move(*message);
  return received;
}

void expectSize(FrameMessage::Image jpeg, int64_t width, int64_t height) {
  const auto image = client::decodeJpeg(jpeg);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, width);
  EXPECT_EQ(image->height, height);
}

class FrameDeliveryTest : public ::testing::Test {
 protected:
  FakeServiceAdvertiser advertiser;
  FrameEncoder encoder;
  LiveHub hub{advertiser, encoder};
  uint16_t port = hub.nextListeningPort();
};

TEST_F(FrameDeliveryTest, WholeLayersAndPatchesDecodeToTheAnnouncedSizesAndAddUpToTheFrame) {
  // 1280 × 800, base at most 640 wide: 640 × 400. The middle quarter (640 × 400 pixels) at most 320 × 320: 320 × 200.
  RequestMessage request{.viewport = std::vector<double>{0.25, 0.25, 0.5, 0.5},
                         .detailMaxW = 320, .detailMaxH = 320, .baseMaxW = 640};
  FrameClient plain(port, false);
  FrameClient patched(port, true);
  ASSERT_TRUE(plain.welcomed.take());
  ASSERT_TRUE(patched.welcomed.take());

  const auto first = desktopLikeFrame(1280, 800);
  hub->submit(first, 1, 1.0, std::nullopt);
  client::LayerImages layers;
  for (FrameClient* client : {&plain, &patched}) {
    client->request(request);
    const auto frame = nextFrame(*client);
    ASSERT_TRUE(frame);
    expectSize(frame->message.base, 640, 400);
    expectSize(frame->message.detail, 320, 200);
    if (client == &patched) EXPECT_TRUE(layers.apply(frame->message));
  }

  auto second = copyOf(*first);
  const std::vector<Rect> typed{{100, 100, 120, 40}, {700, 500, 90, 30}};
  for (const Rect& block : typed) typeInto(*second, block);
  hub->submit(second, 1, 1.0, typed);
  plain.request(request);
  patched.request(request);

  const auto whole = nextFrame(plain);
  ASSERT_TRUE(whole);
  expectSize(whole->message.base, 640, 400);
  expectSize(whole->message.detail, 320, 200);
  EXPECT_FALSE(whole->message.header.basePatches);

  const auto partial = nextFrame(patched);
  ASSERT_TRUE(partial);
  const FrameHeader& header = partial->message.header;
  EXPECT_EQ(header.partial, true);
  EXPECT_EQ(header.baseLen, 0);
  EXPECT_EQ(header.detailLen, 0);
  ASSERT_TRUE(header.basePatches && header.detailPatches);
  EXPECT_EQ(header.basePatches->size(), 2u);
  EXPECT_EQ(header.detailPatches->size(), 1u) << "only the second block lies in the viewport";
  for (size_t i = 0; i < header.basePatches->size(); ++i) {
    expectSize(partial->message.basePatches[i], (*header.basePatches)[i].w, (*header.basePatches)[i].h);
  }
  for (size_t i = 0; i < header.detailPatches->size(); ++i) {
    expectSize(partial->message.detailPatches[i], (*header.detailPatches)[i].w, (*header.detailPatches)[i].h);
  }
  EXPECT_TRUE(layers.apply(partial->message));

  const RgbImage base = freshLayer(*second, std::nullopt, 640, int64_t{1} << 62, 0.72);
  const double againstSecond = psnrOf(*layers.base(), base);
  EXPECT_GE(againstSecond, kPatchedLayerPsnr);
  const RgbImage detail = freshLayer(*second, Rect{0.25, 0.25, 0.5, 0.5}, 320, 320, 0.8);
  EXPECT_GE(psnrOf(*layers.detail(), detail), kPatchedLayerPsnr);
  // And the patches did the work: the held layer is much closer to the second frame than to the first.
  EXPECT_GT(againstSecond, psnrOf(*layers.base(), freshLayer(*first, std::nullopt, 640, int64_t{1} << 62, 0.72)) + 5)
      << againstSecond;
}

TEST_F(FrameDeliveryTest, ClientProgramWatchesAndWritesTheLayers) {
  hub->submit(desktopLikeFrame(1280, 800), 1, 1.0, std::nullopt);
  const auto out = std::filesystem::path(::testing::TempDir()) / "watched";
  std::filesystem::remove_all(out);
  const std::string command = "timeout 10 " VISTARO_BINARY_DIR "/client/vistaro-client --pin 123456 --port " +
                              std::to_string(port) + " watch --base-max-w 640 --viewport 0,0,0.5,0.5 --patch " +
                              "--frames 1 --out " + out.string() + " 2>/dev/null";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_TRUE(pipe);
  char buffer[4096];
  for (size_t count; (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, count);
  EXPECT_EQ(WEXITSTATUS(pclose(pipe)), 0) << output;
  EXPECT_NE(output.find("\nframe seq=1 "), std::string::npos) << output;
  EXPECT_NE(output.find(" base=640x400 detail=640x400 patches=0+0 latency="), std::string::npos) << output;
  const auto base = std::ifstream(out / "base.ppm", std::ios::binary);
  EXPECT_TRUE(base.good());
  EXPECT_EQ(std::filesystem::file_size(out / "detail.ppm"), 15u + 640 * 400 * 3);
}

// Loopback buffers as small as a slow mobile link's, in this test's own network namespace.
int64_t shrinkSocketBuffers() {
  int64_t total = 0;
  for (const char* path : {"/proc/sys/net/ipv4/tcp_wmem", "/proc/sys/net/ipv4/tcp_rmem"}) {
    std::ofstream(path) << "4096 16384 65536";
    int64_t low = 0, initial = 0, high = 0;
    std::ifstream(path) >> low >> initial >> high;
    total += high;
  }
  return total;
}

std::shared_ptr<PixelBuffer> noiseFrame(int width, int height) {
  auto frame = PixelBuffer::allocate(width, height);
  std::mt19937 random(7);
  auto* words = reinterpret_cast<uint32_t*>(frame->mutableData());
  for (size_t i = 0; i < size_t(width) * height; ++i) words[i] = random();
  return frame;
}

TEST_F(FrameDeliveryTest, ClientThatStopsReadingHoldsNobodyElseBack) {
  const int64_t socketBuffers = shrinkSocketBuffers();
  FrameClient stalled(port, false);
  FrameClient zoomed(port, true);
  FrameClient overview(port, false);
  for (FrameClient* client : {&stalled, &zoomed, &overview}) ASSERT_TRUE(client->welcomed.take());

  // The stalled client asks for everything at full resolution, then stops reading in its first frame.
  const RequestMessage everything{.viewport = std::vector<double>{0, 0, 1, 1},
                                  .detailMaxW = 6000, .detailMaxH = 6000, .baseMaxW = 2880};
  const RequestMessage zoom{.viewport = std::vector<double>{0.1, 0.1, 0.2, 0.2},
                            .detailMaxW = 400, .detailMaxH = 400, .baseMaxW = 320};
  const RequestMessage overall{.baseMaxW = 480};
  stalled.stallAtNextFrame();
  stalled.request(everything);
  stalled.request(everything);
  for (int i = 0; i < 2; ++i) {
    zoomed.request(zoom);
    overview.request(overall);
  }

  auto frame = noiseFrame(2880, 1800);
  hub->submit(frame, 1, 1.0, std::nullopt);
  ASSERT_TRUE(stalled.frames.take());
  for (int round = 0; round < 8; ++round) {
    if (round > 0) {
      frame = copyOf(*frame);
      const Rect typed{400.0 + round * 40, 400, 40, 20};
      typeInto(*frame, typed);
      hub->submit(frame, 1, 1.0, std::vector<Rect>{typed});
    }
    for (auto [client, request] : {std::pair{&zoomed, &zoom}, std::pair{&overview, &overall}}) {
      const auto received = nextFrame(*client);
      ASSERT_TRUE(received) << "round " << round;
      EXPECT_EQ(received->message.header.seq, uint64_t(round + 1));
      client->request(*request);
    }
  }

  // The frame the stalled client still had coming was more than the sockets between it and the hub can hold.
  stalled.resume();
  const auto late = stalled.frames.take();
  ASSERT_TRUE(late);
  EXPECT_GT(int64_t(late->size()), socketBuffers);
}

}  // namespace
}  // namespace vistaro::testing
