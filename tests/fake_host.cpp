// Built three times: as the full fake host, as a host module that lacks
// mi_phen_eval (FAKE_HOST_PARTIAL), and (FAKE_HOST_GATED, ELF only) as one
// whose mi_trace_eye is an indirect function, so a test can hold a lookup
// of it inside dlsym.
#include "tests/fake_host.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <thread>

#if defined(_WIN32)
#define FAKE_HOST_API extern "C" __declspec(dllexport)
#else
#define FAKE_HOST_API extern "C" __attribute__((visibility("default")))
#endif

namespace {
FakeHostLog the_log;
std::mutex recording;

void note(char call) {  // callers hold `recording`
  const std::size_t used = std::strlen(the_log.order);
  if (used + 1 < sizeof the_log.order) the_log.order[used] = call;
}
}  // namespace

FAKE_HOST_API FakeHostLog* fake_host_log() { return &the_log; }

#if defined(FAKE_HOST_GATED)
static miBoolean trace_eye(miColor* result, miState* state, miVector* origin, miVector* direction) {
#else
FAKE_HOST_API miBoolean mi_trace_eye(miColor* result, miState* state, miVector* origin,
                                     miVector* direction) {
#endif
  the_log.trace_calls.fetch_add(1);
  {
    std::lock_guard lock(recording);
    note('t');
    the_log.trace_result = result;
    the_log.trace_state = state;
    the_log.trace_origin = origin;
    the_log.trace_direction = direction;
  }
  *result = the_log.trace_color;
  return the_log.trace_answer;
}

#if defined(FAKE_HOST_GATED)
// Runs inside every dlsym of mi_trace_eye. Spins rather than sleeps, so the
// lookup goes on the moment the entry empties; bounded, so a broken test
// fails rather than hangs.
extern "C" decltype(&trace_eye) resolve_trace_eye() {
  the_log.lookups_held.fetch_add(1);
  if (std::atomic<void*>* entry = the_log.gate.load()) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (unsigned spins = 1; entry->load() != nullptr; ++spins) {
      if (spins % 4096 == 0 && std::chrono::steady_clock::now() > give_up) break;
    }
  }
  return &trace_eye;
}
FAKE_HOST_API miBoolean mi_trace_eye(miColor*, miState*, miVector*, miVector*)
    __attribute__((ifunc("resolve_trace_eye")));
#endif

FAKE_HOST_API miBoolean mi_query(miQ_type code, miState* state, miTag tag, void* result, ...) {
  the_log.query_calls.fetch_add(1);
  std::intptr_t further = 0;
  if (code == 15 || code == 127) {
    va_list rest;
    va_start(rest, result);
    further = va_arg(rest, std::intptr_t);
    va_end(rest);
  }
  {
    std::lock_guard lock(recording);
    note('q');
    the_log.query_code = code;
    the_log.query_state = state;
    the_log.query_tag = tag;
    the_log.query_result = result;
    the_log.query_further = further;
  }
  if (code == miQ_FUNC_USERPTR) {
    void* word = host_user_word(state);
    if (word != nullptr) *static_cast<void**>(result) = word;
  }
  return miTRUE;
}

#if !defined(FAKE_HOST_PARTIAL)
FAKE_HOST_API void* mi_phen_eval(miState* state, void* param) {
  the_log.phen_eval_calls.fetch_add(1);
  std::lock_guard lock(recording);
  note('p');
  the_log.phen_eval_state = state;
  the_log.phen_eval_param = param;
  return the_log.phen_eval_answer;
}
#endif

// Takes its argument as a format, as the renderer does; records the text it shows.
FAKE_HOST_API void mi_warning(const char* format, ...) {
  the_log.warning_calls.fetch_add(1);
  std::lock_guard lock(recording);
  note('w');
  std::snprintf(the_log.warning_received, sizeof the_log.warning_received, "%s", format);
  va_list args;
  va_start(args, format);
  std::vsnprintf(the_log.warning_shown, sizeof the_log.warning_shown, format, args);
  va_end(args);
}
