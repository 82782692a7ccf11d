#pragma once

#include "input/key_injector.h"
#include "input/pointer_injector.h"
#include "server/hub_input.h"

namespace vistaro {

// How the hub reaches the injectors: pointer work on the hub's queue, keys handed to the
// key injector on the main executor (the hub does that hop). Both must outlive the hub.
// The focus check after a click is not wired here.
HubInput makeHubInput(PointerInjector& pointer, KeyInjector& keys);

}  // namespace vistaro
