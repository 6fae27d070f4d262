#include "host/lookup.h"

#include <windows.h>

namespace klarvoss {

LookupResult dl_lookup(void* module, const char* name) {
  FARPROC address = GetProcAddress(static_cast<HMODULE>(module), name);
  // Read before anything else can overwrite it.
  const DWORD error = address ? 0 : GetLastError();
  return {reinterpret_cast<void*>(address), static_cast<int>(error)};
}

}  // namespace klarvoss
