// What a software download through the module's boot loader achieves against
// simulated modules on ptys that pace the line at the baud rate the library
// set (10 bits a byte) and hand the module's bytes over in 64-byte chunks, as
// a USB serial adapter does. All figures come from one run, side by side (the
// machine is shared and noisy, so only figures of one run compare):
//
//   BM_Download/B/K/0     one download of a K KiB software file at B baud
//                         (1 MiB at 921600, 256 KiB at 115200), the flash as
//                         fast as the line
//   BM_Download/B/K/60    the same with a flash that writes only 60 % of the
//                         line's bytes per second: the loader holds the
//                         library back with XOFF and lets it go with XON
//   BM_Parallel/N         one download of 1 MiB at 921600 baud alone, then N
//                         of them at once on N slots against N simulators,
//                         one host thread each
//
// Counters:
//   ratio_of_line        the software stream's throughput over the line rate
//                        (baud / 10 bytes a second); the stream is timed from
//                        progress code 8 (the write command is accepted) to
//                        code 10 (the loader's final answer, looked for every
//                        50 ms, has come)
//   ratio_of_flash       the same stream's throughput over the flash rate
//   cpu_share_percent    CPU time of the host threads that call the download
//                        over the wall time of the whole download, in percent
//                        of one core; the simulators' threads do not count
//   download_s           wall time of the whole download: the stream plus the
//                        fixed waits outside it (1 s before the baud change,
//                        0.2 s before the flow-control change, the port's
//                        settling after each opening, the erase, the pause
//                        after the address command), which the stream
//                        figures leave out and the CPU share takes in
//   tail_s               from the last block written (progress 100 %) to the
//                        final answer: how far the writes ran ahead of the line
//   xoff, overflow_bytes  the loader's XOFFs, and the bytes that reached it
//                        while its buffer was full (written before the XOFF
//                        could stop them)
//   wall_over_single     BM_Parallel: wall time of the N downloads at once
//                        over the wall time of the one alone, measured just
//                        before; its cpu_share_percent adds the N threads' CPU
//   worst_ratio_of_line  BM_Parallel: the slowest of the N streams
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_clock.h"
#include "tavolink2.h"
#include "tavosim/line_pacer.h"
#include "tavosim/module.h"
#include "tavosim/pty_module.h"

namespace {

using tavo::bench::ThreadCpuSeconds;
using tavo::bench::WallSeconds;

constexpr int32_t kFirstComPort = 71;
constexpr uint32_t kProgressMessage = 0x8000;
constexpr uint16_t kSoftwareTransfer = 8;
constexpr uint16_t kSoftwarePercent = 9;
constexpr uint16_t kSoftwareSent = 10;
constexpr uint32_t kParallelBaud = 921600;
constexpr size_t kParallelKiB = 1024;

// The moments of the software stream's start and end, as the download
// reports them on its own thread.
struct Stream {
  double begin = 0;
  double allWritten = 0;  // the progress of 100 %: the last block is written
  double end = 0;
};

intptr_t Progress(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (window == nullptr || message != kProgressMessage) {
    return 0;
  }
  auto* stream = static_cast<Stream*>(window);
  const auto code = static_cast<uint16_t>(wParam & 0xFFFF);
  if (code == kSoftwareTransfer) {
    stream->begin = WallSeconds();
  } else if (code == kSoftwarePercent && lParam == 100) {
    stream->allWritten = WallSeconds();
  } else if (code == kSoftwareSent) {
    stream->end = WallSeconds();
  }
  return 0;
}

// The loader and software files of one run, in a directory of their own.
class Files {
 public:
  Files() {
    char pattern[] = "/tmp/download_bench.XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
      dir_ = pattern;
      loader_ = dir_ + "/loader.hex";
      std::ofstream(loader_, std::ios::binary) << ":020000040000FA\r\n:00000001FF\r\n";
    }
  }
  ~Files() {
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
  }
  Files(const Files&) = delete;
  Files& operator=(const Files&) = delete;

