// Reads the part of the renderer's scene language that a Klarvoss user
// writes: comments, `link`, `$include`, `declare shader`, `shader` and one
// `camera`, and judges whether what it read can be rendered. Anything else
// is an error naming the file, line and word, as one printable line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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
  std::unordered_map<std::string, std::size_t> parameter_index;  // name -> parameters[]
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
  std::string lens_where;     // where `lens` names it
  std::string output;         // PNG file name; empty when none
  bool rgba = false;          // the output keeps alpha
  std::string where;
};

struct Scene {
  std::string library;  // the linked library's path as found; empty when none
  std::string library_where;
  // A list whose elements never move, so instances can point at them.
  std::vector<std::unique_ptr<ShaderDeclaration>> declarations;
  std::vector<ShaderInstance> instances;
  std::unordered_map<std::string, std::size_t> instance_index;  // name -> instances[]
  std::unordered_map<std::string, const ShaderDeclaration*> declaration_index;
  std::optional<Camera> camera;
  std::string end_where;  // the top file's last line, for what it lacks
  std::vector<std::string> files;  // every file read: the scene and what it includes

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

// Judges a scene read whole: it has a camera whose lens shader is defined
// and applies to lens, and a linked library. False with `error` set.
bool check_scene(const Scene& scene, const ShaderInstance*& lens, std::string& error);

// Judges the declaration read for a library alone: its first shader is
// the lens, and must apply to lens. False with `error` set.
bool check_declaration(const Scene& scene, const ShaderDeclaration*& lens, std::string& error);

// "AT: WHAT" as one printable line of bounded length, whatever the scene's
// names hold: every message about a scene goes through this.
std::string scene_message(std::string_view at, std::string_view what);

// A name from a scene as a message shows it: quoted, and cut when long.
std::string quote_name(std::string_view name);

// What lies at a path that is no regular file: "a folder", "a pipe", "a
// device"; null for a regular file or for nothing. Only a regular file is
// ever read or written; anything else is named for what it is.
const char* not_a_file(const std::string& path);

// Whether two paths name one file, however each is spelled; false when
// either does not exist.
bool same_file(const std::string& a, const std::string& b);

// Limits of one scene, for what a hostile one could otherwise cost.
inline constexpr int max_include_depth = 16;
inline constexpr int max_includes = 10000;           // $include lines read, in all
inline constexpr std::size_t max_file_size = 16u << 20;
inline constexpr std::size_t max_scene_bytes = 64u << 20;  // every file read, in all

// Numbers as the scene language writes them, whole text only, with at most
// one sign.
bool parse_integer(std::string_view text, std::int32_t& out);
bool parse_scalar(std::string_view text, float& out);

// A colour as the command line gives it, "R,G,B" or "R,G,B,A"; alpha is 0
// when omitted, as in a scene.
bool parse_color_list(std::string_view text, float (&out)[4]);

}  // namespace standin
