// Many threads at once on the binding layer and the shader, as a renderer's
// worker threads are. Run under ThreadSanitizer too.
#include "shader/klarvoss.h"
#include "tests/host_fixture.h"

#include <thread>
#include <vector>

namespace {

constexpr int thread_count = 8;

// Releases every thread at once, so their first calls overlap.
class StartLine {
 public:
  explicit StartLine(int threads) : waiting_(threads) {}
  void arrive_and_wait() {
    waiting_.fetch_sub(1);
    while (waiting_.load() > 0) std::this_thread::yield();
  }

 private:
  std::atomic<int> waiting_;
};

template <class Work>
void run_threads(int threads, Work work) {
  StartLine start(threads);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      start.arrive_and_wait();
      work(t);
    });
  }
  for (auto& thread : pool) thread.join();
}

using StressTest = HostTest;

TEST_F(StressTest, FirstCallsOfEveryForwarderAtOnce) {
  constexpr int rounds = 100;
  int value = 0;
  for (int round = 0; round < rounds; ++round) {
    fake_host_reset(*log_a);
    log_a->phen_eval_answer = &value;
    miSetModuleHandle(host_a);
    const std::string errors = stderr_of([&] {
      run_threads(thread_count, [&](int) {
        miState mine{};
        miColor colour{};
        void* word = nullptr;
        mi_trace_eye(&colour, &mine, &mine.org, &mine.dir);
        mi_query(miQ_FUNC_USERPTR, &mine, 0, &word);
        EXPECT_EQ(mi_phen_eval(&mine, &word), &value);
        mi_warning("%d", 1);
      });
    });
    ASSERT_EQ(errors, "");
    ASSERT_EQ(log_a->trace_calls, thread_count);
    ASSERT_EQ(log_a->query_calls, thread_count);
    ASSERT_EQ(log_a->phen_eval_calls, thread_count);
    ASSERT_EQ(log_a->warning_calls, thread_count);
  }
}

TEST_F(StressTest, ThreadsShadingAFreshInstanceWarnOnce) {
  constexpr int rounds = 50;
  constexpr int rays = 100;
  void* word = nullptr;
  host_set_user_word(state, &word);
  Klarvoss_params params{miTRUE, {0.5f, 0.25f, 0.125f, 1}};
  for (int round = 0; round < rounds; ++round) {
    miSetModuleHandle(host_a);
    Klarvoss_init(&state, &params, nullptr);
    fake_host_reset(*log_a);
    std::atomic<int> wrong{0};
    run_threads(thread_count, [&](int) {
      for (int ray = 0; ray < rays; ++ray) {
        miColor result{};
        if (Klarvoss(&result, &state, &params) != miTRUE ||
            std::memcmp(&result, &params.color, sizeof result) != 0) {
          wrong.fetch_add(1);
        }
      }
    });
    ASSERT_EQ(log_a->warning_calls, 1);
    ASSERT_EQ(wrong, 0);
  }
}

// The renderer does not coordinate a new handle with calls already running:
// each call must still reach one of the two hosts, whole.
TEST_F(StressTest, NewHandleWhileOtherThreadsCall) {
  constexpr int calls = 20000;
  constexpr int switches = 2000;
  std::atomic<int> failed{0};
  const std::string errors = stderr_of([&] {
    run_threads(thread_count + 1, [&](int t) {
      if (t == thread_count) {
        for (int s = 0; s < switches; ++s) miSetModuleHandle(s % 2 ? host_a : host_b);
        return;
      }
      miState mine{};
      miColor colour{};
      for (int call = 0; call < calls / thread_count; ++call) {
        if (mi_trace_eye(&colour, &mine, &mine.org, &mine.dir) != miTRUE) failed.fetch_add(1);
        void* word = nullptr;
        mi_query(miQ_FUNC_USERPTR, &mine, 0, &word);
      }
    });
  });
  EXPECT_EQ(errors, "");
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(log_a->trace_calls + log_b->trace_calls, calls);
  EXPECT_EQ(log_a->query_calls + log_b->query_calls, calls);
}

