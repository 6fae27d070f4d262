// The warning forwarder's text handling, apart so it can be exercised alone.
#pragma once

#include "host/visibility.h"

#include <cstddef>

namespace klarvoss {

// The warning forwarder's buffer, terminating zero included.
inline constexpr std::size_t dl_warning_capacity = 1024;

// Rewrites the first `length` bytes of `text` for a host that takes it as a
// format: every per-cent sign is doubled, and whole characters are dropped
// from the end until the result and its terminating zero fit in `capacity`
// bytes. Returns the length written.
KLARVOSS_HIDDEN std::size_t dl_double_percent(char* text, std::size_t length,
                                              std::size_t capacity);

}  // namespace klarvoss