  bool Ok() const { return !dir_.empty(); }
  const std::string& Loader() const { return loader_; }
  // A software file of kib KiB (written once), and its bytes.
  const std::string& Software(size_t kib) {
    const std::string path = dir_ + "/soft" + std::to_string(kib) + ".cla";
    if (software_.size() != kib * 1024) {
      software_.resize(kib * 1024);
      for (size_t i = 0; i < software_.size(); ++i) {
        software_[i] = static_cast<uint8_t>(i % 251);
      }
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(software_.data()),
                 static_cast<std::streamsize>(software_.size()));
    }
    softwarePath_ = path;
    return softwarePath_;
  }
  const tavosim::Bytes& SoftwareBytes() const { return software_; }

 private:
  std::string dir_;
  std::string loader_;
  std::string softwarePath_;
  tavosim::Bytes software_;
};

struct Result {
  bool ok = false;
  int32_t status = -1;
  double wall = 0;
  double cpu = 0;
  double stream = 0;
  double tail = 0;
};

// A simulated module on a pty, bound to its own slot whose download speed is
// `baud`.
class Station {
 public:
  Station(int index, uint32_t baud, uint32_t flashBytesPerSecond)
      : module_(Config(flashBytesPerSecond), Options()), comPort_(kFirstComPort + index) {
    if (!module_.Start()) {
      return;
    }
    env_ = "TAVOLINK_COM" + std::to_string(comPort_);
    setenv(env_.c_str(), module_.SlavePath().c_str(), 1);
    ok_ = tavolink_Init(comPort_, static_cast<int32_t>(baud), &slot_) == TAVOLINK_OK;
    tavolink_SetWindowDownload(&stream_, kProgressMessage, slot_);
  }
  ~Station() {
    tavolink_SetWindowDownload(nullptr, 0, slot_);
    tavolink_Close(slot_);
    module_.Stop();
    if (!env_.empty()) {
      unsetenv(env_.c_str());
    }
  }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  bool Ok() const { return ok_; }

  // Switches the module on and flashes it, on the calling thread.
  Result Download(const std::string& software, const std::string& loader) {
    module_.Core().ClearLoaderLog();
    module_.Core().Reset(tavosim::Mode::kBoot);
    stream_ = {};
    Result result;
    const double cpu0 = ThreadCpuSeconds();
    const double wall0 = WallSeconds();
    const int32_t status =
        tavolink_DownloadSoftwareEx(software.c_str(), loader.c_str(), 0, 0, slot_);
    result.wall = WallSeconds() - wall0;
    result.cpu = ThreadCpuSeconds() - cpu0;
    result.stream = stream_.end - stream_.begin;
    result.tail = stream_.end - stream_.allWritten;
    result.status = status;
    result.ok = status == TAVOLINK_OK && stream_.begin > 0 && stream_.end > stream_.begin;
    return result;
  }
  // The module holds exactly these bytes.
  bool Flashed(const tavosim::Bytes& software) {
    return module_.Core().Loader().software == software;
  }
  tavosim::LoaderLog Log() { return module_.Core().Loader(); }

 private:
  static tavosim::ModuleConfig Config(uint32_t flashBytesPerSecond) {
    tavosim::ModuleConfig config;
    config.startInTat = true;
    config.loader.flashBytesPerSecond = flashBytesPerSecond;
    return config;
  }
  static tavosim::PtyOptions Options() {
    tavosim::PtyOptions options;
    options.emulateLineSpeed = true;
    options.chunkSize = tavosim::LinePacer::kUsbChunk;
    return options;
  }

  tavosim::PtyModule module_;
  int32_t comPort_;
  std::string env_;
  int32_t slot_ = -1;
  bool ok_ = false;
  Stream stream_;
};

double LineBytesPerSecond(uint32_t baud) {
  return static_cast<double>(baud) / tavosim::LinePacer::kBitsPerByte;
}