// A first call that began under the old handle may finish after the
// switch; once it has returned, the next call must look up in, and reach,
// the new module. The main thread's delay before switching sweeps the
// overlap across the other thread's lookup.
TEST_F(StressTest, NoOldAddressOutlivesTheSwitch) {
  constexpr int rounds = 20000;
  std::atomic<int> round_started{-1}, round_done{-1};
  int stale = 0;
  std::thread shader([&] {
    miState mine{};
    miColor colour{};
    for (int round = 0; round < rounds; ++round) {
      // Spins before yielding: the overlap needs this thread awake at once.
      for (int spins = 0; round_started.load() != round;) {
        if (++spins > 10000) std::this_thread::yield();
      }
      mi_trace_eye(&colour, &mine, &mine.org, &mine.dir);
      round_done.store(round);
    }
  });
  miColor colour{};
  for (int round = 0; round < rounds; ++round) {
    miSetModuleHandle(host_a);
    round_started.store(round);
    for (volatile int spin = round % 1024; spin > 0;) spin = spin - 1;
    miSetModuleHandle(host_b);
    while (round_done.load() != round) std::this_thread::yield();
    const int to_b = log_b->trace_calls;
    mi_trace_eye(&colour, &state, &state.org, &state.dir);
    if (log_b->trace_calls != to_b + 1) ++stale;
  }
  shader.join();
  EXPECT_EQ(stale, 0) << "calls after the switch that reached the old module";
}

#if !defined(_WIN32)
}  // namespace
#include <sched.h>
namespace {

// The same race, forced instead of swept for: the old module's lookup is
// held inside dlsym until the switch has cleared the entry after the one it
// fills, then finishes under the new handle. Entries are cleared in order,
// so the lookup resumes while a switch that clears before it stores the
// handle is still clearing: that order, like a bind that never takes its
// address back, leaves the old address for the next call.
TEST_F(StressTest, LookupHeldAcrossTheSwitchLeavesNoOldAddress) {
  // The held lookup and the switch on cores of their own: sharing one, the
  // spinning lookup would keep the switch from running until it is preempted.
  cpu_set_t cpus;
  sched_getaffinity(0, sizeof cpus, &cpus);
  const auto on_cpu = [&cpus](int nth) {
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &cpus) && nth-- == 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        sched_setaffinity(0, sizeof one, &one);
        return;
      }
    }
  };
  void* gated = load_module("fake_host_gated");
  ASSERT_NE(gated, nullptr);
  FakeHostLog* log_gated = fake_host_log_of(gated);
  constexpr std::size_t entry = static_cast<std::size_t>(klarvoss::HostEntry::mi_trace_eye);
  std::atomic<void*>& next_entry = klarvoss::dl_slots[entry + 1];
  miColor colour{};
  constexpr int rounds = 400;
  int stale = 0;
  on_cpu(0);
  for (int round = 0; round < rounds; ++round) {
    miSetModuleHandle(gated);
    next_entry.store(&next_entry);  // cleared only by the switch
    log_gated->gate.store(&next_entry);
    const int held = log_gated->lookups_held.load();
    std::thread first([&] {
      on_cpu(1);
      miState mine{};
      miColor theirs{};
      mi_trace_eye(&theirs, &mine, &mine.org, &mine.dir);
    });
    while (log_gated->lookups_held.load() == held) std::this_thread::yield();
    miSetModuleHandle(host_b);
    first.join();
    log_gated->gate.store(nullptr);

    const int to_gated = log_gated->trace_calls.load(), to_b = log_b->trace_calls.load();
    mi_trace_eye(&colour, &state, &state.org, &state.dir);
    if (log_gated->trace_calls.load() != to_gated || log_b->trace_calls.load() != to_b + 1) ++stale;
  }
  sched_setaffinity(0, sizeof cpus, &cpus);
  EXPECT_EQ(stale, 0) << "rounds of " << rounds << " whose next call reached the old module";
}
#endif

}  // namespace
