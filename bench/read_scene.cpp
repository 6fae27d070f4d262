// Times the stand-in's scene reader on generated scenes of COUNT instances
// each (one declaration, COUNT shader lines, a camera): the best of three
// reads, so the growth with COUNT shows, not the machine's noise.
#include "standin/scene_reader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  for (int arg = 1; arg < argc; ++arg) {
    const int count = std::atoi(argv[arg]);
    std::string text = "declare shader \"K\" (boolean \"use_color\", color \"color\") end declare\n";
    for (int i = 0; i < count; ++i) {
      text += "shader \"instance" + std::to_string(i) +
              "\" \"K\" (\"use_color\" on, \"color\" 1 0.55 0.1 1)\n";
    }
    text += "camera \"c\" lens \"instance0\" end camera\n";
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
      standin::Scene scene;
      std::string error;
      const auto start = std::chrono::steady_clock::now();
      if (!standin::read_scene_text(text, "generated.mi", {}, scene, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
      }
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      if (took.count() < best) best = took.count();
    }
    std::printf("  %7d instances (%5.1f MB): %7.1f ms, %5.2f us per instance\n", count,
                text.size() / 1e6, best * 1e3, best * 1e6 / count);
  }
  return 0;
}
