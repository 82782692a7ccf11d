#include "client/frame_message.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace vistaro::client {
namespace {

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes frameBody(const FrameHeader& header, const std::string& images) {
  const Bytes json = *encodeMessage(header);
  const auto n = static_cast<uint32_t>(json.size());
  Bytes body(4 + json.size() + images.size());
  for (int i = 0; i < 4; ++i) body[i] = static_cast<uint8_t>(n >> (24 - 8 * i));
  std::copy(json.begin(), json.end(), body.begin() + 4);
  std::copy(images.begin(), images.end(), body.begin() + 4 + static_cast<ptrdiff_t>(json.size()));
  return body;
}

std::string text(FrameMessage::Image image) { return std::string(image.begin(), image.end()); }

FrameHeader headerWithPatches() {
  FrameHeader header;
  header.seq = 7;
  header.screenW = 2880;
  header.screenH = 1800;
  header.baseLen = 0;
  header.detailLen = 3;
  header.basePatches = std::vector<PatchInfo>{{30, 30, 36, 36, 2}, {0, 0, 8, 8, 1}};
  header.detailPatches = std::vector<PatchInfo>{{1, 2, 3, 4, 4}};
  header.partial = true;
  return header;
}

TEST(FrameMessageTest, CutsImagesInWireOrder) {
  const Bytes body = frameBody(headerWithPatches(), "DDDaabccccX");
  EXPECT_FALSE(parseFrameMessage(body)) << "a byte the header does not account for";

  const Bytes exact = frameBody(headerWithPatches(), "DDDaabcccc");
  const auto message = parseFrameMessage(exact);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->header, headerWithPatches());
  EXPECT_TRUE(message->base.empty());
  EXPECT_EQ(text(message->detail), "DDD");
  ASSERT_EQ(message->basePatches.size(), 2u);
  EXPECT_EQ(text(message->basePatches[0]), "aa");
  EXPECT_EQ(text(message->basePatches[1]), "b");
  ASSERT_EQ(message->detailPatches.size(), 1u);
  EXPECT_EQ(text(message->detailPatches[0]), "cccc");

  FrameHeader whole;
  whole.baseLen = 2;
  const Bytes baseOnlyBody = frameBody(whole, "BB");
  const auto baseOnly = parseFrameMessage(baseOnlyBody);
  ASSERT_TRUE(baseOnly);
  EXPECT_EQ(text(baseOnly->base), "BB");
  EXPECT_TRUE(baseOnly->detail.empty());
  EXPECT_TRUE(baseOnly->basePatches.empty());
}

TEST(FrameMessageTest, RefusesBodiesWhoseLengthsDoNotAddUp) {
  const Bytes body = frameBody(headerWithPatches(), "DDDaabcccc");
  for (size_t cut = 0; cut < body.size(); ++cut) {
    EXPECT_FALSE(parseFrameMessage(Bytes(body.begin(), body.begin() + cut))) << "cut at " << cut;
  }

  FrameHeader negative = headerWithPatches();
  negative.basePatches->at(1).len = -1;
  EXPECT_FALSE(parseFrameMessage(frameBody(negative, "DDDaabcccc")));
  negative = headerWithPatches();
  negative.detailLen = -3;
  EXPECT_FALSE(parseFrameMessage(frameBody(negative, "aabcccc")));

  FrameHeader huge;
  huge.baseLen = INT64_MAX;
  huge.detailLen = INT64_MAX;
  EXPECT_FALSE(parseFrameMessage(frameBody(huge, "x")));
}

TEST(FrameMessageTest, RefusesHeadersThatAreNotFrameHeaders) {
  EXPECT_FALSE(parseFrameMessage({}));
  // An unencodable header is sent with length 0; there is nothing to cut by.
  EXPECT_FALSE(parseFrameMessage(Bytes{0, 0, 0, 0, 'B'}));
  EXPECT_FALSE(parseFrameMessage(Bytes{0xff, 0xff, 0xff, 0xff, '{', '}'}));
  const Bytes notJson = bytesOf(std::string("\0\0\0\x03{x}", 7));
  EXPECT_FALSE(parseFrameMessage(notJson));
  const Bytes missingFields = bytesOf(std::string("\0\0\0\x02{}", 6));
  EXPECT_FALSE(parseFrameMessage(missingFields));
}

}  // namespace
}  // namespace vistaro::client
