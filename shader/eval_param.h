// Where a shader parameter's current value lies: in place in the parameter
// block, or computed by the host on request.
#pragma once

#include "host/binding.h"

#include <cstdint>
#include <cstring>

namespace klarvoss {

// Returns the address of the current value of the parameter at `param`
// (inside the block), or null when the host could not compute it. The host
// record and its offset are read afresh on every call: they may change
// between calls.
[[gnu::always_inline]] inline const void* eval_param(miState* state, void* param) {
  const std::int32_t indirect = state->shader->parameter_indirect;
  if (indirect == 0) return param;
  std::int32_t computed;
  std::memcpy(&computed, static_cast<const char*>(param) + indirect, sizeof computed);
  if (computed == 0) return param;
  return mi_phen_eval(state, param);
}

}  // namespace klarvoss
