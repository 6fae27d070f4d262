#include "host/lookup.h"

#include <dlfcn.h>

namespace klarvoss {

// dlsym reports failure as text only; the lookup-failure line prints 0 for it.
// A null module is RTLD_DEFAULT: the process's global scope, which never
// holds this library's forwarders because they are hidden.
LookupResult dl_lookup(void* module, const char* name) {
  return {dlsym(module, name), 0};
}

}  // namespace klarvoss
