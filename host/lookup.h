// The platform's lookup of an entry point by name in a loaded module.
#pragma once

#include "host/visibility.h"

namespace klarvoss {

struct LookupResult {
  void* address;
  int error;  // the platform's code for a failed lookup; meaningless on success
};

KLARVOSS_HIDDEN LookupResult dl_lookup(void* module, const char* name);

}  // namespace klarvoss
