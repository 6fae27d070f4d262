#include "standin/scene_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace standin {

namespace {

struct Token {
  enum Kind { end, name, string, number, punct, directive } kind = end;
  std::string text;
  int line = 0;
};

bool is_name_start(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool is_name_char(char c) { return is_name_start(c) || (c >= '0' && c <= '9'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_absolute(const std::string& path) {
#if defined(_WIN32)
  if (path.size() >= 2 && path[1] == ':') return true;
  if (!path.empty() && path[0] == '\\') return true;
#endif
  return !path.empty() && path[0] == '/';
}

std::string folder_of(const std::string& file) {
  const auto slash = file.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

std::string in_folder(std::string folder, const std::string& name) {
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
  return folder + name;
}

}  // namespace

const char* not_a_file(const std::string& path) {
  std::error_code unused;
  switch (std::filesystem::status(path, unused).type()) {
    case std::filesystem::file_type::not_found:
    case std::filesystem::file_type::none:
    case std::filesystem::file_type::regular: return nullptr;
    case std::filesystem::file_type::directory: return "a folder";
    case std::filesystem::file_type::fifo: return "a pipe";
    case std::filesystem::file_type::character:
    case std::filesystem::file_type::block: return "a device";
    default: return "a special file";
  }
}

namespace {

bool exists(const std::string& path) {
  std::error_code unused;
  return std::filesystem::exists(path, unused);
}

// Where `name` is found: as given when absolute, else beside the naming
// file, else in the first of `folders` that holds it. Empty when nowhere.
// The first thing found counts, even when it is no file to read.
std::string find_file(const std::string& name, const std::string& beside,
                      const std::vector<std::string>& folders) {
  if (is_absolute(name)) return exists(name) ? name : std::string();
  if (const std::string here = in_folder(folder_of(beside), name); exists(here)) return here;
  for (const std::string& folder : folders) {
    if (const std::string there = in_folder(folder, name); exists(there)) return there;
  }
  return {};
}

const char* type_name(ParameterType type) {
  switch (type) {
    case ParameterType::boolean: return "boolean";
    case ParameterType::integer: return "integer";
    case ParameterType::scalar: return "scalar";
    case ParameterType::vector: return "vector";
    case ParameterType::color: return "color";
  }
  return "?";
}

bool parameter_type(const std::string& word, ParameterType& out) {
  for (auto type : {ParameterType::boolean, ParameterType::integer, ParameterType::scalar,
                    ParameterType::vector, ParameterType::color}) {
    if (word == type_name(type)) {
      out = type;
      return true;
    }
  }
  return false;
}

std::size_t size_of(ParameterType type) {
  switch (type) {
    case ParameterType::vector: return 12;
    case ParameterType::color: return 16;
    default: return 4;
  }
}

// Shader types an apply list may name.
bool is_apply_kind(const std::string& word) {
  for (const char* kind : {"lens", "material", "light", "shadow", "volume", "environment",
                           "texture", "displace", "photon", "geometry", "output", "emitter"}) {
    if (word == kind) return true;
  }
  return false;
}

// One file's text, as tokens.
class Lexer {
 public:
  Lexer(std::string_view text, std::string& problem) : text_(text), problem_(problem) {}

  int line() const { return line_; }

  // False with `problem_` set on text that is no token.
  bool next(Token& token) {
    skip_space();
    token = Token{};
    token.line = line_;
    if (at_ >= text_.size()) return true;
    const char c = text_[at_];
    if (c == '$') return directive(token);
    if (c == '"') return quoted_string(token);
    if (is_digit(c) || ((c == '+' || c == '-' || c == '.') && starts_number(at_))) {
      return number(token);
    }
    if (is_name_start(c)) {
      const std::size_t from = at_;
      while (at_ < text_.size() && is_name_char(text_[at_])) ++at_;
      token.kind = Token::name;
      token.text = text_.substr(from, at_ - from);
      return true;
    }
    if (c == '(' || c == ')' || c == ',' || c == '=') {
      token.kind = Token::punct;
      token.text = std::string(1, c);
      ++at_;
      return true;
    }
    char shown[16];
    if (c >= 0x21 && c <= 0x7e) {
      std::snprintf(shown, sizeof shown, "'%c'", c);
    } else {
      std::snprintf(shown, sizeof shown, "byte 0x%02x", static_cast<unsigned char>(c));
    }
    return fail(std::string("unexpected ") + shown);
  }

 private:
  bool fail(const std::string& what) {
    problem_ = what;
    return false;
  }

  void skip_space() {
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '\n') {
        ++line_;
        line_start_ = ++at_;
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++at_;
      } else if (c == '#') {
        while (at_ < text_.size() && text_[at_] != '\n') ++at_;
      } else {
        return;
      }
    }
  }

  bool starts_number(std::size_t at) const {
    if (text_[at] == '+' || text_[at] == '-') ++at;
    if (at < text_.size() && text_[at] == '.') ++at;
    return at < text_.size() && is_digit(text_[at]);
  }

  // [+-] digits [. digits] [(e|E) [+-] digits], or the same starting at the point.
  bool number(Token& token) {
    const std::size_t from = at_;
    if (text_[at_] == '+' || text_[at_] == '-') ++at_;
    while (at_ < text_.size() && is_digit(text_[at_])) ++at_;
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      while (at_ < text_.size() && is_digit(text_[at_])) ++at_;
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      std::size_t exponent = at_ + 1;
      if (exponent < text_.size() && (text_[exponent] == '+' || text_[exponent] == '-')) ++exponent;
      if (exponent < text_.size() && is_digit(text_[exponent])) {
        at_ = exponent;
        while (at_ < text_.size() && is_digit(text_[at_])) ++at_;
      }
    }
    if (at_ < text_.size() && (is_name_char(text_[at_]) || text_[at_] == '.')) {
      std::size_t to = at_;
      while (to < text_.size() && to - from < 40 && (is_name_char(text_[to]) || text_[to] == '.')) ++to;
      return fail("bad number '" + std::string(text_.substr(from, to - from)) + "'");
    }
    token.kind = Token::number;
    token.text = text_.substr(from, at_ - from);
    return true;
  }

  bool quoted_string(Token& token) {
    ++at_;
    token.kind = Token::string;
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (c == '\n') return fail("string not closed on its line");
      // A file name would be cut short there when opened.
      if (c == '\0') return fail("NUL byte in a string");
      if (c == '\\') {
        if (at_ >= text_.size()) break;
        switch (text_[at_++]) {
          case '"': c = '"'; break;
          case '\\': c = '\\'; break;
          case 'n': c = '\n'; break;
          case 't': c = '\t'; break;
          default: return fail(std::string("unknown escape '\\") + text_[at_ - 1] + "' in a string");
        }
      }
      token.text += c;
    }
    if (at_ >= text_.size()) return fail("string not closed before the end of the file");
    ++at_;
    return true;
  }

  // `$word`, which the renderer reads only in the first column.
  bool directive(Token& token) {
    const bool first_column = at_ == line_start_;
    const std::size_t from = ++at_;
    while (at_ < text_.size() && at_ - from < 40 && is_name_char(text_[at_])) ++at_;
    token.kind = Token::directive;
    token.text = text_.substr(from, at_ - from);
    if (!first_column) return fail("'$" + token.text + "' must start in the first column");
    return true;
  }

  std::string_view text_;
  std::string& problem_;
  std::size_t at_ = 0;
  std::size_t line_start_ = 0;
  int line_ = 1;
};

std::string shown(const Token& token) {
  switch (token.kind) {
    case Token::end: return "the end of the file";
    case Token::string: return quote_name(token.text);
    case Token::directive: return "'$" + token.text + "'";
    default: return "'" + token.text.substr(0, 60) + "'";
  }
}

// One name per file, however it is spelled or linked to, so a cycle or a
// second link of one library is seen for what it is.
std::string identity_of(const std::string& path) {
  std::error_code error;
  const auto absolute = std::filesystem::absolute(path, error);
  auto canonical = std::filesystem::weakly_canonical(absolute, error);
  if (error) canonical = absolute.lexically_normal();
  return canonical.generic_string();
}

// The number of the text's last line: the one a final line feed ends.
int last_line(std::string_view text, int lines_started) {
  return lines_started > 1 && !text.empty() && text.back() == '\n' ? lines_started - 1 : lines_started;
}

class Reader {
 public:
  Reader(const SearchPaths& paths, Scene& scene, std::string& error)
      : paths_(paths), scene_(scene), error_(error) {}

