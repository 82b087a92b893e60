// Backups cut short by a kill. A station may die at any moment (power cut,
// a killed process), also while it writes a module's backup, and the next
// restore by serial number must then still find a whole backup: the earlier
// one or the complete new one, never a truncated file. Each run forks a child
// that serves a simulated module on a pty, binds a slot to it and saves the
// module's parameters into a directory holding the module's earlier backup;
// the parent kills the child (SIGKILL) after a random delay, spread over the
// whole backup and, in every second run, over its last part only (the
// durable write, the rename, the older backup stepping aside), which the
// child announces through a pipe. The outcomes are counted and printed.
// (The child ends with _exit, so LeakSanitizer checks the same backup in
// the other tests' processes, not here.)
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>

#include "data/backup_names.h"
#include "data/sim_session.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;
using Clock = std::chrono::steady_clock;

constexpr int32_t kComPort = 77;
constexpr int kRuns = 200;
const char kEarlierStamp[] = "_20200101_000000.SAV";

// The .SAV bytes of the sections of a plain backup, from the module's images.
Bytes SavOf(const tavosim::Module& module) {
  Bytes file = {'T', 'A', 'V', 'O', 3, 0};
  for (const int32_t id : data::kFixedBackupSections) {
    const Bytes image = *module.SectionImage(static_cast<uint8_t>(id));
    file.insert(file.end(), {static_cast<uint8_t>(id), 0, static_cast<uint8_t>(image.size()),
                             static_cast<uint8_t>(image.size() >> 8)});
    file.insert(file.end(), image.begin(), image.end());
  }
  return file;
}

int markFd = -1;

// The child's message sender: the file is about to be written.
intptr_t MarkWrite(void*, uint32_t, uintptr_t, intptr_t line) {
  if (std::strstr(reinterpret_cast<const char*>(line), "TAVO:Parameters file") != nullptr) {
    static_cast<void>(::write(markFd, "w", 1));
  }
  return 0;
}

// The child: one backup, then out without running the parent's exit code.
// The child: one backup, its outcome on the pipe ('d' done, 'f' failed),
// then it waits for the parent's kill; it never runs the parent's exit code
// (nor ThreadSanitizer's second of grace at exit).
[[noreturn]] void SaveInChild(const std::string& directory, int pipeOut) {
  markFd = pipeOut;
  SkipSleepClock clock;
  platform::InstallClock(&clock);
  PtySlot pty;
  pty.Start(kComPort);
  bool saved = false;
  if (!::testing::Test::HasFailure() && pty.Bind() == TAVOLINK_OK) {
    tavolink_SetMessageSender(&MarkWrite);
    tavolink_SetTATTimeOut(3000, 3000, pty.slot);
    tavolink_SetTATDelay(1, 1, 1, 0, pty.slot);
    char name[TAVOLINK_FILE_NAME_BUFFER_SIZE] = {};
    saved = tavolink_OpenSession(pty.slot) == TAVOLINK_OK &&
            tavolink_SaveParameters(directory.c_str(), name, pty.slot) == TAVOLINK_OK;
  }
  static_cast<void>(::write(pipeOut, saved ? "d" : "f", 1));
  for (;;) ::pause();
}

struct ChildRun {
  bool killed = false;       // before the backup was done
  Clock::duration markAt{};  // from the fork to the child's write mark
  Clock::duration endAt{};   // to the end of the backup or the kill
};

// Forks the child and kills it killAfter after the fork or, with
// afterMark, killAfter after its mark; a zero killAfter lets it finish.
ChildRun RunChild(const std::string& directory, Clock::duration killAfter, bool afterMark) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  const Clock::time_point start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    SaveInChild(directory, fds[1]);
  }
  ::close(fds[1]);
  ChildRun run;
  Clock::time_point killAt = killAfter == Clock::duration::zero() || afterMark
                                 ? Clock::time_point::max()
                                 : start + killAfter;
  for (;;) {
    pollfd p{fds[0], POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(killAt - Clock::now());
    // Near the kill the wait spins, so that it lands to the microsecond.
    const int waitMs = killAt == Clock::time_point::max() ? 100 : left.count() > 2 ? 1 : 0;
    char mark = 0;
    if (::poll(&p, 1, waitMs) > 0 && ::read(fds[0], &mark, 1) == 1 && mark == 'w') {
      run.markAt = Clock::now() - start;
      if (afterMark) killAt = Clock::now() + killAfter;
    } else if (mark != 0 || (p.revents & POLLHUP) != 0) {
      EXPECT_EQ(mark, 'd') << "the child's backup failed";
      break;
    }
    if (Clock::now() >= killAt) {
      run.killed = true;
      break;
    }
  }
  run.endAt = Clock::now() - start;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::close(fds[0]);
  return run;
}

