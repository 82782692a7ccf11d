// The hub's sending half: flow control and what each frame message carries.
#include <nlohmann/json.hpp>

#include "unit/hub/hub_fixture.h"

namespace vistaro::testing {
namespace {

constexpr const char* kPlain = R"({"detailMaxW":800,"detailMaxH":600,"baseMaxW":1440})";
std::string zoomed(double x, bool full = false) {
  return R"({"viewport":[)" + std::to_string(x) + R"(,0,0.5,0.5],"detailMaxW":800,"detailMaxH":600,"baseMaxW":1440)" +
         (full ? R"(,"full":true})" : "}");
}

class HubFrames : public HubFixture {
 protected:
  void submit(DirtyRegion changes = DirtyRegion::unknown(), int width = 2880, int height = 1800) {
    hub->submit({PixelBuffer::allocate(width, height), 1, 2.0, std::move(changes)});
    settle();
  }
  void request(MemoryStream& stream, const std::string& body = kPlain) {
    send(stream, MessageType::request, body);
    settle();
  }
  static std::vector<nlohmann::json> headers(const MemoryStream& stream) {
    std::vector<nlohmann::json> found;
    for (const Received& message : receivedBy(stream)) {
      if (message.type != MessageType::frame) continue;
      const auto* b = reinterpret_cast<const uint8_t*>(message.body.data());
      found.push_back(nlohmann::json::parse(message.body.substr(4, uint32_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3])));
    }
    return found;
  }
};

TEST_F(HubFrames, NothingBeforeARequestThenWholeLayersAndNothingForStrangers) {
  auto stranger = connect();
  send(*stranger, MessageType::request, kPlain);
  auto phone = connectAuthed("Phone");
  submit();
  EXPECT_TRUE(headers(*phone).empty());
  request(*phone, R"({"viewport":[0.25,0.25,0.5,0.5],"detailMaxW":6000,"detailMaxH":6000,"baseMaxW":1440})");
  const auto sent = headers(*phone);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["seq"], 1);
  EXPECT_EQ(sent[0]["screenW"], 2880);
  EXPECT_EQ(sent[0]["baseLen"], 20);
  EXPECT_EQ(sent[0]["detailLen"], 30);
  EXPECT_FALSE(sent[0].contains("partial"));
  EXPECT_EQ(encoder.calls, (std::vector<std::string>{"layer 1440x4611686018427387904 q0.72", "layer 6000x6000 q0.8"}));
  EXPECT_TRUE(headers(*stranger).empty());
}

TEST_F(HubFrames, CreditsCapAtTwoAndOneMessageInFlightStartsFromTheNewestFrame) {
  auto phone = connectAuthed("Phone");
  request(*phone);
  phone->holdWrites();
  submit();  // in flight from now on
  for (int i = 0; i < 3; ++i) request(*phone);
  submit();
  submit();
  EXPECT_EQ(headers(*phone).size(), 1u);
  phone->releaseWrites();
  settle();
  for (int i = 0; i < 10; ++i) submit();
  const auto sent = headers(*phone);
  ASSERT_EQ(sent.size(), 3u);  // the one in flight, then two more
  EXPECT_EQ(sent[1]["seq"], 3);
}

TEST_F(HubFrames, ClientGoneDuringEncodingGetsNothingAndOthersCarryOn) {
  auto leaving = connectAuthed("A");
  auto staying = connectAuthed("B");
  request(*leaving);
  request(*staying);
  hub->submit({PixelBuffer::allocate(640, 480), 1, 1.0, DirtyRegion::unknown()});
  queue.runUntilIdle();  // both jobs queued, none encoded
  leaving->injectEndOfStream();
  settle();
  EXPECT_TRUE(headers(*leaving).empty());
  EXPECT_EQ(headers(*staying).size(), 1u);
}

TEST_F(HubFrames, ClearedLatestMakesRequestsWait) {
  auto phone = connectAuthed("Phone");
  submit();
  hub->clearLatest();
  request(*phone);
  EXPECT_TRUE(headers(*phone).empty());
  submit();
  EXPECT_EQ(headers(*phone).size(), 1u);
}

TEST_F(HubFrames, SameFrameTwiceIsNothingAMovedViewportOnlyDetailAndFullEverything) {
  auto phone = connectAuthed("Phone");
  submit();
  request(*phone, zoomed(0));
  request(*phone, zoomed(0));
  EXPECT_EQ(headers(*phone).size(), 1u);
  request(*phone, zoomed(0.5));
  request(*phone, zoomed(0.5, true));
  const auto sent = headers(*phone);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1]["baseLen"], 0);
  EXPECT_EQ(sent[1]["detailLen"], 30);
  EXPECT_EQ(sent[2]["baseLen"], 20);
}

TEST_F(HubFrames, PatchClientsGetPatchesAndALayerThatFailedComesWholeNextTime) {
  auto phone = connectAuthed("Phone", "patch");
  submit();
  request(*phone);
  request(*phone);
  submit(DirtyRegion::of({{64, 64, 64, 64}}));
  auto sent = headers(*phone);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1]["partial"], true);
  EXPECT_EQ(sent[1]["baseLen"], 0);
  EXPECT_EQ(sent[1]["basePatches"], nlohmann::json::parse(R"([{"x":30,"y":30,"w":36,"h":36,"len":7}])"));

  encoder.failPatches = true;
  request(*phone);
  submit(DirtyRegion::of({{64, 64, 64, 64}}));
  encoder.failPatches = false;
  request(*phone);
  submit(DirtyRegion::of({{640, 640, 64, 64}}));
  sent = headers(*phone);
  ASSERT_EQ(sent.size(), 4u);
  // Not a patch against an image the client never got.
  EXPECT_EQ(sent[3]["baseLen"], 20);
  EXPECT_FALSE(sent[3].contains("basePatches"));
}

TEST_F(HubFrames, ClientsAskingAlikeShareEachEncodeOfAFrame) {
  auto a = connectAuthed("A", "patch"), b = connectAuthed("B", "patch"), small = connectAuthed("C", "patch");
  const std::string smaller = R"({"detailMaxW":800,"detailMaxH":600,"baseMaxW":960})";
  auto requestAll = [&] {
    for (auto* client : {a.get(), b.get()}) request(*client);
    request(*small, smaller);
  };
  requestAll();
  submit();
  EXPECT_EQ(encoder.calls, (std::vector<std::string>{"layer 1440x4611686018427387904 q0.72",
                                                     "layer 960x4611686018427387904 q0.72"}));
  encoder.calls.clear();
  requestAll();
  submit(DirtyRegion::of({{64, 64, 64, 64}}));
  EXPECT_EQ(encoder.calls.size(), 2u);  // one patch for each base size
  EXPECT_EQ(headers(*a).back(), headers(*b).back());
  EXPECT_NE(headers(*a).back(), headers(*small).back());
}

}  // namespace
}  // namespace vistaro::testing
