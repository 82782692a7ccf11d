#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace vistaro::testing {

// Xorg with the dummy video driver: no GPU, 16 outputs DUMMY0-15 with a CRTC each, and 256 MiB of
// video memory that caps the framebuffer. Needs root and xserver-xorg-video-dummy.
class XorgDummyServer {
 public:
  static bool available() {
    return geteuid() == 0 && std::filesystem::exists("/usr/lib/xorg/modules/drivers/dummy_drv.so");
  }
  // Absent when the server does not come up.
  static std::unique_ptr<XorgDummyServer> start() {
    auto server = std::unique_ptr<XorgDummyServer>(new XorgDummyServer);
    return server->name_.empty() ? nullptr : std::move(server);
  }
  const std::string& name() const { return name_; }
  int run(const std::vector<std::string>& argv) const {
    return ChildProcess::run(argv, {.environment = {"DISPLAY=" + name_}});
  }

 private:
  XorgDummyServer() {
    std::ofstream(dir_ / "xorg.conf") << R"(Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 262144
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual 4096 4096
  EndSubSection
EndSection
)";
    server_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "Xorg", "-displayfd", "1", "-noreset", "-nolisten", "tcp", "-config", (dir_ / "xorg.conf").string(),
        "-logfile", (dir_ / "xorg.log").string()});
    static const std::regex number("(^|\n)([0-9]+)\n");
    std::smatch match;
    if (eventually([&] { return std::regex_search(server_->output(), match, number); })) name_ = ":" + match[2].str();
  }

  TempDir dir_;
  std::unique_ptr<ChildProcess> server_;
  std::string name_;
};

}  // namespace vistaro::testing
