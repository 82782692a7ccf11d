#include <nlohmann/json.hpp>

#include "unit/hub/hub_fixture.h"

namespace vistaro::testing {
namespace {

constexpr const char* kPlainRequest = R"({"detailMaxW":800,"detailMaxH":600,"baseMaxW":1440})";

class StreamHubFramesTest : public HubFixture {
 protected:
  void submitFrame(std::optional<std::vector<Rect>> changes = std::nullopt, int width = 2880, int height = 1800) {
    hub->submit(PixelBuffer::allocate(width, height), 1, 2.0, std::move(changes));
    settle();
  }
  // Runs the hub and the encoder until neither has work left.
  void settle() {
    while (queue.runUntilIdle() + encodeQueue.runUntilIdle() > 0) {
    }
  }
  void request(MemoryStream& stream, const std::string& body = kPlainRequest) {
    send(stream, MessageType::request, body);
    settle();
  }
  static std::vector<nlohmann::json> frameHeaders(const MemoryStream& stream) {
    std::vector<nlohmann::json> headers;
    for (const Received& message : receivedBy(stream)) {
      if (message.type != MessageType::frame) continue;
      const auto* bytes = reinterpret_cast<const uint8_t*>(message.body.data());
      const uint32_t length = uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
      headers.push_back(nlohmann::json::parse(message.body.substr(4, length)));
    }
    return headers;
  }
};

TEST_F(StreamHubFramesTest, NothingGoesOutBeforeARequestThenWholeLayers) {
  auto stream = connectAuthed("Phone");
  submitFrame();
  EXPECT_TRUE(frameHeaders(*stream).empty());
  request(*stream, R"({"viewport":[0.25,0.25,0.5,0.5],"detailMaxW":6000,"detailMaxH":6000,"baseMaxW":1440})");
  auto headers = frameHeaders(*stream);
  ASSERT_EQ(headers.size(), 1u);
  EXPECT_EQ(headers[0]["seq"], 1);
  EXPECT_EQ(headers[0]["baseLen"], 20);
  EXPECT_EQ(headers[0]["detailLen"], 30);
  EXPECT_EQ(headers[0]["screenW"], 2880);
  EXPECT_FALSE(headers[0].contains("partial"));
  EXPECT_EQ(encoder.calls, (std::vector<std::string>{"layer 1440x4611686018427387904 q0.72", "layer 6000x6000 q0.8"}));
}

TEST_F(StreamHubFramesTest, CreditsCapAtTwoWhateverTheFrameRate) {
  auto stream = connectAuthed("Phone");
  request(*stream);
  stream->holdWrites();
  submitFrame();  // in flight from now on
  request(*stream);
  request(*stream);
  request(*stream);
  EXPECT_EQ(onlyClient().credits, 2);
  stream->releaseWrites();
  for (int i = 0; i < 10; ++i) submitFrame();
  EXPECT_EQ(frameHeaders(*stream).size(), 3u);  // the one in flight, then two more
  EXPECT_EQ(onlyClient().credits, 0);
}

TEST_F(StreamHubFramesTest, OneMessageInFlightAndTheNextStartsFromTheNewestFrame) {
  auto stream = connectAuthed("Phone");
  request(*stream);
  request(*stream);
  stream->holdWrites();
  submitFrame();
  submitFrame();
  submitFrame();
  EXPECT_EQ(frameHeaders(*stream).size(), 1u);
  stream->releaseWrites();
  settle();
  auto headers = frameHeaders(*stream);
  ASSERT_EQ(headers.size(), 2u);
  EXPECT_EQ(headers[1]["seq"], 3);
}

TEST_F(StreamHubFramesTest, ClientGoneDuringEncodingGetsNothingAndOthersCarryOn) {
  auto leaving = connectAuthed("A");
  auto staying = connectAuthed("B");
  request(*leaving);
  request(*staying);
  hub->submit(PixelBuffer::allocate(640, 480), 1, 1.0, std::nullopt);
  queue.runUntilIdle();  // both jobs queued, none encoded
  leaving->injectEndOfStream();
  settle();
  EXPECT_TRUE(frameHeaders(*leaving).empty());
  EXPECT_EQ(frameHeaders(*staying).size(), 1u);
}

TEST_F(StreamHubFramesTest, ClearedLatestFrameMakesRequestsWait) {
  auto stream = connectAuthed("Phone");
  submitFrame();
  hub->clearLatest();
  request(*stream);
  EXPECT_TRUE(frameHeaders(*stream).empty());
  submitFrame();
  EXPECT_EQ(frameHeaders(*stream).size(), 1u);
}

TEST_F(StreamHubFramesTest, FullRequestResendsAnUnchangedFrameAndViewportMovesSendOnlyDetail) {
  auto stream = connectAuthed("Phone");
  submitFrame();
  request(*stream, R"({"viewport":[0,0,0.5,0.5],"detailMaxW":800,"detailMaxH":600,"baseMaxW":1440})");
  request(*stream, R"({"viewport":[0,0,0.5,0.5],"detailMaxW":800,"detailMaxH":600,"baseMaxW":1440})");
  EXPECT_EQ(frameHeaders(*stream).size(), 1u);  // the same frame twice: nothing new

  request(*stream, R"({"viewport":[0.5,0,0.5,0.5],"detailMaxW":800,"detailMaxH":600,"baseMaxW":1440})");
  auto headers = frameHeaders(*stream);
  ASSERT_EQ(headers.size(), 2u);
  EXPECT_EQ(headers[1]["baseLen"], 0);
  EXPECT_EQ(headers[1]["detailLen"], 30);

  request(*stream, R"({"viewport":[0.5,0,0.5,0.5],"detailMaxW":800,"detailMaxH":600,"baseMaxW":1440,"full":true})");
  headers = frameHeaders(*stream);
  ASSERT_EQ(headers.size(), 3u);
  EXPECT_EQ(headers[2]["baseLen"], 20);
  EXPECT_EQ(headers[2]["detailLen"], 30);
}

TEST_F(StreamHubFramesTest, PatchClientsGetPatchesForSmallChanges) {
  auto stream = connectAuthed("Phone", "patch");
  submitFrame();
  request(*stream);
  request(*stream);
  submitFrame(std::vector<Rect>{{64, 64, 64, 64}});
  auto headers = frameHeaders(*stream);
  ASSERT_EQ(headers.size(), 2u);
  EXPECT_EQ(headers[1]["partial"], true);
  EXPECT_EQ(headers[1]["baseLen"], 0);
  EXPECT_EQ(headers[1]["basePatches"],
            nlohmann::json::parse(R"([{"x":30,"y":30,"w":36,"h":36,"len":7}])"));
}

TEST_F(StreamHubFramesTest, LayerThatFailedToEncodeIsSentWholeNextTime) {
  auto stream = connectAuthed("Phone", "patch");
  encoder.failLayers = true;
  submitFrame();
  request(*stream);
  encoder.failLayers = false;
  request(*stream);
  submitFrame(std::vector<Rect>{{64, 64, 64, 64}});
  auto headers = frameHeaders(*stream);
  ASSERT_EQ(headers.size(), 2u);
  EXPECT_EQ(headers[0]["baseLen"], 0);
  // Not a patch against an image the client never got.
  EXPECT_EQ(headers[1]["baseLen"], 20);
  EXPECT_FALSE(headers[1].contains("basePatches"));
}

TEST_F(StreamHubFramesTest, UnauthenticatedConnectionsGetNoFrames) {
  auto stranger = connect();
  send(*stranger, MessageType::request, kPlainRequest);
  submitFrame();
  EXPECT_TRUE(frameHeaders(*stranger).empty());
}

}  // namespace
}  // namespace vistaro::testing
