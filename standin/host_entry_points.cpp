// The renderer's entry points, exported by the stand-in renderer's program
// itself: the handle it gives the shader library is its own module's.
#include "standin/ray_context.h"
#include "standin/scene.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#if defined(_WIN32)
#define HOST_API extern "C" __declspec(dllexport)
#else
#define HOST_API extern "C" __attribute__((visibility("default")))
#endif

using standin::context_of;

HOST_API miBoolean mi_trace_eye(miColor* result, miState* state, miVector*, miVector*) {
  const auto& ray = context_of(state);
  return standin::trace_scene(ray.u, ray.v, result) ? miTRUE : miFALSE;
}

HOST_API miBoolean mi_query(miQ_type code, miState* state, miTag, void* result, ...) {
  if (code != miQ_FUNC_USERPTR) return miFALSE;
  *static_cast<void**>(result) = &context_of(state).instance->user_word;
  return miTRUE;
}

// The only parameter this renderer computes is the one given as a ramp.
HOST_API void* mi_phen_eval(miState* state, void* param) {
  auto& ray = context_of(state);
  if (param != ray.instance->ramp) return nullptr;
  ray.computed_color = standin::ramp_color(ray.u, ray.v);
  return &ray.computed_color;
}

namespace {
std::mutex warning_output;
long warnings = 0;  // under warning_output
}  // namespace

long standin::warnings_given() {
  std::lock_guard lock(warning_output);
  return warnings;
}

// As the renderer does, the text is taken as a format.
HOST_API void mi_warning(const char* format, ...) {
  std::lock_guard lock(warning_output);
  ++warnings;
  std::fputs("klarvoss-render: warning: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}
