#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "tavosim/pty_module.h"
#include "tools/tool_run.h"

namespace tavo::test {
namespace {

using nlohmann::json;
using Bytes = std::vector<uint8_t>;
using Check = std::function<void(const json&)>;

std::string HexOf(const Bytes& b) {
  std::string s;
  for (const uint8_t x : b) s += "0123456789abcdef"[x >> 4], s += "0123456789abcdef"[x & 15];
  return s;
}

// One module in TAT mode (or AT mode), a scratch directory, and the tool
// pointed at them with short request delays.
class Station {
 public:
  explicit Station(bool inTat = true) : module_(Config(inTat)) {
    char dir[] = "/tmp/tavolink-tool-XXXXXX";
    dir_ = ::mkdtemp(dir);
    started_ = module_.Start();
  }
  ~Station() { std::filesystem::remove_all(dir_); }

  tavosim::Module& Core() { return module_.Core(); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string File(const std::string& name, const Bytes& bytes) const {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return Path(name);
  }
  std::vector<std::string> Args(const std::vector<std::string>& args) const {
    std::vector<std::string> all{
        "--port", module_.SlavePath(), "--request-delay", "1", "--retry-delay", "1", "--open-delay",
        "1"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }
  ToolResult Run(const std::vector<std::string>& args) const { return RunTool(Args(args)); }
  // Runs with --json; the document, or null when the output is not JSON.
  json Json(const std::vector<std::string>& args, int& exitCode) const {
    std::vector<std::string> all{"--json"};
    all.insert(all.end(), args.begin(), args.end());
    const ToolResult r = Run(all);
    exitCode = r.exitCode;
    return json::parse(r.out, nullptr, false);
  }
  bool started_ = false;

 private:
  static tavosim::ModuleConfig Config(bool inTat) {
    tavosim::ModuleConfig config;
    config.startInTat = inTat;
    config.unknownSection = tavosim::UnknownSectionReply::kZeroSize;
    return config;
  }
  tavosim::PtyModule module_;
  std::string dir_;
};

struct Step {
  std::vector<std::string> args;
  Check check;
};

void RunSteps(const Station& s, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    int exitCode = -1;
    const json doc = s.Json(step.args, exitCode);
    ASSERT_EQ(exitCode, 0) << step.args[0] << " " << doc.dump();
    step.check(doc);
  }
}

Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + 3 * i);
  return b;
}

TEST(ToolData, ImeiSectionsAndScriptsReachTheModule) {
  Station s;
  ASSERT_TRUE(s.started_);
  const Bytes payload = Pattern(32, 0x41);  // section 11's whole payload
  // Section 13, payload byte 2 (image address 10) set to 0x5A.
  const Bytes script{13, 10, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x5A, 0, 0, 0};
  const std::string saved = s.Path("image.bin");
  const std::vector<Step> steps = {
      {{"imei", "--write", "35693803564380"},
       [](const json& d) { EXPECT_EQ(d["imei"], "356938035643809"); }},
      {{"serial"}, [](const json& d) { EXPECT_EQ(d["serial"], "123456789A"); }},
      {{"section", "write", "11", s.File("p.bin", payload)},
       [](const json& d) { EXPECT_EQ(d["written"], 32); }},
      {{"section", "read", "11", "--payload"},
       [&](const json& d) { EXPECT_EQ(d["hex"], HexOf(payload)); }},
      {{"section", "read", "11", "-o", saved},
       [&](const json& d) {
         EXPECT_EQ(d["size"], 40);
         EXPECT_EQ(FileBytes(saved), s.Core().SectionImage(11).value());
       }},
      {{"section", "read", "5"}, [](const json& d) { EXPECT_EQ(d["size"], 0); }},  // none
      {{"script", s.File("s.bin", script)},
       [&](const json& d) {
         EXPECT_EQ(d["records"], 1);
         EXPECT_EQ(s.Core().SectionImage(13).value()[10], 0x5A);
       }},
  };
  RunSteps(s, steps);
}

TEST(ToolData, RecordsBackupAndRestore) {
  Station s;
  ASSERT_TRUE(s.started_);
  Bytes production(84, 0);
  std::memcpy(&production[26], "BENCH-14-CHARS", 14);
  std::memcpy(&production[54], "LINE9", 5);
  production[80] = 0x34;
  production[81] = 0x12;
  const Bytes calibration = Pattern(60, 0x07);
  std::string backup;
  const std::vector<Step> steps = {
      {{"production", "--write", s.File("p84", production)},
       [](const json& d) {
         EXPECT_EQ(d["firstWord"], 1);  // the library's mark of a written record
         EXPECT_EQ(d["text14"], "BENCH-14-CHARS");
         EXPECT_EQ(d["text8"], "LINE9");
         EXPECT_EQ(d["value16"], 0x1234);
         EXPECT_EQ(d["checksumOk"], true);
       }},
      {{"calibration", "--write", s.File("c60", calibration)},
       [&](const json& d) { EXPECT_EQ(d["hex"], HexOf(calibration)); }},
      {{"backup", s.Path("")},
       [&](const json& d) {
         backup = d["file"];
         EXPECT_TRUE(std::regex_match(backup, std::regex(R"(TAVO123456789A_\d{8}_\d{6}\.SAV)")));
         EXPECT_TRUE(std::filesystem::exists(s.Path(backup)));
       }},
      {{"restore", s.Path(""), "--classes", "0x10"},
       [&](const json& d) { EXPECT_EQ(d["file"], backup); }},
      {{"backup", s.Path(""), "--all", "--exclude", "41, 05"},
       [&](const json& d) {
         // "05" as the library reads it would exclude nothing: the tool
         // hands on 5. The file's records: id (2), size S (2), S bytes.
         const Bytes sav = FileBytes(s.Path(d["file"]));
         std::vector<int> ids;
         for (size_t at = 6; at + 4 <= sav.size(); at += 4 + (sav[at + 2] | sav[at + 3] << 8)) {
           ids.push_back(sav[at] | sav[at + 1] << 8);
         }
         EXPECT_EQ(ids.size(), 40u);
         EXPECT_EQ(std::count(ids.begin(), ids.end(), 5) + std::count(ids.begin(), ids.end(), 41),
                   0);
       }},
  };
  RunSteps(s, steps);
}

// Refusals of the tool itself: exit 2 and not one byte to the module.
TEST(ToolData, RefusalsLeaveTheModuleAlone) {
  Station s;
  ASSERT_TRUE(s.started_);
  const std::string f60 = s.File("c60", Bytes(60, 0));
  const std::string empty = s.File("empty", {});
  const std::vector<std::vector<std::string>> cases = {
      {"imei", "--write", "3569380356438"},
      {"imei", "--write", "356938035643801"},  // wrong check digit
      {"imei", "--write", "3569380356438x"},
      {"production", "--write", f60},
      {"calibration", "--write", s.File("p84", Bytes(84, 0))},
      {"calibration", "--write", s.Path("missing")},
      {"section", "read", "256"},
      {"section", "write", "11", empty},
      {"section", "write", "11", s.File("h8", Bytes(8, 0)), "--image"},
      {"backup", s.Path(""), "--exclude", "3"},
      {"backup", s.Path(""), "--all", "--exclude", "3;5"},
      {"restore", s.Path(""), "--classes", "0"},
      {"service", "686894D8", "00"},
      {"service", "read-section", "2z"},
      {"detect", "--speeds", "9600;;115200"},
  };
  for (const auto& args : cases) {
    const ToolResult r = s.Run(args);
    EXPECT_EQ(r.exitCode, 2) << args[0] << " " << args.back() << r.out << r.err;
    EXPECT_FALSE(r.err.empty()) << args.back();
  }
  EXPECT_TRUE(s.Core().Requests().empty());
  EXPECT_EQ(s.Core().GetStats().atCommands, 0);
  int exitCode = 0;
  const json doc = s.Json({"section", "write", "11", empty}, exitCode);
  EXPECT_EQ(doc["error"], empty + ": the file is empty");
}

// The library's failures: exit 1 with the status number.
TEST(ToolData, LibraryFailuresGiveTheirStatus) {
  Station s;
  ASSERT_TRUE(s.started_);
  std::filesystem::create_directory(s.Path("none"));
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"restore", s.Path("none")}, 17},
      {{"backup", s.Path("gone")}, 17},
      {{"restore", s.Path(""), "--file", "junk.SAV"}, 18},
      {{"script", s.File("s17", Bytes(17, 0))}, 18},
      {{"service", "12345678", ""}, 252},
      {{"service", "read-memory", "000000004000", "--room", "32"}, 259},
  };
  s.File("junk.SAV", {'N', 'O', 'P', 'E', 3, 0});
  for (const auto& c : cases) {
    int exitCode = 0;
    const json doc = s.Json(c.args, exitCode);
    EXPECT_EQ(exitCode, 1) << c.args[0];
    EXPECT_EQ(doc["status"], c.status) << c.args[0] << doc.dump();
  }
  const ToolResult text = s.Run({"restore", s.Path("none")});
  EXPECT_NE(text.err.find("status 17"), std::string::npos) << text.err;
  EXPECT_NE(text.err.find("TAVO<serial>_*.SAV"), std::string::npos) << text.err;
}

