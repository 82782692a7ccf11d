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

TEST(CommandLine, FlagsAndTheInputCommandAfterThemEvenWhenAFlagValueLooksLikeOne) {
  std::string error;
  EXPECT_EQ(parseCommandLine({"--pin", "1", "--features", "patch,,later"}, error).value_or(ClientOptions{}).features,
            (Words{"patch", "later"}));
  EXPECT_EQ(std::tuple(findInputCommand({"--pin", "1", "click", "0", "0"}), findInputCommand({"--pin", "1"}),
                       findInputCommand({"--name", "type", "--pin=1", "key", "a"})), std::tuple(2u, 2u, 3u));
  const std::tuple<Words, std::optional<InputMessage>, std::optional<KeyMessage>, bool> cases[] = {
      {{"click", "1", "0.25", "--right", "--count", "2", "--display", "7"},
       InputMessage{Kind::rightClick, 1, 0.25, 2, 7, {}, {}, {}}, {}, true},
      {{"scroll", "-120", "--dx", "40"}, InputMessage{Kind::scroll, 0.5, 0.5, 1, 0, 40, -120, true}, {}, false},
      {{"scroll", "5", "--at", "0.1", "0.9"}, InputMessage{Kind::scroll, 0.1, 0.9, 1, 0, {}, 5, true}, {}, false},
      {{"type", "héllo world", "--backspaces", "3"}, {}, KeyMessage{"héllo world", 3, {}, {}}, false},
      {{"key", "left", "--mod", "ctrl", "--mod", "shift"}, {}, KeyMessage{{}, {}, "left", {"ctrl", "shift"}}, false}};
  for (const auto& [words, pointer, key, displayGiven] : cases) {
    const auto command = parseInputCommand(words, error);
    EXPECT_TRUE(command && command->pointer == pointer && command->key == key && command->displayGiven == displayGiven)
        << words[1] << ": " << error;
  }
  const auto fit = parseInputCommand({"fit", "on", "--screen", "2532x1170", "--text", "large", "--fill"}, error);
  ASSERT_TRUE(fit && fit->fit == true) << error;
  EXPECT_EQ(fit->clientDisplay, (ClientDisplayMessage{2532, 1170, "large", true}));
  const auto off = parseInputCommand({"fit", "off"}, error);
  EXPECT_TRUE(off && off->fit == false && !off->clientDisplay);
}

TEST(CommandLine, RefusesWhatItCannotUseAndSaysWhy) {
  std::string error;
  const auto refused = [&](auto parse, const std::vector<Words>& cases) {
    for (const Words& words : cases) EXPECT_TRUE(!parse(words, error) && !std::exchange(error, "").empty()) << words.back();
  };
  refused(parseCommandLine,
          {{"--pin", "1", "--port", "65536"}, {"--pin", "1", "--port", "80x"}, {"--pin", "1", "--verbose"}, {"--pin"}});
  refused(parseInputCommand, {{"click", "nan", "0"}, {"click", "0.5"}, {"scroll", "1.5"}, {"scroll", "10", "--right"},
                              {"key", "a", "--mod"}, {"type", "a", "--backspaces", "-"}, {"drag"}, {"headless", "maybe"},
                              {"fit"}, {"fit", "off", "--fill"}, {"fit", "on", "--screen", "0x5"}, {"fit", "on", "--text", "huge"}});
  refused(parseWatchCommand, {{"watch", "--viewport", "0.1,0.2,0.3"}, {"watch", "--viewport", "0,0,1,1,"},
                              {"watch", "--frames", "0"}, {"watch", "--color", "red"}});
  parseCommandLine({"--host", "h"}, error);
  EXPECT_EQ(error, "--pin is required");
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
  return *JpegWriter().writeBgra(reinterpret_cast<const uint8_t*>(pixels.data()), size_t(width) * 4, width, height, 95,
                                 SrgbTag::iccProfile);
}

// Lengths that point outside the body are the fuzz target's.
TEST(FrameMessage, CutsImagesInWireOrderAndOnlyWhenTheLengthsAddUpExactly) {
  const FrameHeader header{.detailLen = 3, .basePatches = std::vector<PatchInfo>{{30, 30, 36, 36, 2}, {0, 0, 8, 8, 1}},
                           .detailPatches = std::vector<PatchInfo>{{1, 2, 3, 4, 4}}};
  const Bytes body = frameBody(header, "DDDaabcccc");
  const auto message = parseFrameMessage(body);
  ASSERT_TRUE(message && message->basePatches.size() == 2 && message->detailPatches.size() == 1);
  const auto text = [](FrameMessage::Image image) { return std::string(image.begin(), image.end()); };
  EXPECT_EQ(std::tuple(message->header, text(message->base), text(message->detail), text(message->basePatches[0]),
                       text(message->basePatches[1]), text(message->detailPatches[0])),
            std::tuple(header, "", "DDD", "aa", "b", "cccc"));
  std::vector<Bytes> refused{frameBody(header, "DDDaabccccX"), {0, 0, 0, 2, '{', '}'}};
  for (size_t length = 0; length < body.size(); ++length) refused.emplace_back(body.begin(), body.begin() + length);
  for (const Bytes& bad : refused) EXPECT_FALSE(parseFrameMessage(bad)) << bad.size() << " bytes";
}

