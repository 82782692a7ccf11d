#include "support/piped_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace vistaro::testing {

PipedProcess::PipedProcess(const std::vector<std::string>& argv) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const int result = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  input_ = in[1];
  outputFd_ = out[0];
  if (result != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + argv[0]);
  }
  // A peer that exits early must not take the test down with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
}

PipedProcess::~PipedProcess() {
  kill();
  closeInput();
  if (outputFd_ >= 0) close(outputFd_);
}

void PipedProcess::write(const std::string& bytes) {
  size_t done = 0;
  while (input_ >= 0 && done < bytes.size()) {
    const ssize_t n = ::write(input_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

void PipedProcess::closeInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

bool PipedProcess::collect(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || outputFd_ < 0) return done();
    pollfd poller{outputFd_, POLLIN, 0};
    if (poll(&poller, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(outputFd_, buffer, sizeof buffer);
    if (n <= 0) {
      close(outputFd_);
      outputFd_ = -1;
    } else {
      output_.append(buffer, static_cast<size_t>(n));
    }
  }
  return true;
}

bool PipedProcess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout, size_t from) {
  return collect(timeout, [&] { return output_.find(text, from) != std::string::npos; });
}

const std::string& PipedProcess::currentOutput() {
  pollfd poller{outputFd_, POLLIN, 0};
  while (outputFd_ >= 0 && poll(&poller, 1, 0) > 0) {
    char buffer[4096];
    const ssize_t n = read(outputFd_, buffer, sizeof buffer);
    if (n <= 0) break;
    output_.append(buffer, static_cast<size_t>(n));
  }
  return output_;
}

int PipedProcess::waitForExit(std::chrono::milliseconds timeout) {
  collect(timeout, [&] { return outputFd_ < 0; });
  if (pid_ < 0) return exitStatus_;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) return -1;
    usleep(10'000);
  }
  pid_ = -1;
  exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return exitStatus_;
}

void PipedProcess::signal(int number) {
  if (pid_ >= 0) ::kill(pid_, number);
}

void PipedProcess::kill() {
  if (pid_ < 0) return;
  ::kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace vistaro::testing
