#include "capture/jpeg_writer.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>

#include "capture/srgb_profile.h"

namespace vistaro {

struct JpegWriter::Codec {
  jpeg_compress_struct compressor{};
  jpeg_error_mgr errors{};
  std::jmp_buf failure{};
  jpeg_destination_mgr destination{};
  std::vector<uint8_t> output;  // grows to the largest image seen, then stays
  size_t written = 0;
  std::vector<uint8_t> planes;  // one strip of Y, Cb and Cr
  // Optimised coding overwrites the compressor's Huffman tables in place and
  // jpeg_set_defaults does not restore them, so the standard ones are kept here.
  JHUFF_TBL standardDc[2]{};
  JHUFF_TBL standardAc[2]{};

  static Codec& of(j_common_ptr common) { return *static_cast<Codec*>(common->client_data); }
};

namespace {

using Codec = JpegWriter::Codec;

void fail(j_common_ptr common) { std::longjmp(Codec::of(common).failure, 1); }
void stayQuiet(j_common_ptr) {}

void startOutput(j_compress_ptr compressor) {
  Codec& codec = Codec::of(reinterpret_cast<j_common_ptr>(compressor));
  if (codec.output.size() < 64 * 1024) codec.output.resize(64 * 1024);
  codec.destination.next_output_byte = codec.output.data();
  codec.destination.free_in_buffer = codec.output.size();
}

boolean growOutput(j_compress_ptr compressor) {
  Codec& codec = Codec::of(reinterpret_cast<j_common_ptr>(compressor));
  const size_t full = codec.output.size();
  codec.output.resize(full * 2);
  codec.destination.next_output_byte = codec.output.data() + full;
  codec.destination.free_in_buffer = codec.output.size() - full;
  return TRUE;
}

void finishOutput(j_compress_ptr compressor) {
  Codec& codec = Codec::of(reinterpret_cast<j_common_ptr>(compressor));
  codec.written = codec.output.size() - codec.destination.free_in_buffer;
}

// libjpeg reports errors by longjmp; nothing between here and the library
// calls in body owns resources, so unwinding by jump loses nothing.
template <typename Body>
bool compressGuarded(Codec& codec, Body body) {
  if (setjmp(codec.failure)) {
    jpeg_abort_compress(&codec.compressor);
    return false;
  }
  body();
  return true;
}

constexpr int optimizeTablesUpToPixels = 256 * 256;

void configure(Codec& codec, int width, int height, J_COLOR_SPACE space, int components, int quality) {
  jpeg_compress_struct& compressor = codec.compressor;
  compressor.image_width = static_cast<JDIMENSION>(width);
  compressor.image_height = static_cast<JDIMENSION>(height);
  compressor.in_color_space = space;
  compressor.input_components = components;
  jpeg_set_defaults(&compressor);  // YCbCr, 4:2:0, baseline Huffman tables
  // The ICC profile says what the pixels mean; JFIF's 18 bytes would only add a pixel density,
  // and on a keystroke's patch every byte counts.
  compressor.write_JFIF_header = FALSE;
  for (int i = 0; i < 2; ++i) {
    *compressor.dc_huff_tbl_ptrs[i] = codec.standardDc[i];
    *compressor.ac_huff_tbl_ptrs[i] = codec.standardAc[i];
  }
  jpeg_set_quality(&compressor, quality, TRUE);
  compressor.dct_method = JDCT_ISLOW;
  // Optimised Huffman tables cost a second pass: on a 1440 × 900 layer +60 % time
  // for 2-6 % fewer bytes, not worth it; on patches, where the standard tables
  // are a large share of the bytes, 11 % fewer bytes for about 0.07 ms each.
  compressor.optimize_coding = width * height <= optimizeTablesUpToPixels ? TRUE : FALSE;
}

// APP1 "Exif": a little-endian TIFF whose first directory points to an Exif directory holding
// one entry, ColorSpace (0xA001) = 1, sRGB.
constexpr uint8_t kExifSrgb[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2a, 0, 8, 0, 0, 0,  //
                                 1, 0, 0x69, 0x87, 4, 0, 1, 0, 0, 0, 26, 0, 0, 0, 0, 0, 0, 0,  //
                                 1, 0, 0x01, 0xa0, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};

void start(jpeg_compress_struct& compressor, SrgbTag tag) {
  jpeg_start_compress(&compressor, TRUE);
  if (tag == SrgbTag::exifColorSpace) return jpeg_write_marker(&compressor, JPEG_APP0 + 1, kExifSrgb, sizeof kExifSrgb);
  const auto profile = srgbProfile();
  jpeg_write_icc_profile(&compressor, profile.data(), static_cast<unsigned>(profile.size()));
}

bool usableSize(int width, int height) {
  return width >= 1 && height >= 1 && width <= JpegWriter::maxDimension && height <= JpegWriter::maxDimension;
}

}  // namespace

JpegWriter::JpegWriter() : codec_(std::make_unique<Codec>()) {
  Codec& codec = *codec_;
  codec.compressor.err = jpeg_std_error(&codec.errors);
  codec.errors.error_exit = fail;
  codec.errors.output_message = stayQuiet;
  jpeg_create_compress(&codec.compressor);
  codec.compressor.client_data = &codec;
  codec.destination.init_destination = startOutput;
  codec.destination.empty_output_buffer = growOutput;
  codec.destination.term_destination = finishOutput;
  codec.compressor.dest = &codec.destination;
  codec.compressor.in_color_space = JCS_RGB;
  jpeg_set_defaults(&codec.compressor);
  for (int i = 0; i < 2; ++i) {
    codec.standardDc[i] = *codec.compressor.dc_huff_tbl_ptrs[i];
    codec.standardAc[i] = *codec.compressor.ac_huff_tbl_ptrs[i];
  }
}

JpegWriter::~JpegWriter() { jpeg_destroy_compress(&codec_->compressor); }

std::optional<std::vector<uint8_t>> JpegWriter::writeBgra(const uint8_t* topLeft, size_t bytesPerRow, int width,
                                                          int height, int quality, SrgbTag tag) {
  if (!usableSize(width, height)) return std::nullopt;
  Codec& codec = *codec_;
  jpeg_compress_struct& compressor = codec.compressor;
  const bool written = compressGuarded(codec, [&] {
    configure(codec, width, height, JCS_EXT_BGRA, 4, quality);
    start(compressor, tag);
    JSAMPROW rows[16];
    while (compressor.next_scanline < compressor.image_height) {
      const JDIMENSION first = compressor.next_scanline;
      const JDIMENSION count = std::min<JDIMENSION>(16, compressor.image_height - first);
      for (JDIMENSION i = 0; i < count; ++i) {
        // libjpeg's row type is non-const but it only reads input rows.
        rows[i] = const_cast<JSAMPROW>(topLeft + (first + i) * bytesPerRow);
      }
      jpeg_write_scanlines(&compressor, rows, count);
    }
    jpeg_finish_compress(&compressor);
  });
  if (!written) return std::nullopt;
  return std::vector<uint8_t>(codec.output.begin(), codec.output.begin() + static_cast<ptrdiff_t>(codec.written));
}

std::optional<std::vector<uint8_t>> JpegWriter::writeYcc420(int width, int height, int quality, SrgbTag tag,
                                                            YccStripSource& source) {
  if (!usableSize(width, height)) return std::nullopt;
  Codec& codec = *codec_;
  jpeg_compress_struct& compressor = codec.compressor;

  YccStrip strip{};
  strip.paddedWidth = (width + 15) / 16 * 16;
  const size_t lumaBytes = static_cast<size_t>(strip.paddedWidth) * YccStrip::lumaRows;
  codec.planes.resize(lumaBytes * 3 / 2);
  for (int i = 0; i < YccStrip::lumaRows; ++i)
    strip.luma[i] = &codec.planes[static_cast<size_t>(i * strip.paddedWidth)];
  for (int i = 0; i < YccStrip::lumaRows / 2; ++i) {
    strip.cb[i] = &codec.planes[lumaBytes + static_cast<size_t>(i * strip.paddedWidth / 2)];
    strip.cr[i] = &codec.planes[lumaBytes * 5 / 4 + static_cast<size_t>(i * strip.paddedWidth / 2)];
  }

  const bool written = compressGuarded(codec, [&] {
    configure(codec, width, height, JCS_YCbCr, 3, quality);
    compressor.raw_data_in = TRUE;
    start(compressor, tag);
    JSAMPARRAY planes[3] = {strip.luma, strip.cb, strip.cr};
    for (int row = 0; row < height; row += YccStrip::lumaRows) {
      source.fillStrip(row, strip);
      jpeg_write_raw_data(&compressor, planes, YccStrip::lumaRows);
    }
    jpeg_finish_compress(&compressor);
  });
  if (!written) return std::nullopt;
  return std::vector<uint8_t>(codec.output.begin(), codec.output.begin() + static_cast<ptrdiff_t>(codec.written));
}

}  // namespace vistaro
