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
// (compare-exchange: an address a newer bind stored stays).
//
// The argument rests on these accesses, all seq_cst, so all fall in one
// total order:
//   dl_bind:           (1) the load of dl_handle that picks the module,
//                      (2) the store of the address found into the entry,
//                      (3) the second load of dl_handle,
//                      (4) the compare-exchange that withdraws the address;
//   miSetModuleHandle: (5) the store of the new handle, and after it
//                      (6) the store of null into every entry.
// A bind whose (1) comes after (5) looks up in the new module. Otherwise,
// if its (3) comes before (5), its (2) comes before (6), which clears the
// address; if (3) comes after (5), (3) sees the new handle and (4)
// withdraws the address unless a newer bind has replaced it. Either way,
// once the switch and every bind begun before it have returned, no entry
// holds an old module's address, and a forwarder's acquire load of its
// entry (dl_call, dl_entry) finds null, and binds in the new module, or an
// address stored by a bind that read the new handle. Two binds under one
// handle store the same address; a handle switched away and back (A, B, A)
// leaves A's address, which is right again. Should (6) come before (5), a
// bind whose (2) and (3) fall between them would keep the old address.
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
  // The handle first, then the entries, both seq_cst: dl_bind relies on it.
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
