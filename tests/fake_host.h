// A stand-in for the renderer's own module: it exports the host entry points
// by name, answers as the test sets it up, and records what it receives.
#pragma once

#include "host/records.h"
#include "tests/state_user_word.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

struct FakeHostLog {
  std::atomic<int> trace_calls{0};
  std::atomic<int> query_calls{0};
  std::atomic<int> phen_eval_calls{0};
  std::atomic<int> warning_calls{0};

  // What the host answers.
  miBoolean trace_answer = miTRUE;
  miColor trace_color{0.25f, 0.5f, 0.75f, 1.0f};
  void* phen_eval_answer = nullptr;

  // What the last call of each received (written under the host's lock).
  miColor* trace_result = nullptr;
  miState* trace_state = nullptr;
  miVector* trace_origin = nullptr;
  miVector* trace_direction = nullptr;
  miQ_type query_code = 0;
  miState* query_state = nullptr;
  miTag query_tag = 0;
  void* query_result = nullptr;
  std::intptr_t query_further = 0;
  miState* phen_eval_state = nullptr;
  void* phen_eval_param = nullptr;
  char order[64] = {};  // one letter a call: t(race) q(uery) p(hen_eval) w(arning)
  char warning_received[4096] = {};  // the argument, as passed
  char warning_shown[4096] = {};     // what the host shows, taking it as a format

  // fake_host_gated only: a lookup of mi_trace_eye counts itself here, then
  // waits inside the lookup until the entry `gate` points at is empty.
  std::atomic<int> lookups_held{0};
  std::atomic<std::atomic<void*>*> gate{nullptr};
};

inline void fake_host_reset(FakeHostLog& log) {
  log.~FakeHostLog();
  new (&log) FakeHostLog();
}

using FakeHostLogFn = FakeHostLog* (*)();

