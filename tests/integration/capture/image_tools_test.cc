#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "capture/frame_encoder.h"
#include "capture/lanczos_resampler.h"
#include "capture/srgb_profile.h"
#include "fakes/capture/test_images.h"

namespace vistaro {
namespace {

namespace fs = std::filesystem;

std::string run(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  pclose(pipe);
  return output;
}

struct Ppm {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

// Binary PPM as djpeg and ImageMagick write it (maxval 255, no comments).
Ppm parsePpm(const std::string& bytes) {
  std::istringstream in(bytes);
  std::string magic;
  int maxval = 0;
  Ppm ppm;
  in >> magic >> ppm.width >> ppm.height >> maxval;
  in.get();
  if (magic != "P6" || maxval != 255) return {};
  ppm.rgb.resize(size_t(ppm.width) * size_t(ppm.height) * 3);
  in.read(reinterpret_cast<char*>(ppm.rgb.data()), std::streamsize(ppm.rgb.size()));
  return ppm;
}

class ImageToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("vistaro-image-tools-" + std::to_string(getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  fs::path write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path path = dir / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
  }

  fs::path dir;
  FrameEncoder encoder;
};

TEST_F(ImageToolsTest, JpegsDecodeToTheirExactSizeWithTheSrgbProfile) {
  auto frame = testing::desktopLikeFrame(2880, 1800);
  const Rect whole{0, 0, 2880, 1800};
  const std::pair<std::string, std::vector<uint8_t>> images[] = {
      {"1440 900", encoder.encode(*frame, std::nullopt, 1440, int64_t{1} << 62, 0.72)->jpeg},
      {"1179 736", encoder.encode(*frame, std::nullopt, 1179, int64_t{1} << 62, 0.72)->jpeg},
      {"577 401", encoder.encode(*frame, Rect{0.1, 0.2, 0.2003, 0.2227}, 6000, 6000, 0.8)->jpeg},
      {"7 12", *encoder.encodePatch(*frame, whole, 1440, 900, Rect{10.5, 3.2, 7.9, 12.99}, 0.72)},
      {"33 17", *encoder.encodePatch(*frame, whole, 2880, 1800, Rect{2870, 1790, 33, 17}, 0.8)},
  };
  const std::string profile(srgbProfile().begin(), srgbProfile().end());
  for (const auto& [size, jpeg] : images) {
    const fs::path path = write("image.jpg", jpeg);
    const Ppm decoded = parsePpm(run("djpeg -pnm " + path.string()));
    EXPECT_EQ(std::to_string(decoded.width) + " " + std::to_string(decoded.height), size) << "djpeg";
    EXPECT_EQ(run("identify -format '%w %h' " + path.string()), size) << "ImageMagick";
    EXPECT_EQ(run("convert " + path.string() + " icc:-"), profile) << size;
  }
}

// Our resampler against ImageMagick's Lanczos on the same desktop-like image.
TEST_F(ImageToolsTest, ResamplerAgreesWithImageMagickLanczos) {
  auto frame = testing::desktopLikeFrame(2000, 1200, 4);
  std::vector<uint8_t> ppm;
  const std::string header = "P6\n2000 1200\n255\n";
  ppm.assign(header.begin(), header.end());
  for (int y = 0; y < 1200; ++y) {
    for (int x = 0; x < 2000; ++x) {
      const uint8_t* p = frame->row(y) + x * 4;
      ppm.insert(ppm.end(), {p[2], p[1], p[0]});
    }
  }
  const fs::path source = write("source.ppm", ppm);
  for (const double scale : {0.5, 0.41}) {
    const int width = int(std::lround(2000 * scale)), height = int(std::lround(1200 * scale));
    const Ppm reference = parsePpm(run("convert " + source.string() + " -filter Lanczos -resize " +
                                       std::to_string(width) + "x" + std::to_string(height) + "! ppm:-"));
    ASSERT_EQ(reference.width, width);
    LanczosResampler resampler;
    resampler.configure(*frame, 0, 0, scale, scale, width, height);
    std::vector<uint8_t> row(size_t(width) * 4), ours;
    for (int y = 0; y < height; ++y) {
      resampler.resampleRow(y, row.data());
      for (int x = 0; x < width; ++x) ours.insert(ours.end(), {row[x * 4 + 2], row[x * 4 + 1], row[x * 4]});
    }
    const double psnr = testing::psnr(ours.data(), reference.rgb.data(), size_t(width) * height, 3);
    EXPECT_GE(psnr, 40) << "scale " << scale;
    RecordProperty("psnr_" + std::to_string(scale), std::to_string(psnr));
    std::printf("PSNR against ImageMagick at %.2f: %.1f dB\n", scale, psnr);
  }
}

}  // namespace
}  // namespace vistaro
