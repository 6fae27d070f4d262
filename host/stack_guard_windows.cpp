// The stack protector's runtime for the Windows module, in place of libssp,
// whose seeding would make the module import ADVAPI32.dll: the guard every
// protected frame copies and checks, and the report of a frame that failed.
#include <windows.h>

#include <cstdint>

extern "C" {

// Not zero before it is seeded, so no frame ever checks against zero.
std::uintptr_t __stack_chk_guard = static_cast<std::uintptr_t>(0x2f6b3a9e5d1c4b87ULL);

// A stack smashed past a frame's guard: end the process at once, as a
// compiler's stack-cookie check does, running nothing of the broken frame's.
[[noreturn]] void __stack_chk_fail() {
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_unreachable();
}

}  // extern "C"

namespace {

// Seeds the guard as a compiler's stack-cookie start-up does, from what
// differs between processes and loads, with KERNEL32 alone. Runs with the
// C runtime's start-up, before any of the module's own code; unprotected
// itself, as the guard changes under it.
[[gnu::constructor(101), gnu::no_stack_protector]] void seed_stack_guard() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  std::uint64_t seed = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) ^ now.dwLowDateTime;
  seed ^= static_cast<std::uint64_t>(counter.QuadPart);
  seed ^= static_cast<std::uint64_t>(GetCurrentProcessId()) << 32 ^ GetCurrentThreadId();
  seed ^= static_cast<std::uint64_t>(GetTickCount()) << 16;
  seed ^= reinterpret_cast<std::uintptr_t>(&now);  // the stack's place, randomised by ASLR
  seed *= 0x9e3779b97f4a7c15ULL;  // spread every bit over the whole word
  const auto guard = static_cast<std::uintptr_t>(seed ^ seed >> 32);
  if (guard != 0) __stack_chk_guard = guard;
}

}  // namespace
