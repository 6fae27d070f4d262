// libFuzzer target for the stand-in renderer's scene reader: arbitrary bytes
// as a scene's text. Whatever the input, the reader returns (no abort, no
// crash, no hang), and a refusal, by the reader or by the judgement of
// the scene it read, is one printable line of bounded length, "FILE:LINE:
// what is wrong" (the file may be one the scene includes).
#include "standin/scene_reader.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  standin::Scene scene;
  std::string error;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (standin::read_scene_text(text, "fuzz.mi", {}, scene, error)) {
    for (const auto& instance : scene.instances) {
      if (instance.block.size() * 4 != instance.declaration->block_size) std::abort();
    }
    // What the renderer then judges of a scene read whole.
    const standin::ShaderInstance* lens = nullptr;
    if (standin::check_scene(scene, lens, error)) {
      if (lens == nullptr || !lens->declaration->for_lens) std::abort();
      return 0;
    }
  }
  bool located = false;  // ":LINE: " somewhere; file names may hold colons
  for (auto colon = error.find(':'); colon != std::string::npos; colon = error.find(':', colon + 1)) {
    const auto digits = error.find_first_not_of("0123456789", colon + 1);
    located = located || (digits > colon + 1 && error.compare(digits, 2, ": ") == 0);
  }
  if (!located || error.size() > 1000) std::abort();
  for (const char c : error) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) std::abort();  // one printable line
  }
  return 0;
}