  // The file being read, which nothing it includes may include again.
  void reading(const std::string& path) { including_.push_back(identity_of(path)); }

  bool read_file(const std::string& path, const std::string& named_at, int depth) {
    if (const char* what = not_a_file(path)) return report(named_at, quote_name(path) + " is " + what + ", not a file");
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return report(named_at, "cannot read " + quote_name(path));
    scene_.files.push_back(path);
    std::string text;
    char chunk[65536];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
      if (text.size() + got > max_file_size) {
        std::fclose(file);
        return report(path + ":1", "larger than 16 MiB");
      }
      if (bytes_read_ + text.size() + got > max_scene_bytes) {
        std::fclose(file);
        return report(named_at, "the scene reads more than 64 MiB in all");
      }
      text.append(chunk, got);
    }
    std::fclose(file);
    bytes_read_ += text.size();
    return read_text(text, path, depth);
  }

  bool read_text(std::string_view text, const std::string& file, int depth) {
    File here{file, Lexer(text, problem_), std::nullopt};
    if (text.substr(0, 3) == "\xef\xbb\xbf") {
      return report(file + ":1", "unexpected UTF-8 byte order mark (save the file without one)");
    }
    while (true) {
      Token token;
      if (!next(here, token)) return false;
      if (token.kind == Token::end) {
        if (depth == 0) scene_.end_where = where(here, last_line(text, here.lexer.line()));
        return true;
      }
      bool ok = false;
      if (token.kind == Token::directive && token.text == "include") {
        ok = include(here, token, depth);
      } else if (token.kind == Token::directive) {
        ok = fail(here, token, "unknown directive " + shown(token));
      } else if (token.kind != Token::name) {
        ok = fail(here, token, "unexpected " + shown(token) + " where a statement should start");
      } else if (token.text == "link") {
        ok = link(here, token);
      } else if (token.text == "declare") {
        ok = declaration(here, token);
      } else if (token.text == "shader") {
        ok = instance(here, token);
      } else if (token.text == "camera") {
        ok = camera(here, token);
      } else {
        ok = fail(here, token, "unknown statement " + shown(token));
      }
      if (!ok) return false;
    }
  }

