#pragma once

#include <future>

#include "core/asio_executor.h"

namespace vistaro::testing {

// Runs work on the executor's thread and waits for it, so a test thread can touch what lives there.
template <typename Work>
void runOn(AsioExecutor& executor, Work work) {
  std::promise<void> done;
  executor.post([&] {
    work();
    done.set_value();
  });
  done.get_future().wait();
}

}  // namespace vistaro::testing
