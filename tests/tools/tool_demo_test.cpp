// The demo end to end, as the README's first command runs it: the whole road
// against its simulated module, the table of what changed, and nothing left
// behind in /tmp.
#include <gtest/gtest.h>

#include <filesystem>

#include "tools/tool_run.h"

namespace tavo::test {
namespace {

TEST(ToolDemo, RunsTheWholeRoadAndShowsWhatChanged) {
  const ToolResult r = RunTool({"demo"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const char* row : {
           "software             3700001301000124       3700001301000200",
           "IMEI                 123456789012347        356938035643809",
           "section 0            layout 3, 200 bytes    layout 5, 220 bytes    restored, converted",
           "section 37           layout 5, 1200 bytes   layout 5, 1200 bytes   restored as it was",
       }) {
    EXPECT_NE(r.out.find(row), std::string::npos) << row << "\n" << r.out;
  }
  EXPECT_NE(r.err.find("software 100%"), std::string::npos) << r.err;
  const auto at = r.out.find("/tmp/tavolink-demo-");
  ASSERT_NE(at, std::string::npos);
  const std::string dir = r.out.substr(at, r.out.find('.', at) - at);
  EXPECT_FALSE(std::filesystem::exists(dir)) << dir;
}

}  // namespace
}  // namespace tavo::test