 private:
  struct File {
    std::string name;
    Lexer lexer;
    std::optional<Token> pushed;  // one token read ahead and given back
  };

  static std::string where(const File& file, int line) {
    return file.name + ":" + std::to_string(line);
  }

  bool report(const std::string& at, const std::string& what) {
    error_ = scene_message(at, what);
    return false;
  }
  bool fail(const File& file, const Token& token, const std::string& what) {
    return report(where(file, token.line), what);
  }

  bool next(File& file, Token& token) {
    if (file.pushed) {
      token = std::move(*file.pushed);
      file.pushed.reset();
      return true;
    }
    if (file.lexer.next(token)) return true;
    return report(where(file, file.lexer.line()), problem_);
  }

  bool expect(File& file, Token& token, Token::Kind kind, const char* what) {
    if (!next(file, token)) return false;
    if (token.kind == kind) return true;
    return fail(file, token, std::string("expected ") + what + ", not " + shown(token));
  }

  bool expect_word(File& file, const char* word) {
    Token token;
    if (!next(file, token)) return false;
    if (token.kind == Token::name && token.text == word) return true;
    return fail(file, token, std::string("expected '") + word + "', not " + shown(token));
  }

  bool expect_punct(File& file, const char* mark) {
    Token token;
    if (!next(file, token)) return false;
    if (token.kind == Token::punct && token.text == mark) return true;
    return fail(file, token, std::string("expected '") + mark + "', not " + shown(token));
  }

  bool include(File& file, const Token& directive, int depth) {
    Token name;
    if (!expect(file, name, Token::string, "a quoted file name after '$include'")) return false;
    if (name.line != directive.line) return fail(file, name, "'$include' needs its file name on its line");
    if (depth + 1 > max_include_depth) {
      return fail(file, name, "includes nested deeper than " + std::to_string(max_include_depth));
    }
    if (++includes_ > max_includes) {
      return fail(file, name, "more than " + std::to_string(max_includes) + " $include lines in all");
    }
    const std::string found = find_file(name.text, file.name, paths_.include);
    if (found.empty()) {
      return fail(file, name, "cannot find " + quote_name(name.text) + " beside " + file.name +
                                  " or in the include path");
    }
    const std::string identity = identity_of(found);
    for (const std::string& open : including_) {
      if (open == identity) return fail(file, name, quote_name(name.text) + " includes itself");
    }
    including_.push_back(identity);
    const bool ok = read_file(found, where(file, name.line), depth + 1);
    including_.pop_back();
    return ok;
  }

