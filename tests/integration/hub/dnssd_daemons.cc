#include "integration/hub/dnssd_daemons.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <tuple>

extern char** environ;

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;

std::string run(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
    pclose(pipe);
  }
  return output;
}

void writeFile(const std::filesystem::path& path, const std::string& text) { std::ofstream(path) << text; }

// avahi-browse writes unusual characters of names as \DDD (decimal).
std::string unescape(const std::string& text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
      plain.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 3))));
      i += 3;
    } else if (text[i] == '\\' && i + 1 < text.size()) {
      plain.push_back(text[++i]);
    } else {
      plain.push_back(text[i]);
    }
  }
  return plain;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& log) {
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const int error = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

bool ChildProcess::running() {
  if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;  // reaped: never signal that pid again
  return pid_ > 0;
}

DnssdDaemons::DnssdDaemons() {
  char pattern[] = "/tmp/vistaro-dnssd-XXXXXX";
  dir_ = mkdtemp(pattern);
  writeFile(dir_ / "bus.conf",
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>system</type><listen>unix:path=" +
                (dir_ / "bus").string() +
                "</listen><auth>EXTERNAL</auth>"
                "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
                "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy>"
                "<includedir>/usr/share/dbus-1/system.d</includedir></busconfig>\n");
  writeFile(dir_ / "avahi.conf",
            "[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=lo\nenable-dbus=yes\n"
            "[wide-area]\nenable-wide-area=no\n"
            "[publish]\npublish-workstation=no\npublish-hinfo=no\n");
}

DnssdDaemons::~DnssdDaemons() {
  stopAvahi();
  stopBus();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void DnssdDaemons::exportBusAddress() const {
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (dir_ / "bus").string()).c_str(), 1);
}

void DnssdDaemons::startBus() {
  bus_.emplace(std::vector<std::string>{"dbus-daemon", "--config-file=" + (dir_ / "bus.conf").string(), "--nofork",
                                        "--nopidfile"},
              dir_ / "bus.log");
  if (!eventually([&] { return std::filesystem::exists(dir_ / "bus"); }, 5s)) throw std::runtime_error("no bus");
}

void DnssdDaemons::stopBus() {
  bus_.reset();
  std::error_code ignored;
  std::filesystem::remove(dir_ / "bus", ignored);
}

void DnssdDaemons::startAvahi() {
  std::filesystem::create_directories("/run/avahi-daemon");
  avahi_.emplace(std::vector<std::string>{"avahi-daemon", "-f", (dir_ / "avahi.conf").string(), "--no-drop-root",
                                          "--no-chroot", "--no-rlimits"},
                 dir_ / "avahi.log");
  const std::string ask =
      "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (dir_ / "bus").string() +
      " dbus-send --system --print-reply --dest=org.freedesktop.Avahi / org.freedesktop.Avahi.Server.GetState 2>&1";
  // Slow on a loaded machine: the daemon probes its host name before it runs.
  if (!eventually([&] { return !avahi_->running() || run(ask).find("int32 2") != std::string::npos; }, 30s) ||
      !avahi_->running()) {
    throw std::runtime_error("avahi-daemon did not come up: " + run("tail -n 5 " + (dir_ / "avahi.log").string()));
  }
}

void DnssdDaemons::stopAvahi() { avahi_.reset(); }

std::vector<BrowsedService> browseVelmora() {
  std::vector<BrowsedService> services;
  std::istringstream lines(run("avahi-browse -rpt _velmora._tcp 2>/dev/null"));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, ';');) fields.push_back(field);
    if (fields.size() < 9 || fields[0] != "=") continue;
    BrowsedService service{unescape(fields[3]), static_cast<uint16_t>(std::stoi(fields[8]))};
    if (std::find(services.begin(), services.end(), service) == services.end()) services.push_back(service);
  }
  std::sort(services.begin(), services.end(),
            [](const auto& a, const auto& b) { return std::tie(a.name, a.port) < std::tie(b.name, b.port); });
  return services;
}

std::vector<BrowsedService> browseUntil(const std::vector<BrowsedService>& expected, std::chrono::seconds patience) {
  std::vector<BrowsedService> seen;
  eventually([&] { return (seen = browseVelmora()) == expected; }, patience);
  return seen;
}

}  // namespace vistaro::testing