TEST(ToolData, ServiceCallsAndRestart) {
  Station s;
  ASSERT_TRUE(s.started_);
  const Bytes image = s.Core().SectionImage(37).value();
  RunSteps(s,
           {
               {{"service", "section-info", "2500"},
                [&](const json& d) {
                  EXPECT_EQ(d["status"], 1);
                  EXPECT_EQ(d["hex"].get<std::string>().substr(8, 4), HexOf({image[2], image[3]}));
                }},
               {{"service", "9F8C9A12", "2500"},  // read-section by its code, cut to the image
                [&](const json& d) { EXPECT_EQ(d["hex"], HexOf(image)); }},
               {{"restart"}, [](const json& d) { EXPECT_EQ(d["restarted"], true); }},
           });
  // The tool exits once the request is written; the module's thread takes
  // it a moment later.
  for (int i = 0; i < 200 && s.Core().GetStats().restarts == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(s.Core().GetStats().restarts, 1);
}

TEST(ToolData, DetectFindsTheBaudRateAndCtrlCStopsIt) {
  Station atMode(false);
  ASSERT_TRUE(atMode.started_);
  int exitCode = 0;
  const json doc = atMode.Json({"detect", "--speeds", "115200"}, exitCode);
  ASSERT_EQ(exitCode, 0) << doc.dump();
  EXPECT_EQ(doc["baud"], 115200);
  EXPECT_EQ(doc["imei"], "123456789012347");
  EXPECT_EQ(doc["production"]["text8"], "LINE07");

  // A module in TAT mode never answers the AT command: the search goes on
  // until Ctrl-C.
  Station tat;
  ASSERT_TRUE(tat.started_);
  ToolProcess p(tat.Args({"-v", "--request-timeout", "100", "detect", "--speeds", "115200"}));
  ASSERT_TRUE(p.ReadUntil(
      [](const ToolResult& r) { return r.err.find("Checking TAT session") != std::string::npos; },
      5000));
  p.Signal(SIGINT);
  const ToolResult r = p.Finish(5000);
  EXPECT_EQ(r.exitCode, 130) << r.err;
  EXPECT_NE(r.err.find("detection stopped"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tavo::test
