// klarvoss-render: the least a renderer does with a shader library and the
// scene text that uses it, so the library can be seen working without the
// renderer itself.
#include "standin/image_file.h"
#include "standin/ray_context.h"
#include "standin/scene.h"
#include "standin/scene_reader.h"
#include "standin/shader_library.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: klarvoss-render SCENE.mi [options]\n"
    "       klarvoss-render LIBRARY [options]\n"
    "  SCENE.mi             a scene: link, $include, declare shader, shader and one camera,\n"
    "                       whose lens shader is rendered\n"
    "  LIBRARY              a shader library alone: its declaration's shader as the lens\n"
    "  -I FOLDER            look for $include files here too, before MI_RAY_INCPATH\n"
    "  --mi FILE            with LIBRARY: the declaration (default: Klarvoss.mi beside LIBRARY)\n"
    "  --out FILE           the PNG to write (default: the camera's output, else klarvoss.png)\n"
    "  --size WxH           image size, 1 to 8192 each (default: the camera's resolution, else 320x240)\n"
    "  --threads N          rendering threads, 1 to 256 (default: one per core)\n"
    "  --instances N        lens shader instances, each shading a vertical stripe, 1 to 64 (default: 1)\n"
    "  --use-color on|off   set the lens shader's boolean use_color\n"
    "  --color R,G,B[,A]    set the lens shader's color, given in place (alpha 0 when omitted)\n"
    "  --color ramp         the lens shader's color computed by the renderer: a ramp across the image\n";

struct Options {
  std::string target, declaration, output;
  bool scene_file = false;  // target is SCENE.mi, not LIBRARY
  std::vector<std::string> include;
  int width = 0, height = 0, threads = 0, instances = 1;
  std::optional<bool> use_color;
  std::optional<std::array<float, 4>> color;
  bool ramp = false;
};

// One line on standard error, however the message's names came to be.
bool fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", standin::scene_message("klarvoss-render", message).c_str());
  return false;
}

// A usage fault: the line, then how the program is used.
bool usage_fault(const std::string& message) {
  fail(message);
  std::fputs(usage, stderr);
  return false;
}

bool parse_int(std::string_view text, int low, int high, int& out) {
  std::int32_t value = 0;
  if (!standin::parse_integer(text, value) || value < low || value > high) return false;
  out = value;
  return true;
}

bool ends_with(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool parse_options(int argc, char** argv, Options& o) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(usage, stdout);
      std::exit(0);
    }
    if (arg.empty() || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    static constexpr std::string_view known[] = {"-I", "--mi", "--out", "--size", "--threads",
                                                  "--instances", "--use-color", "--color"};
    if (std::find(std::begin(known), std::end(known), arg) == std::end(known)) {
      return usage_fault("unknown option " + arg);
    }
    if (i + 1 >= argc) return usage_fault(arg + " needs a value");
    const std::string value = argv[++i];
    bool ok = true;
    if (arg == "-I") {
      o.include.push_back(value);
    } else if (arg == "--mi") {
      o.declaration = value;
    } else if (arg == "--out") {
      o.output = value;
      ok = !value.empty();
    } else if (arg == "--size") {
      const auto x = value.find('x');
      ok = x != std::string::npos && parse_int(std::string_view(value).substr(0, x), 1, 8192, o.width) &&
           parse_int(std::string_view(value).substr(x + 1), 1, 8192, o.height);
    } else if (arg == "--threads") {
      ok = parse_int(value, 1, 256, o.threads);
    } else if (arg == "--instances") {
      ok = parse_int(value, 1, 64, o.instances);
    } else if (arg == "--use-color") {
      ok = value == "on" || value == "off";
      o.use_color = value == "on";
    } else if (arg == "--color") {
      o.ramp = value == "ramp";
      float c[4];
      if (!o.ramp && (ok = standin::parse_color_list(value, c))) o.color = {c[0], c[1], c[2], c[3]};
    }
    if (!ok) return fail("bad value '" + value + "' for " + arg);
  }
  if (positional.size() != 1) return usage_fault("give exactly one scene or shader library");
  o.target = positional[0];
  o.scene_file = ends_with(o.target, ".mi");
  if (!o.declaration.empty() && o.scene_file) return fail("--mi goes with a LIBRARY, not a scene");
  if (o.threads == 0) o.threads = std::max(1u, std::thread::hardware_concurrency());
  return true;
}

// A scene's fault, already one line, "FILE:LINE: what is wrong".
bool scene_fault(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  return false;
}

