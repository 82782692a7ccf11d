#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace vistaro::testing {

// A private Xvfb: started on a free display number (the server picks it and prints it
// through -displayfd), with -noreset so RandR monitors survive clients coming and going.
class XvfbServer {
 public:
  explicit XvfbServer(int width = 1920, int height = 1080) : size_(std::to_string(width) + "x" + std::to_string(height)) {
    launch({});
  }

  const std::string& name() const { return name_; }
  pid_t pid() const { return server_->pid(); }
  // Ends the server at once, as a crash would. Its display number stays taken (a lock file naming this
  // process) until restart(): a server that others start meanwhile must not answer there.
  void kill() {
    server_.reset();
    std::ofstream(lockFile()) << std::setw(10) << getpid() << "\n";
  }
  // A new server on the same display, as after a crash and a restart of the session.
  void restart() {
    server_.reset();
    std::filesystem::remove(lockFile());
    launch(name_);
  }
  ~XvfbServer() {
    if (server_) return;
    std::error_code ignored;
    std::filesystem::remove(lockFile(), ignored);
  }
  // Runs a program on this display to its end; its exit status.
  int run(const std::vector<std::string>& argv) const {
    return ChildProcess::run(argv, {.environment = {"DISPLAY=" + name_}});
  }

 private:
  std::string lockFile() const { return "/tmp/.X" + name_.substr(1) + "-lock"; }
  void launch(const std::string& display) {
    std::vector<std::string> argv{"Xvfb"};
    if (!display.empty()) argv.push_back(display);
    for (const char* arg : {"-displayfd", "1", "-noreset", "-nolisten", "tcp", "-screen", "0"}) argv.push_back(arg);
    argv.push_back(size_ + "x24");
    server_ = std::make_unique<ChildProcess>(argv);
    static const std::regex number("(^|\n)([0-9]+)\n");
    std::smatch match;
    if (!eventually([&] { return std::regex_search(server_->output(), match, number); })) {
      throw std::runtime_error("Xvfb did not report its display: " + server_->output());
    }
    name_ = ":";
    name_ += match[2].str();
  }

  std::string size_;
  std::unique_ptr<ChildProcess> server_;
  std::string name_;
};

}  // namespace vistaro::testing
