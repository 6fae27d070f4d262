// The host binding layer: the host module handle, the table of cached host
// entry points, and forwarders that bear the host entry points' own names.
//
// A forwarder's filled path is one load of its entry, a test, and one
// indirect call; the lookup and its reports (dl_bind, dl_bind_and_call) are
// cold and out of line.
//
// Re-binding: once miSetModuleHandle has returned, and every forwarder call
// that had already begun when it was called has returned, every call looks
// up in, and reaches, the new module. A call that overlaps the switch may
// reach either module.
#pragma once

#include "host/entry_points.h"
#include "host/module_handle.h"
#include "host/visibility.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace klarvoss {

// Both are written by the host's miSetModuleHandle and (the table) by first
// uses on any thread, hence atomic words; acquire/release keeps the filled
// path a plain load on x86.
KLARVOSS_HIDDEN extern std::atomic<void*> dl_handle;
KLARVOSS_HIDDEN extern std::atomic<void*> dl_slots[dl_slot_count];

// Looks `name` up in dl_handle, stores the result (null included) in entry
// `slot`, writes the diagnostics, and returns what it stored.
KLARVOSS_HIDDEN void* dl_bind(std::size_t slot, const char* name);

// The host's address for E, looked up first if the entry is empty; null when
// the host does not provide it.
template <HostEntry E>
[[gnu::always_inline]] inline typename HostEntryInfo<E>::Fn dl_entry() {
  constexpr auto slot = static_cast<std::size_t>(E);
  void* address = dl_slots[slot].load(std::memory_order_acquire);
  if (__builtin_expect(address == nullptr, 0)) {
    address = dl_bind(slot, HostEntryInfo<E>::name);
  }
  return reinterpret_cast<typename HostEntryInfo<E>::Fn>(address);
}

// The rare path of dl_call: looks E up, then calls it, or answers false (a
// null address) when the host does not provide it. Out of line, so the
// filled path keeps the caller's arguments where the host call wants them.
template <HostEntry E, class... Args>
[[gnu::cold, gnu::noinline]] typename HostEntryInfo<E>::Result dl_bind_and_call(Args... args) {
  auto host = reinterpret_cast<typename HostEntryInfo<E>::Fn>(
      dl_bind(static_cast<std::size_t>(E), HostEntryInfo<E>::name));
  if (host == nullptr) return typename HostEntryInfo<E>::Result{};
  return host(args...);
}

// Calls the host's entry point E: one load of its entry and one indirect call.
template <HostEntry E, class... Args>
[[gnu::always_inline]] inline typename HostEntryInfo<E>::Result dl_call(Args... args) {
  void* address = dl_slots[static_cast<std::size_t>(E)].load(std::memory_order_acquire);
  if (__builtin_expect(address == nullptr, 0)) return dl_bind_and_call<E>(args...);
  return reinterpret_cast<typename HostEntryInfo<E>::Fn>(address)(args...);
}

// Codes whose calls carry a fifth argument, passed on as a pointer-sized integer.
constexpr bool query_takes_fifth(miQ_type code) { return code == 15 || code == 127; }

}  // namespace klarvoss

extern "C" {

// The forwarders. Calling one is calling the host's entry point of that name.

KLARVOSS_HIDDEN inline miBoolean mi_trace_eye(miColor* result, miState* state,
                                              miVector* origin, miVector* direction) {
  return klarvoss::dl_call<klarvoss::HostEntry::mi_trace_eye>(result, state, origin, direction);
}

KLARVOSS_HIDDEN inline void* mi_phen_eval(miState* state, void* param) {
  return klarvoss::dl_call<klarvoss::HostEntry::mi_phen_eval>(state, param);
}

// Formats into a 1024-byte buffer and passes the text to the host as its
// format, per-cent signs doubled so the host shows them as themselves.
KLARVOSS_HIDDEN void mi_warning(const char* format, ...);

// Variadic like the host's: codes 15 and 127 pass one further argument on.
KLARVOSS_HIDDEN miBoolean mi_query(miQ_type code, miState* state, miTag tag, void* result,
                                   ...);

}  // extern "C"

#if defined(__GNUC__) && !defined(__clang__) && !defined(KLARVOSS_QUERY_OUT_OF_LINE)
// With GCC, a call that carries only the four fixed arguments and a code
// other than 15 or 127 goes straight to the host, with no variadic frame;
// the rest reach the out-of-line forwarder.
#define KLARVOSS_STR2(x) #x
#define KLARVOSS_STR(x) KLARVOSS_STR2(x)
extern "C" KLARVOSS_HIDDEN miBoolean klarvoss_query_out_of_line(miQ_type, miState*, miTag,
                                                                void*, ...)
    __asm__(KLARVOSS_STR(__USER_LABEL_PREFIX__) "mi_query");

extern "C" {
extern inline __attribute__((gnu_inline, always_inline, artificial)) miBoolean mi_query(
    miQ_type code, miState* state, miTag tag, void* result, ...) {
  if (__builtin_va_arg_pack_len() == 0 && !klarvoss::query_takes_fifth(code)) {
    return klarvoss::dl_call<klarvoss::HostEntry::mi_query>(code, state, tag, result);
  }
  return klarvoss_query_out_of_line(code, state, tag, result, __builtin_va_arg_pack());
}
}
#endif
