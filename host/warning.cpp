#include "host/warning.h"

#include "host/binding.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace klarvoss {

std::size_t dl_double_percent(char* text, std::size_t length, std::size_t capacity) {
  std::size_t kept = 0;
  std::size_t escaped = 0;
  for (; kept < length; ++kept) {
    const std::size_t width = text[kept] == '%' ? 2 : 1;
    if (escaped + width >= capacity) break;
    escaped += width;
  }
  // Widen in place from the back: a byte never moves left, so nothing
  // unread is overwritten.
  text[escaped] = '\0';
  std::size_t write = escaped;
  for (std::size_t read = kept; read-- > 0;) {
    const char c = text[read];
    text[--write] = c;
    if (c == '%') text[--write] = '%';
  }
  return escaped;
}

}  // namespace klarvoss

extern "C" void mi_warning(const char* format, ...) {
  // The lookup comes first, so its diagnostics precede the host's warning.
  auto host = klarvoss::dl_entry<klarvoss::HostEntry::mi_warning>();
  if (host == nullptr) return;

  char buffer[klarvoss::dl_warning_capacity];
  buffer[0] = '\0';  // what a runtime that fails before writing leaves
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  // msvcrt leaves a cut text unterminated; the host reads only up to the zero.
  buffer[sizeof buffer - 1] = '\0';
  klarvoss::dl_double_percent(buffer, std::strlen(buffer), sizeof buffer);
  host(buffer);
}
