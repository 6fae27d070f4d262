#include "tests/host_fixture.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

using klarvoss::dl_slots;
using klarvoss::HostEntry;

namespace {

constexpr std::size_t slot(HostEntry entry) { return static_cast<std::size_t>(entry); }

miBoolean counting_trace_calls = 0;
miBoolean counting_trace(miColor*, miState*, miVector*, miVector*) {
  ++counting_trace_calls;
  return 7;
}

}  // namespace

using BindingTest = HostTest;

TEST_F(BindingTest, NullHandleIsReportedAndLookedUpOnEveryCall) {
  miSetModuleHandle(nullptr);
  const std::string expected = "DYNLOAD: dl_handle null\ndlsym failed on \"mi_phen_eval\" "
                               "(handle: 00000000 error: " +
                               std::to_string(lookup_error(nullptr, "mi_phen_eval")) + ")\n";
  for (int call = 0; call < 2; ++call) {
    void* answer = &state;
    EXPECT_EQ(stderr_of([&] { answer = mi_phen_eval(&state, &function); }), expected);
    EXPECT_EQ(answer, nullptr);
  }
  int unread = 0;
  EXPECT_EQ(stderr_of([&] { EXPECT_EQ(mi_query(51, &state, 0, &unread), miFALSE); }),
            "DYNLOAD: dl_handle null\ndlsym failed on \"mi_query\" (handle: 00000000 error: " +
                std::to_string(lookup_error(nullptr, "mi_query")) + ")\n");
  EXPECT_EQ(stderr_of([] { mi_warning("never shown"); }),
            "DYNLOAD: dl_handle null\ndlsym failed on \"mi_warning\" (handle: 00000000 error: " +
                std::to_string(lookup_error(nullptr, "mi_warning")) + ")\n");
}

TEST_F(BindingTest, MissingNameIsReportedWithFullHandleAndRetried) {
  miSetModuleHandle(host_b);
  char digits[32];
  std::snprintf(digits, sizeof digits, "%08" PRIxPTR, reinterpret_cast<std::uintptr_t>(host_b));
  EXPECT_EQ(std::strtoull(digits, nullptr, 16), reinterpret_cast<std::uintptr_t>(host_b));
  const std::string expected = std::string("dlsym failed on \"mi_phen_eval\" (handle: ") + digits +
                               " error: " +
                               std::to_string(lookup_error(host_b, "mi_phen_eval")) + ")\n";
  for (int call = 0; call < 3; ++call) {
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(mi_phen_eval(&state, &function), nullptr); }), expected);
    EXPECT_EQ(dl_slots[slot(HostEntry::mi_phen_eval)].load(), nullptr);
  }
  // The host's other entry points are unaffected.
  miColor colour{};
  EXPECT_EQ(stderr_of([&] { mi_trace_eye(&colour, &state, &state.org, &state.dir); }), "");
  EXPECT_EQ(log_b->trace_calls, 1);
}

TEST_F(BindingTest, FilledEntryIsUsedWithoutLookingUpAgain) {
  miColor colour{};
  EXPECT_EQ(stderr_of([&] { mi_trace_eye(&colour, &state, &state.org, &state.dir); }), "");
  EXPECT_EQ(dl_slots[slot(HostEntry::mi_trace_eye)].load(),
            module_symbol(host_a, "mi_trace_eye"));

  // A forwarder that looked up again would find the host, not this.
  dl_slots[slot(HostEntry::mi_trace_eye)].store(reinterpret_cast<void*>(&counting_trace));
  counting_trace_calls = 0;
  EXPECT_EQ(stderr_of([&] { EXPECT_EQ(mi_trace_eye(&colour, &state, nullptr, nullptr), 7); }),
            "");
  EXPECT_EQ(counting_trace_calls, 1);
  EXPECT_EQ(log_a->trace_calls, 1);
}

TEST_F(BindingTest, SecondHandleForgetsEveryEntry) {
  miColor colour{};
  int unread = 0;
  mi_trace_eye(&colour, &state, &state.org, &state.dir);
  mi_query(51, &state, 0, &unread);
  mi_warning("to a");
  log_a->phen_eval_answer = &unread;
  EXPECT_EQ(mi_phen_eval(&state, &unread), &unread);

  miSetModuleHandle(host_b);
  for (const auto& entry : dl_slots) EXPECT_EQ(entry.load(), nullptr);

  mi_trace_eye(&colour, &state, &state.org, &state.dir);
  mi_query(51, &state, 0, &unread);
  mi_warning("to b");
  EXPECT_EQ(stderr_of([&] { EXPECT_EQ(mi_phen_eval(&state, &unread), nullptr); }),
            lookup_failure_line("mi_phen_eval", host_b));
  EXPECT_STREQ(log_a->order, "tqwp");
  EXPECT_EQ(log_a->trace_calls + log_a->query_calls + log_a->warning_calls, 3);
  EXPECT_EQ(log_a->phen_eval_calls, 1);
  EXPECT_EQ(log_b->trace_calls + log_b->query_calls + log_b->warning_calls, 3);
  EXPECT_STREQ(log_b->warning_received, "to b");

  miSetModuleHandle(host_a);
  EXPECT_EQ(mi_phen_eval(&state, &unread), &unread);
  EXPECT_EQ(log_a->phen_eval_calls, 2);
}

