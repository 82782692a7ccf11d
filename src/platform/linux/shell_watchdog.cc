#include "platform/linux/shell_watchdog.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <cstring>
#include <sstream>

#include "core/log.h"
#include "platform/linux/own_command.h"

extern char** environ;

namespace vistaro {
namespace {

constexpr char kRestoreFlag[] = "--restore-displays";

// Inside single quotes nothing is special but the quote itself: it ends them, is escaped, and they begin again.
std::string quoted(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string readFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

// The name in field 2 may hold spaces and parentheses: the fields are counted after its last ')'.
unsigned long long processStartTicks(pid_t pid) {
  const std::string stat = readFile(("/proc/" + std::to_string(pid) + "/stat").c_str());
  const size_t nameEnd = stat.rfind(')');
  if (nameEnd == std::string::npos) return 0;
  std::istringstream fields(stat.substr(nameEnd + 1));
  std::string field;
  for (int i = 3; i < 22 && fields >> field; ++i) {
  }
  unsigned long long ticks = 0;
  fields >> ticks;
  return ticks;
}

std::string watchdogScript(pid_t pid, unsigned long long startTicks, const std::vector<std::string>& command) {
  std::string script = "alive() { s=$(sed 's/^.*) //' /proc/" + std::to_string(pid) +
                       "/stat 2>/dev/null) || return 1; set -- $s; [ \"$1\" != Z ] && [ \"${20}\" = " +
                       std::to_string(startTicks) + " ]; }; while alive; do sleep 2; done; exec";
  for (const std::string& word : command) script += " " + quoted(word);
  return script + " " + kRestoreFlag;
}

void ShellWatchdog::start() {
  stop();
  std::vector<std::string> command = ownCommand();
  if (command.empty()) return;
  std::erase(command, std::string(kRestoreFlag));
  const std::string script = watchdogScript(getpid(), processStartTicks(getpid()), command);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Our sockets and files are not the new host's: it opens its own listener on the same port.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  char sh[] = "/bin/sh", c[] = "-c";
  char* argv[] = {sh, c, const_cast<char*>(script.c_str()), nullptr};
  pid_t pid = -1;
  const int error = posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return logWarning("power", "no watchdog: {}", std::strerror(error));
  shell_ = pid;
}

void ShellWatchdog::stop() {
  if (shell_ <= 0) return;
  kill(shell_, SIGTERM);
  waitpid(shell_, nullptr, 0);
  shell_ = -1;
}

}  // namespace vistaro
