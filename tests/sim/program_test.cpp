// The tavosim program: its command line, the .SAV reader behind --sav, its
// links, and one run of the real binary serving two modules.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "program/options.h"
#include "program/serve.h"
#include "program/wire_log.h"
#include "support/frames.h"
#include "support/temp_dir.h"
#include "tavosim/sav_file.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;
using tavosim::ProgramOptions;

tavosim::ParseOutcome Parse(std::vector<const char*> args, ProgramOptions& options) {
  args.insert(args.begin(), "tavosim");
  return tavosim::ParseProgramOptions(static_cast<int>(args.size()), args.data(), options);
}

struct BadRow {
  std::vector<const char*> args;
  const char* named;  // the option the message names
};

TEST(ProgramOptions, BadValuesExitTwoNamingTheOption) {
  const BadRow rows[] = {
      {{"--platform", "-1"}, "--platform"},
      {{"--platform", " 12"}, "--platform"},
      {{"--platform", ""}, "--platform"},
      {{"--platform", "1 2"}, "--platform"},
      {{"--platform", "100000000"}, "--platform"},
      {{"--platform", "+5"}, "--platform"},
      {{"--platform", "12g"}, "--platform"},
      {{"--platform", "0x"}, "--platform"},
      {{"--software", "0x0x1"}, "--software"},
      {{"--platform=12 "}, "--platform"},
      {{"-n", "0"}, "--modules"},
      {{"-n", "17"}, "--modules"},
      {{"-n", "+1"}, "--modules"},
      {{"--chunk", "4097"}, "--chunk"},
      {{"--chunk", "0x10"}, "--chunk"},
      {{"--ack-every", "0"}, "--ack-every"},
      {{"--flash-rate", "4294967296"}, "--flash-rate"},
      {{"--line-speed", "yes"}, "--line-speed"},
      {{"--tat", "--boot"}, "--tat"},
      {{"--generation", "7"}, "--generation"},
      {{"--generation", "3", "--software", "1"}, "--software"},
      {{"--serial", "12345"}, "--serial"},
      {{"--generation", "1", "--serial", "a b"}, "--serial"},
      {{"--unknown-section", "256"}, "--unknown-section"},
      {{"--silent", "-1"}, "--silent"},
      {{"--block-status", "100"}, "--block-status"},
      {{"--lose-command", "03:x"}, "--lose-command"},
      {{"--sav", "/nonexistent.SAV"}, "--sav"},
      {{"--link", ""}, "--link"},
  };
  for (const BadRow& row : rows) {
    SCOPED_TRACE(std::string(row.args[0]) + " " + (row.args.size() > 1 ? row.args[1] : ""));
    ProgramOptions options;
    const tavosim::ParseOutcome outcome = Parse(row.args, options);
    EXPECT_FALSE(outcome.serve);
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_NE(outcome.text.find(row.named), std::string::npos) << outcome.text;
  }
}

struct GoodRow {
  std::vector<const char*> args;
  std::function<bool(const ProgramOptions&)> holds;
};

