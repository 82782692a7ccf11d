#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vistaro::testing {

// A peer program for integration tests: we write its stdin and collect its
// stdout and stderr together. Killed and reaped when dropped.
class PipedProcess {
 public:
  explicit PipedProcess(const std::vector<std::string>& argv);
  ~PipedProcess();
  PipedProcess(const PipedProcess&) = delete;
  PipedProcess& operator=(const PipedProcess&) = delete;

  void write(const std::string& bytes);
  void closeInput();
  // Collects output until it contains the text at or after position `from`, or the time is up.
  bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout, size_t from = 0);
  // Collects output until the program ends; its exit status, or -1 after the timeout.
  int waitForExit(std::chrono::milliseconds timeout);
  const std::string& output() const { return output_; }
  // The output so far, with whatever has arrived unread.
  const std::string& currentOutput();
  void kill();
  void signal(int number);
  pid_t pid() const { return pid_; }

 private:
  bool collect(std::chrono::milliseconds timeout, const std::function<bool()>& done);

  pid_t pid_ = -1;
  int input_ = -1;
  int outputFd_ = -1;
  int exitStatus_ = -1;
  std::string output_;
};

}  // namespace vistaro::testing
