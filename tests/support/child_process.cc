#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <stdexcept>

extern char** environ;

namespace vistaro::testing {
namespace {

// Ours, with the given variables added or replaced.
std::vector<std::string> environmentWith(const std::vector<std::string>& added) {
  std::vector<std::string> result = added;
  for (char** entry = environ; *entry; ++entry) {
    const std::string variable = *entry, name = variable.substr(0, variable.find('=') + 1);
    if (std::none_of(added.begin(), added.end(), [&](const std::string& mine) { return mine.rfind(name, 0) == 0; })) {
      result.push_back(variable);
    }
  }
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Options& options) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  if (options.log) {
    posix_spawn_file_actions_addopen(&actions, 1, options.log->c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  } else {
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  }
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<std::string> args = argv, env = environmentWith(options.environment);
  const int result = posix_spawnp(&pid_, args[0].c_str(), &actions, nullptr, pointers(args).data(), pointers(env).data());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  input_ = in[1];
  outputFd_ = out[0];
  if (result != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + argv[0]);
  }
  // A program that exits early must not take the test down with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
}

ChildProcess::~ChildProcess() {
  kill();
  closeInput();
  if (outputFd_ >= 0) close(outputFd_);
}

int ChildProcess::run(const std::vector<std::string>& argv, const Options& options, std::chrono::milliseconds patience) {
  try {
    Options quiet = options;
    if (!quiet.log) quiet.log = "/dev/null";
    return ChildProcess(argv, quiet).waitForExit(patience);
  } catch (const std::runtime_error&) {
    return -1;
  }
}

void ChildProcess::write(const std::string& bytes) {
  for (size_t done = 0; input_ >= 0 && done < bytes.size();) {
    const ssize_t n = ::write(input_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

void ChildProcess::closeInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

void ChildProcess::collect(std::chrono::milliseconds patience, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!done() && outputFd_ >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd poller{outputFd_, POLLIN, 0};
    if (poll(&poller, 1, static_cast<int>(std::max<int64_t>(left.count(), 0))) <= 0) {
      if (left.count() <= 0) return;
      continue;
    }
    char buffer[4096];
    const ssize_t n = read(outputFd_, buffer, sizeof buffer);
    if (n > 0) output_.append(buffer, static_cast<size_t>(n));
    if (n <= 0) close(std::exchange(outputFd_, -1));
  }
}

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds patience, size_t from) {
  auto found = [&] { return output_.find(text, from) != std::string::npos; };
  collect(patience, found);
  return found();
}

const std::string& ChildProcess::output() {
  collect(std::chrono::milliseconds(0), [] { return false; });
  return output_;
}

int ChildProcess::waitForExit(std::chrono::milliseconds patience) {
  if (pid_ < 0) return exitStatus_;
  const auto deadline = std::chrono::steady_clock::now() + patience;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) != pid_) {
    output();  // a child blocked on a full pipe would never end
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    usleep(10'000);
  }
  collect(std::chrono::milliseconds(200), [] { return false; });  // what it wrote last
  pid_ = -1;
  return exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ChildProcess::signal(int number) {
  if (pid_ >= 0) ::kill(pid_, number);
}

void ChildProcess::stop(std::chrono::milliseconds patience) {
  signal(SIGTERM);
  waitForExit(patience);
  kill();
}

void ChildProcess::kill() {
  if (pid_ < 0) return;
  ::kill(pid_, SIGKILL);
  waitpid(std::exchange(pid_, -1), nullptr, 0);
}

}  // namespace vistaro::testing
