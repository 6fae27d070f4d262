// Loading the test build's modules, and reading what went to standard error.
#pragma once

#include "tests/fake_host.h"

#include <gtest/gtest.h>

#include <string>

// Loads a module of the test build by stem ("fake_host", "Klarvoss"); with
// `global`, its symbols join the process's global scope (ELF only).
void* load_module(const char* stem, bool global = false);
void* module_symbol(void* module, const char* name);
FakeHostLog* fake_host_log_of(void* host);

// The error code a failed lookup of `name` in `module` reports on this platform.
int lookup_error(void* module, const char* name);

// "dlsym failed on ..." as the binding layer writes it for this handle.
std::string lookup_failure_line(const char* name, void* module);

// Everything `run` wrote to standard error, line ends as "\n".
template <class Run>
std::string stderr_of(Run&& run) {
  testing::internal::CaptureStderr();
  run();
  std::string text = testing::internal::GetCapturedStderr();
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}
