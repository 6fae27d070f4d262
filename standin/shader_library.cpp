#include "standin/shader_library.h"

#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace standin {

namespace {

void* open_module(const std::string& path, std::string& error) {
#if defined(_WIN32)
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
  return module;
#else
  // A path without a slash would be searched for; the renderer means a file.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) error = "cannot load " + path + " (" + dlerror() + ")";
  return module;
#endif
}

void* symbol(void* module, const std::string& name) {
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name.c_str()));
#else
  return dlsym(module, name.c_str());
#endif
}

}  // namespace

bool load_shader_library(const std::string& path, const std::string& shader_name,
                         ShaderLibrary& out, std::string& error) {
  void* module = open_module(path, error);
  if (module == nullptr) return false;
  const auto find = [&](const std::string& name) {
    void* address = symbol(module, name);
    if (address == nullptr && error.empty()) error = path + " does not export " + name;
    return address;
  };
  out.shader_name = shader_name;
  out.set_module_handle = reinterpret_cast<ShaderLibrary::SetModuleHandle>(find("miSetModuleHandle"));
  out.version = reinterpret_cast<ShaderLibrary::Version>(find(shader_name + "_version"));
  out.init = reinterpret_cast<ShaderLibrary::Init>(find(shader_name + "_init"));
  out.shade = reinterpret_cast<ShaderLibrary::Shade>(find(shader_name));
  return error.empty();
}

std::string file_version(const std::string& path) {
#if defined(_WIN32)
  DWORD unused = 0;
  std::string info(GetFileVersionInfoSizeA(path.c_str(), &unused), '\0');
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  if (info.empty() ||
      !GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()) ||
      !VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &size) ||
      size < sizeof *fixed) {
    return "";
  }
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionLS));
#else
  (void)path;
  return "";
#endif
}

void* renderer_module() {
#if defined(_WIN32)
  return GetModuleHandleA(nullptr);
#else
  return dlopen(nullptr, RTLD_NOW);
#endif
}

}  // namespace standin
