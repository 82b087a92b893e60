// What one TAT request costs over a pseudo-terminal, and what the library
// costs while it waits on a module that does not answer.
//
// The CPU column of Google Benchmark is the CPU time of the calling thread,
// which is where the library runs; the simulated module runs on its own
// thread and is not counted.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <string>

#include "bench_clock.h"
#include "interface/channel_manager.h"
#include "tavolink2.h"
#include "tavosim/pty_module.h"

namespace {

using tavo::bench::ThreadCpuSeconds;
using tavo::bench::WallSeconds;

constexpr int32_t kComPort = 41;

// A module already in TAT mode, bound to a slot with an open session.
struct OpenModule {
  tavosim::PtyModule module{[] {
    tavosim::ModuleConfig config;
    config.startInTat = true;
    return config;
  }()};
  int32_t slot = -1;
  bool ok = false;

  OpenModule() {
    if (!module.Start()) {
      return;
    }
    setenv(("TAVOLINK_COM" + std::to_string(kComPort)).c_str(), module.SlavePath().c_str(), 1);
    ok = tavolink_Init(kComPort, 115200, &slot) == TAVOLINK_OK &&
         tavolink_OpenSession(slot) == TAVOLINK_OK;
  }
  ~OpenModule() {
    tavolink_CloseSession(slot);
    tavolink_Close(slot);
  }
};

void BM_VersionExchange(benchmark::State& state) {
  OpenModule open;
  if (!open.ok) {
    state.SkipWithError("no session with the simulated module");
    return;
  }
  char version[17];
  for (auto _ : state) {
    if (tavolink_GetSoftVersion(version, open.slot) != TAVOLINK_OK) {
      state.SkipWithError("version request failed");
      break;
    }
  }
}
BENCHMARK(BM_VersionExchange)->UseRealTime()->Unit(benchmark::kMicrosecond);

// One request to a module that stays silent for the whole request time-out:
// the counter cpu_share is the library's CPU time over the wall time waited.
void BM_WaitOnSilentModule(benchmark::State& state) {
  OpenModule open;
  if (!open.ok) {
    state.SkipWithError("no session with the simulated module");
    return;
  }
  tavolink_SetTATTimeOut(static_cast<int32_t>(state.range(0)), 0, open.slot);
  open.module.Core().EditFaults([](tavosim::Faults& faults) { faults.deaf = true; });
  double cpu = 0;
  double wall = 0;
  char version[17];
  for (auto _ : state) {
    const double cpu0 = ThreadCpuSeconds();
    const double wall0 = WallSeconds();
    const int32_t status = tavolink_GetSoftVersion(version, open.slot);
    cpu += ThreadCpuSeconds() - cpu0;
    wall += WallSeconds() - wall0;
    if (status != TAVOLINK_REQUEST_TIMEOUT) {
      state.SkipWithError("a silent module answered");
      break;
    }
  }
  state.counters["cpu_share_percent"] = wall > 0 ? 100.0 * cpu / wall : 0.0;
  tavolink_SetTATTimeOut(-1, 0, open.slot);
}
BENCHMARK(BM_WaitOnSilentModule)
    ->Arg(1000)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
