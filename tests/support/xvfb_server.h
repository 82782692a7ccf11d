#pragma once

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
  // Ends the server at once, as a crash would.
  void kill() { server_.reset(); }
  // A new server on the same display, as after a crash and a restart of the session.
  void restart() {
    server_.reset();
    launch(name_);
  }
  // Runs a program on this display to its end; its exit status.
  int run(const std::vector<std::string>& argv) const {
    return ChildProcess::run(argv, {.environment = {"DISPLAY=" + name_}});
  }

 private:
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
