// Shades COUNT eye rays with a library of the bench build, for callgrind:
// the difference between two counts is the cost per ray, setup excluded.
#include "bench/shader_under_test.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: shade_rays DIRECTORY LIBRARY COUNT\n");
    return 2;
  }
  ShaderUnderTest shader;
  shader.load(argv[1], argv[2]);
  miState state = shader.fresh_state();
  const long count = std::atol(argv[3]);
  miColor result{};
  long answered = 0;
  for (long ray = 0; ray < count; ++ray) answered += shader.shade(&result, &state, &shader.params);
  return answered == count ? 0 : 1;
}