void BM_Download(benchmark::State& state) {
  const auto baud = static_cast<uint32_t>(state.range(0));
  const auto kib = static_cast<size_t>(state.range(1));
  const auto flashPercent = static_cast<uint32_t>(state.range(2));
  const auto flashRate =
      static_cast<uint32_t>(LineBytesPerSecond(baud) * static_cast<double>(flashPercent) / 100.0);
  tavolink_SetMessageSender(&Progress);
  Files files;
  Station station(0, baud, flashRate);
  if (!files.Ok() || !station.Ok()) {
    state.SkipWithError("no files or no simulated module");
    return;
  }
  const std::string& software = files.Software(kib);
  Result result;
  for (auto _ : state) {
    result = station.Download(software, files.Loader());
  }
  if (!result.ok || !station.Flashed(files.SoftwareBytes())) {
    state.SkipWithError(("the download failed: status " + std::to_string(result.status)).c_str());
    return;
  }
  const auto bytes = static_cast<double>(kib * 1024);
  if (flashRate == 0) {
    state.counters["ratio_of_line"] = bytes / LineBytesPerSecond(baud) / result.stream;
  } else {
    state.counters["ratio_of_flash"] = bytes / flashRate / result.stream;
    const tavosim::LoaderLog log = station.Log();
    state.counters["xoff"] = log.xoffSent;
    state.counters["overflow_bytes"] = static_cast<double>(log.overflowBytes);
  }
  state.counters["cpu_share_percent"] = 100.0 * result.cpu / result.wall;
  state.counters["download_s"] = result.wall;
  state.counters["tail_s"] = result.tail;
}
BENCHMARK(BM_Download)
    ->Args({921600, 1024, 0})
    ->Args({115200, 256, 0})
    ->Args({921600, 1024, 60})
    ->Args({115200, 256, 60})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

void BM_Parallel(benchmark::State& state) {
  const auto count = static_cast<size_t>(state.range(0));
  tavolink_SetMessageSender(&Progress);
  Files files;
  std::vector<std::unique_ptr<Station>> stations;
  for (size_t i = 0; i < count && files.Ok(); ++i) {
    stations.push_back(std::make_unique<Station>(static_cast<int>(i), kParallelBaud, 0));
    if (!stations.back()->Ok()) {
      break;
    }
  }
  if (!files.Ok() || stations.size() != count || !stations.back()->Ok()) {
    state.SkipWithError("no files or not enough simulated modules");
    return;
  }
  const std::string& software = files.Software(kParallelKiB);
  Result single;
  std::vector<Result> results(count);
  double wall = 0;
  for (auto _ : state) {
    single = stations[0]->Download(software, files.Loader());
    const double wall0 = WallSeconds();
    std::vector<std::thread> threads;
    for (size_t i = 0; i < count; ++i) {
      threads.emplace_back(
          [&, i] { results[i] = stations[i]->Download(software, files.Loader()); });
    }
    for (std::thread& t : threads) {
      t.join();
    }
    wall = WallSeconds() - wall0;
  }
  double cpu = 0;
  double slowest = 0;
  std::string failures;
  if (!single.ok) {
    failures.append(" alone:").append(std::to_string(single.status));
  }
  for (size_t i = 0; i < count; ++i) {
    if (!results[i].ok || !stations[i]->Flashed(files.SoftwareBytes())) {
      failures.append(" ")
          .append(std::to_string(i))
          .append(":")
          .append(std::to_string(results[i].status));
    }
    cpu += results[i].cpu;
    slowest = std::max(slowest, results[i].stream);
  }
  if (!failures.empty()) {
    state.SkipWithError(("downloads failed (station:status):" + failures).c_str());
    return;
  }
  const auto lineSeconds =
      static_cast<double>(kParallelKiB * 1024) / LineBytesPerSecond(kParallelBaud);
  state.counters["wall_over_single"] = wall / single.wall;
  state.counters["cpu_share_percent"] = 100.0 * cpu / wall;
  state.counters["ratio_of_line"] = lineSeconds / single.stream;
  state.counters["worst_ratio_of_line"] = lineSeconds / slowest;
  state.counters["download_s"] = single.wall;
  state.counters["tail_s"] = single.tail;
}
BENCHMARK(BM_Parallel)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
