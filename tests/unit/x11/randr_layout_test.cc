#include <gtest/gtest.h>

#include <random>

#include "platform/x11/randr_fit_layout.h"
#include "platform/x11/randr_layout_codec.h"

namespace vistaro::x11 {
namespace {

// Two outputs on CRTCs of their own side by side, one rotated and scaled, one CRTC off, a user monitor.
ScreenLayout twoScreens() {
  ScreenLayout layout{":3", "boot/812/99", 3000, 1920, 794, 508};
  const ModeTimings native{"1920x1080", 1920, 1080, 148500000, 2008, 2052, 2200, 0, 1084, 1089, 1125, 5};
  CrtcTransform scaled = scalingTransform(2160, 1200, 1920, 1080);
  scaled.parameters = {65536, -3};
  layout.crtcs = {{0x41, native, 0, 0, 1, {"DP-1"}, identityTransform()},
                  {0x42, native, 1920, 0, 2, {"HDMI-1", "HDMI-2"}, scaled},
                  {0x43, std::nullopt, 0, 0, 1, {}, identityTransform()}};
  layout.primaryOutput = "DP-1";
  layout.monitors = {{"DESK", true, 0, 0, 3000, 1920, 794, 508, {"DP-1", "HDMI-1"}}};
  return layout;
}

TEST(RandrLayoutCodec, RoundTripsAndRefusesAnythingDamaged) {
  const ScreenLayout layout = twoScreens();
  const std::string text = encodeLayout(layout);
  EXPECT_EQ(decodeLayout(text), layout);
  ScreenLayout withoutTransforms = layout;
  for (CrtcLayout& crtc : withoutTransforms.crtcs) crtc.transform.reset();
  EXPECT_EQ(decodeLayout(encodeLayout(withoutTransforms)), withoutTransforms);

  for (auto [from, to] : std::initializer_list<std::pair<std::string, std::string>>{
           {"\"version\": 1", "\"version\": 2"},
           {"\"width\": 3000", "\"width\": 0"},
           {"\n  \"width\": 3000", "\n  \"width\": 40000"},  // the screen's
           {"\"width\": 3000", "\"width\": 3000.5"},
           {"\"rotation\": 2", "\"rotation\": 70000"},
           {"\"x\": 1920", "\"x\": 99999999999"},
           {"\"DP-1\"", "\"\""},
           {"\"DP-1\"", "17"},
           {"\"primary\": true", "\"primary\": 1"},
           {"\"filter\": \"bilinear\"", "\"filter\": null"},
           {"65536,\n     0,", "65536,"},
       }) {
    std::string damaged = text;
    const size_t at = damaged.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    EXPECT_EQ(decodeLayout(damaged.replace(at, from.size(), to)), std::nullopt) << to;
  }
  for (size_t length = 0; length < text.size(); length += 7) EXPECT_EQ(decodeLayout(text.substr(0, length)), std::nullopt);
  // Random damage must never crash the decoder (the sanitizer build would say so) nor half decode.
  std::mt19937 random(5);
  for (int round = 0; round < 2000; ++round) {
    std::string damaged = text;
    for (int i = 0; i < 3; ++i) damaged[random() % damaged.size()] = char(random() % 128);
    if (auto decoded = decodeLayout(damaged)) {
      EXPECT_EQ(decoded->crtcs.size(), 3u);
    }
  }
}

TEST(RandrFitLayout, MirrorsEveryLitCrtcAndScalesWhereTheModeIsRefused) {
  const ScreenLayout before = twoScreens();
  const ModeTimings mode = fitMode(801, 1730, fitName(4));
  EXPECT_EQ(std::tuple(mode.name, mode.width, mode.height), std::tuple("VISTARO-FIT-4", 801u, 1730u));
  EXPECT_TRUE(mode.width < mode.hSyncStart && mode.hSyncStart < mode.hSyncEnd && mode.hSyncEnd < mode.hTotal);
  EXPECT_NEAR(double(mode.dotClock) / mode.hTotal / mode.vTotal, 60, 1);

  const std::optional<ScreenLayout> fit = fitLayout(before, mode, {"HDMI-2"});
  ASSERT_TRUE(fit);
  EXPECT_EQ(std::tuple(fit->width, fit->height, fit->widthMm, fit->heightMm), std::tuple(801, 1730, 212, 458));
  EXPECT_EQ(fit->crtcs[0], (CrtcLayout{0x41, mode, 0, 0, 1, {"DP-1"}, identityTransform()}));
  EXPECT_EQ(fit->crtcs[1], (CrtcLayout{0x42, before.crtcs[1].mode, 0, 0, 1, {"HDMI-1", "HDMI-2"},
                                       scalingTransform(801, 1730, 1920, 1080)}));
  EXPECT_EQ(fit->crtcs[2], before.crtcs[2]);
  EXPECT_EQ(fit->monitors, (std::vector<MonitorLayout>{
                               {"VISTARO-FIT-4", true, 0, 0, 801, 1730, 212, 458, {"DP-1", "HDMI-1", "HDMI-2"}}}));

  ScreenLayout cannotScale = before;
  cannotScale.crtcs[1].transform.reset();
  EXPECT_EQ(fitLayout(cannotScale, mode, {"HDMI-2"}), std::nullopt);
}

}  // namespace
}  // namespace vistaro::x11
