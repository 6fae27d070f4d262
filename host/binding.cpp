#define KLARVOSS_QUERY_OUT_OF_LINE
#include "host/binding.h"

#include "host/lookup.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace klarvoss {

constinit std::atomic<void*> dl_handle{nullptr};
constinit std::atomic<void*> dl_slots[dl_slot_count]{};

[[gnu::cold, gnu::noinline]] void* dl_bind(std::size_t slot, const char* name) {
  void* const handle = dl_handle.load(std::memory_order_acquire);
  if (handle == nullptr) std::fprintf(stderr, "DYNLOAD: dl_handle null\n");
  const LookupResult found = dl_lookup(handle, name);
  dl_slots[slot].store(found.address, std::memory_order_release);
  if (found.address == nullptr) {
    std::fprintf(stderr, "dlsym failed on \"%s\" (handle: %08" PRIxPTR " error: %d)\n", name,
                 reinterpret_cast<std::uintptr_t>(handle), found.error);
  }
  return found.address;
}

}  // namespace klarvoss

using klarvoss::dl_handle;
using klarvoss::dl_slots;

extern "C" {

int miSetModuleHandle(void* handle) {
  dl_handle.store(handle, std::memory_order_release);
  for (auto& entry : dl_slots) entry.store(nullptr, std::memory_order_release);
  return 0;
}

miBoolean mi_query(miQ_type code, miState* state, miTag tag, void* result, ...) {
  using klarvoss::HostEntry;
  if (!klarvoss::query_takes_fifth(code)) {
    return klarvoss::dl_call<HostEntry::mi_query>(code, state, tag, result);
  }
  va_list rest;
  va_start(rest, result);
  const std::intptr_t further = va_arg(rest, std::intptr_t);
  va_end(rest);
  return klarvoss::dl_call<HostEntry::mi_query>(code, state, tag, result, further);
}

}  // extern "C"
