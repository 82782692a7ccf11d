#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server/service_advertiser.h"

namespace vistaro::testing {

class FakeServiceAdvertiser final : public ServiceAdvertiser {
 public:
  using Registration = std::pair<std::string, uint16_t>;

  void advertise(const std::string& name, uint16_t port) override {
    advertised.emplace_back(name, port);
    current = Registration{name, port};
  }
  void withdraw() override { current.reset(); }

  std::vector<Registration> advertised;
  std::optional<Registration> current;
};

}  // namespace vistaro::testing