// The scene to render: read from SCENE.mi, or made of LIBRARY, its
// declaration and one instance of the declared shader. False after saying why.
bool make_scene(const Options& o, standin::Scene& scene, const standin::ShaderInstance*& lens) {
  standin::SearchPaths paths{o.include, standin::split_search_list(std::getenv("MI_LIBRARY_PATH"))};
  for (auto& folder : standin::split_search_list(std::getenv("MI_RAY_INCPATH"))) {
    paths.include.push_back(folder);
  }
  std::string error;
  if (o.scene_file) {
    if (!standin::read_scene(o.target, paths, scene, error)) return scene_fault(error);
    if (!standin::check_scene(scene, lens, error)) return scene_fault(error);
    return true;
  }
  std::string declaration = o.declaration;
  if (declaration.empty()) {
    const auto slash = o.target.find_last_of("/\\");
    declaration = (slash == std::string::npos ? "" : o.target.substr(0, slash + 1)) + "Klarvoss.mi";
  }
  if (!standin::read_scene(declaration, paths, scene, error)) return scene_fault(error);
  const standin::ShaderDeclaration* declared = nullptr;
  if (!standin::check_declaration(scene, declared, error)) return scene_fault(error);
  standin::ShaderInstance made;
  made.name = "lens";
  made.declaration = declared;
  made.block.assign(made.declaration->block_size / 4, 0);
  made.where = made.declaration->where;
  // A library alone has no scene to give its colour: it gets this one.
  const standin::Parameter* color = made.declaration->parameter("color");
  if (color != nullptr && color->type == standin::ParameterType::color) {
    const float orange[4] = {1.0f, 0.55f, 0.1f, 0.0f};
    std::memcpy(reinterpret_cast<unsigned char*>(made.block.data()) + color->offset, orange, sizeof orange);
  }
  scene.instances.push_back(made);
  lens = &scene.instances.back();
  scene.library = o.target;
  scene.library_where = o.target;
  return true;
}

// Why `output` must not be written, or empty: never over a file the scene
// was read from or the library being rendered with, and never anything but
// a regular file.
std::string output_refusal(const std::string& output, const standin::Scene& scene) {
  if (standin::same_file(output, scene.library)) return "it is the shader library " + standin::quote_name(scene.library);
  for (const std::string& read : scene.files) {
    if (standin::same_file(output, read)) return "it is " + standin::quote_name(read) + ", which the scene reads";
  }
  if (const char* what = standin::not_a_file(output)) return std::string("it is ") + what + ", not a file";
  return {};
}

// Writes a command-line value over the lens instance's parameter of that name.
bool override_parameter(standin::ShaderInstance& lens, const char* name, standin::ParameterType type,
                        const void* value, std::size_t size) {
  const standin::Parameter* parameter = lens.declaration->parameter(name);
  if (parameter == nullptr || parameter->type != type) {
    return fail("shader \"" + lens.declaration->name + "\" has no " +
                (type == standin::ParameterType::boolean ? "boolean" : "color") + " parameter \"" +
                name + "\" to set");
  }
  std::memcpy(reinterpret_cast<unsigned char*>(lens.block.data()) + parameter->offset, value, size);
  return true;
}

unsigned char to_byte(float c) {
  if (!(c > 0)) return 0;  // NaN too
  return c >= 1 ? 255 : static_cast<unsigned char>(c * 255.0f + 0.5f);
}

}  // namespace

