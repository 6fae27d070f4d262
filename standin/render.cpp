// klarvoss-render: the least a renderer does with a shader library, so the
// library can be seen working without the renderer itself.
#include "standin/ray_context.h"
#include "standin/scene.h"
#include "standin/shader_library.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO_WCHAR
#include <stb_image_write.h>

namespace {

constexpr const char* usage =
    "usage: klarvoss-render LIBRARY [options]\n"
    "  --mi FILE            the shader's declaration (default: Klarvoss.mi beside LIBRARY)\n"
    "  --out FILE           the PNG to write (default: klarvoss.png)\n"
    "  --size WxH           image size in pixels, 1 to 8192 each (default: 320x240)\n"
    "  --threads N          rendering threads, 1 to 256 (default: one per core)\n"
    "  --instances N        shader instances, each shading a vertical stripe, 1 to 64 (default: 1)\n"
    "  --use-color on|off   the shader's use_color parameter (default: off)\n"
    "  --color R,G,B[,A]    the shader's color parameter, given in place (default: 1,0.55,0.1)\n"
    "  --color ramp         the color parameter computed by the renderer: a ramp across the image\n";

struct Options {
  std::string library, declaration, output = "klarvoss.png";
  int width = 320, height = 240, threads = 0, instances = 1;
  bool use_color = false, ramp = false;
  miColor color{1.0f, 0.55f, 0.1f, 1.0f};
};

bool fail(const std::string& message) {
  std::fprintf(stderr, "klarvoss-render: %s\n", message.c_str());
  return false;
}

bool parse_int(const char* text, int low, int high, int& out) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < low || value > high) return false;
  out = static_cast<int>(value);
  return true;
}

bool parse_color(const char* text, miColor& out) {
  float c[4] = {0, 0, 0, 1};
  int n = 0;
  for (const char* at = text; n < 4; ++n) {
    char* end = nullptr;
    c[n] = std::strtof(at, &end);
    if (end == at) return false;
    if (*end == '\0') {
      ++n;
      break;
    }
    if (*end != ',') return false;
    at = end + 1;
  }
  if (n < 3) return false;
  out = {c[0], c[1], c[2], c[3]};
  return true;
}

bool parse_options(int argc, char** argv, Options& o) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(usage, stdout);
      std::exit(0);
    }
    if (arg.rfind("--", 0) != 0) {
      positional.push_back(arg);
      continue;
    }
    if (i + 1 >= argc) return fail(arg + " needs a value\n" + usage);
    const char* value = argv[++i];
    bool ok = true;
    if (arg == "--mi") {
      o.declaration = value;
    } else if (arg == "--out") {
      o.output = value;
    } else if (arg == "--size") {
      const char* x = std::strchr(value, 'x');
      ok = x != nullptr && parse_int(std::string(value, x).c_str(), 1, 8192, o.width) &&
           parse_int(x + 1, 1, 8192, o.height);
    } else if (arg == "--threads") {
      ok = parse_int(value, 1, 256, o.threads);
    } else if (arg == "--instances") {
      ok = parse_int(value, 1, 64, o.instances);
    } else if (arg == "--use-color") {
      ok = std::strcmp(value, "on") == 0 || std::strcmp(value, "off") == 0;
      o.use_color = std::strcmp(value, "on") == 0;
    } else if (arg == "--color") {
      o.ramp = std::strcmp(value, "ramp") == 0;
      ok = o.ramp || parse_color(value, o.color);
    } else {
      return fail("unknown option " + arg + "\n" + usage);
    }
    if (!ok) return fail("bad value '" + std::string(value) + "' for " + arg);
  }
  if (positional.size() != 1) return fail(std::string("give exactly one shader library\n") + usage);
  o.library = positional[0];
  if (o.declaration.empty()) {
    const auto slash = o.library.find_last_of("/\\");
    o.declaration = (slash == std::string::npos ? "" : o.library.substr(0, slash + 1)) + "Klarvoss.mi";
  }
  if (o.threads == 0) o.threads = std::max(1u, std::thread::hardware_concurrency());
  return true;
}

