#include "reach/candidates.h"

#include <charconv>

namespace vistaro {

std::optional<Candidate> splitEndpoint(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view portText = text.substr(colon + 1);
  uint16_t port = 0;
  const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (portText.empty() || error != std::errc() || end != portText.data() + portText.size()) return std::nullopt;
  std::string_view host = text.substr(0, colon);
  const bool v6 = host.size() >= 2 && host.front() == '[' && host.back() == ']';
  if (v6) {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    return std::nullopt;
  }
  if (host.empty()) return std::nullopt;
  return Candidate{std::string(host), port, v6};
}

std::vector<Candidate> parseCandidates(std::string_view text) {
  std::vector<Candidate> candidates;
  size_t begin = 0;
  while (begin <= text.size()) {
    const size_t end = std::min(text.find(',', begin), text.size());
    if (auto candidate = splitEndpoint(text.substr(begin, end - begin))) candidates.push_back(std::move(*candidate));
    begin = end + 1;
  }
  return candidates;
}

}  // namespace vistaro
