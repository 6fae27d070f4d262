#pragma once

#include "host/records.h"

#include <cstring>

// The bench host keeps the instance's user word address in its own bytes of
// the state, as a renderer knows which instance a state belongs to.
inline void bench_set_user_word(miState& state, void* word) {
  std::memcpy(state.unread_head_, &word, sizeof word);
}
inline void* bench_user_word(const miState* state) {
  void* word;
  std::memcpy(&word, state->unread_head_, sizeof word);
  return word;
}
