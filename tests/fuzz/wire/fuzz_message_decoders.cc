// Every JSON decoder on arbitrary bodies; the first byte picks the structure.
// Whatever decodes must survive an encode and decode unchanged.
#include <cstddef>
#include <cstdint>

#include "wire/messages.h"

using namespace vistaro;

namespace {

template <typename Message>
void roundTrip(const Bytes& body) {
  const std::optional<Message> decoded = decodeMessage<Message>(body);
  if (!decoded) return;
  const std::optional<Bytes> encoded = encodeMessage(*decoded);
  if (!encoded) __builtin_trap();  // decoded numbers are finite, so encoding cannot fail
  if (decodeMessage<Message>(*encoded) != decoded) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Bytes body(data + 1, data + size);
  switch (data[0] % 13) {
    case 0: roundTrip<HelloMessage>(body); break;
    case 1: roundTrip<RequestMessage>(body); break;
    case 2: roundTrip<SelectDisplayMessage>(body); break;
    case 3: roundTrip<InputMessage>(body); break;
    case 4: roundTrip<KeyMessage>(body); break;
    case 5: roundTrip<HeadlessMessage>(body); break;
    case 6: roundTrip<ClientDisplayMessage>(body); break;
    case 7: roundTrip<WelcomeMessage>(body); break;
    case 8: roundTrip<DisplayInfo>(body); break;
    case 9: roundTrip<ErrorMessage>(body); break;
    case 10: roundTrip<FocusMessage>(body); break;
    case 11: roundTrip<FrameHeader>(body); break;
    case 12: roundTrip<PatchInfo>(body); break;
  }
  return 0;
}