  bool link(File& file, const Token& statement) {
    Token name;
    if (!expect(file, name, Token::string, "a quoted library name after 'link'")) return false;
    const std::string found = find_file(name.text, file.name, paths_.library);
    if (found.empty()) {
      return fail(file, name, "cannot find library " + quote_name(name.text) + " beside " + file.name +
                                  " or in MI_LIBRARY_PATH");
    }
    if (const char* what = not_a_file(found)) {
      return fail(file, name, "library " + quote_name(found) + " is " + what + ", not a file");
    }
    if (!scene_.library.empty() && !same_file(scene_.library, found)) {
      return fail(file, statement, "a second library is linked; this renderer loads one (" +
                                       scene_.library + ", linked at " + scene_.library_where + ")");
    }
    scene_.library = found;
    scene_.library_where = where(file, statement.line);
    return true;
  }

  bool declaration(File& file, const Token& statement) {
    if (!expect_word(file, "shader")) return false;
    auto declared = std::make_unique<ShaderDeclaration>();
    declared->where = where(file, statement.line);
    Token token;
    if (!next(file, token)) return false;
    ParameterType result;
    if (token.kind == Token::name) {
      if (!parameter_type(token.text, result)) {
        return fail(file, token, "unknown shader result type " + shown(token));
      }
      if (!next(file, token)) return false;
    }
    if (token.kind != Token::string) {
      return fail(file, token, "expected the shader's quoted name, not " + shown(token));
    }
    declared->name = token.text;
    if (scene_.declaration(declared->name) != nullptr) {
      return fail(file, token, "shader " + quote_name(token.text) + " is declared twice");
    }
    if (!expect_punct(file, "(") || !parameters(file, *declared)) return false;

    bool versioned = false, applied = false;
    while (true) {
      if (!next(file, token)) return false;
      if (token.kind == Token::name && token.text == "version" && !versioned) {
        if (!expect(file, token, Token::number, "a version number")) return false;
        std::int32_t version = 0;
        if (!parse_integer(token.text, version) || version < 0) {
          return fail(file, token, "bad version " + shown(token));
        }
        declared->version = version;
        versioned = true;
      } else if (token.kind == Token::name && token.text == "apply" && !applied) {
        if (!apply_list(file, *declared)) return false;
        applied = true;
      } else if (token.kind == Token::name && token.text == "end") {
        if (!expect_word(file, "declare")) return false;
        break;
      } else {
        return fail(file, token,
                    "expected 'version', 'apply' or 'end declare', not " + shown(token));
      }
    }
    scene_.declaration_index.emplace(declared->name, declared.get());
    scene_.declarations.push_back(std::move(declared));
    return true;
  }

  bool parameters(File& file, ShaderDeclaration& declared) {
    Token token;
    if (!next(file, token)) return false;
    if (token.kind == Token::punct && token.text == ")") return true;
    while (true) {
      ParameterType type;
      if (token.kind != Token::name || !parameter_type(token.text, type)) {
        return fail(file, token, "expected a parameter type (boolean, integer, scalar, vector "
                                 "or color), not " + shown(token));
      }
      Token name;
      if (!expect(file, name, Token::string, "the parameter's quoted name")) return false;
      if (!declared.parameter_index.emplace(name.text, declared.parameters.size()).second) {
        return fail(file, name, "parameter " + quote_name(name.text) + " is declared twice");
      }
      declared.parameters.push_back({type, name.text, declared.block_size});
      declared.block_size += size_of(type);
      if (!next(file, token)) return false;
      if (token.kind == Token::punct && token.text == ")") return true;
      if (token.kind != Token::punct || token.text != ",") {
        return fail(file, token, "expected ',' or ')' after a parameter, not " + shown(token));
      }
      if (!next(file, token)) return false;
    }
  }

