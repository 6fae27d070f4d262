// Nanoseconds per shaded ray, the library beside the baseline that calls the
// host directly, on 1 and 2 threads; and nanoseconds per forwarder call
// beside a call through the host's address as an import library makes it.
#include "bench/shader_under_test.h"
#include "host/binding.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

ShaderUnderTest library;
ShaderUnderTest baseline;
void* bench_host = nullptr;

void shade_rays(benchmark::State& run, ShaderUnderTest* shader) {
  miState state = shader->fresh_state();
  miColor result{};
  for (auto _ : run) {
    benchmark::DoNotOptimize(shader->shade(&result, &state, &shader->params));
  }
  run.SetItemsProcessed(run.iterations());
}
BENCHMARK_CAPTURE(shade_rays, library, &library)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(shade_rays, baseline, &baseline)->Threads(1)->Threads(2)->UseRealTime();

// The control for scaling: every thread with an instance of its own, on
// lines of its own, so nothing at all is shared between threads.
void shade_rays_unshared(benchmark::State& run, ShaderUnderTest* shader) {
  alignas(128) ShaderUnderTest mine = *shader;
  alignas(128) miState state = mine.fresh_state();
  alignas(128) miColor result{};
  for (auto _ : run) benchmark::DoNotOptimize(mine.shade(&result, &state, &mine.params));
  run.SetItemsProcessed(run.iterations());
}
BENCHMARK_CAPTURE(shade_rays_unshared, library, &library)->Threads(1)->Threads(2)->UseRealTime();

template <class Call>
void call_host(benchmark::State& run, Call call) {
  miState state{};
  miColor colour{};
  void* word = nullptr;
  host_set_user_word(state, &word);
  for (auto _ : run) benchmark::DoNotOptimize(call(state, colour));
}

void forwarder_trace(benchmark::State& run) {
  call_host(run, [](miState& s, miColor& c) { return mi_trace_eye(&c, &s, &s.org, &s.dir); });
}
void direct_trace(benchmark::State& run) {
  auto host = reinterpret_cast<decltype(&mi_trace_eye)>(dlsym(bench_host, "mi_trace_eye"));
  benchmark::DoNotOptimize(host);  // an address read from memory, as from an import table
  call_host(run, [host](miState& s, miColor& c) { return host(&c, &s, &s.org, &s.dir); });
}
void forwarder_query(benchmark::State& run) {
  call_host(run, [](miState& s, miColor&) {
    void* word = nullptr;
    mi_query(miQ_FUNC_USERPTR, &s, 0, &word);
    return word;
  });
}
void direct_query(benchmark::State& run) {
  using Query = miBoolean (*)(miQ_type, miState*, miTag, void*, ...);
  auto host = reinterpret_cast<Query>(dlsym(bench_host, "mi_query"));
  benchmark::DoNotOptimize(host);
  call_host(run, [host](miState& s, miColor&) {
    void* word = nullptr;
    host(miQ_FUNC_USERPTR, &s, 0, &word);
    return word;
  });
}
BENCHMARK(forwarder_trace);
BENCHMARK(direct_trace);
BENCHMARK(forwarder_query);
BENCHMARK(direct_query);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::string directory = KLARVOSS_BENCH_DIR;
  library.load(directory, "Klarvoss.so");
  baseline.load(directory, "klarvoss_baseline.so");
  bench_host = dlopen((directory + "/bench_host.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  miSetModuleHandle(bench_host);  // the forwarders linked into this program
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
