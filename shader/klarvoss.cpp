#include "shader/klarvoss.h"

#include "host/binding.h"
#include "shader/eval_param.h"
#include "shader/warning_text.h"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace {

// Set by the build from the declaration's `version`.
inline constexpr int shader_version = KLARVOSS_VERSION;

// The instance's `warned` flag: the first 32 bits of the user word the host
// keeps for the instance, or null when the host gives no such word.
std::int32_t* warned_flag(miState* state) {
  void* user_word = nullptr;
  mi_query(miQ_FUNC_USERPTR, state, 0, &user_word);
  return static_cast<std::int32_t*>(user_word);
}

// Several threads may shade an instance's first rays at once; only the one
// that claims the flag warns. Off the shading path: it runs once per instance.
[[gnu::cold, gnu::noinline]] void claim_warning(std::int32_t* flag) {
  std::int32_t unwarned = 0;
  if (std::atomic_ref<std::int32_t>(*flag).compare_exchange_strong(unwarned, 1,
                                                                    std::memory_order_relaxed)) {
    mi_warning(klarvoss::warning_text);
  }
}

// Once the instance has been warned, this is one plain load.
inline void warn_once(miState* state) {
  std::int32_t* flag = warned_flag(state);
  if (flag == nullptr) return;
  if (std::atomic_ref<std::int32_t>(*flag).load(std::memory_order_relaxed) != 0) return;
  claim_warning(flag);
}

}  // namespace

extern "C" {

int Klarvoss_version(void) { return shader_version; }

void Klarvoss_init(miState* state, Klarvoss_params* params, miBoolean* inst_req) {
  if (params == nullptr) {
    if (inst_req != nullptr) *inst_req = miTRUE;
    return;
  }
  if (std::int32_t* flag = warned_flag(state)) {
    std::atomic_ref<std::int32_t>(*flag).store(0, std::memory_order_relaxed);
  }
}

// Unguarded: its one stack object is the pointer mi_query fills in, one
// word, and a guard would cost every ray a load, a store and a check.
[[gnu::no_stack_protector]] miBoolean Klarvoss(miColor* result, miState* state,
                                               Klarvoss_params* params) {
  if (!mi_trace_eye(result, state, &state->org, &state->dir)) return miFALSE;
  warn_once(state);

  const void* use_color = klarvoss::eval_param(state, &params->use_color);
  if (use_color == nullptr) return miFALSE;
  miBoolean use;
  std::memcpy(&use, use_color, sizeof use);
  if (use == miFALSE) return miFALSE;

  const void* color = klarvoss::eval_param(state, &params->color);
  if (color == nullptr) return miFALSE;
  // Bytes, not floats: x87 loads would quietly alter signalling NaNs.
  std::memcpy(result, color, sizeof *result);
  return miTRUE;
}

}  // extern "C"
