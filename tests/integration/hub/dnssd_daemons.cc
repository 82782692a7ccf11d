#include "integration/hub/dnssd_daemons.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vistaro::testing {
namespace {

using namespace std::chrono_literals;

std::string outputOf(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {}) {
  ChildProcess child(argv, {.environment = environment});
  child.waitForExit();
  return child.output();
}

// avahi-browse writes unusual characters of names as \DDD (decimal).
std::string unescape(const std::string& text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
      plain.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 3))));
      i += 3;
    } else {
      if (text[i] == '\\' && i + 1 < text.size()) ++i;
      plain.push_back(text[i]);
    }
  }
  return plain;
}

Services browse() {
  Services services;
  std::istringstream lines(outputOf({"avahi-browse", "-rpt", "_velmora._tcp"}));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, ';');) fields.push_back(field);
    if (fields.size() < 9 || fields[0] != "=") continue;
    services.push_back({unescape(fields[3]), static_cast<uint16_t>(std::stoi(fields[8]))});
  }
  std::sort(services.begin(), services.end());
  services.erase(std::unique(services.begin(), services.end()), services.end());  // one line per interface
  return services;
}

}  // namespace

DnssdDaemons::DnssdDaemons() {
  std::ofstream(dir_ / "bus.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig><type>system</type><listen>unix:path="
      << (dir_ / "bus").string()
      << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
         "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy>"
         "<includedir>/usr/share/dbus-1/system.d</includedir></busconfig>\n";
  std::ofstream(dir_ / "avahi.conf") << "[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=lo\nenable-dbus=yes\n"
                                        "[wide-area]\nenable-wide-area=no\n"
                                        "[publish]\npublish-workstation=no\npublish-hinfo=no\n";
}

// Avahi first: it leaves when its bus goes, and should leave on its own terms.
DnssdDaemons::~DnssdDaemons() {
  if (avahi_) avahi_->stop();
  if (bus_) bus_->stop();
}

void DnssdDaemons::exportBusAddress() const {
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (dir_ / "bus").string()).c_str(), 1);
}

void DnssdDaemons::startBus() {
  bus_.emplace(std::vector<std::string>{"dbus-daemon", "--config-file=" + (dir_ / "bus.conf").string(), "--nofork",
                                        "--nopidfile"},
               ChildProcess::Options{.log = dir_ / "bus.log"});
  if (!eventually([&] { return std::filesystem::exists(dir_ / "bus"); })) throw std::runtime_error("no bus");
}

void DnssdDaemons::startAvahi() {
  std::filesystem::create_directories("/run/avahi-daemon");
  avahi_.emplace(std::vector<std::string>{"avahi-daemon", "-f", (dir_ / "avahi.conf").string(), "--no-drop-root",
                                          "--no-chroot", "--no-rlimits"},
                 ChildProcess::Options{.log = dir_ / "avahi.log"});
  const std::vector<std::string> ask{"dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.Avahi", "/",
                                     "org.freedesktop.Avahi.Server.GetState"};
  const std::string bus = "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (dir_ / "bus").string();
  // Slow on a loaded machine: the daemon probes its host name before it runs.
  if (!eventually([&] { return !avahi_->running() || outputOf(ask, {bus}).find("int32 2") != std::string::npos; },
                  30s) ||
      !avahi_->running()) {
    throw std::runtime_error("avahi-daemon did not come up");
  }
}

Services browseUntil(const Services& expected) {
  Services seen;
  eventually([&] { return (seen = browse()) == expected; }, 15s);
  return seen;
}

}  // namespace vistaro::testing
