#include "client/command_line.h"

#include <charconv>

#include "reach/random_hex_id.h"

namespace vistaro::client {

namespace {

std::vector<std::string> splitCommas(const std::string& text) {
  std::vector<std::string> parts;
  size_t begin = 0;
  while (begin <= text.size()) {
    const size_t end = std::min(text.find(',', begin), text.size());
    if (end > begin) parts.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return parts;
}

}  // namespace

std::optional<ClientOptions> parseCommandLine(const std::vector<std::string>& arguments, std::string& error) {
  ClientOptions options;
  bool havePin = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string flag = arguments[i];
    std::string value;
    if (const size_t equals = flag.find('='); equals != std::string::npos) {
      value = flag.substr(equals + 1);
      flag.resize(equals);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      error = "missing value for " + flag;
      return std::nullopt;
    }
    if (flag == "--host") {
      options.host = value;
    } else if (flag == "--port") {
      unsigned port = 0;
      const auto [end, result] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (result != std::errc() || end != value.data() + value.size() || port == 0 || port > 65535) {
        error = "bad port: " + value;
        return std::nullopt;
      }
      options.port = static_cast<uint16_t>(port);
    } else if (flag == "--quic") {
      if (!splitHostPort(value)) {
        error = "bad --quic address (HOST:PORT): " + value;
        return std::nullopt;
      }
      options.quic = value;
    } else if (flag == "--direct") {
      if (!isHexID(value)) {
        error = "bad --direct ID (32 lowercase hexadecimal digits, the welcome's directID): " + value;
        return std::nullopt;
      }
      if (!options.direct) options.direct.emplace();
      options.direct->directID = value;
    } else if (flag == "--store" || flag == "--store-credentials" || flag == "--stun") {
      if (!options.direct) options.direct.emplace();
      if (flag == "--store") options.direct->store = recordStoreAt(value, options.direct->store.credentialsFile);
      if (flag == "--store-credentials") options.direct->store.credentialsFile = value;
      if (flag == "--stun") options.direct->stunServers = splitCommas(value);
    } else if (flag == "--pin") {
      options.pin = value;
      havePin = true;
    } else if (flag == "--name") {
      options.name = value;
    } else if (flag == "--features") {
      options.features = splitCommas(value);
    } else {
      error = "unknown flag: " + flag;
      return std::nullopt;
    }
  }
  if (options.direct && (options.direct->directID.empty() || options.direct->store.location.empty())) {
    error = "--direct ID and --store FOLDER|URL go together";
    return std::nullopt;
  }
  if (!havePin) {
    error = "--pin is required";
    return std::nullopt;
  }
  return options;
}

}  // namespace vistaro::client
