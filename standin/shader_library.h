// A shader library as the renderer sees it: a module loaded by path, its
// entry points found by the shader's declared name.
#pragma once

#include "shader/klarvoss.h"

#include <string>

namespace standin {

struct ShaderLibrary {
  using Version = int (*)();
  using Init = void (*)(miState*, void*, miBoolean*);
  using Shade = miBoolean (*)(miColor*, miState*, void*);
  using SetModuleHandle = int (*)(void*);

  std::string shader_name;
  SetModuleHandle set_module_handle = nullptr;
  Version version = nullptr;
  Init init = nullptr;
  Shade shade = nullptr;
};

// Loads the library and finds its entry points; false with `error` set.
bool load_shader_library(const std::string& path, const std::string& shader_name,
                         ShaderLibrary& out, std::string& error);

// The version the library's file carries ("1.0.0.0"): on Windows its
// version resource; empty where there is none.
std::string file_version(const std::string& path);

// The handle of the renderer's own module, which exports its entry points.
void* renderer_module();

}  // namespace standin
