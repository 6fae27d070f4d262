// Klarvoss.mi is what tells the renderer the shader's name, parameters and
// version: it must describe the library as built.
#include "shader/klarvoss.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

TEST(Declaration, MatchesTheLibrary) {
  std::ifstream file(KLARVOSS_DECLARATION);
  ASSERT_TRUE(file) << KLARVOSS_DECLARATION;
  std::stringstream text;
  text << file.rdbuf();
  const std::string declaration = text.str();

  std::smatch shader;
  ASSERT_TRUE(std::regex_search(declaration, shader,
                                std::regex(R"re(color\s+"(\w+)"\s*\(([^)]*)\))re")));
  EXPECT_EQ(shader[1], "Klarvoss");

  // Parameters in block order: a boolean then a colour, as Klarvoss_params lays them out
  // (its header asserts the offsets).
  const std::string list = shader[2];
  std::regex parameter(R"re((\w+)\s+"(\w+)")re");
  std::vector<std::string> found;
  for (std::sregex_iterator it(list.begin(), list.end(), parameter), end; it != end; ++it) {
    found.push_back((*it)[1].str() + " " + (*it)[2].str());
  }
  EXPECT_EQ(found, (std::vector<std::string>{"boolean use_color", "color color"}));

  std::smatch version;
  ASSERT_TRUE(std::regex_search(declaration, version, std::regex(R"re(\bversion\s+(\d+))re")));
  EXPECT_EQ(std::stoi(version[1]), Klarvoss_version());
  EXPECT_TRUE(std::regex_search(declaration, std::regex(R"re(\bapply\s+lens\b)re")));
}
