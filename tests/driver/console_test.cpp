// The leveled printer: what each verbosity lets through, and text that must
// not overrun; the engine's reports reach it at their own levels.
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

// A report goes out as the printer would print its text at its level, cut
// where the printer cuts.
TEST(ConsoleReporter, PrintsReportsThroughTheLeveledPrinter) {
  const RunSettings saved = settings;
  settings.bannerShown = 1;
  const std::string name(5000, 'n');
  for (uint32_t verbosity : {0u, 1u, 2u}) {
    settings.verbosity = verbosity;
    const trimbit::Reporter reporter = ConsoleReporter();
    testing::internal::CaptureStdout();
    trimbit::Report(reporter, trimbit::kReportNormal, trimbit::ReportKind::Result, "<%s %d%%>\n",
                    name.c_str(), 7);
    trimbit::Report(reporter, trimbit::kReportVerbose, trimbit::ReportKind::Detail, "[%u]", 2u);
    const std::string printed = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    PrintMessage(kLevelNormal, "<%s %d%%>\n", name.c_str(), 7);
    PrintMessage(kLevelVerbose, "[%u]", 2u);
    EXPECT_EQ(printed, testing::internal::GetCapturedStdout()) << "verbosity " << verbosity;
  }
  settings = saved;
}

}  // namespace