TEST_F(BindingTest, ForwardersPassArgumentsAndResultsUnchanged) {
  miColor colour{};
  miVector origin{}, direction{};
  log_a->trace_answer = 0;
  EXPECT_EQ(mi_trace_eye(&colour, &state, &origin, &direction), 0);
  log_a->trace_answer = 42;
  EXPECT_EQ(mi_trace_eye(&colour, &state, &origin, &direction), 42);
  EXPECT_EQ(log_a->trace_result, &colour);
  EXPECT_EQ(log_a->trace_state, &state);
  EXPECT_EQ(log_a->trace_origin, &origin);
  EXPECT_EQ(log_a->trace_direction, &direction);

  int value = 0;
  log_a->phen_eval_answer = &value;
  EXPECT_EQ(mi_phen_eval(&state, &origin), &value);
  EXPECT_EQ(log_a->phen_eval_state, &state);
  EXPECT_EQ(log_a->phen_eval_param, &origin);
}

// The host reads a fifth argument for codes 15 and 127 only; a pointer-wide
// value shows that all of it arrives.
TEST_F(BindingTest, QueryCarriesFifthArgumentOnlyForItsCodes) {
  const auto further = static_cast<std::intptr_t>(~std::uintptr_t{0} / 3);
  int answer = 0;
  auto out_of_line = &mi_query;  // the variadic forwarder itself, not an inlined call
  for (miQ_type code : {15, 127}) {
    fake_host_reset(*log_a);
    EXPECT_EQ(mi_query(code, &state, 9, &answer, further), miTRUE);
    EXPECT_EQ(log_a->query_further, further);
    fake_host_reset(*log_a);
    EXPECT_EQ(out_of_line(code, &state, 9, &answer, further), miTRUE);
    EXPECT_EQ(log_a->query_further, further);
    EXPECT_EQ(log_a->query_code, code);
    EXPECT_EQ(log_a->query_state, &state);
    EXPECT_EQ(log_a->query_tag, 9u);
    EXPECT_EQ(log_a->query_result, &answer);
  }
  for (auto call : {0, 1}) {
    fake_host_reset(*log_a);
    EXPECT_EQ(call ? out_of_line(51, &state, 0, &answer) : mi_query(51, &state, 0, &answer),
              miTRUE);
    EXPECT_EQ(log_a->query_code, 51);
    EXPECT_EQ(log_a->query_tag, 0u);
    EXPECT_EQ(log_a->query_result, &answer);
    EXPECT_EQ(log_a->query_calls, 1);
  }
}

// The renderer's table numbers these entries; each forwarder owns its own.
TEST_F(BindingTest, EachForwarderFillsOnlyItsOwnEntry) {
  miColor colour{};
  void* word = nullptr;
  log_a->phen_eval_answer = &word;
  const struct {
    std::size_t entry;
    const char* name;
    void (*call)(miState&, miColor&, void*&);
  } forwarders[] = {
      {85, "mi_trace_eye", [](miState& s, miColor& c, void*&) { mi_trace_eye(&c, &s, &s.org, &s.dir); }},
      {114, "mi_phen_eval", [](miState& s, miColor&, void*& w) { mi_phen_eval(&s, &w); }},
      {249, "mi_query", [](miState& s, miColor&, void*& w) { mi_query(51, &s, 0, &w); }},
      {325, "mi_warning", [](miState&, miColor&, void*&) { mi_warning("pinned"); }},
  };
  std::vector<std::size_t> filled;
  for (const auto& forwarder : forwarders) {
    forwarder.call(state, colour, word);
    filled.push_back(forwarder.entry);
    EXPECT_EQ(dl_slots[forwarder.entry].load(), module_symbol(host_a, forwarder.name));
    for (std::size_t entry = 0; entry < 634; ++entry) {
      const bool expected = std::find(filled.begin(), filled.end(), entry) != filled.end();
      EXPECT_EQ(dl_slots[entry].load() != nullptr, expected) << "entry " << entry;
    }
  }
}