  bool apply_list(File& file, ShaderDeclaration& declared) {
    declared.for_lens = false;
    while (true) {
      Token kind, after;
      if (!expect(file, kind, Token::name, "a shader type after 'apply'")) return false;
      if (!is_apply_kind(kind.text)) return fail(file, kind, "unknown shader type " + shown(kind));
      if (kind.text == "lens") declared.for_lens = true;
      if (!next(file, after)) return false;
      if (after.kind != Token::punct || after.text != ",") {
        file.pushed = std::move(after);
        return true;
      }
    }
  }

  bool value(File& file, const Parameter& parameter, ShaderInstance& made) {
    Token token;
    if (!next(file, token)) return false;
    auto* bytes = reinterpret_cast<unsigned char*>(made.block.data()) + parameter.offset;
    const auto store = [&](std::size_t at, const void* word) { std::memcpy(bytes + at, word, 4); };
    if (parameter.type == ParameterType::boolean) {
      std::int32_t truth = -1;
      if (token.kind == Token::name) {
        if (token.text == "on" || token.text == "true") truth = 1;
        if (token.text == "off" || token.text == "false") truth = 0;
      }
      if (truth < 0) return fail(file, token, "expected on, off, true or false, not " + shown(token));
      store(0, &truth);
      return true;
    }
    if (parameter.type == ParameterType::integer) {
      std::int32_t whole = 0;
      if (token.kind != Token::number || !parse_integer(token.text, whole)) {
        return fail(file, token, "expected a 32-bit integer, not " + shown(token));
      }
      store(0, &whole);
      return true;
    }
    const std::size_t wanted = parameter.type == ParameterType::scalar ? 1 : 3;
    float components[4] = {0, 0, 0, 0};  // a colour's alpha is 0 when omitted
    for (std::size_t i = 0; i < wanted; ++i) {
      if (i > 0 && !next(file, token)) return false;
      if (token.kind != Token::number || !parse_scalar(token.text, components[i])) {
        return fail(file, token, std::string("expected a number for ") + type_name(parameter.type) +
                                     " " + quote_name(parameter.name) + ", not " + shown(token));
      }
    }
    std::size_t count = wanted;
    if (parameter.type == ParameterType::color) {
      Token alpha;
      if (!next(file, alpha)) return false;
      if (alpha.kind != Token::number) {
        file.pushed = std::move(alpha);
      } else if (!parse_scalar(alpha.text, components[3])) {
        return fail(file, alpha, "bad alpha " + shown(alpha));
      }
      count = 4;
    }
    for (std::size_t i = 0; i < count; ++i) store(4 * i, &components[i]);
    return true;
  }

  bool instance(File& file, const Token& statement) {
    Token name, declared;
    if (!expect(file, name, Token::string, "the instance's quoted name after 'shader'")) return false;
    if (!expect(file, declared, Token::string, "the quoted name of a declared shader")) return false;
    if (scene_.instance(name.text) != nullptr) {
      return fail(file, name, "shader " + quote_name(name.text) + " is defined twice");
    }
    ShaderInstance made;
    made.name = name.text;
    made.where = where(file, statement.line);
    made.declaration = scene_.declaration(declared.text);
    if (made.declaration == nullptr) {
      return fail(file, declared, "shader " + quote_name(declared.text) + " is not declared");
    }
    made.block.assign(made.declaration->block_size / 4, 0);
    if (!expect_punct(file, "(")) return false;
    Token token;
    std::vector<bool> given(made.declaration->parameters.size());
    if (!next(file, token)) return false;
    if (!(token.kind == Token::punct && token.text == ")")) {
      while (true) {
        if (token.kind != Token::string) {
          return fail(file, token, "expected a quoted parameter name, not " + shown(token));
        }
        const Parameter* parameter = made.declaration->parameter(token.text);
        if (parameter == nullptr) {
          return fail(file, token, "shader " + quote_name(declared.text) + " has no parameter " +
                                       quote_name(token.text));
        }
        const auto index = static_cast<std::size_t>(parameter - made.declaration->parameters.data());
        if (given[index]) return fail(file, token, "parameter " + quote_name(token.text) + " is given twice");
        given[index] = true;
        if (!value(file, *parameter, made)) return false;
        if (!next(file, token)) return false;
        if (token.kind == Token::punct && token.text == ")") break;
        if (token.kind != Token::punct || token.text != ",") {
          return fail(file, token, "expected ',' or ')' after a value, not " + shown(token));
        }
        if (!next(file, token)) return false;
      }
    }
    scene_.instance_index.emplace(made.name, scene_.instances.size());
    scene_.instances.push_back(std::move(made));
    return true;
  }

