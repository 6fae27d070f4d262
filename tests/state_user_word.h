// Stand-in hosts know which instance a state belongs to by keeping the
// address of the instance's user word in the state's leading host-only bytes.
#pragma once

#include "host/records.h"

#include <cstring>

inline void host_set_user_word(miState& state, void* word) {
  std::memcpy(state.unread_head_, &word, sizeof word);
}

inline void* host_user_word(const miState* state) {
  void* word;
  std::memcpy(&word, state->unread_head_, sizeof word);
  return word;
}
