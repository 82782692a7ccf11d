#include "platform/linux/session_bus.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace vistaro {

bool sessionBusNamed() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code ignored;
  return (address && *address) || (runtime && *runtime && std::filesystem::exists(std::string(runtime) + "/bus", ignored));
}

}  // namespace vistaro