  bool camera(File& file, const Token& statement) {
    if (scene_.camera) {
      return fail(file, statement, "a second camera; this renderer renders one (the first is at " +
                                       scene_.camera->where + ")");
    }
    Camera made;
    made.where = where(file, statement.line);
    Token token;
    if (!expect(file, token, Token::string, "the camera's quoted name")) return false;
    made.name = token.text;
    while (true) {
      if (!next(file, token)) return false;
      if (token.kind != Token::name) {
        return fail(file, token, "expected a camera statement, not " + shown(token));
      }
      if (token.text == "end") {
        if (!expect_word(file, "camera")) return false;
        break;
      }
      if (token.text == "resolution") {
        Token width, height;
        if (!expect(file, width, Token::number, "the width") ||
            !expect(file, height, Token::number, "the height")) {
          return false;
        }
        if (!parse_integer(width.text, made.width) || made.width < 1 || made.width > 8192 ||
            !parse_integer(height.text, made.height) || made.height < 1 || made.height > 8192) {
          return fail(file, token, "resolution must be two whole numbers from 1 to 8192");
        }
      } else if (token.text == "lens") {
        const Token statement = token;
        if (!next(file, token)) return false;
        if (token.kind == Token::punct && token.text == "=" && !next(file, token)) return false;
        if (token.kind != Token::string) {
          return fail(file, token, "expected the lens shader's quoted name, not " + shown(token));
        }
        // The renderer chains several; this one renders one, and a second
        // must not quietly take the first one's place.
        if (!made.lens_where.empty()) {
          return fail(file, statement, "a second lens shader; this renderer renders one (the first is at " +
                                           made.lens_where + ")");
        }
        made.lens = token.text;
        made.lens_where = where(file, statement.line);
      } else if (token.text == "output") {
        if (!output(file, made)) return false;
      } else if (token.text == "aperture" || token.text == "aspect" || token.text == "focal") {
        Token number;
        float unused = 0;
        if (!expect(file, number, Token::number, "a number")) return false;
        if (!parse_scalar(number.text, unused)) return fail(file, number, "bad number " + shown(number));
      } else {
        return fail(file, token, "unknown camera statement " + shown(token));
      }
    }
    scene_.camera = std::move(made);
    return true;
  }

  // output ["rgb"|"rgba"] "png" "FILE"
  bool output(File& file, Camera& made) {
    Token words[3];
    int count = 0;
    for (; count < 3; ++count) {
      if (!next(file, words[count])) return false;
      if (words[count].kind != Token::string) break;
    }
    if (count < 3) file.pushed = words[count];
    const bool typed = count == 3;
    if (count < 2 || (typed && words[0].text != "rgb" && words[0].text != "rgba") ||
        words[typed ? 1 : 0].text != "png") {
      return fail(file, words[0], "output must be [\"rgb\"|\"rgba\"] \"png\" \"FILE\"");
    }
    made.output = words[typed ? 2 : 1].text;
    made.rgba = typed && words[0].text == "rgba";
    if (made.output.empty()) return fail(file, words[typed ? 2 : 1], "output names no file");
    return true;
  }

  const SearchPaths& paths_;
  Scene& scene_;
  std::string& error_;
  std::string problem_;
  std::vector<std::string> including_;
  int includes_ = 0;
  std::size_t bytes_read_ = 0;
};

}  // namespace

const Parameter* ShaderDeclaration::parameter(std::string_view wanted) const {
  const auto found = parameter_index.find(std::string(wanted));
  return found == parameter_index.end() ? nullptr : &parameters[found->second];
}

const ShaderDeclaration* Scene::declaration(std::string_view name) const {
  const auto found = declaration_index.find(std::string(name));
  return found == declaration_index.end() ? nullptr : found->second;
}

const ShaderInstance* Scene::instance(std::string_view name) const {
  const auto found = instance_index.find(std::string(name));
  return found == instance_index.end() ? nullptr : &instances[found->second];
}

