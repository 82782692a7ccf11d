#pragma once

#include <memory>
#include <utility>

namespace vistaro {

// Callbacks that an owner hands out (to its executor, the platform, other components) and
// that may run after it is gone: wrapped here, they do nothing from then on. The owner keeps
// the guard as its last member, so it goes first; the callbacks must run on the owner's
// executor, where they cannot race the destruction.
class LifetimeGuard {
 public:
  template <typename F>
  auto wrap(F f) const {
    return [alive = std::weak_ptr<const bool>(alive_), f = std::move(f)](auto&&... args) mutable {
      if (alive.lock()) f(std::forward<decltype(args)>(args)...);
    };
  }
  // From now on the wrapped callbacks do nothing, as if the owner were gone.
  void end() { alive_.reset(); }

 private:
  std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
};

}  // namespace vistaro
