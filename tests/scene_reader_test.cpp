// The stand-in renderer's reading of scene text: what users write to install
// and use the shader, and what it must refuse in one line.
#include "shader/klarvoss.h"
#include "standin/scene_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

using standin::ParameterType;

namespace {

struct Read {
  bool ok;
  std::string error;
  standin::Scene scene;
};

Read read_text(const std::string& text, const standin::SearchPaths& paths = {}) {
  Read r;
  r.ok = standin::read_scene_text(text, "t.mi", paths, r.scene, r.error);
  return r;
}

// What the renderer says of the text: the reader's refusal, else the judgement.
std::string refusal_of(const std::string& text) {
  Read r = read_text(text);
  const standin::ShaderInstance* lens = nullptr;
  if (r.ok) standin::check_scene(r.scene, lens, r.error);
  return r.error;
}

template <class T>
T at(const standin::ShaderInstance& instance, std::size_t offset) {
  T value;
  std::memcpy(&value, reinterpret_cast<const unsigned char*>(instance.block.data()) + offset, sizeof value);
  return value;
}

// A folder of scene files for one test.
class Files {
 public:
  explicit Files(const char* test) : root_(std::filesystem::temp_directory_path() / test) {
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
  }
  ~Files() { std::filesystem::remove_all(root_); }
  std::string put(const std::string& name, const std::string& text) {
    const auto path = root_ / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path.generic_string();
  }
  std::string folder(const std::string& name) const { return (root_ / name).generic_string(); }

 private:
  std::filesystem::path root_;
};

}  // namespace

// Klarvoss.mi tells the renderer the shader's name, block and version: it
// must describe the library as built.
TEST(SceneReader, DeclarationMatchesTheLibrary) {
  standin::Scene scene;
  std::string error;
  ASSERT_TRUE(standin::read_scene(KLARVOSS_DECLARATION, {}, scene, error)) << error;
  ASSERT_EQ(scene.declarations.size(), 1u);
  const standin::ShaderDeclaration& klarvoss = *scene.declarations[0];
  EXPECT_EQ(klarvoss.name, "Klarvoss");
  ASSERT_EQ(klarvoss.parameters.size(), 2u);
  EXPECT_EQ(klarvoss.parameters[0].name, "use_color");
  EXPECT_EQ(klarvoss.parameters[0].type, ParameterType::boolean);
  EXPECT_EQ(klarvoss.parameters[0].offset, offsetof(Klarvoss_params, use_color));
  EXPECT_EQ(klarvoss.parameters[1].name, "color");
  EXPECT_EQ(klarvoss.parameters[1].type, ParameterType::color);
  EXPECT_EQ(klarvoss.parameters[1].offset, offsetof(Klarvoss_params, color));
  EXPECT_EQ(klarvoss.block_size, sizeof(Klarvoss_params));
  EXPECT_EQ(klarvoss.version, Klarvoss_version());
  EXPECT_TRUE(klarvoss.for_lens);
}

TEST(SceneReader, BuildsTheBlockFromTheDeclaration) {
  const Read r = read_text(
      "declare shader \"s\" (boolean \"b\", vector \"v\", color \"c\", integer \"i\", scalar \"f\")\n"
      "  apply material end declare\n"
      "shader \"one\" \"s\" (\"b\" true, \"v\" 1 -2 .5, \"c\" 0.5 0.25 1e-1, \"i\" -7, \"f\" +2.5E1)\n"
      "shader \"two\" \"s\" (\"i\" 3, \"c\" 1 1 1 0.5, \"b\" off)\n");
  ASSERT_TRUE(r.ok) << r.error;
  const auto& declared = *r.scene.declarations[0];
  EXPECT_FALSE(declared.for_lens);
  EXPECT_EQ(declared.block_size, 40u);
  const std::size_t offsets[] = {0, 4, 16, 32, 36};
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(declared.parameters[i].offset, offsets[i]);

  const auto& one = r.scene.instances[0];
  EXPECT_EQ(at<std::int32_t>(one, 0), 1);
  EXPECT_EQ(at<float>(one, 4), 1.0f);
  EXPECT_EQ(at<float>(one, 8), -2.0f);
  EXPECT_EQ(at<float>(one, 12), 0.5f);
  EXPECT_EQ(at<float>(one, 24), 0.1f);
  EXPECT_EQ(at<float>(one, 28), 0.0f) << "an omitted alpha is 0";
  EXPECT_EQ(at<std::int32_t>(one, 32), -7);
  EXPECT_EQ(at<float>(one, 36), 25.0f);

  const auto& two = r.scene.instances[1];
  EXPECT_EQ(at<float>(two, 28), 0.5f);
  EXPECT_EQ(at<std::int32_t>(two, 32), 3);
  EXPECT_EQ(at<float>(two, 4), 0.0f) << "an omitted parameter is zero";
  EXPECT_EQ(at<float>(two, 36), 0.0f);
}

