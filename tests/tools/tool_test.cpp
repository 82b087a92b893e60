#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "tavosim/pty_module.h"
#include "tools/tool_run.h"

namespace tavo::test {
namespace {

using nlohmann::json;

tavosim::ModuleConfig InTat() {
  tavosim::ModuleConfig config;
  config.startInTat = true;
  return config;
}

TEST(Tool, InfoReadsTheModuleAsTextAndJson) {
  tavosim::PtyModule module(InTat());
  ASSERT_TRUE(module.Start());
  const ToolResult text = RunTool({"--port", module.SlavePath(), "info"});
  EXPECT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("software:        3700001301000124"), std::string::npos) << text.out;

  const ToolResult js = RunTool({"--json", "--port", module.SlavePath(), "info"});
  ASSERT_EQ(js.exitCode, 0) << js.err;
  const json doc = json::parse(js.out);
  EXPECT_EQ(doc["software"], "3700001301000124");
  EXPECT_EQ(doc["imei"].get<std::string>().size(), 15u);
  EXPECT_TRUE(doc["production"].contains("value16"));
}

// Status numbers in words: the library's French texts are Windows-1252 and
// leave the tool as UTF-8, so the JSON document always parses.
TEST(Tool, StatusTranslatesInBothLanguages) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
    bool explained;
  } cases[] = {
      {{"--json", "status", "105"}, "Timeout TAT request!", true},
      {{"--json", "--lang", "fr", "status", "105"}, "Pas de r\xC3\xA9ponse", true},
      {{"--json", "status", "1"}, "OK", false},
      {{"--json", "status", "303"}, "Unknown error", true},
  };
  for (const Case& c : cases) {
    const ToolResult r = RunTool(c.args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json doc = json::parse(r.out);
    EXPECT_NE(doc["message"].get<std::string>().find(c.message), std::string::npos) << r.out;
    EXPECT_EQ(doc.contains("explanation"), c.explained) << r.out;
  }
}

// Each way a port fails reads differently, with the next thing to try.
TEST(Tool, PortProblemsAreExplained) {
  tavosim::PtyModule module(InTat());
  ASSERT_TRUE(module.Start());
  tavosim::PtyModule held(InTat());
  ASSERT_TRUE(held.Start());
  const int holder = ::open(held.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  module.Core().EditFaults([](tavosim::Faults& f) { f.deaf = true; });
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* said;
  } cases[] = {
      {{"--port", "/dev/tavolink-none", "info"}, 1, "does not exist"},
      {{"--port", module.SlavePath(), "--open-delay", "1", "--ready-timeout", "300",
        "--request-timeout", "300", "--retry-delay", "1", "info"},
       1,
       "does not answer"},
      {{"--port", held.SlavePath(), "info"}, 1, "held by another program"},
      {{"--port", "nonsense", "info"}, 2, "give a COM number"},
      {{"status", "--bogus"}, 2, ""},
  };
  for (const Case& c : cases) {
    const ToolResult r = RunTool(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args.back() << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  }
  ::close(holder);
}

}  // namespace
}  // namespace tavo::test
