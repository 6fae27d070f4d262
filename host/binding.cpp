#define KLARVOSS_QUERY_OUT_OF_LINE
#include "host/binding.h"

#include "host/lookup.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace klarvoss {

constinit std::atomic<void*> dl_handle{nullptr};
constinit std::atomic<void*> dl_slots[dl_slot_count]{};

// A bind that read the old handle may store its address after
// miSetModuleHandle has cleared the table. So it re-reads the handle after
// storing, and if the handle has changed takes its own address back out
// (compare-exchange: an address a newer bind stored stays). The store, the
// re-read, and the switch's handle store and clearing are all seq_cst, so in
// their single order either the re-read comes before the switch's handle
// store, and then the switch's clearing comes after our store and wins, or
// it comes after, sees the new handle and withdraws the old address. Either
// way, once the switch and every bind begun before it have returned, no
// entry holds an old module's address. Two binds under one handle store the
// same address; a handle switched away and back (A, B, A) leaves A's
// address, which is right again.
[[gnu::cold, gnu::noinline]] void* dl_bind(std::size_t slot, const char* name) {
  void* const handle = dl_handle.load(std::memory_order_seq_cst);
  if (handle == nullptr) std::fprintf(stderr, "DYNLOAD: dl_handle null\n");
  const LookupResult found = dl_lookup(handle, name);
  dl_slots[slot].store(found.address, std::memory_order_seq_cst);
  if (found.address != nullptr && dl_handle.load(std::memory_order_seq_cst) != handle) {
    void* stale = found.address;
    dl_slots[slot].compare_exchange_strong(stale, nullptr, std::memory_order_seq_cst);
  }
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
  // seq_cst: dl_bind's withdrawal of a stale address relies on it.
  dl_handle.store(handle, std::memory_order_seq_cst);
  for (auto& entry : dl_slots) entry.store(nullptr, std::memory_order_seq_cst);
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
