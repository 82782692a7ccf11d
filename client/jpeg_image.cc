#include "client/jpeg_image.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace vistaro::client {
namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf escape;
  bool warned = false;
};

[[noreturn]] void failDecode(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->escape, 1);
}

// Corrupt data shows up as warnings (libjpeg pads a truncated scan with grey);
// a picture that is partly invented must not count as decoded.
void noteWarning(j_common_ptr info, int level) {
  if (level < 0) reinterpret_cast<ErrorManager*>(info->err)->warned = true;
}

// Kept out of decodeJpeg so that no object with a destructor lives in the frame longjmp leaves.
bool decodeInto(jpeg_decompress_struct& info, ErrorManager& errors, std::span<const uint8_t> jpeg,
                RgbImage& image) {
  if (setjmp(errors.escape)) return false;
  jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
  if (int64_t{info.image_width} * info.image_height > kMaxJpegPixels) return false;
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  if (info.output_components != 3) return false;
  image.width = static_cast<int>(info.output_width);
  image.height = static_cast<int>(info.output_height);
  image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.pixel(0, static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  return !errors.warned;
}

}  // namespace

std::optional<RgbImage> decodeJpeg(std::span<const uint8_t> jpeg) {
  if (jpeg.empty()) return std::nullopt;
  jpeg_decompress_struct info{};
  ErrorManager errors;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = failDecode;
  errors.base.emit_message = noteWarning;
  jpeg_create_decompress(&info);
  RgbImage image;
  const bool decoded = decodeInto(info, errors, jpeg, image);
  jpeg_destroy_decompress(&info);
  if (!decoded) return std::nullopt;
  return image;
}

}  // namespace vistaro::client
