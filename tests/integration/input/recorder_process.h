#pragma once

// Runs the input recorder on a test display and reads the lines it prints.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace vistaro::testing {

class RecorderProcess {
 public:
  explicit RecorderProcess(const std::string& display) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> env{"DISPLAY=" + display};
    for (char** e = environ; *e; ++e)
      if (std::string(*e).rfind("DISPLAY=", 0) != 0) env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(INPUT_RECORDER_PATH), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
    if (rc != 0) throw std::runtime_error("cannot start the recorder");
    if (!waitForCount("ready", 1)) {
      throw std::runtime_error("the recorder did not get ready");
    }
    lines_.clear();
  }
  ~RecorderProcess() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    close(out_);
  }

  // Reads lines until the condition holds; false after the timeout.
  bool waitUntil(const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd pfd{out_, POLLIN, 0};
      if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) != 1) return false;
      char buffer[4096];
      ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0) return false;
      partial_.append(buffer, static_cast<size_t>(n));
      for (size_t end; (end = partial_.find('\n')) != std::string::npos; partial_.erase(0, end + 1)) {
        lines_.push_back(partial_.substr(0, end));
      }
    }
    return true;
  }
  bool waitForCount(const std::string& prefix, size_t count) {
    return waitUntil([&] { return linesStartingWith(prefix).size() >= count; });
  }
  void clear() { lines_.clear(); }
  std::vector<std::string> linesStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& line : lines_)
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
  }

 private:
  pid_t pid_ = 0;
  int out_ = -1;
  std::string partial_;
  std::vector<std::string> lines_;
};

}  // namespace vistaro::testing