TEST(ProgramOptions, GoodValuesReachTheModule) {
  const auto otpStarts = [](const ProgramOptions& o, const Bytes& head) {
    return std::equal(head.begin(), head.end(), o.config.otp.begin());
  };
  const GoodRow rows[] = {
      {{"--platform", "37000020"}, [](auto& o) { return o.config.platformId == 0x37000020; }},
      {{"--platform", "0X0000001f"}, [](auto& o) { return o.config.platformId == 0x1F; }},
      {{"--software=FFFFFFFF"}, [](auto& o) { return o.config.softwareWord == 0xFFFFFFFF; }},
      {{"-n", "16", "--link", "/tmp/x"},
       [](auto& o) { return o.modules == 16 && o.link == "/tmp/x"; }},
      {{"--boot"},
       [](auto& o) { return o.config.startInBoot && o.config.loader.bootWindowMs == ~0U; }},
      {{"--tat", "--chunk", "4096", "--line-speed", "on"},
       [](auto& o) {
         return o.config.startInTat && o.pty.chunkSize == 4096 && o.pty.emulateLineSpeed;
       }},
      {{"--serial", "0123456789"},
       [&](auto& o) {
         return otpStarts(o, {1, 0x01, 0x23, 0x45, 0x67, 0x89});
       }},
      {{"--generation", "1", "--serial", "TV1-7"},
       [](auto& o) { return o.config.gen1Serial == "TV1-7"; }},
      {{"--generation", "5", "--serial", "ABCDEFGHIJKLMN"},
       [&](auto& o) {
         return otpStarts(o, {'N', 'M', 'L'});
       }},
      {{"--unknown-section", "3", "--unknown-section", "40", "--refuse-write", "37"},
       [](auto& o) {
         return o.faults.unknownSections == std::set<uint8_t>{3, 40} &&
                o.faults.refusedWrites.count(37);
       }},
      {{"--silent", "always", "--garbage", "2"},
       [](auto& o) {
         return o.faults.silentAnswers == tavosim::kForever && o.faults.garbageBeforeAnswers == 2;
       }},
      {{"--block-status", "0x45@3", "--lose-command", "03:2", "--drop-after", "100"},
       [](auto& o) {
         const auto& l = o.faults.loader;
         return l.blockStatus == 0x45 && l.blockStatusAfterBlocks == 3 &&
                l.lostCommands.at(3) == 2 && l.dropAfterSoftwareBytes == 100u;
       }},
      {{"--lose-read", "37@2"},
       [](auto& o) {
         return o.faults.chunkDrops.size() == 1 && o.faults.chunkDrops[0].chunkIndex == 2;
       }},
  };
  for (const GoodRow& row : rows) {
    SCOPED_TRACE(row.args[0]);
    ProgramOptions options;
    const tavosim::ParseOutcome outcome = Parse(row.args, options);
    ASSERT_TRUE(outcome.serve) << outcome.text;
    EXPECT_TRUE(row.holds(options));
  }
}

TEST(ProgramOptions, GenerationPicksWordsHostsTakeForIt) {
  for (int g = 0; g <= 6; ++g) {
    ProgramOptions options;
    const std::string value = std::to_string(g);
    ASSERT_TRUE(Parse({"--generation", value.c_str()}, options).serve);
    EXPECT_EQ(tavosim::ModuleGeneration(options.config.platformId, options.config.softwareWord), g);
  }
}

TEST(ProgramOptions, HelpAndVersionExitZero) {
  ProgramOptions options;
  const tavosim::ParseOutcome help = Parse({"--help"}, options);
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.text.find("Faults:"), std::string::npos);
  EXPECT_NE(help.text.find("12000 ms"), std::string::npos);
  EXPECT_EQ(Parse({"--version"}, options).text, "tavosim (TavoLink2) " TAVOSIM_VERSION "\n");
}

TEST(ProgramLinks, NamesAndWhatMayBeReplaced) {
  EXPECT_EQ(tavosim::LinkPath("/tmp/tty", 1, 0), "/tmp/tty");
  EXPECT_EQ(tavosim::LinkPath("/tmp/tty", 3, 2), "/tmp/tty2");
  TempDir dir;
  dir.Write("file", "keep");
  std::filesystem::create_symlink(dir.File("file"), dir.File("to_file"));
  std::filesystem::create_symlink(dir.File("gone"), dir.File("stale"));
  std::filesystem::create_symlink("/dev/pts/ptmx", dir.File("old_pty"));
  std::string error;
  EXPECT_FALSE(tavosim::MakeLink(dir.File("file"), "/dev/null", error));
  EXPECT_FALSE(tavosim::MakeLink(dir.File("to_file"), "/dev/null", error));
  EXPECT_EQ(dir.Read("file"), "keep");
  for (const char* name : {"stale", "old_pty", "new"}) {
    EXPECT_TRUE(tavosim::MakeLink(dir.File(name), "/dev/null", error)) << name;
    EXPECT_EQ(std::filesystem::read_symlink(dir.File(name)), "/dev/null");
    tavosim::RemoveLink(dir.File(name), "/dev/null");
    EXPECT_FALSE(std::filesystem::is_symlink(dir.File(name)));
  }
}

