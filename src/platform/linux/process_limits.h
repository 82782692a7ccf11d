#pragma once

#include <sys/resource.h>

namespace vistaro {

// Raises the soft limit on open descriptors to the hard one: every client and every half-open
// connection holds one, and the connection caps, not the default 1024, should decide who gets in.
// Returns the limit now in force.
rlim_t raiseOpenFileLimit();

}  // namespace vistaro
