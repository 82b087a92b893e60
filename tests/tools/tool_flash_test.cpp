// download through the tool against simulated modules on ptys, in real time
// (a download waits about 1.3 s between its loader steps): the software and
// its digest as the loader received them, JSON events, several ports at once
// with one failing, and Ctrl-C in the middle of the software stream.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "support/temp_dir.h"
#include "tavosim/pty_module.h"
#include "tools/tool_run.h"

namespace tavo::test {
namespace {

using nlohmann::json;
using tavosim::Bytes;

class ToolFlash : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("loader.hex", std::string(":020000040000FA\r\n:00000001FF\r\n"));
    software_.resize(40000);
    for (size_t i = 0; i < software_.size(); ++i) software_[i] = static_cast<uint8_t>(i % 251);
    dir_.Write("soft.cla", software_);
  }
  // A module in TAT mode (or, inBoot, just switched on and waiting for a host).
  std::unique_ptr<tavosim::PtyModule> Module(bool inBoot = false, uint32_t flashRate = 0) {
    tavosim::ModuleConfig config;
    config.startInTat = !inBoot;
    config.startInBoot = inBoot;
    config.loader.bootWindowMs = 60000;
    config.loader.eraseMs = 20;
    config.loader.flashBytesPerSecond = flashRate;
    auto module = std::make_unique<tavosim::PtyModule>(config);
    EXPECT_TRUE(module->Start());
    return module;
  }
  std::vector<std::string> Download(std::vector<std::string> ports,
                                    std::vector<std::string> options) {
    std::vector<std::string> args;
    for (const std::string& port : ports) args.insert(args.end(), {"--port", port});
    args.insert(args.end(), {"download", dir_.File("soft.cla"), dir_.File("loader.hex")});
    args.insert(args.end(), options.begin(), options.end());
    return args;
  }
  // The JSON lines of stdout: the events, then the results.
  static std::vector<json> Lines(const std::string& out) {
    std::vector<json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
    return lines;
  }

  TempDir dir_;
  Bytes software_;
};

TEST_F(ToolFlash, DownloadsIntoTheBootCodeWithTheDigestChecked) {
  auto module = Module(true);
  const ToolResult r = RunTool(Download({module->SlavePath()}, {"--md5", "--json"}));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const tavosim::LoaderLog log = module->Core().Loader();
  EXPECT_EQ(log.software, software_);
  ASSERT_TRUE(log.digestAsked.has_value());
  EXPECT_EQ(*log.digestAsked, tavosim::Md5(software_));
  EXPECT_EQ(log.digestVerdict, '0');
  EXPECT_EQ(log.runs, 0);

  const std::vector<json> lines = Lines(r.out);
  ASSERT_GE(lines.size(), 3u);
  std::vector<std::string> steps;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_EQ(lines[i]["event"], "progress");
    EXPECT_EQ(lines[i]["port"], module->SlavePath());
    if (steps.empty() || steps.back() != lines[i]["step"]) steps.push_back(lines[i]["step"]);
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"starting", "waiting for power-up", "loader", "erase",
                                             "software", "check/run", "done"}));
  const json& result = lines.back().at(0);
  EXPECT_EQ(result["ok"], true);
  EXPECT_EQ(result["md5_checked"], true);
  EXPECT_EQ(result["software_bytes"], software_.size());
  EXPECT_GT(result["bytes_per_second"], 0);
}

// Each port runs on its own; one that fails leaves the others flashed.
TEST_F(ToolFlash, FlashesSeveralPortsAtOnceEachWithItsResult) {
  for (const bool failing : {false, true}) {
    SCOPED_TRACE(failing);
    auto a = Module();
    auto b = Module();
    if (failing) b->Core().EditFaults([](tavosim::Faults& f) { f.loader.blockStatus = 'E'; });
    const ToolResult r =
        RunTool(Download({a->SlavePath(), b->SlavePath()},
                         {"--restart-first", "--run", "--download-baud", "921600", "--json"}));
    EXPECT_EQ(r.exitCode, failing ? 1 : 0) << r.err;
    const json results = Lines(r.out).back();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0]["port"], a->SlavePath());
    EXPECT_EQ(results[0]["ok"], true);
    EXPECT_EQ(results[1]["ok"], !failing);
    EXPECT_EQ(results[1]["status"], failing ? 25 : 1);
    EXPECT_EQ(a->Core().Loader().software, software_);
    EXPECT_EQ(a->Core().Loader().runs, 1);
    EXPECT_EQ(b->Core().Loader().software == software_, !failing);
  }
}

// Ctrl-C in the software stream: the download ends as aborted, the port is
// free again at once, and the tool says so with the shell's code for it.
TEST_F(ToolFlash, CtrlCAbortsTheDownloadAndFreesThePort) {
  auto module = Module(true, 20000);
  ToolProcess tool(Download({module->SlavePath()}, {"--json"}));
  ASSERT_TRUE(tool.ReadUntil(
      [](const ToolResult& r) {
        return r.out.find("\"step\":\"software\",\"percent\"") != std::string::npos;
      },
      20000))
      << tool.SoFar().err;
  tool.Signal(SIGINT);
  const ToolResult r = tool.Finish();
  EXPECT_EQ(r.exitCode, 130) << r.err;
  const json result = Lines(r.out).back().at(0);
  EXPECT_EQ(result["status"], 57);
  EXPECT_EQ(result["aborted"], true);
  EXPECT_LT(module->Core().Loader().software.size(), software_.size());
  const int fd = ::open(module->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

}  // namespace
}  // namespace tavo::test
