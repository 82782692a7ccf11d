// What the network and the record store hand the rendezvous: a datagram on the listener's port
// taken as a STUN reply, the bytes as a knock's candidate list, and as a stored record.
#include <string>

#include "reach/candidates.h"
#include "reach/record_json.h"
#include "reach/stun_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vistaro;
  if (auto endpoint = parseBindingResponse(data, size)) {
    if (!splitEndpoint(*endpoint)) __builtin_trap();  // what we answer with must parse on the other side
  }
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const Candidate& candidate : parseCandidates(text)) {
    if (candidate.host.empty() || candidate.host.find(',') != std::string::npos) __builtin_trap();
  }
  if (auto record = recordFromJson(text)) recordToJson(*record);
  return 0;
}
