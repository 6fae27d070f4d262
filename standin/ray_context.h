// What the stand-in renderer keeps per shader instance and per eye ray.
// The shader sees only the miState at the front of a RayContext.
#pragma once

#include "host/records.h"
#include "shader/klarvoss.h"

#include <cstdint>

namespace standin {

struct Instance {
  // The parameter block, followed by the renderer's word per parameter saying
  // whether it computes that parameter's value (at parameter + indirect).
  struct Block {
    Klarvoss_params params{};
    std::int32_t computed[5]{};
  } block;
  miFunction function{};
  void* user_word = nullptr;  // the shader's own per-instance word
};

struct RayContext {
  miState state{};  // first, so the renderer can find its context from the state
  Instance* instance = nullptr;
  float u = 0, v = 0;     // the pixel's place on the image, 0..1
  miColor computed_color{};  // storage for a value computed on request
};

// Warnings shown so far.
long warnings_given();

inline RayContext& context_of(miState* state) { return *reinterpret_cast<RayContext*>(state); }

}  // namespace standin
