#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/threads.h"

namespace vistaro::testing {

// A program a test starts: its stdout and stderr collected together as they come (or sent
// to a log file), its stdin writable. Killed and reaped when dropped.
class ChildProcess {
 public:
  struct Options {
    std::vector<std::string> environment;     // "NAME=value": added to ours, or replacing
    std::optional<std::filesystem::path> log;  // output there instead of collected
  };

  explicit ChildProcess(const std::vector<std::string>& argv) : ChildProcess(argv, Options{}) {}
  ChildProcess(const std::vector<std::string>& argv, const Options& options);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Runs a program to its end with its output dropped: the exit status, -1 if it did not end.
  static int run(const std::vector<std::string>& argv, const Options& options = {},
                 std::chrono::milliseconds patience = kPatience);

  void write(const std::string& bytes);
  void closeInput();
  // Collects output until it holds the text at or after `from`, or the time is up.
  bool waitForOutput(const std::string& text, std::chrono::milliseconds patience = kPatience, size_t from = 0);
  // The exit status (128 + signal when killed by one), or -1 if it is still running at the end.
  int waitForExit(std::chrono::milliseconds patience = kPatience);
  // Everything it printed so far.
  const std::string& output();
  bool running() { return waitForExit(std::chrono::milliseconds(0)) == -1; }
  void signal(int number);
  void kill();
  // SIGTERM, as a service manager ends a daemon; killed if it has not gone after the patience.
  void stop(std::chrono::milliseconds patience = kPatience);
  pid_t pid() const { return pid_; }

 private:
  void collect(std::chrono::milliseconds patience, const std::function<bool()>& done);

  pid_t pid_ = -1;
  int input_ = -1;
  int outputFd_ = -1;
  int exitStatus_ = -1;
  std::string output_;
};

}  // namespace vistaro::testing
