// A station at full load: 16 slots bound to 16 simulated modules on ptys,
// driven at once from 16 host threads. The slots are first bound and freed
// by all threads at the same moment; then, for about two seconds, sessions,
// section reads, backups and downloads run side by side while other threads
// stop detections and abort downloads on slots that are not theirs. Every
// call's status is checked and the calls are counted. Its real worth is under
// ThreadSanitizer (.ci/tsan), where any unguarded sharing between the
// threads fails the run.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "data/sim_session.h"
#include "support/temp_dir.h"

namespace tavo::test {
namespace {

using tavosim::Bytes;
using tavosim::Mode;

constexpr int kSlots = CChannelManager::kChannelCount;
constexpr int32_t kFirstPort = 140;

// The library's pauses of 100 ms and more (line settling, the waits around
// a baud change, section commits, an abort's grace time) are skipped, so
// that the threads spend their time in exchanges; the short polls of the
// loader and every time-out still run on real time. Skipped time is counted
// per thread, as SkipSleepClock does.
class StressClock final : public platform::Clock {
 public:
  uint32_t TickCount() override {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
               std::chrono::duration_cast<std::chrono::milliseconds>(since).count()) +
           skipped_;
  }
  void Sleep(uint32_t ms) override {
    if (ms >= 100) {
      skipped_ += ms;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
  }

 private:
  static inline thread_local uint32_t skipped_ = 0;
};

enum class Role {
  kSessions,
  kBackups,
  kDownloads,
  kAbortedDownloads,
  kDetections,
  kEndlessDetections,
  kStopper
};

// Four threads of sessions, four of backups, three of downloads; the last
// thread aborts the downloads of two others, stops the detections of one
// whose module never answers and ends the sessions of one that finds its
// module.
Role RoleOf(int i) {
  if (i < 4) return Role::kSessions;
  if (i < 8) return Role::kBackups;
  if (i < 11) return Role::kDownloads;
  if (i < 13) return Role::kAbortedDownloads;
  if (i < 14) return Role::kDetections;
  return i < 15 ? Role::kEndlessDetections : Role::kStopper;
}

class Stress : public ::testing::Test {
 protected:
  void SetUp() override {
    loaderDir_.Write("loader.hex", std::string(":020000040000FA\r\n:00000001FF\r\n"));
    loaderDir_.Write("soft.cla", Bytes(6000, 0xA5));
    for (int i = 0; i < kSlots; ++i) {
      tavosim::ModuleConfig config;
      config.loader.eraseMs = 5;
      ASSERT_NO_FATAL_FAILURE(modules_[i].Start(kFirstPort + i, config));
    }
  }
  void TearDown() override {
    for (PtySlot& m : modules_) {
      if (m.slot >= 0) tavolink_Close(m.slot);
      m.slot = -1;
    }
  }
  int32_t Download(int i) {
    return tavolink_DownloadSoftwareEx(loaderDir_.File("soft.cla").c_str(),
                                       loaderDir_.File("loader.hex").c_str(), 0, 0,
                                       modules_[i].slot);
  }
  // The work of thread i until the deadline; the calls made are counted.
  void Work(int i, std::chrono::steady_clock::time_point deadline) {
    PtySlot& m = modules_[i];
    const auto more = [&] { return std::chrono::steady_clock::now() < deadline; };
    const auto count = [&](int32_t status, std::initializer_list<int32_t> expected) {
      ++calls_[static_cast<size_t>(RoleOf(i))];
      EXPECT_TRUE(std::find(expected.begin(), expected.end(), status) != expected.end())
          << "thread " << i << " status " << status;
    };
    switch (RoleOf(i)) {
      case Role::kSessions:
        for (char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE]; more();) {
          count(tavolink_OpenSessionEx(id, m.slot), {TAVOLINK_OK});
          uint8_t radio[1024];
          uint32_t size = 0;
          count(tavolink_ReadRadioParameters(radio, sizeof radio, &size, m.slot), {TAVOLINK_OK});
          EXPECT_EQ(Bytes(radio, radio + size), m.Payload(0));
          char serial[TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE];
          count(tavolink_ReadSerialNumber(serial, m.slot), {TAVOLINK_OK});
          count(tavolink_CloseSession(m.slot), {TAVOLINK_OK});
        }
        break;
      case Role::kBackups: {
        TempDir dir;
        count(tavolink_OpenSession(m.slot), {TAVOLINK_OK});
        for (char name[TAVOLINK_FILE_NAME_BUFFER_SIZE]; more();) {
          count(tavolink_SaveParameters(dir.Path().c_str(), name, m.slot), {TAVOLINK_OK});
          count(tavolink_RestoreParameters(dir.Path().c_str(), name, 1, m.slot), {TAVOLINK_OK});
        }
        count(tavolink_CloseSession(m.slot), {TAVOLINK_OK});
        break;
      }
      case Role::kDownloads:
        while (more()) {
          m.Core().Reset(Mode::kBoot);
          count(Download(i), {TAVOLINK_OK});
          EXPECT_EQ(m.Core().Loader().software, Bytes(6000, 0xA5));
        }
        break;
      case Role::kAbortedDownloads:
        m.Core().EditFaults([](tavosim::Faults& f) { f.loader.neverSyncs = true; });
        while (more()) {
          m.Core().Reset(Mode::kBoot);
          count(Download(i), {TAVOLINK_DOWNLOAD_ABORTED});
        }
        break;
      case Role::kDetections:
      case Role::kEndlessDetections: {
        const bool endless = RoleOf(i) == Role::kEndlessDetections;
        m.Core().EditFaults([&](tavosim::Faults& f) { f.deaf = endless; });
        // A module that does not greet at a rate costs this much: the deaf
        // one at every rate, the other at the first after a probe in TAT
        // mode (bytes its AT line does not take).
        tavolink_SetTATTimeOut(endless ? 150 : 600, 600, m.slot);
        while (more()) {
          m.Core().Reset(Mode::kAt);
          char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE];
          char imei[TAVOLINK_IMEI_BUFFER_SIZE];
          // A module found may lose its session to the other thread's
          // CloseSession at any request: the port closes under the reads.
          count(tavolink_DetectModule(nullptr, 0, nullptr, id, imei, nullptr, nullptr, nullptr,
                                      nullptr, m.slot),
                endless ? std::initializer_list<int32_t>{TAVOLINK_DETECTION_ABORTED}
                        : std::initializer_list<int32_t>{TAVOLINK_OK, TAVOLINK_DETECTION_ABORTED,
                                                         TAVOLINK_SESSION_NOT_OPEN,
                                                         TAVOLINK_REQUEST_TIMEOUT});
        }
        break;
      }
      case Role::kStopper: {
        // Stops whatever the other slots' threads started, until all of them
        // are done: a stop that came before the detection began is lost, so
        // it is repeated.
        std::minstd_rand random(static_cast<unsigned>(i));
        while (done_.load() < kSlots - 1) {
          std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 40));
          for (int other = 0; other < kSlots - 1; ++other) {
            const int32_t slot = modules_[other].slot;
            if (RoleOf(other) == Role::kDetections || RoleOf(other) == Role::kEndlessDetections) {
              count(tavolink_StopDetection(slot), {TAVOLINK_OK});
              count(tavolink_CloseSession(slot), {TAVOLINK_OK});
            } else if (RoleOf(other) == Role::kAbortedDownloads &&
                       Manager().Channel(slot)->downloader.IsActive()) {
              // 201 when the download had not let go of the port yet.
              count(tavolink_CloseSession(slot), {TAVOLINK_OK, TAVOLINK_THREAD_INDEX_BUSY});
            }
          }
        }
        return;
      }
    }
    ++done_;
  }

  TempDir loaderDir_;
  std::array<PtySlot, kSlots> modules_;
  std::array<std::atomic<int>, 7> calls_{};  // by role
  std::atomic<int> done_{0};
  std::atomic<int> binds_{0};
};