// Text that made the old reader abort, overflow its stack or misread.
TEST(SceneReader, HostileTextIsReadOrRefusedInOneLine) {
  const std::string declaration = "declare shader \"K\" () version ";
  Read r = read_text(declaration + "99999999999 end declare");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "t.mi:1: bad version '99999999999'");

  r = read_text(declaration + std::string(300000, '7') + " end declare");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error.rfind("t.mi:1: bad version '777", 0), 0u) << r.error.substr(0, 80);
  EXPECT_LT(r.error.size(), 200u);

  r = read_text("declare" + std::string(50000, ' ') + "shader \"K\" () version 1 end declare");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.scene.declarations[0]->version, 1);

  r = read_text("# Klarvoss.mi, for renderer version 3.4\n" + declaration + "1 end declare");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.scene.declarations[0]->version, 1);

  r = read_text("link \"a\\nb\"");
  EXPECT_EQ(r.error, "t.mi:1: cannot find library \"a?b\" beside t.mi or in MI_LIBRARY_PATH");
  r = read_text("link \"a\nb\"");
  EXPECT_EQ(r.error, "t.mi:1: string not closed on its line");
  EXPECT_EQ(standin::scene_message(std::string(5000, '/'), "x").size(), 1000u) << "a line is bounded";
}

TEST(SceneReader, EveryRefusalNamesFileLineAndWord) {
  const std::pair<std::string, std::string> cases[] = {
      {"\n  $include \"Klarvoss.mi\"", "t.mi:2: '$include' must start in the first column"},
      {"$ifdef \"x\"", "t.mi:1: unknown directive '$ifdef'"},
      {"options \"opt\" end options", "t.mi:1: unknown statement 'options'"},
      {"declare shader \"K\" (float \"f\") end declare",
       "t.mi:1: expected a parameter type (boolean, integer, scalar, vector or color), not 'float'"},
      {"declare shader \"K\" ()\nversion 1\n", "t.mi:3: expected 'version', 'apply' or 'end declare', not the end of the file"},
      {"declare shader \"K\" (boolean \"b\") end declare\nshader \"s\" \"K\" (\"b\" 1)",
       "t.mi:2: expected on, off, true or false, not '1'"},
      {"declare shader \"K\" (color \"c\") end declare\nshader \"s\" \"K\" (\"d\" 1 1 1)",
       "t.mi:2: shader \"K\" has no parameter \"d\""},
      {"camera \"c\"\n resolution 0 10\nend camera", "t.mi:2: resolution must be two whole numbers from 1 to 8192"},
      {"camera \"c\"\n focal infinity\nend camera", "t.mi:2: expected a number, not 'infinity'"},
      {"camera \"c\" output \"rgb\" \"tif\" \"x.tif\" end camera",
       "t.mi:1: output must be [\"rgb\"|\"rgba\"] \"png\" \"FILE\""},
      {"camera \"c\" end camera camera \"d\" end camera",
       "t.mi:1: a second camera; this renderer renders one (the first is at t.mi:1)"},
      {"link \"no such library\"", "t.mi:1: cannot find library \"no such library\" beside t.mi or in MI_LIBRARY_PATH"},
      {"camera \"c\" focal 1.5.2", "t.mi:1: bad number '1.5.2'"},
      {"declare shader \"K\" () version 1 end declare\n\"s\\q\"", "t.mi:2: unknown escape '\\q' in a string"},
      {"\x01", "t.mi:1: unexpected byte 0x01"},
      {"link \"C:\\\\lib\\\\K.dll\"", "t.mi:1: cannot find library \"C:\\lib\\K.dll\" beside t.mi or in MI_LIBRARY_PATH"},
      {"$include\n\"x.mi\"", "t.mi:2: '$include' needs its file name on its line"},
      {"declare shader \"K\" (color \"c\") end declare\nshader \"s\" \"K\" (\"c\" 1 1 1,\n \"c\" 0 0 0)",
       "t.mi:3: parameter \"c\" is given twice"},
      {"\xef\xbb\xbflink \"K.so\"", "t.mi:1: unexpected UTF-8 byte order mark (save the file without one)"},
      {"camera \"c\"\n lens \"a\"\n lens = \"b\"\nend camera", "t.mi:3: a second lens shader; this renderer renders one (the first is at t.mi:2)"},
      {"camera \"c\" output \"png\" \"\" end camera", "t.mi:1: output names no file"},
      // What a scene read whole must have to be rendered; a message names
      // the line at fault, the last line for what is missing.
      {"declare shader \"K\" () end declare\n\n", "t.mi:2: no camera"},
      {"camera \"c\"\nend camera", "t.mi:1: camera \"c\" has no lens shader"},
      {"camera \"c\"\n lens \"no\\nsu\x1b[2Jch\"\nend camera", "t.mi:2: no shader \"no?su?[2Jch\" for the lens"},
      {"declare shader \"K\" () apply material end declare\nshader \"s\" \"K\" ()\ncamera \"c\" lens \"s\" end camera",
       "t.mi:2: shader \"K\" does not apply to lens"},
      {"declare shader \"K\" () end declare\nshader \"s\" \"K\" ()\ncamera \"c\" lens \"s\" end camera\n",
       "t.mi:3: no shader library is linked"},
      {"camera \"c\" lens \"" + std::string(100000, 'x') + "\" end camera",
       "t.mi:1: no shader \"" + std::string(80, 'x') + "...\" for the lens"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(refusal_of(text), expected) << text.substr(0, 80);
}

TEST(SceneReader, FindsIncludesAndLibrariesAlongTheirPaths) {
  Files files("klarvoss_scene_paths");
  files.put("scene/lib/Klarvoss.so", "");
  files.put("elsewhere/Other.so", "");
  files.put("scene/parts/Klarvoss.mi", "$include \"version.mi\"\n");
  files.put("scene/parts/version.mi", "declare shader \"near\" () end declare\n");
  files.put("incpath/version.mi", "declare shader \"far\" () end declare\n");
  files.put("incpath/only.mi", "declare shader \"only\" () end declare\n");
  const std::string scene = files.put(
      "scene/scene.mi",
      "link \"lib/Klarvoss.so\"\n$include \"parts/Klarvoss.mi\"\n$include \"only.mi\"\n");
  standin::SearchPaths paths{{files.folder("incpath")}, {}};
  standin::Scene read;
  std::string error;
  ASSERT_TRUE(standin::read_scene(scene, paths, read, error)) << error;
  EXPECT_EQ(read.library, files.folder("scene") + "/lib/Klarvoss.so");
  ASSERT_EQ(read.declarations.size(), 2u);
  EXPECT_EQ(read.declarations[0]->name, "near") << "beside the including file comes first";
  EXPECT_EQ(read.declarations[1]->name, "only");

  const std::string other = files.put("scene/other.mi", "link \"Other.so\"\n");
  standin::Scene linked;
  paths.library = standin::split_search_list((files.folder("nowhere") + ";" + files.folder("elsewhere")).c_str());
  ASSERT_TRUE(standin::read_scene(other, paths, linked, error)) << error;
  EXPECT_EQ(linked.library, files.folder("elsewhere") + "/Other.so");

  // One library under two spellings is one library; a folder is none.
  const std::string twice = files.put("scene/twice.mi", "link \"lib/Klarvoss.so\"\nlink \"./lib/../lib/Klarvoss.so\"\n");
  standin::Scene both;
  EXPECT_TRUE(standin::read_scene(twice, {}, both, error)) << error;
  const std::string folder = files.put("scene/folder.mi", "link \"lib\"\n");
  EXPECT_FALSE(standin::read_scene(folder, {}, both, error));
  EXPECT_EQ(error, folder + ":1: library \"" + files.folder("scene") + "/lib\" is a folder, not a file");
}

TEST(SceneReader, IncludeCyclesAndDepthAreErrors) {
  Files files("klarvoss_scene_cycles");
  const std::string a = files.put("a.mi", "\n$include \"b.mi\"\n");
  files.put("b.mi", "$include \"a.mi\"\n");
  standin::Scene scene;
  std::string error;
  EXPECT_FALSE(standin::read_scene(a, {}, scene, error));
  EXPECT_EQ(error, files.folder("b.mi") + ":1: \"a.mi\" includes itself");
  // The same file under another spelling is the same file.
  const std::string c = files.put("c.mi", "$include \"./c.mi\"\n");
  EXPECT_FALSE(standin::read_scene(c, {}, scene, error));
  EXPECT_EQ(error, c + ":1: \"./c.mi\" includes itself");

  for (int i = 0; i < 20; ++i) {
    files.put("d" + std::to_string(i) + ".mi", "$include \"d" + std::to_string(i + 1) + ".mi\"\n");
  }
  files.put("d20.mi", "");
  EXPECT_FALSE(standin::read_scene(files.folder("d0.mi"), {}, scene, error));
  EXPECT_EQ(error, files.folder("d16.mi") + ":1: includes nested deeper than 16");

  // Width is bounded like depth: 10000 includes in all, however nested.
  files.put("empty.mi", "");
  std::string many;
  for (int i = 0; i < 10001; ++i) many += "$include \"empty.mi\"\n";
  const std::string wide = files.put("wide.mi", many);
  EXPECT_FALSE(standin::read_scene(wide, {}, scene, error));
  EXPECT_EQ(error, wide + ":10001: more than 10000 $include lines in all");
  const std::string folder = files.put("folder.mi", "$include \"empty.mi\"\n$include \"sub\"\n");
  std::filesystem::create_directories(files.folder("sub"));
  EXPECT_FALSE(standin::read_scene(folder, {}, scene, error));
  EXPECT_EQ(error, folder + ":2: \"" + files.folder("sub") + "\" is a folder, not a file");
}

TEST(SceneReader, CameraKeepsEachFieldWhereItWasGiven) {
  const Read r = read_text("camera \"c\"\n resolution 8192 4\n output \"rgba\" \"png\" \"x.png\"\n"
                           " lens \"l\"\nend camera\n");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.scene.camera->width, 8192);
  EXPECT_EQ(r.scene.camera->height, 4);
  EXPECT_EQ(r.scene.camera->output, "x.png");
  EXPECT_TRUE(r.scene.camera->rgba);
  EXPECT_EQ(r.scene.camera->lens, "l");
}

TEST(SceneReader, CommandLineColoursAreStrict) {
  float c[4] = {9, 9, 9, 9};
  ASSERT_TRUE(standin::parse_color_list("1,0.5,.25", c));
  EXPECT_EQ(c[2], 0.25f);
  EXPECT_EQ(c[3], 0.0f) << "an omitted alpha is 0";
  for (const char* bad : {"1,2,3,4,junk", "1,2", "1,2,3,", "1,2,3,4,5", "nan,1,1", "1,2,3x", "+-1,0,0", "++1,0,0"}) {
    EXPECT_FALSE(standin::parse_color_list(bad, c)) << bad;
  }
}

// Names are found in constant time: a scene of 200,000 instances reads in
// well under its ctest TIMEOUT, where one that compared each name with every
// earlier one would take minutes.
TEST(SceneReaderScale, ReadsTwoHundredThousandInstances) {
  std::string text = "declare shader \"K\" (boolean \"on\", color \"c\") end declare\n";
  constexpr int count = 200000;
  for (int i = 0; i < count; ++i) {
    text += "shader \"i" + std::to_string(i) + "\" \"K\" (\"on\" on, \"c\" 1 0 0)\n";
  }
  text += "camera \"c\" lens \"i" + std::to_string(count - 1) + "\" end camera\n";
  const Read r = read_text(text);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.scene.instances.size(), static_cast<std::size_t>(count));
  EXPECT_EQ(r.scene.instance("i123456"), &r.scene.instances[123456]);
}