// A .SAV file: "TAVO", version 3, then (id, size, image) records.
Bytes Sav(const std::vector<std::pair<uint16_t, Bytes>>& records, uint16_t version = 3) {
  Bytes file{'T', 'A', 'V', 'O', static_cast<uint8_t>(version), 0};
  for (const auto& [id, image] : records) {
    const Bytes head = frames::Words({id, static_cast<uint16_t>(image.size())});
    file.insert(file.end(), head.begin(), head.end());
    file.insert(file.end(), image.begin(), image.end());
  }
  return file;
}

TEST(SavFile, GoodFileGivesItsSectionsAndEveryCutWithinARecordIsRefused) {
  const Bytes imei = tavosim::MakeSectionImage(Bytes(16, 0x12));
  const Bytes maker = tavosim::MakeSectionImage(Bytes(956, 0x37), 5);
  const Bytes file = Sav({{18, imei}, {3, {}}, {37, maker}});
  std::string error;
  const auto sections = tavosim::ParseSav(file, error);
  ASSERT_TRUE(sections) << error;
  ASSERT_EQ(sections->size(), 2u);  // the empty record is a section the module lacked
  EXPECT_EQ((*sections)[0].id, 18);
  EXPECT_EQ((*sections)[0].image, imei);
  EXPECT_EQ((*sections)[1].image, maker);
  const size_t boundaries[] = {6 + 4 + imei.size(), 6 + 8 + imei.size()};
  for (size_t n = 0; n < file.size(); ++n) {
    const bool whole = n == boundaries[0] || n == boundaries[1];
    EXPECT_EQ(tavosim::ParseSav(std::span(file).first(n), error).has_value(), whole) << n;
  }
}

TEST(SavFile, RecordsThatCannotBeModuleMemoryAreRefused) {
  const Bytes image = tavosim::MakeSectionImage(Bytes(8, 1));
  Bytes sizeMismatch = image;
  sizeMismatch[2] = 15;
  Bytes beyond = Sav({{0, image}});
  beyond[8] = 17;  // the record claims one byte more than the file has
  const Bytes rows[] = {
      Sav({{0, image}}, 2),
      Sav({}),
      Sav({{0, {}}}),
      Sav({{0, Bytes(7, 0)}}),
      Sav({{0, sizeMismatch}}),
      Sav({{256, image}}),
      Sav({{0, image}, {0, image}}),
      beyond,
  };
  for (const Bytes& file : rows) {
    std::string error;
    EXPECT_FALSE(tavosim::ParseSav(file, error));
    EXPECT_FALSE(error.empty());
  }
  Bytes badMagic = Sav({{0, image}});
  badMagic[0] = 'X';
  std::string error;
  EXPECT_FALSE(tavosim::ParseSav(badMagic, error));
}

TEST(SavFile, LoadingRefusesWhatNoBackupIs) {
  TempDir dir;
  dir.Write("good.SAV", Sav({{40, tavosim::MakeSectionImage(Bytes(84, 0))}}));
  dir.Write("huge.SAV", "");
  std::filesystem::resize_file(dir.File("huge.SAV"), tavosim::kSavMaxFileSize + 1);
  std::string error;
  EXPECT_TRUE(tavosim::LoadSavFile(dir.File("good.SAV"), error));
  EXPECT_FALSE(tavosim::LoadSavFile(dir.File("huge.SAV"), error));
  EXPECT_FALSE(tavosim::LoadSavFile(dir.Path(), error));
  ProgramOptions options;
  const std::string path = dir.File("good.SAV");
  ASSERT_TRUE(Parse({"--sav", path.c_str()}, options).serve);
  ASSERT_EQ(options.config.sections.size(), 1u);
  EXPECT_EQ(options.config.sections[0].id, 40);
}

struct LogStep {
  tavosim::WireDirection direction;
  tavosim::Mode mode;
  Bytes bytes;
  uint64_t ms;
};