TEST_F(Stress, SixteenThreadsOnSixteenSlotsAtOnce) {
  StressClock clock;
  platform::ScopedClock use(clock);
  // Every thread binds its port and frees the slot again, all at once; once
  // in each round all 16 slots are held, and a 17th port finds none free.
  constexpr int kRounds = 20;
  std::barrier allBound(kSlots);
  std::vector<std::thread> threads;
  for (int i = 0; i < kSlots; ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < kRounds; ++round) {
        int32_t slot = -1;
        const int32_t status = tavolink_Init(kFirstPort + i, 115200, &slot);
        EXPECT_EQ(status, TAVOLINK_OK);
        if (status == TAVOLINK_OK) {
          EXPECT_EQ(Manager().Channel(slot)->comPort, kFirstPort + i);
        }
        if (round % 5 == 0) {
          allBound.arrive_and_wait();
          if (i == 0) {
            int32_t none = 0;
            EXPECT_EQ(tavolink_Init(kFirstPort + kSlots, 115200, &none),
                      TAVOLINK_THREAD_INDEX_BUSY);
          }
          allBound.arrive_and_wait();
        }
        if (status == TAVOLINK_OK) {
          EXPECT_EQ(tavolink_Close(slot), TAVOLINK_OK);
        }
        binds_ += 2;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  threads.clear();

  for (PtySlot& m : modules_) {
    ASSERT_EQ(m.Bind(), TAVOLINK_OK);
    tavolink_SetTATTimeOut(3000, 3000, m.slot);
    tavolink_SetTATDelay(1, 1, 1, 0, m.slot);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (int i = 0; i < kSlots; ++i) threads.emplace_back([this, i, deadline] { Work(i, deadline); });
  for (std::thread& t : threads) t.join();
  const char* names[] = {"sessions",          "backups",    "downloads",
                         "aborted downloads", "detections", "endless detections",
                         "stops and closes"};
  int calls = binds_.load();
  std::printf("Calls of the C interface: %d binding and freeing slots", calls);
  for (size_t r = 0; r < calls_.size(); ++r) {
    std::printf(", %d %s", calls_[r].load(), names[r]);
    calls += calls_[r].load();
    EXPECT_GT(calls_[r].load(), 0) << names[r];
  }
  std::printf("; %d in all\n", calls);
  RecordProperty("calls", calls);
}

}  // namespace
}  // namespace tavo::test
