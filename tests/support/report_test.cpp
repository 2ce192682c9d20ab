// The text the engine reports: numbers grouped in threes (each a value of
// its own), and reports formatted and handed on only within the verbosity.
#include "support/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/number_text.h"

namespace {

using namespace trimbit;

TEST(FormatNumber, GroupsDigitsInThrees) {
  const struct {
    uint64_t value;
    const char* text;
  } cases[] = {{0, "0"},
               {999, "999"},
               {1000, "1,000"},
               {999999, "999,999"},
               {1234567, "1,234,567"},
               {UINT64_MAX, "18,446,744,073,709,551,615"}};
  for (const auto& c : cases) EXPECT_STREQ(FormatNumber(c.value).c_str(), c.text);
  const NumberText first = FormatNumber(1);
  for (int i = 0; i < 200; ++i) FormatNumber(5);
  EXPECT_STREQ(first.c_str(), "1") << "one number's text is never another's";
}

TEST(Report, HandsOnWhatTheVerbosityLetsThrough) {
  struct Seen {
    ReportKind kind;
    uint32_t level;
    std::string text;
  };
  const std::string longName(3000, 'x');  // past the first formatting buffer
  for (uint32_t verbosity : {0u, 1u, 2u}) {
    std::vector<Seen> seen;
    const Reporter reporter = {
        verbosity,
        [](void* context, const ReportEvent& e) {
          EXPECT_EQ(e.length, std::string(e.text).size());
          static_cast<std::vector<Seen>*>(context)->push_back({e.kind, e.level, e.text});
        },
        &seen};
    Report(reporter, kReportNormal, ReportKind::Notice, "%s left unchanged", longName.c_str());
    Report(reporter, kReportVerbose, ReportKind::Detail, "%u%%", 42u);
    ASSERT_EQ(seen.size(), verbosity) << "verbosity " << verbosity;
    if (verbosity >= 1) {
      EXPECT_EQ(seen[0].kind, ReportKind::Notice);
      EXPECT_EQ(seen[0].level, kReportNormal);
      EXPECT_EQ(seen[0].text, longName + " left unchanged");
    }
    if (verbosity == 2) {
      EXPECT_EQ(seen[1].text, "42%");
    }
  }
  Report(Reporter{2, nullptr, nullptr}, kReportNormal, ReportKind::Result, "nothing to call");
}

}  // namespace
