#pragma once

#include <optional>
#include <string>
#include <vector>

#include "client/client_connection.h"

namespace vistaro::client {

// Flags of vistaro-client: --host, --port, --quic HOST:PORT, --direct ID with --store, --store-credentials
// and --stun, --pin, --name, --features (comma separated).
// Absent, with the reason in error, when they do not parse.
std::optional<ClientOptions> parseCommandLine(const std::vector<std::string>& arguments, std::string& error);

inline constexpr char kUsage[] =
    "usage: vistaro-client --pin PIN [--host HOST] [--port PORT | --quic HOST:PORT | --direct ID --store FOLDER|URL\n"
    "         [--store-credentials FILE] [--stun HOST:PORT,...]] [--name NAME] [--features patch]\n";

}  // namespace vistaro::client