std::string scene_message(std::string_view at, std::string_view what) {
  // Long enough for two paths and two cut names; a cut is marked.
  constexpr std::size_t longest = 1000;
  std::string line;
  line.reserve(std::min(at.size() + what.size() + 2, longest + 3));
  line.append(at.substr(0, longest)).append(": ").append(what.substr(0, longest));
  if (line.size() > longest) {
    line.resize(longest - 3);
    line += "...";
  }
  // No line feed, escape sequence or other control byte reaches the terminal.
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return line;
}

std::string quote_name(std::string_view name) {
  constexpr std::size_t longest = 80;
  if (name.size() <= longest) return "\"" + std::string(name) + "\"";
  return "\"" + std::string(name.substr(0, longest)) + "...\"";
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code unused;
  return std::filesystem::equivalent(a, b, unused);
}

bool check_scene(const Scene& scene, const ShaderInstance*& lens, std::string& error) {
  const auto refuse = [&](const std::string& at, const std::string& what) {
    error = scene_message(at, what);
    return false;
  };
  if (!scene.camera) return refuse(scene.end_where, "no camera");
  const Camera& camera = *scene.camera;
  if (camera.lens.empty()) return refuse(camera.where, "camera " + quote_name(camera.name) + " has no lens shader");
  lens = scene.instance(camera.lens);
  if (lens == nullptr) return refuse(camera.lens_where, "no shader " + quote_name(camera.lens) + " for the lens");
  if (!lens->declaration->for_lens) {
    return refuse(lens->where, "shader " + quote_name(lens->declaration->name) + " does not apply to lens");
  }
  if (scene.library.empty()) return refuse(scene.end_where, "no shader library is linked");
  return true;
}

bool check_declaration(const Scene& scene, const ShaderDeclaration*& lens, std::string& error) {
  if (scene.declarations.empty()) {
    error = scene_message(scene.end_where, "declares no shader");
    return false;
  }
  lens = scene.declarations.front().get();
  if (!lens->for_lens) {
    error = scene_message(lens->where, "shader " + quote_name(lens->name) + " does not apply to lens");
    return false;
  }
  return true;
}

std::vector<std::string> split_search_list(const char* list) {
  std::vector<std::string> folders;
  if (list == nullptr) return folders;
  std::string folder;
  for (const char* at = list;; ++at) {
    bool split = *at == '\0' || *at == ';';
#if !defined(_WIN32)
    split = split || *at == ':';
#endif
    if (!split) {
      folder += *at;
      continue;
    }
    if (!folder.empty()) folders.push_back(folder);
    folder.clear();
    if (*at == '\0') return folders;
  }
}

bool read_scene(const std::string& path, const SearchPaths& paths, Scene& scene,
                std::string& error) {
  Reader reader(paths, scene, error);
  reader.reading(path);
  return reader.read_file(path, path + ":1", 0);
}

bool read_scene_text(std::string_view text, const std::string& name, const SearchPaths& paths,
                     Scene& scene, std::string& error) {
  return Reader(paths, scene, error).read_text(text, name, 0);
}

// Takes a leading '+' off, which from_chars does not take; false when a
// second sign follows it.
bool drop_plus(std::string_view& text) {
  if (text.empty() || text[0] != '+') return true;
  text.remove_prefix(1);
  return text.empty() || (text[0] != '+' && text[0] != '-');
}

bool parse_integer(std::string_view text, std::int32_t& out) {
  if (!drop_plus(text)) return false;
  const char* end = text.data() + text.size();
  const auto [stop, problem] = std::from_chars(text.data(), end, out);
  return !text.empty() && problem == std::errc{} && stop == end;
}

bool parse_scalar(std::string_view text, float& out) {
  if (!drop_plus(text)) return false;
  const char* end = text.data() + text.size();
  const auto [stop, problem] = std::from_chars(text.data(), end, out, std::chars_format::general);
  return !text.empty() && problem == std::errc{} && stop == end && std::isfinite(out);
}

bool parse_color_list(std::string_view text, float (&out)[4]) {
  float c[4] = {0, 0, 0, 0};
  std::size_t count = 0;
  while (true) {
    const std::size_t comma = text.find(',');
    if (count == 4 || !parse_scalar(text.substr(0, comma), c[count])) return false;
    ++count;
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (count < 3) return false;
  std::memcpy(out, c, sizeof c);
  return true;
}

}  // namespace standin
