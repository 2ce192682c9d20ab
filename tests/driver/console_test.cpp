// The leveled printer and the number formatter: what each verbosity lets
// through, text that must not overrun, comma grouping and the slot ring.
#include "driver/console.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "driver/run_state.h"

namespace {

// Prints `text` at `level` under `verbosity` (banner already shown); returns
// the output and stores PrintMessage's result.
std::string Printed(uint32_t verbosity, int level, const std::string& text, int* result) {
  const RunSettings saved = settings;
  settings.verbosity = verbosity;
  settings.bannerShown = 1;
  testing::internal::CaptureStdout();
  *result = PrintMessage(level, "<%s>", text.c_str());
  settings = saved;
  return testing::internal::GetCapturedStdout();
}

TEST(FormatNumber, GroupsDigitsInThreesInARingOf128Slots) {
  const struct {
    uint64_t value;
    const char* text;
  } cases[] = {{0, "0"},
               {999, "999"},
               {1000, "1,000"},
               {999999, "999,999"},
               {1234567, "1,234,567"},
               {UINT64_MAX, "18,446,744,073,709,551,615"}};
  for (const auto& c : cases) EXPECT_STREQ(FormatNumber(c.value), c.text);
  const char* first = FormatNumber(1);
  for (int i = 0; i < 127; ++i) FormatNumber(5);
  EXPECT_STREQ(first, "1");  // intact after 127 further calls
  EXPECT_EQ(FormatNumber(123456), first) << "the 129th call reuses the first call's slot";
  EXPECT_STREQ(first, "123,456");
}

TEST(PrintMessage, LevelsVerbosityAndLimits) {
  const std::string percent = "/tmp/100%s%n%d.gz", longText(6000, 'y');
  const struct {
    uint32_t verbosity;
    int level;
    const std::string& text;
    size_t printed;  // characters of "<text>" that show
  } cases[] = {
      {0, kLevelNormal, percent, 0},  {0, kLevelVerbose, percent, 0},
      {1, kLevelNormal, percent, 19},  // a formatted text is never used as a format
      {1, kLevelVerbose, percent, 0}, {2, kLevelVerbose, percent, 19},
      {0, kLevelError, percent, 19},  {1, kLevelNormal, longText, 4095},  // cut, not overrun
  };
  for (const auto& c : cases) {
    std::string whole = "<";
    whole += c.text;
    whole += ">";
    int result = -1;
    EXPECT_EQ(Printed(c.verbosity, c.level, c.text, &result), whole.substr(0, c.printed))
        << "verbosity " << c.verbosity << " level " << c.level;
    EXPECT_EQ(result, static_cast<int>(c.printed));
  }
}

}  // namespace
