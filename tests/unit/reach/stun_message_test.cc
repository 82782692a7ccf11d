#include <gtest/gtest.h>

#include <vector>

#include "reach/candidates.h"
#include "reach/stun_message.h"

namespace vistaro {
namespace {

const StunTransactionID kTransaction = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

struct Attribute {
  uint16_t type;
  std::vector<uint8_t> value;
};

std::vector<uint8_t> message(uint16_t type, const std::vector<Attribute>& attributes) {
  const StunRequest header = makeBindingRequest(kTransaction);
  std::vector<uint8_t> out(header.begin(), header.end());
  out[0] = type >> 8;
  out[1] = type & 0xff;
  for (const Attribute& a : attributes) {
    out.insert(out.end(), {uint8_t(a.type >> 8), uint8_t(a.type), uint8_t(a.value.size() >> 8), uint8_t(a.value.size())});
    out.insert(out.end(), a.value.begin(), a.value.end());
    out.resize(out.size() + (4 - a.value.size() % 4) % 4);
  }
  return out;
}

const Attribute kXorV4{0x0020, {0, 1, 0xf1, 0x2a, 0xe1, 0x12, 0xa4, 0x43}};  // 192.0.0.1:53304
const Attribute kMappedV4{0x0001, {0, 1, 0x1f, 0x90, 203, 0, 113, 7}};      // 203.0.113.7:8080

TEST(StunMessage, BindingRequestIsTwentyBytesWithCookieAndTransaction) {
  const StunRequest request = makeBindingRequest(kTransaction);
  const std::vector<uint8_t> expected = {0, 1, 0, 0, 0x21, 0x12, 0xa4, 0x42, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_EQ(std::vector<uint8_t>(request.begin(), request.end()), expected);
  EXPECT_EQ(stunTransaction(request.data(), request.size()), kTransaction);
}

TEST(StunMessage, ParsesTheMappedAddressOfABindingSuccess) {
  std::vector<uint8_t> xorV6 = {0, 2, 0xf1, 0x2a, 0x21 ^ 0x20, 0x12 ^ 0x01, 0xa4 ^ 0x0d, 0x42 ^ 0xb8};
  for (uint8_t i = 1; i <= 12; ++i) xorV6.push_back(i ^ (i == 12 ? 1 : 0));  // 2001:db8::1
  const std::vector<uint8_t> padded = message(0x0101, {{0x8022, {'a', 'b', 'c', 'd', 'e'}}, kXorV4});
  std::vector<uint8_t> shortDatagram = message(0x0101, {kXorV4});
  shortDatagram.resize(19);
  const std::vector<uint8_t> quicLongHeader = {0xc3, 0, 0, 0, 1, 0x21, 0x12, 0xa4, 0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const struct {
    const char* what;
    std::vector<uint8_t> datagram;
    std::optional<std::string> expected;
  } cases[] = {
      {"xor v4", message(0x0101, {kXorV4}), "192.0.0.1:53304"},
      {"xor v6", message(0x0101, {{0x0020, xorV6}}), "[2001:db8::1]:53304"},
      {"mapped then xor", message(0x0101, {kMappedV4, kXorV4}), "192.0.0.1:53304"},
      {"xor then mapped", message(0x0101, {kXorV4, kMappedV4}), "192.0.0.1:53304"},
      {"mapped alone", message(0x0101, {kMappedV4}), "203.0.113.7:8080"},
      {"length 6 skipped", message(0x0101, {{0x0020, {0, 1, 0, 0, 1, 2}}, kMappedV4}), "203.0.113.7:8080"},
      {"v6 of length 8 skipped", message(0x0101, {{0x0020, {0, 2, 0, 0, 1, 2, 3, 4}}}), std::nullopt},
      {"length 5 padded to 8", padded, "192.0.0.1:53304"},
      {"19 bytes", shortDatagram, std::nullopt},
      {"error response", message(0x0111, {kXorV4}), std::nullopt},
      {"request", message(0x0001, {kXorV4}), std::nullopt},
      {"quic packet", quicLongHeader, std::nullopt},
      {"attribute past the end", message(0x0101, {{0x0020, std::vector<uint8_t>(8)}}), std::nullopt},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> datagram = c.datagram;
    if (std::string(c.what) == "attribute past the end") datagram.resize(datagram.size() - 2);
    EXPECT_EQ(parseBindingResponse(datagram.data(), datagram.size()), c.expected) << c.what;
  }
}

TEST(Candidates, KeepsEndpointsAndDropsTheRest) {
  const auto candidates = parseCandidates("203.0.113.7:61000,[2001:db8::1]:61001,2001:db8::2:61002,,198.51.100.1:http");
  const std::vector<Candidate> expected = {{"203.0.113.7", 61000, false}, {"2001:db8::1", 61001, true}};
  EXPECT_EQ(candidates, expected);
  for (const char* bad : {"host", ":80", "[]:80", "host:", "host:65536", "host:80 ", "host:-1"}) {
    EXPECT_FALSE(splitEndpoint(bad)) << bad;
  }
  EXPECT_EQ(splitEndpoint("stun.example.org:3478"), (Candidate{"stun.example.org", 3478, false}));
}

}  // namespace
}  // namespace vistaro
