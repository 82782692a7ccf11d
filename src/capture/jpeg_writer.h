#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace vistaro {

// Rows of one 16-row strip of a YCbCr 4:2:0 image, each row paddedWidth luma
// (paddedWidth / 2 chroma) samples, rows and columns beyond the image repeating
// its edge.
struct YccStrip {
  static constexpr int lumaRows = 16;
  uint8_t* luma[lumaRows];
  uint8_t* cb[lumaRows / 2];
  uint8_t* cr[lumaRows / 2];
  int paddedWidth;
};

class YccStripSource {
 public:
  virtual ~YccStripSource() = default;
  // Fills output rows firstRow .. firstRow + 15.
  virtual void fillStrip(int firstRow, const YccStrip& strip) = 0;
};

// How a JPEG says its pixels are sRGB: the compact ICC profile (480 bytes), or Exif's
// ColorSpace = sRGB (50 bytes), which is what a patch of a few glyphs can afford.
enum class SrgbTag { iccProfile, exifColorSpace };

// libjpeg-turbo behind one reused compressor and destination buffer: baseline,
// 4:2:0, tagged as sRGB. Failures (a size beyond JPEG's limits) give no image.
// Not thread-safe.
class JpegWriter {
 public:
  // JPEG cannot describe larger images.
  static constexpr int maxDimension = 65500;

  JpegWriter();
  ~JpegWriter();
  JpegWriter(const JpegWriter&) = delete;
  JpegWriter& operator=(const JpegWriter&) = delete;

  // BGRA rows read where they are.
  std::optional<std::vector<uint8_t>> writeBgra(const uint8_t* topLeft, size_t bytesPerRow, int width,
                                                int height, int quality, SrgbTag tag);
  // Planes made strip by strip, so colour conversion happens once, where they are made.
  std::optional<std::vector<uint8_t>> writeYcc420(int width, int height, int quality, SrgbTag tag,
                                                  YccStripSource& source);

  struct Codec;  // libjpeg's state; opaque outside jpeg_writer.cc

 private:
  std::unique_ptr<Codec> codec_;
};

}  // namespace vistaro
