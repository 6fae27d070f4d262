#include "host/warning.h"
#include "tests/host_fixture.h"

#include <string>

using klarvoss::dl_double_percent;

using WarningTest = HostTest;

TEST_F(WarningTest, TextWithoutConversionsReachesHostUnchanged) {
  mi_warning("plain text, nothing to format");
  EXPECT_STREQ(log_a->warning_received, "plain text, nothing to format");
  mi_warning("%s scene, %d spots", "this", 3);
  EXPECT_STREQ(log_a->warning_received, "this scene, 3 spots");
  EXPECT_EQ(log_a->warning_calls, 2);
}

TEST_F(WarningTest, PerCentSignsAreShownAsThemselves) {
  mi_warning("100%% sure, %s", "50% off");
  EXPECT_STREQ(log_a->warning_received, "100%% sure, 50%% off");
  EXPECT_STREQ(log_a->warning_shown, "100% sure, 50% off");
  // A %n smuggled in through an argument must never act on the host's side.
  mi_warning("%s", "%n%s%d");
  EXPECT_STREQ(log_a->warning_shown, "%n%s%d");
}

TEST_F(WarningTest, LongTextIsCutToTheBuffer) {
  const std::string long_text(5000, 'x');
  mi_warning("%s", long_text.c_str());
  EXPECT_EQ(std::string(log_a->warning_received), long_text.substr(0, 1023));

  // A doubled sign that would not fit is dropped whole, never halved.
  const std::string edge = std::string(1022, 'y') + "%";
  mi_warning("%s", edge.c_str());
  EXPECT_EQ(std::string(log_a->warning_received), edge.substr(0, 1022));
  mi_warning("%s", (std::string(1021, 'z') + "%").c_str());
  EXPECT_EQ(std::string(log_a->warning_received), std::string(1021, 'z') + "%%");
}

TEST(DoublePercent, StaysInsideCapacityAndKeepsPairsWhole) {
  struct Case {
    const char* text;
    std::size_t capacity;
    const char* expected;
  };
  for (const Case& c : {Case{"", 1, ""}, Case{"abc", 4, "abc"}, Case{"abcd", 4, "abc"},
                        Case{"%", 2, ""}, Case{"%", 3, "%%"}, Case{"a%b", 5, "a%%b"},
                        Case{"a%b", 4, "a%%"}, Case{"a%b", 3, "a"}, Case{"%%%", 7, "%%%%%%"}}) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    std::memcpy(buffer, c.text, std::strlen(c.text));
    const std::size_t written = dl_double_percent(buffer, std::strlen(c.text), c.capacity);
    EXPECT_STREQ(buffer, c.expected) << c.text << " in " << c.capacity;
    EXPECT_EQ(written, std::strlen(c.expected));
    EXPECT_EQ(buffer[c.capacity], '#') << "wrote past the capacity";
  }
}
