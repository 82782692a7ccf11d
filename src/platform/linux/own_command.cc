#include "platform/linux/own_command.h"

#include <spawn.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

extern char** environ;

namespace vistaro {

std::vector<std::string> ownCommand() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  std::string executable(path, static_cast<size_t>(length));
  // Rebuilt or updated while running: the file now at that path is the program to start.
  if (executable.ends_with(" (deleted)")) executable.resize(executable.size() - 10);
  std::vector<std::string> command{executable};
  std::ifstream arguments("/proc/self/cmdline", std::ios::binary);
  std::string argument;
  std::getline(arguments, argument, '\0');  // the name it was started by
  while (std::getline(arguments, argument, '\0')) command.push_back(argument);
  return command;
}

std::optional<std::string> startNewInstance() {
  std::vector<std::string> command = ownCommand();
  if (command.empty()) return "cannot find this program's executable";
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Our listener handed down would keep the port from the new host long after we are gone.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid = -1;
  // glibc reports a failed exec here, so a program that cannot start is an error, not silence.
  const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return command.front() + ": " + std::strerror(error);
  return std::nullopt;
}

}  // namespace vistaro
