#include "platform/linux/autostart_entry.h"

#include <cstdlib>

#include "control/atomic_file.h"

namespace vistaro {
namespace {

// An Exec argument: quoted, with the characters the quotes still give meaning escaped, then
// escaped once more as a desktop file's string value is; a literal % is %%.
std::optional<std::string> execArgument(const std::string& word) {
  std::string quoted = "\"";
  for (const char c : word) {
    if (c == '\n' || c == '\r') return std::nullopt;
    if (c == '\\') {
      quoted += "\\\\\\\\";  // four: escaped for the quotes, then for the string
      continue;
    }
    if (c == '"' || c == '`' || c == '$') quoted += "\\\\";
    if (c == '%') quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::filesystem::path AutostartEntry::defaultFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::filesystem::path base;
  if (config && *config == '/') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = std::filesystem::path(home ? home : "") / ".config";
  }
  return base / "autostart" / "vistaro-host.desktop";
}

bool AutostartEntry::exists() const {
  std::error_code error;
  return std::filesystem::is_regular_file(file_, error);
}

std::optional<std::string> AutostartEntry::contents(const std::vector<std::string>& command) {
  std::string exec;
  for (const std::string& word : command) {
    const std::optional<std::string> argument = execArgument(word);
    if (!argument) return std::nullopt;
    exec += (exec.empty() ? "" : " ") + *argument;
  }
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Vistaro Host\n"
         "Comment=Lets a phone or tablet watch and operate this desktop\n"
         "Exec=" + exec + "\n"
         "Icon=vistaro-host\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

std::optional<std::string> AutostartEntry::set(bool on, const std::vector<std::string>& command) const {
  std::error_code error;
  if (!on) {
    // Removing a name is all at once already.
    if (!std::filesystem::remove(file_, error) && error) return file_.string() + ": " + error.message();
    return std::nullopt;
  }
  const std::optional<std::string> text = command.empty() ? std::nullopt : contents(command);
  if (!text) return "cannot name this program in an autostart entry";
  std::filesystem::create_directories(file_.parent_path(), error);
  if (error) return file_.parent_path().string() + ": " + error.message();
  return writeFileAtomically(file_, *text);
}

}  // namespace vistaro
