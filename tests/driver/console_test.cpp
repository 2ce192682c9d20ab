// The leveled printer and the number formatter: what each verbosity lets
// through, the banner ahead of errors, comma grouping and the slot ring.
#include "driver/console.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "driver/run_state.h"

namespace {

// Runs `print` with the given verbosity and banner state; returns what it
// printed and stores its result.
template <typename Print>
std::string Printed(uint32_t verbosity, uint32_t bannerShown, Print print, int* result) {
  const RunSettings saved = settings;
  settings.verbosity = verbosity;
  settings.bannerShown = bannerShown;
  testing::internal::CaptureStdout();
  *result = print();
  std::string text = testing::internal::GetCapturedStdout();
  settings = saved;
  return text;
}

TEST(FormatNumber, GroupsDigitsInThrees) {
  struct Case {
    uint64_t value;
    const char* text;
  };
  const Case cases[] = {
      {0, "0"},
      {7, "7"},
      {999, "999"},
      {1000, "1,000"},
      {100000, "100,000"},
      {999999, "999,999"},
      {1000000, "1,000,000"},
      {1234567, "1,234,567"},
      {4294967295u, "4,294,967,295"},
      {UINT64_MAX, "18,446,744,073,709,551,615"},
  };
  for (const Case& c : cases) EXPECT_STREQ(FormatNumber(c.value), c.text);
}

TEST(FormatNumber, RingOf128Slots) {
  const char* first = FormatNumber(1);
  const char* second = FormatNumber(2);
  for (int i = 0; i < 126; ++i) FormatNumber(5);
  EXPECT_STREQ(first, "1");  // intact after 127 further calls
  EXPECT_STREQ(second, "2");
  const char* reused = FormatNumber(123456);
  EXPECT_EQ(reused, first) << "the 129th call returns the first call's slot";
  EXPECT_STREQ(first, "123,456");
}

TEST(PrintMessage, LevelsAgainstVerbosity) {
  struct Case {
    uint32_t verbosity;
    int level;
    bool printed;
  };
  const Case cases[] = {
      {0, kLevelNormal, false},  {0, kLevelVerbose, false}, {1, kLevelNormal, true},
      {1, kLevelVerbose, false}, {2, kLevelNormal, true},   {2, kLevelVerbose, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "verbosity " << c.verbosity << " level " << c.level);
    int result = -1;
    const std::string out = Printed(
        c.verbosity, 1, [&] { return PrintMessage(c.level, "%s=%d\n", "abc", 42); }, &result);
    EXPECT_EQ(out, c.printed ? "abc=42\n" : "");
    EXPECT_EQ(result, c.printed ? 7 : 0);
  }
}

TEST(PrintMessage, ErrorsComeAfterTheBannerEvenWhenSilent) {
  int result = 0;
  const std::string out = Printed(
      0, 0, [] { return PrintMessage(kLevelError, "\n\nERROR: %s.\n", "Boom"); }, &result);
  // An empty line, two lines of 47 characters centred between asterisks,
  // two empty lines, then the message.
  const std::string title = "***               Trimbit V2.08 beta              ***\n";
  ASSERT_GE(out.size(), 1 + title.size() + 54 + 2);
  EXPECT_EQ(out.substr(0, 1 + title.size()), "\n" + title);
  const std::string built = out.substr(1 + title.size(), 54);
  EXPECT_EQ(built.substr(0, 21), "***         Built on ");  // "Mmm dd yyyy hh:mm:ss"
  EXPECT_EQ(built.substr(41), "         ***\n");
  EXPECT_EQ(built[24], ' ');
  EXPECT_EQ(built[27], ' ');
  EXPECT_EQ(built[32], ' ');
  EXPECT_EQ(built[35], ':');
  EXPECT_EQ(built[38], ':');
  EXPECT_EQ(out.substr(1 + title.size() + 54), "\n\n\n\nERROR: Boom.\n");

  // Once shown, the banner is not repeated.
  const std::string again = Printed(
      0, 1, [] { return PrintMessage(kLevelError, "%s", "second"); }, &result);
  EXPECT_EQ(again, "second");
}

TEST(PrintMessage, FormattedTextIsNeverAFormatAgain) {
  int result = 0;
  const char* name = "/tmp/100%s%n%d.gz";
  const std::string out = Printed(
      1, 1, [&] { return PrintMessage(kLevelNormal, "\n\"%s\"\n", name); }, &result);
  EXPECT_EQ(out, std::string("\n\"") + name + "\"\n");
  EXPECT_EQ(result, static_cast<int>(out.size()));
}

TEST(PrintMessage, OverlongTextIsCutNotOverrun) {
  const std::string longText(6000, 'y');
  int result = 0;
  const std::string out = Printed(
      1, 1, [&] { return PrintMessage(kLevelNormal, "%s", longText.c_str()); }, &result);
  EXPECT_EQ(out, longText.substr(0, 4095));
  EXPECT_EQ(result, 4095);
}

}  // namespace