TEST(Jpeg, RefusesDamagedOrOversizedData) {
  const Bytes jpeg = flatJpeg(64, 48, 0);
  Bytes oversized = jpeg;  // claims 65000 × 65000 pixels in its frame header
  std::ranges::copy(Bytes{0xfd, 0xe8, 0xfd, 0xe8}, std::ranges::search(oversized, Bytes{0xff, 0xc0}).begin() + 5);
  EXPECT_FALSE(decodeJpeg(oversized) || decodeJpeg(Bytes(jpeg.begin(), jpeg.begin() + jpeg.size() / 2)));
}

TEST(LayerImages, WholeLayersReplacePatchesDrawClippedAndBrokenImagesChangeNothing) {
  const Bytes base = flatJpeg(64, 32, 0x0a0a0a0a), patch = flatJpeg(8, 4, 0xc8c8c8c8), garbage(50, 0x42);
  LayerImages layers;
  const std::vector<PatchInfo> corner{{60, 30, 8, 4, 0}};  // lengths are the parser's
  const FrameMessage partial{.header = {.basePatches = corner}, .basePatches = {patch}};
  const FrameMessage orphan{.header = {.detailPatches = corner}, .detailPatches = {patch}};  // no whole detail to draw on
  FrameMessage message{.base = base};
  EXPECT_TRUE(layers.apply(message));
  EXPECT_EQ(std::tuple(layers.base().value_or(RgbImage{}).width, layers.detail().has_value()), std::tuple(64, false));
  EXPECT_TRUE(layers.apply(partial));
  const auto near = [&](int x, int y, int value) { return std::abs(*layers.base()->pixel(x, y) - value) <= 2; };
  EXPECT_TRUE(near(63, 31, 200) && near(59, 31, 10) && near(63, 29, 10)) << "clipped at the corner";
  message.base = garbage;
  EXPECT_FALSE(layers.apply(orphan) || layers.detail() || layers.apply(message));
  EXPECT_EQ(layers.base()->width, 64);

  const RgbImage source{4, 2, std::vector<uint8_t>(24, 9)};
  RgbImage target{10, 10, std::vector<uint8_t>(300, 0)}, stretched = target;
  for (const auto& [x, y, w, h] : std::vector<std::array<int64_t, 4>>{{-2, -1, 4, 2}, {8, 9, 4, 2}, {INT64_MAX, 0, 4, 2},
           {INT64_MIN, INT64_MIN, INT64_MAX, INT64_MAX}, {0, 0, INT64_MAX, INT64_MAX}, {3, 3, -4, 2}}) {
    drawScaled(source, target, x, y, w, h);  // clipped to the target, whatever the rectangle
  }
  EXPECT_EQ(std::tuple(target.rgb.size(), *target.pixel(0, 0), *target.pixel(9, 9)), std::tuple(300u, 9, 9));
  drawScaled(source, stretched, 1, 1, 8, 4);  // over the rectangle it is given
  EXPECT_EQ(std::tuple(*stretched.pixel(1, 1), *stretched.pixel(8, 4), *stretched.pixel(9, 4), *stretched.pixel(8, 5)),
            std::tuple(9, 9, 0, 0));
}

// The program's own watch, flags to files, is the fan-out integration test's.
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
  watcher.onFrame(frameBody({.seq = 1, .baseLen = int64_t(jpeg.size())}, std::string(jpeg.begin(), jpeg.end())));
  EXPECT_EQ(requests, 3) << "one request per frame keeps two open";
  EXPECT_NE(lines.at(0).find(" base=3x2 detail=- patches=0+0 latency=15.0ms"), std::string::npos) << lines[0];
  watcher.onFrame(Bytes{1, 2, 3});  // unreadable, and counted
  EXPECT_FALSE(watcher.finished());
  watcher.onFrame(frameBody(FrameHeader{}));
  EXPECT_TRUE(watcher.finished() && requests == 3) << "never asks for more frames than it will take";
  ASSERT_TRUE(watcher.writeLayers());
  std::ifstream file(out / "base.ppm", std::ios::binary);
  const std::string ppm((std::istreambuf_iterator<char>(file)), {});
  EXPECT_TRUE(ppm.size() == 29 && uint8_t(ppm[26]) > 240 && uint8_t(ppm[27]) < 16 && uint8_t(ppm[28]) < 16) << "RGB";
  EXPECT_FALSE(writePpm(*watcher.layers().base(), "/nonexistent-dir/x.ppm"));
}

}  // namespace
}  // namespace vistaro::client