int main(int argc, char** argv) {
#if defined(SIGXFSZ)
  // Past a file-size limit a write fails instead of ending the program, so
  // the failure is reported and the partial file taken away.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  Options o;
  if (!parse_options(argc, argv, o)) return 2;

  standin::Scene scene;
  const standin::ShaderInstance* found = nullptr;
  if (!make_scene(o, scene, found)) return 2;
  standin::ShaderInstance lens = *found;
  const standin::ShaderDeclaration& declaration = *lens.declaration;
  if (o.use_color) {
    const miBoolean use = *o.use_color ? miTRUE : miFALSE;
    if (!override_parameter(lens, "use_color", standin::ParameterType::boolean, &use, sizeof use)) return 2;
  }
  if (o.color && !override_parameter(lens, "color", standin::ParameterType::color, o.color->data(),
                                     sizeof *o.color)) {
    return 2;
  }
  const standin::Parameter* ramp = nullptr;
  if (o.ramp) {
    ramp = declaration.parameter("color");
    if (ramp == nullptr || ramp->type != standin::ParameterType::color) {
      fail("shader \"" + declaration.name + "\" has no color parameter to compute");
      return 2;
    }
  }
  const int width = o.width ? o.width : scene.camera && scene.camera->width ? scene.camera->width : 320;
  const int height = o.height ? o.height : scene.camera && scene.camera->height ? scene.camera->height : 240;
  const std::string output = !o.output.empty() ? o.output
                             : scene.camera && !scene.camera->output.empty() ? scene.camera->output
                                                                              : "klarvoss.png";

  std::string error;
  standin::ShaderLibrary library;
  if (!standin::load_shader_library(scene.library, declaration.name, library, error)) {
    scene_fault(standin::scene_message(scene.library_where, error));
    return 2;
  }
  const int library_version = library.version();
  if (library_version != declaration.version) {
    fail(scene.library + " reports version " + std::to_string(library_version) + " but " +
         declaration.where + " declares version " + std::to_string(declaration.version) +
         "; refusing to use it");
    return 1;
  }
  // A Windows library's version resource must say the same version.
  const std::string file_version = standin::file_version(scene.library);
  if (!file_version.empty() && file_version != std::to_string(declaration.version) + ".0.0.0") {
    fail(scene.library + " carries file version " + file_version + " but " + declaration.where +
         " declares version " + std::to_string(declaration.version) + "; refusing to use it");
    return 1;
  }
  if (const std::string refusal = output_refusal(output, scene); !refusal.empty()) {
    fail("will not write " + standin::quote_name(output) + ": " + refusal);
    return 2;
  }
  standin::ImageFile image;
  if (!image.open(output, error)) {
    fail("cannot write " + standin::quote_name(output) + ": " + error);
    return 1;
  }
  library.set_module_handle(standin::renderer_module());

  std::vector<standin::Instance> instances(o.instances);
  for (auto& instance : instances) {
    instance.set_block(lens.block);
    if (ramp != nullptr) instance.compute(ramp->offset);
  }

  // Once for the shader as a whole; then once per instance if it asks.
  standin::RayContext setup;
  miBoolean per_instance = miFALSE;
  library.init(&setup.state, nullptr, &per_instance);
  if (per_instance) {
    for (auto& instance : instances) {
      setup.instance = &instance;
      setup.state.shader = &instance.function;
      library.init(&setup.state, instance.params(), nullptr);
    }
  }

  const int channels = scene.camera && scene.camera->rgba ? 4 : 3;
  std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * channels);
  std::atomic<int> next_row{0};
  std::atomic<long> answered_true{0}, answered_false{0};
  const auto start = std::chrono::steady_clock::now();
  const auto shade_rows = [&] {
    long yes = 0, no = 0;
    for (int y; (y = next_row.fetch_add(1)) < height;) {
      for (int x = 0; x < width; ++x) {
        standin::RayContext ray;
        ray.instance = &instances[static_cast<std::size_t>(x) * instances.size() / width];
        ray.state.shader = &ray.instance->function;
        ray.u = (x + 0.5f) / width;
        ray.v = (y + 0.5f) / height;
        ray.state.org = {0, 0, 0};
        ray.state.dir = {ray.u - 0.5f, 0.5f - ray.v, -1};
        miColor result{};
        (library.shade(&result, &ray.state, ray.instance->params()) ? yes : no)++;
        unsigned char* p = &pixels[(static_cast<std::size_t>(y) * width + x) * channels];
        p[0] = to_byte(result.r);
        p[1] = to_byte(result.g);
        p[2] = to_byte(result.b);
        if (channels == 4) p[3] = to_byte(result.a);
      }
    }
    answered_true += yes;
    answered_false += no;
  };
  // One thread shades on the calling thread, starting none.
  if (o.threads == 1) {
    shade_rows();
  } else {
    std::vector<std::thread> workers;
    for (int t = 0; t < o.threads; ++t) workers.emplace_back(shade_rows);
    for (auto& worker : workers) worker.join();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  if (!image.write_png(width, height, channels, pixels.data(), error)) {
    fail("cannot write " + standin::quote_name(output) + ": " + error);
    return 1;
  }
  const std::string named =
      file_version.empty() ? scene.library : scene.library + " (file version " + file_version + ")";
  std::printf("%s: %ld rays, %ld true, %ld false, %ld warnings, %.3f s, %d threads -> %s\n",
              named.c_str(), answered_true + answered_false, answered_true.load(),
              answered_false.load(), standin::warnings_given(), seconds, o.threads,
              output.c_str());
  return 0;
}
