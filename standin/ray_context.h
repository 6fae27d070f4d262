// What the stand-in renderer keeps per shader instance and per eye ray.
// The shader sees only the miState at the front of a RayContext.
#pragma once

#include "host/records.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace standin {

struct Instance {
  // The parameter block as the declaration lays it out, then the renderer's
  // word per parameter saying whether it computes that parameter's value,
  // found at the parameter's address plus the block's size.
  std::vector<std::uint32_t> words;
  const void* ramp = nullptr;  // the parameter computed as a ramp, if any
  miFunction function{};
  void* user_word = nullptr;  // the shader's own per-instance word

  // A block smaller than the library expects reads zeros, not past its end.
  static constexpr std::size_t least_block_words = 16;

  void set_block(const std::vector<std::uint32_t>& block) {
    const std::size_t size = std::max(block.size(), least_block_words);
    words.assign(2 * size, 0);
    std::copy(block.begin(), block.end(), words.begin());
  }
  void compute(std::size_t offset) {
    const std::size_t size_bytes = words.size() / 2 * 4;
    function.parameter_indirect = static_cast<std::int32_t>(size_bytes);
    words[(offset + size_bytes) / 4] = 1;
    ramp = reinterpret_cast<const unsigned char*>(words.data()) + offset;
  }
  void* params() { return words.data(); }
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