TEST(BackupCrash, AKillAtAnyMomentLeavesTheEarlierOrTheWholeNewBackup) {
  TempDir dir;
  const tavosim::Module model{tavosim::ModuleConfig{}};
  const Bytes whole = SavOf(model);
  Bytes earlier = whole;
  std::fill(earlier.end() - 8, earlier.end(), 0x11);  // not the module's data of now

  // Runs that finish show the serial number and how long a backup takes
  // (the slowest of three, so that the kills reach its end).
  const auto emptyDirectory = [&] {
    std::filesystem::remove_all(dir.Path());
    std::filesystem::create_directory(dir.Path());
  };
  ChildRun full;
  for (int i = 0; i < 3; ++i) {
    emptyDirectory();
    const ChildRun one = RunChild(dir.Path(), {}, false);
    full.markAt = std::max(full.markAt, one.markAt);
    full.endAt = std::max(full.endAt, one.endAt);
  }
  ASSERT_EQ(dir.Names().size(), 1u);
  const std::string firstName = *dir.Names().begin();
  ASSERT_EQ(dir.ReadBytes(firstName), whole);
  const std::string serial = firstName.substr(4, firstName.size() - 4 - std::strlen(kEarlierStamp));
  const std::string earlierName = "TAVO" + serial + kEarlierStamp;
  const platform::NameFilter backups = data::BackupsOf(serial);
  const Clock::duration untilMark = full.markAt;
  const Clock::duration lastPart = full.endAt - full.markAt;

  std::mt19937 random(20260101);
  std::map<std::string, int> outcomes;
  for (int i = 0; i < kRuns; ++i) {
    emptyDirectory();
    dir.Write(earlierName, earlier);
    // Even runs: anywhere in the whole backup; odd runs: after the mark.
    const bool afterMark = i % 2 == 1;
    const auto span = afterMark ? lastPart * 3 / 2 : untilMark + lastPart;
    const auto delay = std::chrono::duration_cast<Clock::duration>(
        span * std::uniform_real_distribution<double>(0.0, 1.0)(random));
    const ChildRun run = RunChild(dir.Path(), delay + std::chrono::nanoseconds(1), afterMark);

    // What a restore by serial number may take: every match complete, and
    // the earlier backup gone only once the new one is in place.
    const std::vector<std::string> found = platform::ListMatches(dir.Path(), backups);
    ASSERT_FALSE(found.empty()) << "run " << i;
    bool earlierKept = false;
    for (const std::string& name : found) {
      earlierKept |= name == earlierName;
      EXPECT_EQ(dir.ReadBytes(name), name == earlierName ? earlier : whole) << name;
    }
    // Once the new backup is in place a restore takes it, also while the
    // earlier one still stands beside it.
    std::string taken;
    ASSERT_TRUE(data::FindNewestBackup(dir.Path(), serial, nullptr, &taken));
    EXPECT_EQ(taken == earlierName, found.size() == 1 && earlierKept) << "run " << i;
    const bool earlierAside = dir.Names().count(platform::ReplaceExtension(earlierName, "SA_")) > 0;
    EXPECT_NE(earlierKept, earlierAside) << "run " << i;
    // A temporary file of a killed write is hidden and no backup.
    size_t temporary = 0;
    for (const std::string& name : dir.Names(true)) {
      if (name[0] == '.') {
        ++temporary;
        EXPECT_FALSE(backups(name)) << name;
        EXPECT_TRUE(name.ends_with(".tmp")) << name;
      }
    }
    std::string outcome = !run.killed         ? "finished"
                          : found.size() == 2 ? "killed: both backups whole, old not yet aside"
                          : earlierKept       ? "killed: only the earlier backup"
                                              : "killed: only the new backup, old aside";
    if (temporary > 0) outcome += " (temporary file left)";
    ++outcomes[outcome];
  }
  std::printf("%d runs, a whole backup %.1f ms (%.1f ms from the write on):\n", kRuns,
              std::chrono::duration<double, std::milli>(full.endAt).count(),
              std::chrono::duration<double, std::milli>(lastPart).count());
  for (const auto& [outcome, count] : outcomes) {
    std::printf("  %4d  %s\n", count, outcome.c_str());
    RecordProperty(outcome, count);
  }
  EXPECT_GT(outcomes.size(), 2u);  // the kills did land in different places
}

}  // namespace
}  // namespace tavo::test