unsigned char to_byte(float c) {
  if (!(c > 0)) return 0;  // NaN too
  return c >= 1 ? 255 : static_cast<unsigned char>(c * 255.0f + 0.5f);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse_options(argc, argv, o)) return 2;

  std::string error;
  standin::Declaration declaration;
  standin::ShaderLibrary library;
  if (!standin::read_declaration(o.declaration, declaration, error) ||
      !standin::load_shader_library(o.library, declaration.shader_name, library, error)) {
    fail(error);
    return 1;
  }
  const int library_version = library.version();
  if (library_version != declaration.version) {
    fail(o.library + " reports version " + std::to_string(library_version) + " but " +
         o.declaration + " declares version " + std::to_string(declaration.version) +
         "; refusing to use it");
    return 1;
  }
  // A Windows library's version resource must say the same version.
  const std::string file_version = standin::file_version(o.library);
  if (!file_version.empty() && file_version != std::to_string(declaration.version) + ".0.0.0") {
    fail(o.library + " carries file version " + file_version + " but " + o.declaration +
         " declares version " + std::to_string(declaration.version) + "; refusing to use it");
    return 1;
  }
  library.set_module_handle(standin::renderer_module());

  std::vector<standin::Instance> instances(o.instances);
  for (auto& instance : instances) {
    instance.block.params.use_color = o.use_color ? miTRUE : miFALSE;
    instance.block.params.color = o.color;
    if (o.ramp) {
      instance.function.parameter_indirect = offsetof(standin::Instance::Block, computed);
      instance.block.computed[1] = 1;  // color: computed by the renderer
    }
  }

  // Once for the shader as a whole; then once per instance if it asks.
  standin::RayContext setup;
  miBoolean per_instance = miFALSE;
  library.init(&setup.state, nullptr, &per_instance);
  if (per_instance) {
    for (auto& instance : instances) {
      setup.instance = &instance;
      setup.state.shader = &instance.function;
      library.init(&setup.state, &instance.block.params, nullptr);
    }
  }

  std::vector<unsigned char> pixels(static_cast<std::size_t>(o.width) * o.height * 3);
  std::atomic<int> next_row{0};
  std::atomic<long> answered_true{0}, answered_false{0};
  const auto start = std::chrono::steady_clock::now();
  const auto shade_rows = [&] {
    long yes = 0, no = 0;
    for (int y; (y = next_row.fetch_add(1)) < o.height;) {
      for (int x = 0; x < o.width; ++x) {
        standin::RayContext ray;
        ray.instance = &instances[static_cast<std::size_t>(x) * instances.size() / o.width];
        ray.state.shader = &ray.instance->function;
        ray.u = (x + 0.5f) / o.width;
        ray.v = (y + 0.5f) / o.height;
        ray.state.org = {0, 0, 0};
        ray.state.dir = {ray.u - 0.5f, 0.5f - ray.v, -1};
        miColor result{};
        (library.shade(&result, &ray.state, &ray.instance->block.params) ? yes : no)++;
        unsigned char* p = &pixels[(static_cast<std::size_t>(y) * o.width + x) * 3];
        p[0] = to_byte(result.r);
        p[1] = to_byte(result.g);
        p[2] = to_byte(result.b);
      }
    }
    answered_true += yes;
    answered_false += no;
  };
  // One thread shades here: CPU emulation of 32-bit Windows runs no second one.
  if (o.threads == 1) {
    shade_rows();
  } else {
    std::vector<std::thread> workers;
    for (int t = 0; t < o.threads; ++t) workers.emplace_back(shade_rows);
    for (auto& worker : workers) worker.join();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  if (!stbi_write_png(o.output.c_str(), o.width, o.height, 3, pixels.data(), o.width * 3)) {
    fail("cannot write " + o.output);
    return 1;
  }
  const std::string named =
      file_version.empty() ? o.library : o.library + " (file version " + file_version + ")";
  std::printf("%s: %ld rays, %ld true, %ld false, %ld warnings, %.3f s, %d threads -> %s\n",
              named.c_str(), answered_true + answered_false, answered_true.load(),
              answered_false.load(), standin::warnings_given(), seconds, o.threads,
              o.output.c_str());
  return 0;
}
