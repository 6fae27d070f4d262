// The library allocates nothing. This program replaces the C allocator
// (operator new and the C runtime allocate through it) and counts the calls
// made while the library runs on the test's thread.
#include "shader/klarvoss.h"
#include "tests/host_fixture.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {
thread_local bool counting = false;
// Only the counting thread writes these.
int allocations = 0;          // asked for by code outside the C runtime and loader
int runtime_allocations = 0;  // asked for by the C runtime or the loader themselves

[[gnu::noinline]] void count(void* caller) {
  if (!counting) return;
  counting = false;
  Dl_info where{};
  const bool runtime = dladdr(caller, &where) != 0 && where.dli_fname != nullptr &&
                       (std::strstr(where.dli_fname, "/libc.so") != nullptr ||
                        std::strstr(where.dli_fname, "/ld-linux") != nullptr);
  ++(runtime ? runtime_allocations : allocations);
  counting = true;
}
}  // namespace

extern "C" {
void* malloc(std::size_t size) {
  count(__builtin_return_address(0));
  return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
  count(__builtin_return_address(0));
  return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) {
  count(__builtin_return_address(0));
  return __libc_realloc(p, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  count(__builtin_return_address(0));
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  count(__builtin_return_address(0));
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  count(__builtin_return_address(0));
  *out = __libc_memalign(alignment, size);
  return *out ? 0 : ENOMEM;
}
void free(void* p) { __libc_free(p); }
}

using AllocationTest = HostTest;

// Every path of a render whose lookups succeed, each at least once.
TEST_F(AllocationTest, RenderingAllocatesNothing) {
  void* word = nullptr;
  host_set_user_word(state, &word);
  struct {
    Klarvoss_params params{miTRUE, {1, 2, 3, 4}};
    std::int32_t computed[5]{};
  } block;
  miColor computed_colour{};
  miColor result{};
  miBoolean request = 0;
  const std::string long_text(3000, '%');

  counting = true;
  miSetModuleHandle(host_a);
  Klarvoss_init(&state, nullptr, &request);
  Klarvoss_init(&state, &block.params, &request);
  Klarvoss(&result, &state, &block.params);  // first calls: lookups, the warning
  Klarvoss(&result, &state, &block.params);
  function.parameter_indirect = offsetof(decltype(block), computed);
  block.computed[0] = block.computed[1] = 1;
  log_a->phen_eval_answer = &computed_colour;
  Klarvoss(&result, &state, &block.params);  // computed parameters
  log_a->phen_eval_answer = nullptr;
  Klarvoss(&result, &state, &block.params);  // uncomputable
  log_a->trace_answer = miFALSE;
  Klarvoss(&result, &state, &block.params);  // failed trace
  mi_warning("%s %d %%", long_text.c_str(), 5);
  mi_query(15, &state, 0, &word, std::intptr_t{1});
  counting = false;

  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(runtime_allocations, 0);
}

// A failed lookup makes glibc's dlsym keep its error text on the heap (for
// dlerror): those allocations are the loader's, and the only ones.
TEST_F(AllocationTest, FailedLookupsAllocateOnlyInTheLoader) {
  struct {
    Klarvoss_params params{miTRUE, {}};
    std::int32_t computed[5]{0, 1};  // `color` is computed
  } block;
  function.parameter_indirect = offsetof(decltype(block), computed);
  miColor result{};

  testing::internal::CaptureStderr();
  counting = true;
  miSetModuleHandle(host_b);  // lacks mi_phen_eval
  Klarvoss(&result, &state, &block.params);
  miSetModuleHandle(nullptr);  // no module at all
  Klarvoss(&result, &state, &block.params);
  mi_warning("%s", "x");
  counting = false;
  const std::string errors = testing::internal::GetCapturedStderr();

  EXPECT_EQ(errors, lookup_failure_line("mi_phen_eval", host_b) +
                        "DYNLOAD: dl_handle null\n" + lookup_failure_line("mi_trace_eye", nullptr) +
                        "DYNLOAD: dl_handle null\n" + lookup_failure_line("mi_warning", nullptr));
  EXPECT_EQ(allocations, 0);
}
