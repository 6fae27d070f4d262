// The entry point through which the host hands over its own module.
#pragma once

#include "host/visibility.h"

extern "C" {

// Stores the host module handle and forgets every cached entry point, so each
// is looked up again in the new module on its next use. Returns 0.
KLARVOSS_EXPORT int miSetModuleHandle(void* handle);

}
