#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <deque>

#include "server/listener.h"

namespace vistaro::testing {

// Records every listener the hub asks for; the test plays the network by
// calling the recorded handlers.
class FakeListenerFactory final : public ListenerFactory {
 public:
  struct Started {
    std::optional<uint16_t> port;
    std::string pin;
    Listener::Handlers handlers;
    std::shared_ptr<bool> cancelled = std::make_shared<bool>(false);
  };

  std::unique_ptr<Listener> listen(std::optional<uint16_t> port, const std::string& pin,
                                   Listener::Handlers handlers) override {
    if (creationError) throw std::runtime_error(*creationError);
    started.push_back(Started{port, pin, std::move(handlers)});
    return std::make_unique<FakeListener>(started.back().cancelled);
  }

  Started& last() { return started.back(); }

  // When set, listen() throws with this text.
  std::optional<std::string> creationError;
  std::deque<Started> started;  // stable while a handler starts the next one

 private:
  class FakeListener final : public Listener {
   public:
    explicit FakeListener(std::shared_ptr<bool> cancelled) : cancelled_(std::move(cancelled)) {}
    ~FakeListener() override { cancel(); }
    void cancel() override { *cancelled_ = true; }

   private:
    std::shared_ptr<bool> cancelled_;
  };
};

}  // namespace vistaro::testing
