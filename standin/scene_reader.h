// Reads the part of the renderer's scene language that a Klarvoss user
// writes: comments, `link`, `$include`, `declare shader`, `shader` and one
// `camera`. Anything else is an error naming the file, line and word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

enum class ParameterType { boolean, integer, scalar, vector, color };

struct Parameter {
  ParameterType type;
  std::string name;
  std::size_t offset;  // in the parameter block
};

struct ShaderDeclaration {
  std::string name;
  std::vector<Parameter> parameters;
  std::size_t block_size = 0;  // bytes, a multiple of 4
  int version = 0;             // 0 when the declaration states none
  bool for_lens = true;        // no apply list, or one that names lens
  std::string where;           // "FILE:LINE", for messages

  const Parameter* parameter(std::string_view name) const;
};

struct ShaderInstance {
  std::string name;
  const ShaderDeclaration* declaration = nullptr;  // points into Scene::declarations
  std::vector<std::uint32_t> block;  // block_size bytes, laid out as declared; omitted is zero
  std::string where;
};

struct Camera {
  std::string name;
  int width = 0, height = 0;  // 0 until `resolution` is given
  std::string lens;           // instance name; empty when none
  std::string output;         // PNG file name; empty when none
  std::string where;
};

struct Scene {
  std::string library;  // the linked library's path as found; empty when none
  std::string library_where;
  // A list whose elements never move, so instances can point at them.
  std::vector<std::unique_ptr<ShaderDeclaration>> declarations;
  std::vector<ShaderInstance> instances;
  std::optional<Camera> camera;
  std::string end_where;  // the top file's last line, for what it lacks

  const ShaderDeclaration* declaration(std::string_view name) const;
  const ShaderInstance* instance(std::string_view name) const;
};

struct SearchPaths {
  std::vector<std::string> include;  // for $include: -I, then MI_RAY_INCPATH
  std::vector<std::string> library;  // for link: MI_LIBRARY_PATH
};

// Splits a search list as the renderer's variables hold them: on ';', and on
// ':' too where ':' cannot be part of a drive name.
std::vector<std::string> split_search_list(const char* list);

// Reads the scene file at `path`, and everything it includes, into `scene`.
// False with `error` set to one line, "FILE:LINE: what is wrong".
bool read_scene(const std::string& path, const SearchPaths& paths, Scene& scene,
                std::string& error);

// The same for text already in memory, named `name` in messages; relative
// names are found from the current folder.
bool read_scene_text(std::string_view text, const std::string& name, const SearchPaths& paths,
                     Scene& scene, std::string& error);

// Numbers as the scene language writes them, whole text only.
bool parse_integer(std::string_view text, std::int32_t& out);
bool parse_scalar(std::string_view text, float& out);

// A colour as the command line gives it, "R,G,B" or "R,G,B,A"; alpha is 0
// when omitted, as in a scene.
bool parse_color_list(std::string_view text, float (&out)[4]);

}  // namespace standin
