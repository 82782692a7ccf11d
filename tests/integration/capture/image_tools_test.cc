// The encoder's JPEGs and the resampler checked by independent tools: djpeg and ImageMagick.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "capture/frame_encoder.h"
#include "capture/srgb_profile.h"
#include "fakes/capture/test_images.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace vistaro {
namespace {

std::string outputOf(const std::vector<std::string>& argv) {
  testing::ChildProcess tool(argv);
  EXPECT_EQ(tool.waitForExit(), 0) << argv[0] << ": " << tool.output().substr(0, 200);
  return tool.output();
}
std::string written(const std::filesystem::path& path, const uint8_t* bytes, size_t size) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes), std::streamsize(size));
  return path.string();
}

TEST(ImageTools, JpegsDecodeToTheirExactSizeWithTheCompactSrgbProfile) {
  FrameEncoder encoder;
  auto retina = testing::desktopLikeFrame(2880, 1800), frame = testing::desktopLikeFrame(2000, 1000);
  const auto layer = [&](const PixelBuffer& from, std::optional<Rect> region, int64_t maxWidth,
                         int64_t maxHeight = int64_t{1} << 62) {
    auto encoded = encoder.encode(from, region, maxWidth, maxHeight, 0.72);
    return encoded ? std::optional(encoded->jpeg) : std::nullopt;
  };
  const std::pair<std::string, std::optional<Bytes>> images[] = {
      {"1440 900", layer(*retina, {}, 1440)},
      {"1179 736", layer(*retina, {}, 1179)},
      {"2000 1000", layer(*frame, {}, 1999)},  // 0.9995: within the no-resampling band
      {"513 321", layer(*retina, {}, 6000, 321)},  // the tighter limit wins, the aspect ratio stays
      {"601 401", layer(*frame, Rect{0.10005, 0.2011, 0.3, 0.4}, 6000, 6000)},  // pixels 200.1 .. 800.1, 201.1 .. 601.1
      {"200 500", layer(*frame, Rect{0.9, -0.5, 0.5, 1.0}, 6000, 6000)},
      {"7 12", encoder.encodePatch(*retina, {0, 0, 2880, 1800}, 1440, 900, Rect{10.5, 3.2, 7.9, 12.99}, 0.72)},
      // Over the edge of the frame.
      {"33 17", encoder.encodePatch(*retina, {0, 0, 2880, 1800}, 2880, 1800, Rect{2870, 1790, 33, 17}, 0.8)},
  };
  const std::string profile(srgbProfile().begin(), srgbProfile().end());
  EXPECT_LE(profile.size(), 480u);  // on every patch: a keystroke costs little more
  testing::TempDir dir;
  for (const auto& [size, jpeg] : images) {
    ASSERT_TRUE(jpeg) << size;
    const std::string path = written(dir / "image.jpg", jpeg->data(), jpeg->size());
    EXPECT_TRUE(outputOf({"djpeg", "-pnm", path}).starts_with("P6\n" + size + "\n255\n")) << size;
    // Patches say sRGB in Exif's 50 bytes; layers carry the profile.
    const bool patch = &jpeg == &images[6].second || &jpeg == &images[7].second;
    if (!patch) EXPECT_EQ(outputOf({"convert", path, "icc:-"}), profile) << size;
    if (patch) EXPECT_EQ(outputOf({"identify", "-format", "%[EXIF:ColorSpace]", path}), "1") << size;
  }
}

TEST(ImageTools, ResamplerAgreesWithImageMagickLanczos) {
  auto frame = testing::desktopLikeFrame(2000, 1200, 4);
  testing::TempDir dir;
  const std::string source = written(dir / "source.bgra", frame->data(), frame->bytesPerRow() * 1200);
  for (const double scale : {0.5, 0.41}) {
    const int width = int(std::lround(2000 * scale)), height = int(std::lround(1200 * scale));
    const std::string reference =
        outputOf({"convert", "-size", "2000x1200", "-depth", "8", "bgra:" + source, "-filter", "Lanczos", "-resize",
                  std::to_string(width) + "x" + std::to_string(height) + "!", "bgra:-"});
    ASSERT_EQ(reference.size(), size_t(width) * height * 4);
    LanczosResampler resampler;
    resampler.configure(*frame, 0, 0, scale, scale, width, height);
    std::vector<uint8_t> ours(reference.size());
    for (int y = 0; y < height; ++y) resampler.resampleRow(y, &ours[size_t(y) * width * 4]);
    EXPECT_GE(testing::psnr(ours.data(), reinterpret_cast<const uint8_t*>(reference.data()), ours.size() / 4), 40)
        << "scale " << scale;
  }
}

}  // namespace
}  // namespace vistaro
