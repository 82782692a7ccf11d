#pragma once

// runOn lives with the other cross-thread waits; this name stays for the places that include it.
#include "support/cross_thread_events.h"
