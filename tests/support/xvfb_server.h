#pragma once

// A private Xvfb for integration tests: started on a free display number (the server picks
// it through -displayfd), with -noreset so RandR monitors survive clients coming and going,
// and killed when the object goes.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vistaro::testing {

// Runs a program to its end with DISPLAY set; returns its exit status (-1 if it could not run).
inline int runProgram(const std::vector<std::string>& args, const std::string& display) {
  std::vector<std::string> env{"DISPLAY=" + display};
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("DISPLAY=", 0) != 0) env.emplace_back(*e);
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class XvfbServer {
 public:
  explicit XvfbServer(int width = 1920, int height = 1080) : width_(width), height_(height) { launch(""); }
  ~XvfbServer() { stop(SIGTERM); }
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  const std::string& name() const { return name_; }
  pid_t pid() const { return pid_; }

  // Ends the server at once, as a crash would.
  void kill() { stop(SIGKILL); }
  // A new server on the same display, as after a crash and a restart of the session.
  void restart() {
    stop(SIGKILL);
    launch(name_);
  }

  int run(const std::vector<std::string>& args) const { return runProgram(args, name_); }

 private:
  void launch(const std::string& display) {
    const int width = width_, height = height_;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    constexpr int childFd = 63;
    std::vector<std::string> args{"Xvfb", "-displayfd", std::to_string(childFd), "-noreset", "-nolisten", "tcp",
                                  "-screen", "0", std::to_string(width) + "x" + std::to_string(height) + "x24"};
    if (!display.empty()) args.insert(args.begin() + 1, display);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], childFd);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int rc = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      close(fds[0]);
      throw std::runtime_error("cannot start Xvfb");
    }
    std::string number;
    pollfd pfd{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&pfd, 1, 15000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
      stop(SIGKILL);
      throw std::runtime_error("Xvfb did not report its display");
    }
    name_ = ":" + number;
  }

  void stop(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

  int width_;
  int height_;
  pid_t pid_ = 0;
  std::string name_;
};

}  // namespace vistaro::testing