TEST(WireLog, FramesWholeNoiseApartTextQuotedSoftwareCounted) {
  using enum tavosim::WireDirection;
  using tavosim::Mode;
  const Bytes request = frames::VersionRequest();
  Bytes bad = frames::Answer(frames::kTat, 0x7200, Bytes(12));
  ++bad.back();
  const Bytes noisy = [&] {
    Bytes b{0x00, 0xAA, 0xAA};
    b.insert(b.end(), bad.begin(), bad.end());
    return b;
  }();
  const LogStep steps[] = {
      {kIn, Mode::kAt, {'A', 'T', '\r'}, 5},
      {kIn, Mode::kTat, Bytes(request.begin(), request.begin() + 7), 1000},
      {kIn, Mode::kTat, Bytes(request.begin() + 7, request.end()), 1001},
      {kOut, Mode::kTat, noisy, 1002},
      {kIn, Mode::kTat, Bytes(request.begin(), request.begin() + 3), 1003},
      {kIn, Mode::kTat, request, 2000},  // the half-sent frame was forgotten meanwhile
      {kIn, Mode::kReceivingSoftware, Bytes(4096, 0x5A), 2500},
  };
  char* text = nullptr;
  size_t size = 0;
  std::FILE* to = ::open_memstream(&text, &size);
  tavosim::WireLog log(to, 3);
  for (const LogStep& s : steps) {
    log.Observe(s.direction, s.mode, s.bytes, s.ms);
  }
  std::fclose(to);
  const std::string got(text, size);
  std::free(text);
  EXPECT_EQ(got,
            "    0.005 #3 in  at       41 54 0D  \"AT\\r\"\n"
            "    1.001 #3 in  frame    AA 83 0C 00 0C 00 14 00 48 00 02 48 00 72 CC CC B5  "
            "(message 4802)\n"
            "    1.002 #3 out bytes    00 AA AA\n"
            "    1.002 #3 out frame    AA 83 14 00 14 00 48 00 14 00 00 72 00 00 00 00 00 00 00 00 "
            "00 00 00 00 88  (message 7200, bad checksum)\n"
            "    1.003 #3 in  bytes    AA 83 0C  (an incomplete frame)\n"
            "    2.000 #3 in  frame    AA 83 0C 00 0C 00 14 00 48 00 02 48 00 72 CC CC B5  "
            "(message 4802)\n"
            "    2.500 #3 in  software  4096 bytes\n");
}

// Reads what the descriptor gives until `enough` says so or 2 s pass.
std::string ReadUntil(int fd, const std::function<bool(const std::string&)>& enough) {
  std::string got;
  for (int waited = 0; !enough(got) && waited < 2000; waited += 10) {
    pollfd p{fd, POLLIN, 0};
    char buffer[256];
    if (::poll(&p, 1, 10) == 1) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) {
        break;
      }
      got.append(buffer, static_cast<size_t>(n));
    }
  }
  return got;
}

TEST(ProgramRun, ServesTwoModulesInTatModeAndStopsCleanlyOnSigterm) {
  TempDir dir;
  const std::string link = dir.File("tty");
  const std::string log = dir.File("log");
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT, 0600);
  const char* argv[] = {TAVOSIM_PATH, "-n", "2", "--tat", "-v", "--link", link.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, TAVOSIM_PATH, &actions, nullptr, const_cast<char**>(argv), environ),
            0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);

  const std::string paths = ReadUntil(
      out[0], [](const std::string& s) { return std::count(s.begin(), s.end(), '\n') == 2; });
  ASSERT_EQ(std::count(paths.begin(), paths.end(), '\n'), 2) << paths;
  const std::string second =
      paths.substr(paths.find('\n') + 1, paths.size() - paths.find('\n') - 2);
  EXPECT_EQ(std::filesystem::read_symlink(link + "1"), second);

  const int tty = ::open(second.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(tty, 0);
  termios raw{};
  ::tcgetattr(tty, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(tty, TCSANOW, &raw);
  const Bytes request = frames::VersionRequest();
  ASSERT_EQ(::write(tty, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  const std::string answer = ReadUntil(tty, [](const std::string& s) { return s.size() >= 25; });
  ::close(tty);
  const Bytes words = frames::Words({0, 0, 0x13, 0x3700, 0x0124, 0x0100});
  EXPECT_EQ(Bytes(answer.begin(), answer.end()), frames::Answer(frames::kTat, 0x7200, words));

  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::close(out[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(std::filesystem::is_symlink(link + "0"));
  EXPECT_FALSE(std::filesystem::is_symlink(link + "1"));
  EXPECT_NE(dir.Read("log").find("#1 in  frame"), std::string::npos) << dir.Read("log");
}

}  // namespace
}  // namespace tavo::test
