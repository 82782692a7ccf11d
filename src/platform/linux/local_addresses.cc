#include "platform/linux/local_addresses.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

namespace vistaro {

std::vector<std::string> localAddresses() {
  std::vector<std::string> addresses;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return addresses;
  for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK)) continue;
    char text[1025] = {};
    if (::getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0) {
      continue;
    }
    const std::string address = text;
    if (address.rfind("169.254", 0) == 0) continue;
    addresses.push_back(address);
  }
  ::freeifaddrs(list);
  return addresses;
}

}  // namespace vistaro
