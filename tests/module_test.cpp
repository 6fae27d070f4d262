// The shipped module, loaded the way the renderer loads it, by a program that
// exports a host entry point of its own (as a renderer executable does).
#include "host/module_handle.h"
#include "shader/klarvoss.h"
#include "tests/support.h"

#include <atomic>

#if defined(_WIN32)
#include <windows.h>

#include <string>
#include <vector>
#define PROGRAM_EXPORT extern "C" __declspec(dllexport)
#else
#include <dlfcn.h>
#define PROGRAM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
std::atomic<int> program_trace_calls{0};
}

PROGRAM_EXPORT miBoolean mi_trace_eye(miColor* result, miState*, miVector*, miVector*) {
  program_trace_calls.fetch_add(1);
  *result = miColor{};
  return miTRUE;
}

namespace {

const char* const forwarder_names[] = {"mi_trace_eye", "mi_query", "mi_phen_eval", "mi_warning"};

class ModuleTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Into the global scope, where a leaked forwarder would be found by name.
    if (library == nullptr) library = load_module("Klarvoss", /*global=*/true);
    if (host == nullptr) host = load_module("fake_host");
  }

  void SetUp() override {
    ASSERT_NE(library, nullptr);
    ASSERT_NE(host, nullptr);
    set_handle = reinterpret_cast<decltype(&miSetModuleHandle)>(
        module_symbol(library, "miSetModuleHandle"));
    shade = reinterpret_cast<decltype(&Klarvoss)>(module_symbol(library, "Klarvoss"));
    ASSERT_NE(set_handle, nullptr);
    ASSERT_NE(shade, nullptr);
    fake_host_reset(*fake_host_log_of(host));
    program_trace_calls = 0;
    state.shader = &function;
  }

  static inline void* library = nullptr;
  static inline void* host = nullptr;
  decltype(&miSetModuleHandle) set_handle = nullptr;
  decltype(&Klarvoss) shade = nullptr;
  miFunction function{};
  miState state{};
  Klarvoss_params params{};
  miColor result{};
};

TEST_F(ModuleTest, ExportsTheEntryPointsAndNoForwarder) {
  for (const char* name : {"miSetModuleHandle", "Klarvoss", "Klarvoss_init", "Klarvoss_version"}) {
    EXPECT_NE(module_symbol(library, name), nullptr) << name;
  }
  for (const char* name : forwarder_names) EXPECT_EQ(module_symbol(library, name), nullptr) << name;
  for (const char* name : {"dl_handle", "dl_slots", "eval_param"}) {
    EXPECT_EQ(module_symbol(library, name), nullptr) << name;
  }
#if !defined(_WIN32)
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "mi_trace_eye"), reinterpret_cast<void*>(&mi_trace_eye));
  for (const char* name : {"mi_query", "mi_phen_eval", "mi_warning"}) {
    EXPECT_EQ(dlsym(RTLD_DEFAULT, name), nullptr) << name;
  }
#endif
}

TEST_F(ModuleTest, CallsReachTheGivenHostNotTheProgramsOwnEntryPoint) {
  ASSERT_EQ(set_handle(host), 0);
  EXPECT_EQ(shade(&result, &state, &params), miFALSE);
  EXPECT_EQ(fake_host_log_of(host)->trace_calls, 1);
  EXPECT_EQ(fake_host_log_of(host)->query_calls, 1);
  EXPECT_EQ(program_trace_calls, 0);
}

// A lookup with no handle searches the process; it must never come back to
// the library's own forwarder, which would call itself for ever.
TEST_F(ModuleTest, NullHandleLookupNeverFindsTheLibrary) {
  ASSERT_EQ(set_handle(nullptr), 0);
  std::string expected = "DYNLOAD: dl_handle null\n";
  const bool program_traces = module_symbol(nullptr, "mi_trace_eye") != nullptr;
  if (program_traces) {
    expected += "DYNLOAD: dl_handle null\n";
    expected += "dlsym failed on \"mi_query\" (handle: 00000000 error: " +
                std::to_string(lookup_error(nullptr, "mi_query")) + ")\n";
  } else {
    expected += "dlsym failed on \"mi_trace_eye\" (handle: 00000000 error: " +
                std::to_string(lookup_error(nullptr, "mi_trace_eye")) + ")\n";
  }
  EXPECT_EQ(stderr_of([&] { EXPECT_EQ(shade(&result, &state, &params), miFALSE); }), expected);
  EXPECT_EQ(program_trace_calls, program_traces ? 1 : 0);
  EXPECT_EQ(fake_host_log_of(host)->trace_calls, 0);
}

#if defined(_WIN32)
// What Windows shows in the DLL's Properties, read back as Windows reads it.
TEST_F(ModuleTest, CarriesItsVersionResource) {
  char path[MAX_PATH];
  ASSERT_NE(GetModuleFileNameA(static_cast<HMODULE>(library), path, sizeof path), 0u);
  DWORD unused = 0;
  std::vector<char> info(GetFileVersionInfoSizeA(path, &unused));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, static_cast<DWORD>(info.size()), info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  const auto text = [&](const char* name) {
    char* value = nullptr;
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &size)) return std::string("(none)");
    return std::string(value);
  };
  EXPECT_EQ(text("FileVersion"), "1.0.0.0");
  EXPECT_EQ(text("ProductVersion"), "1.0.0.0");
  EXPECT_EQ(text("ProductName"), "Klarvoss");
  EXPECT_EQ(text("InternalName"), "Klarvoss");
  EXPECT_EQ(text("OriginalFilename"), "Klarvoss.dll");
  EXPECT_NE(text("FileDescription").find("Klarvoss"), std::string::npos);
}
#endif

}  // namespace
