// Loads a shader library (the real one or the baseline) against the bench
// host and readies one instance to shade with.
#pragma once

#include "host/module_handle.h"
#include "shader/klarvoss.h"
#include "tests/state_user_word.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

struct ShaderUnderTest {
  decltype(&Klarvoss) shade = nullptr;
  miFunction function{};
  void* user_word = nullptr;
  Klarvoss_params params{miTRUE, {1.0f, 0.55f, 0.1f, 1.0f}};

  // `library` is a file of the bench build; the host is bench_host.so beside it.
  void load(const std::string& directory, const char* library) {
    void* host = dlopen((directory + "/bench_host.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    void* module = dlopen((directory + "/" + library).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (host == nullptr || module == nullptr) {
      std::fprintf(stderr, "cannot load: %s\n", dlerror());
      std::exit(1);
    }
    if (auto set = reinterpret_cast<decltype(&miSetModuleHandle)>(dlsym(module, "miSetModuleHandle"))) {
      set(host);
    }
    auto init = reinterpret_cast<decltype(&Klarvoss_init)>(dlsym(module, "Klarvoss_init"));
    shade = reinterpret_cast<decltype(&Klarvoss)>(dlsym(module, "Klarvoss"));
    miState state = fresh_state();
    miBoolean per_instance = miFALSE;
    init(&state, nullptr, &per_instance);
    init(&state, &params, nullptr);
  }

  // Each shading thread has a state of its own, as in the renderer.
  miState fresh_state() {
    miState state{};
    state.shader = &function;
    host_set_user_word(state, &user_word);
    return state;
  }
};
