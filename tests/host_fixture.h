// Two fake host modules, loaded once, and a test state bound to the first.
#pragma once

#include "host/binding.h"
#include "tests/support.h"

class HostTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (host_a == nullptr) host_a = load_module("fake_host");
    if (host_b == nullptr) host_b = load_module("fake_host_partial");
  }

  void SetUp() override {
    ASSERT_NE(host_a, nullptr);
    ASSERT_NE(host_b, nullptr);
    log_a = fake_host_log_of(host_a);
    log_b = fake_host_log_of(host_b);
    fake_host_reset(*log_a);
    fake_host_reset(*log_b);
    miSetModuleHandle(host_a);
    state.shader = &function;
  }

  static inline void* host_a = nullptr;  // every entry point
  static inline void* host_b = nullptr;  // lacks mi_phen_eval
  FakeHostLog* log_a = nullptr;
  FakeHostLog* log_b = nullptr;
  miFunction function{};
  miState state{};
};
