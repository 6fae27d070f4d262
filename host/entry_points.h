// The host entry points this library reaches: name, entry in dl_slots,
// result and parameters. Slot numbers, looked-up names, pointer types and
// the forwarders' signatures all follow this one list.
#pragma once

#include "host/records.h"

#include <cstddef>

#define KLARVOSS_HOST_ENTRY_POINTS(X)                                            \
  X(mi_trace_eye, 85, miBoolean,                                                 \
    (miColor * result, miState * state, miVector * origin, miVector * direction)) \
  X(mi_phen_eval, 114, void*, (miState * state, void* param))                    \
  X(mi_query, 249, miBoolean,                                                    \
    (miQ_type code, miState * state, miTag tag, void* result, ...))              \
  X(mi_warning, 325, void, (const char* format, ...))

namespace klarvoss {

// Entries in the host's table of entry points; the layer knows only these four.
inline constexpr std::size_t dl_slot_count = 634;

enum class HostEntry : std::size_t {
#define KLARVOSS_ENTRY_ENUM(name, slot, result, params) name = slot,
  KLARVOSS_HOST_ENTRY_POINTS(KLARVOSS_ENTRY_ENUM)
#undef KLARVOSS_ENTRY_ENUM
};

template <HostEntry E>
struct HostEntryInfo;

#define KLARVOSS_ENTRY_INFO(entry, slot, result, params)    \
  template <>                                               \
  struct HostEntryInfo<HostEntry::entry> {                  \
    using Result = result;                                  \
    using Fn = result(*) params;                            \
    static constexpr const char* name = #entry;             \
    static_assert(slot < dl_slot_count);                    \
  };
KLARVOSS_HOST_ENTRY_POINTS(KLARVOSS_ENTRY_INFO)
#undef KLARVOSS_ENTRY_INFO

}  // namespace klarvoss
