// The least a host can do per call, so the library's own instructions show.
// Both the library and the baseline run against this one module.
#include "tests/state_user_word.h"

#define BENCH_HOST_API extern "C" __attribute__((visibility("default")))

BENCH_HOST_API miBoolean mi_trace_eye(miColor* result, miState*, miVector*, miVector*) {
  *result = miColor{0.25f, 0.5f, 0.75f, 1.0f};
  return miTRUE;
}

BENCH_HOST_API miBoolean mi_query(miQ_type code, miState* state, miTag, void* result, ...) {
  if (code == miQ_FUNC_USERPTR) *static_cast<void**>(result) = host_user_word(state);
  return miTRUE;
}

BENCH_HOST_API void* mi_phen_eval(miState*, void* param) { return param; }

BENCH_HOST_API void mi_warning(const char*, ...) {}
