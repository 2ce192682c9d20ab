// The leveled printer: what each verbosity lets through, and text that must
// not overrun.
#include "driver/console.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "driver/run_state.h"

namespace {

using namespace trimbit;

// Prints `text` at `level` under `verbosity` (banner already shown); returns
// the output and stores PrintMessage's result.
std::string Printed(uint32_t verbosity, int level, const std::string& text, int* result) {
  RunSettings settings = {};
  settings.verbosity = verbosity;
  settings.bannerShown = 1;
  testing::internal::CaptureStdout();
  *result = PrintMessage(settings, level, "<%s>", text.c_str());
  return testing::internal::GetCapturedStdout();
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
