// The reference client's own logic: its command line, and a frame body taken apart, decoded and kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "capture/jpeg_writer.h"
#include "client/command_line.h"
#include "client/frame_watcher.h"
#include "client/input_command.h"
#include "core/manual_executor.h"
#include "support/temp_dir.h"

namespace vistaro::client {
namespace {

using Words = std::vector<std::string>;
using Kind = InputMessage::Kind;

TEST(CommandLine, InputCommandsFollowTheFlagsEvenWhenAFlagValueLooksLikeOne) {
  EXPECT_EQ(std::tuple(findInputCommand({"--pin", "1", "click", "0", "0"}), findInputCommand({"--pin", "1"}),
                       findInputCommand({"--name", "type", "--pin=1", "key", "a"})), std::tuple(2u, 2u, 3u));
  const std::tuple<Words, std::optional<InputMessage>, std::optional<KeyMessage>, bool> cases[] = {
      {{"click", "1", "0.25", "--right", "--count", "2", "--display", "7"},
       InputMessage{Kind::rightClick, 1, 0.25, 2, 7, {}, {}, {}}, {}, true},
      {{"click", "0", "1"}, InputMessage{Kind::click, 0, 1, 1, 0, {}, {}, {}}, {}, false},
      {{"scroll", "-120", "--dx", "40"}, InputMessage{Kind::scroll, 0.5, 0.5, 1, 0, 40, -120, true}, {}, false},
      {{"scroll", "5", "--at", "0.1", "0.9"}, InputMessage{Kind::scroll, 0.1, 0.9, 1, 0, {}, 5, true}, {}, false},
      {{"type", "héllo world", "--backspaces", "3"}, {}, KeyMessage{"héllo world", 3, {}, {}}, false},
      {{"key", "left", "--mod", "ctrl", "--mod", "shift"}, {}, KeyMessage{{}, {}, "left", {"ctrl", "shift"}}, false}};
  for (const auto& [words, pointer, key, displayGiven] : cases) {
    std::string error;
    const auto command = parseInputCommand(words, error);
    ASSERT_TRUE(command) << words[1] << ": " << error;
    EXPECT_TRUE(command->pointer == pointer && command->key == key && command->displayGiven == displayGiven) << words[1];
  }
}

TEST(CommandLine, WatchFlagsBecomeTheRequest) {
  std::string error;
  const auto command = parseWatchCommand({"watch", "--viewport", "0.25,0.5,0.5,0.25", "--base-max-w", "1200",
                                          "--detail-max", "100,9000", "--patch", "--frames", "3", "--out", "/x", "--full"},
                                         error);
  ASSERT_TRUE(command) << error;
  EXPECT_EQ(command->request, (RequestMessage{std::vector{0.25, 0.5, 0.5, 0.25}, 100, 9000, 1200, true}));
  EXPECT_EQ(std::tuple(command->patch, command->frames, command->out), std::tuple(true, 3, "/x"));
  const auto defaults = parseWatchCommand({"watch"}, error);
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->request, (RequestMessage{std::nullopt, 1920, 1200, 1440, std::nullopt}));
  EXPECT_FALSE(defaults->frames || defaults->patch || defaults->out);
}

TEST(CommandLine, RefusesWhatItCannotUseAndSaysWhy) {
  const auto why = [](auto parse, const Words& words) {
    std::string error;
    return parse(words, error) ? "accepted" : error;
  };
  const auto refused = [&](auto parse, const std::vector<Words>& cases) {
    for (const Words& words : cases) EXPECT_TRUE(why(parse, words) != "accepted" && !why(parse, words).empty()) << words.back();
  };
  refused(parseCommandLine, {{"--pin", "1", "--port", "65536"}, {"--pin", "1", "--port", "0"}, {"--pin", "1", "--port", "80x"},
                             {"--pin", "1", "--verbose"}, {"--pin"}});
  refused(parseInputCommand, {{"click", "x", "0"}, {"click", "nan", "0"}, {"scroll", "1.5"}, {"type"}, {"key", "a", "--mod"},
                              {"type", "a", "--backspaces", "-"}, {"drag"}, {"watch"}});
  refused(parseWatchCommand, {{"watch", "--viewport", "0.1,0.2,0.3"}, {"watch", "--viewport", "0,0,1,1,"},
                              {"watch", "--viewport", "nan,0,1,1"}, {"watch", "--frames", "0"}, {"watch", "--detail-max", "100"},
                              {"watch", "--frames"}, {"watch", "--color", "red"}, {"click", "1", "1"}});
  EXPECT_EQ(why(parseCommandLine, {"--host", "h"}), "--pin is required");
  EXPECT_EQ(why(parseInputCommand, {"click", "0.5"}), "missing y");
  EXPECT_EQ(why(parseInputCommand, {"scroll", "10", "--right"}), "unexpected --right");
}

// The header's JSON behind its 4-byte big-endian length, then the images.
Bytes frameBody(const FrameHeader& header, const std::string& images = "") {
  const Bytes json = *encodeMessage(header);
  const std::string body = std::string{0, 0, char(json.size() >> 8), char(json.size())} +
                           std::string(json.begin(), json.end()) + images;
  return Bytes(body.begin(), body.end());
}

// One colour all over, as BGRA in memory order.
Bytes flatJpeg(int width, int height, uint32_t bgra) {
  const std::vector<uint32_t> pixels(size_t(width) * height, bgra);
  return *JpegWriter().writeBgra(reinterpret_cast<const uint8_t*>(pixels.data()), size_t(width) * 4, width, height, 95);
}

TEST(FrameMessage, CutsImagesInWireOrderAndOnlyWhenTheLengthsAddUpExactly) {
  FrameHeader header;
  header.detailLen = 3;
  header.basePatches = std::vector<PatchInfo>{{30, 30, 36, 36, 2}, {0, 0, 8, 8, 1}};
  header.detailPatches = std::vector<PatchInfo>{{1, 2, 3, 4, 4}};
  const Bytes body = frameBody(header, "DDDaabcccc");
  const auto message = parseFrameMessage(body);
  ASSERT_TRUE(message);
  std::string cut = "|";
  for (const auto& image : {message->base, message->detail}) cut += std::string(image.begin(), image.end()) + "|";
  for (const auto& image : message->basePatches) cut += std::string(image.begin(), image.end()) + "|";
  for (const auto& image : message->detailPatches) cut += std::string(image.begin(), image.end()) + "|";
  EXPECT_EQ(std::tuple(message->header, cut), std::tuple(header, "||DDD|aa|b|cccc|"));

  std::vector<Bytes> refused{frameBody(header, "DDDaabccccX"), {0, 0, 0, 0, 'B'}, {0xff, 0xff, 0xff, 0xff, '{', '}'},
                             {0, 0, 0, 3, '{', 'x', '}'}, {0, 0, 0, 2, '{', '}'}};
  for (size_t length = 0; length < body.size(); ++length) refused.emplace_back(body.begin(), body.begin() + length);
  for (int64_t* length : {&header.basePatches->at(1).len, &header.detailLen, &header.baseLen}) {
    for (int64_t wrong : {int64_t{-1}, INT64_MAX}) {
      const int64_t kept = std::exchange(*length, wrong);
      refused.push_back(frameBody(header, "DDDaabcccc"));
      *length = kept;
    }
  }
  for (const Bytes& bad : refused) EXPECT_FALSE(parseFrameMessage(bad)) << bad.size() << " bytes";
}

TEST(Jpeg, RefusesDamagedOrOversizedData) {
  const Bytes jpeg = flatJpeg(64, 48, 0);
  ASSERT_TRUE(decodeJpeg(jpeg));
  Bytes oversized = jpeg;  // claims 65000 × 65000 pixels in its frame header
  const auto sof = std::ranges::search(oversized, Bytes{0xff, 0xc0}).begin() - oversized.begin();
  oversized[sof + 5] = oversized[sof + 7] = 0xfd;
  oversized[sof + 6] = oversized[sof + 8] = 0xe8;
  for (const Bytes& bad : {Bytes{}, Bytes(100, 0x55), Bytes(jpeg.begin(), jpeg.begin() + jpeg.size() / 2),
                           Bytes(jpeg.begin(), jpeg.begin() + 20), oversized}) {
    EXPECT_FALSE(decodeJpeg(bad)) << bad.size();
  }
}

TEST(LayerImages, WholeLayersReplacePatchesDrawClippedAndBrokenImagesChangeNothing) {
  const Bytes base = flatJpeg(64, 32, 0x0a0a0a0a), patch = flatJpeg(8, 4, 0xc8c8c8c8), garbage(50, 0x42);
  LayerImages layers;
  FrameMessage message;
  message.base = base;
  EXPECT_TRUE(layers.apply(message));
  EXPECT_EQ(std::tuple(layers.base().value_or(RgbImage{}).width, layers.detail().has_value()), std::tuple(64, false));
  FrameMessage partial;
  partial.header.basePatches = std::vector<PatchInfo>{{60, 30, 8, 4, int64_t(patch.size())}};
  partial.basePatches = {patch};
  EXPECT_TRUE(layers.apply(partial));
  const auto near = [&](int x, int y, int value) { return std::abs(*layers.base()->pixel(x, y) - value) <= 2; };
  EXPECT_TRUE(near(63, 31, 200) && near(59, 31, 10) && near(63, 29, 10)) << "clipped at the corner";
  FrameMessage orphan;  // a detail patch before any whole detail layer has nothing to draw on
  orphan.header.detailPatches = partial.header.basePatches;
  orphan.detailPatches = {patch};
  message.base = garbage;
  EXPECT_FALSE(layers.apply(orphan) || layers.detail() || layers.apply(message));
  EXPECT_EQ(layers.base()->width, 64);

  const RgbImage source{4, 2, std::vector<uint8_t>(24, 9)};
  RgbImage target{10, 10, std::vector<uint8_t>(300, 0)}, stretched = target;
  for (const auto& [x, y, w, h] : std::vector<std::array<int64_t, 4>>{
           {-2, -1, 4, 2}, {8, 9, 4, 2}, {INT64_MAX, 0, 4, 2}, {INT64_MIN, INT64_MIN, INT64_MAX, INT64_MAX},
           {0, 0, INT64_MAX, INT64_MAX}, {3, 3, 0, 5}, {3, 3, -4, 2}}) {
    drawScaled(source, target, x, y, w, h);  // clipped to the target, whatever the rectangle
  }
  EXPECT_EQ(std::tuple(target.rgb.size(), *target.pixel(0, 0), *target.pixel(9, 9)), std::tuple(300u, 9, 9));
  drawScaled(source, stretched, 1, 1, 8, 4);  // over the rectangle it is given
  EXPECT_EQ(std::tuple(*stretched.pixel(1, 1), *stretched.pixel(8, 4), *stretched.pixel(9, 4), *stretched.pixel(8, 5)),
            std::tuple(9, 9, 0, 0));
}

TEST(FrameWatcher, KeepsTwoRequestsOpenStopsAtTheFrameCountAndWritesTheLayers) {
  ManualExecutor clock;
  testing::TempDir out;
  int requests = 0;
  std::vector<std::string> lines;
  FrameWatcher watcher(clock, WatchCommand{.frames = 3, .out = out.path()}, [&](const RequestMessage&) { ++requests; },
                       [&](const std::string& line) { lines.push_back(line); });
  watcher.start();
  watcher.start();  // welcomed again
  EXPECT_EQ(requests, 2);
  clock.advance(std::chrono::milliseconds(15));
  const Bytes jpeg = flatJpeg(3, 2, 0xffff0000);  // red
  FrameHeader header{.seq = 1, .baseLen = int64_t(jpeg.size())};
  watcher.onFrame(frameBody(header, std::string(jpeg.begin(), jpeg.end())));
  EXPECT_EQ(requests, 3) << "one request per frame keeps two open";
  EXPECT_EQ(lines.at(0).rfind("frame seq=1 ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(" base=3x2 detail=- patches=0+0 latency=15.0ms"), std::string::npos) << lines[0];
  watcher.onFrame(Bytes{1, 2, 3});
  EXPECT_NE(lines.at(1).find("unreadable"), std::string::npos);
  EXPECT_FALSE(watcher.finished());
  watcher.onFrame(frameBody(FrameHeader{}));
  EXPECT_TRUE(watcher.finished());
  EXPECT_EQ(requests, 3) << "never asks for more frames than it will take";

  ASSERT_TRUE(watcher.writeLayers());
  std::ifstream file(out / "base.ppm", std::ios::binary);
  const std::string ppm((std::istreambuf_iterator<char>(file)), {});
  EXPECT_EQ(std::tuple(ppm.size(), ppm.substr(0, 11)), std::tuple(29u, "P6\n3 2\n255\n"));
  EXPECT_TRUE(uint8_t(ppm[26]) > 240 && uint8_t(ppm[27]) < 16 && uint8_t(ppm[28]) < 16) << "RGB, in that order";
  EXPECT_FALSE(writePpm(*watcher.layers().base(), "/nonexistent-dir/x.ppm"));
}

}  // namespace
}  // namespace vistaro::client
