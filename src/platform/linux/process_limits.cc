#include "platform/linux/process_limits.h"

#include <sys/resource.h>

namespace vistaro {

rlim_t raiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised{limit.rlim_max, limit.rlim_max};
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) return raised.rlim_cur;
  }
  return limit.rlim_cur;
}

}  // namespace vistaro
