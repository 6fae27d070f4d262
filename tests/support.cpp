#include "tests/support.h"

#include <cinttypes>
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

void* load_module(const char* stem, bool global) {
#if defined(_WIN32)
  (void)global;
  // Beside the test program, where LoadLibrary looks first.
  void* module = LoadLibraryA((std::string(stem) + ".dll").c_str());
#else
  const std::string path = std::string(KLARVOSS_BIN_DIR "/") + stem + ".so";
  void* module = dlopen(path.c_str(), RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL));
#endif
  if (module == nullptr) ADD_FAILURE() << "cannot load " << stem;
  return module;
}

void* module_symbol(void* module, const char* name) {
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
#else
  return dlsym(module, name);
#endif
}

FakeHostLog* fake_host_log_of(void* host) {
  auto log_fn = reinterpret_cast<FakeHostLogFn>(module_symbol(host, "fake_host_log"));
  return log_fn ? log_fn() : nullptr;
}

int lookup_error(void* module, const char* name) {
#if defined(_WIN32)
  SetLastError(0);
  if (GetProcAddress(static_cast<HMODULE>(module), name) != nullptr) return 0;
  return static_cast<int>(GetLastError());
#else
  (void)module;
  (void)name;
  return 0;
#endif
}

std::string lookup_failure_line(const char* name, void* module) {
  char line[256];
  std::snprintf(line, sizeof line, "dlsym failed on \"%s\" (handle: %08" PRIxPTR " error: %d)\n",
                name, reinterpret_cast<std::uintptr_t>(module), lookup_error(module, name));
  return line;
}
