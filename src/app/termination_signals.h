#pragma once

#include <csignal>
#include <functional>
#include <thread>

#include "core/executor.h"
#include "core/lifetime_guard.h"

namespace vistaro {

// SIGTERM, SIGINT and SIGHUP, delivered as tasks on the main executor whatever loop runs it
// (Asio's or Qt's): the handler only writes the number into a pipe, a small thread reads it.
// One at a time per process; the default dispositions come back when it goes.
class TerminationSignals {
 public:
  static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

  // `arrived` runs on `main` with the signal's number, once per signal that came.
  TerminationSignals(Executor& main, std::function<void(int)> arrived);
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 private:
  void read();

  Executor& main_;
  LifetimeGuard guard_;
  std::function<void(int)> deliver_;  // `arrived` wrapped in the guard, before the reader starts
  std::thread reader_;
};

}  // namespace vistaro
