#include "client/frame_watcher.h"

#include <gtest/gtest.h>

#include "core/manual_executor.h"

namespace vistaro::client {
namespace {

std::optional<WatchCommand> parse(std::vector<std::string> words, std::string* error = nullptr) {
  std::string ignored;
  return parseWatchCommand(words, error ? *error : ignored);
}

TEST(WatchCommandTest, FlagsBecomeTheRequest) {
  const auto command = parse({"watch", "--viewport", "0.25,0.5,0.5,0.25", "--base-max-w", "1200", "--detail-max",
                              "100,9000", "--patch", "--frames", "3", "--out", "/tmp/x", "--full"});
  ASSERT_TRUE(command);
  EXPECT_EQ(command->request.viewport, (std::vector<double>{0.25, 0.5, 0.5, 0.25}));
  EXPECT_EQ(command->request.baseMaxW, 1200);
  EXPECT_EQ(command->request.detailMaxW, 100);
  EXPECT_EQ(command->request.detailMaxH, 9000);
  EXPECT_EQ(command->request.full, true);
  EXPECT_TRUE(command->patch);
  EXPECT_EQ(command->frames, 3);
  EXPECT_EQ(command->out, "/tmp/x");

  const auto defaults = parse({"watch"});
  ASSERT_TRUE(defaults);
  EXPECT_FALSE(defaults->request.viewport);
  EXPECT_FALSE(defaults->request.full);
  EXPECT_FALSE(defaults->frames);

  std::string error;
  for (const auto& bad : std::vector<std::vector<std::string>>{{"watch", "--viewport", "0.1,0.2,0.3"},
                                                               {"watch", "--viewport", "0.1,0.2,0.3,0.4,"},
                                                               {"watch", "--viewport", "nan,0,1,1"},
                                                               {"watch", "--frames", "0"},
                                                               {"watch", "--detail-max", "100"},
                                                               {"watch", "--frames"},
                                                               {"watch", "--color", "red"},
                                                               {"click", "1", "1"}}) {
    EXPECT_FALSE(parse(bad, &error)) << bad[1];
    EXPECT_FALSE(error.empty());
  }
}

Bytes emptyFrame(uint64_t seq) {
  FrameHeader header;
  header.seq = seq;
  const Bytes json = *encodeMessage(header);
  Bytes body(4 + json.size());
  body[3] = static_cast<uint8_t>(json.size());
  std::copy(json.begin(), json.end(), body.begin() + 4);
  return body;
}

TEST(FrameWatcherTest, KeepsTwoRequestsOpenAndStopsAtTheFrameCount) {
  ManualExecutor clock;
  WatchCommand command;
  command.frames = 3;
  int requests = 0;
  std::vector<std::string> lines;
  FrameWatcher watcher(
      clock, command, [&](const RequestMessage&) { ++requests; },
      [&](const std::string& line) { lines.push_back(line); });
  watcher.start();
  watcher.start();  // welcomed again
  EXPECT_EQ(requests, 2);

  clock.advance(std::chrono::milliseconds(15));
  watcher.onFrame(emptyFrame(1));
  EXPECT_EQ(requests, 3) << "one request per frame keeps two open";
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("seq=1 "), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("latency=15.0ms"), std::string::npos) << lines[0];

  watcher.onFrame(Bytes{1, 2, 3});
  EXPECT_NE(lines[1].find("unreadable"), std::string::npos);
  EXPECT_FALSE(watcher.finished());
  watcher.onFrame(emptyFrame(3));
  EXPECT_TRUE(watcher.finished());
  EXPECT_EQ(requests, 3) << "never asks for more frames than it will take";
}

}  // namespace
}  // namespace vistaro::client
