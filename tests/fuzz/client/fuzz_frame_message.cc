// A frame body from the network: parsed, then every whole layer in it decoded.
#include "client/frame_message.h"
#include "client/jpeg_image.h"

using namespace vistaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes body(data, data + size);
  const auto message = client::parseFrameMessage(body);
  if (!message) return 0;
  size_t cut = message->base.size() + message->detail.size();
  for (const auto* images : {&message->basePatches, &message->detailPatches}) {
    for (const auto& image : *images) cut += image.size();
  }
  if (cut > size) __builtin_trap();
  for (const auto& image : {message->base, message->detail}) {
    const auto decoded = client::decodeJpeg(image);
    if (decoded && decoded->rgb.size() != size_t(decoded->width) * decoded->height * 3) __builtin_trap();
  }
  return 0;
}
