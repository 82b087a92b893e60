// What receiving costs the library, side by side with its baselines in one
// run (the machine is shared and noisy, so only figures of one run compare):
//
//   BM_SectionRead/1      the library reading a 12000-byte section (four
//                         3000-byte chunks) from the simulator over a pty, one
//                         system call per byte: how an unbuffered port reads
//   BM_SectionRead/4096   the same with the port's read-ahead: what it is now
//   BM_FrameReceive/N     the library's receive path alone: four 3025-byte
//                         answer frames that are already on the line, taken
//                         by the answer receiver with a read-ahead of N
//   BM_PlainLoop          the same volume read by a plain loop with 4096-byte
//                         reads: the floor
//   BM_LineRate/P/C       P ports at once, each a simulator that paces its
//                         bytes at 921600 baud and hands them over in chunks
//                         of C bytes (16: a UART FIFO, 64: a USB adapter)
//
// Counters: cpu_us_per_byte is CPU time of the reading threads per byte
// received; syscalls_per_byte counts their read() and poll() calls (the
// library's calls are wrapped at link time, see CMakeLists.txt);
// cpu_share_percent is the reading threads' CPU time over the wall time, in
// percent of one core; wall_over_line is the slowest port's wall time over
// the line time of its bytes plus the waits the protocol asks for and the
// adapter's wait before it hands over the last, partial chunk of an answer.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_clock.h"
#include "interface/channel_manager.h"
#include "serial/serial_port.h"
#include "tat/tat_request.h"
#include "tavolink2.h"
#include "tavosim/frame.h"
#include "tavosim/line_pacer.h"
#include "tavosim/pty_module.h"

// Every read() and poll() of the objects linked here, counted per thread.
namespace {
thread_local uint64_t readCalls = 0;
thread_local uint64_t pollCalls = 0;
thread_local uint64_t bytesRead = 0;
thread_local uint64_t bytesWritten = 0;
thread_local uint64_t writeCalls = 0;
}  // namespace

extern "C" {
ssize_t __real_read(int fd, void* buffer, size_t count);
ssize_t __real_write(int fd, const void* buffer, size_t count);
int __real_poll(pollfd* fds, nfds_t count, int timeoutMs);

ssize_t __wrap_read(int fd, void* buffer, size_t count) {
  const ssize_t n = __real_read(fd, buffer, count);
  ++readCalls;
  bytesRead += n > 0 ? static_cast<uint64_t>(n) : 0;
  return n;
}
ssize_t __wrap_write(int fd, const void* buffer, size_t count) {
  const ssize_t n = __real_write(fd, buffer, count);
  ++writeCalls;
  bytesWritten += n > 0 ? static_cast<uint64_t>(n) : 0;
  return n;
}
int __wrap_poll(pollfd* fds, nfds_t count, int timeoutMs) {
  ++pollCalls;
  return __real_poll(fds, count, timeoutMs);
}
}

namespace {

using tavo::bench::ThreadCpuSeconds;
using tavo::bench::WallSeconds;

constexpr int32_t kFirstComPort = 41;
constexpr uint32_t kSectionSize = 12000;
constexpr uint32_t kLineBaud = 921600;
constexpr int32_t kRequestDelayMs = 1;

struct ThreadCounts {
  uint64_t calls = 0;
  uint64_t in = 0;
  uint64_t out = 0;
  double cpu = 0;
  uint64_t requests = 0;  // writes: one per request sent
  static ThreadCounts Now() {
    return {readCalls + pollCalls, bytesRead, bytesWritten, ThreadCpuSeconds(), writeCalls};
  }
  ThreadCounts Since(const ThreadCounts& start) const {
    return {calls - start.calls, in - start.in, out - start.out, cpu - start.cpu,
            requests - start.requests};
  }
};

// A module in TAT mode with a large section 0, bound to its own slot with an
// open session.
class Station {
 public:
  Station(int index, tavosim::PtyOptions options, int32_t tatBaud)
      : module_(Config(), options), comPort_(kFirstComPort + index) {
    if (!module_.Start()) {
      return;
    }
    setenv(("TAVOLINK_COM" + std::to_string(comPort_)).c_str(), module_.SlavePath().c_str(), 1);
    ok_ = tavolink_Init(comPort_, 115200, &slot_) == TAVOLINK_OK &&
          tavolink_ChangeTATBaudrate(tatBaud, slot_) == TAVOLINK_OK;
    tavolink_SetTATDelay(0, kRequestDelayMs, 0, 0, slot_);
    ok_ = ok_ && tavolink_OpenSession(slot_) == TAVOLINK_OK;
  }
  ~Station() {
    tavolink_CloseSession(slot_);
    tavolink_Close(slot_);
    tavolink_ChangeTATBaudrate(-1, slot_);
    tavolink_SetTATDelay(0, -1, 0, 0, slot_);
  }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  bool Ok() const { return ok_; }
  void SetReadAhead(uint32_t bytes) {
    tavo::Manager().Channels()[slot_].serial.SetReadAhead(bytes);
  }
  bool ReadSection(std::vector<uint8_t>& buffer) {
    uint32_t size = 0;
    return tavolink_ReadRadioParameters(buffer.data(), static_cast<int32_t>(buffer.size()), &size,
                                        slot_) == TAVOLINK_OK &&
           size == kSectionSize - 8;
  }

 private:
  static tavosim::ModuleConfig Config() {
    tavosim::ModuleConfig config;
    config.startInTat = true;
    for (tavosim::Section& section : config.sections) {
      if (section.id == 0) {
        section.image = tavosim::MakeSectionImage(tavosim::Bytes(kSectionSize - 8, 0x5A));
      }
    }
    return config;
  }

  tavosim::PtyModule module_;
  int32_t comPort_;
  int32_t slot_ = -1;
  bool ok_ = false;
};

void BM_SectionRead(benchmark::State& state) {
  Station station(0, {}, 115200);
  if (!station.Ok()) {
    state.SkipWithError("no session with the simulated module");
    return;
  }
  station.SetReadAhead(static_cast<uint32_t>(state.range(0)));
  std::vector<uint8_t> buffer(kSectionSize);
  ThreadCounts total;
  for (auto _ : state) {
    const ThreadCounts start = ThreadCounts::Now();
    if (!station.ReadSection(buffer)) {
      state.SkipWithError("section read failed");
      break;
    }
    const ThreadCounts one = ThreadCounts::Now().Since(start);
    total = {total.calls + one.calls, total.in + one.in, total.out + one.out, total.cpu + one.cpu};
  }
  const double bytes = static_cast<double>(std::max<uint64_t>(total.in, 1));
  state.counters["cpu_us_per_byte"] = 1e6 * total.cpu / bytes;
  state.counters["syscalls_per_byte"] = static_cast<double>(total.calls) / bytes;
  station.SetReadAhead(tavo::CSerialPort::kReadAhead);
}
BENCHMARK(BM_SectionRead)->Arg(1)->Arg(4096)->UseRealTime()->Unit(benchmark::kMillisecond);

// A raw pty pair: the master stands for the module's side of the line.
struct RawPty {
  int master = -1;
  int slave = -1;
  std::string path;
  RawPty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
      return;
    }
    path = ptsname(master);
    slave = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
  }
  ~RawPty() {
    close(slave);
    close(master);
  }
  RawPty(const RawPty&) = delete;
  RawPty& operator=(const RawPty&) = delete;
  bool Ok() const { return slave >= 0; }
};

// Writes the whole stream to the module's side of the pty.
void WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    done += n > 0 ? static_cast<size_t>(n) : 0;
  }
}

constexpr int kFrames = static_cast<int>(kSectionSize / 3000);
constexpr uint16_t kAnswerCode = 0x7168;

void BM_FrameReceive(benchmark::State& state) {
  RawPty pty;
  if (!pty.Ok()) {
    state.SkipWithError("no pty");
    return;
  }
  setenv("TAVOLINK_COM40", pty.path.c_str(), 1);
  tavo::CSerialPort port;
  port.SetPortNumber(40);
  port.SetBaudRate(115200);
  port.SetReadAhead(static_cast<uint32_t>(state.range(0)));
  tavo::CTATRequest tat;
  tat.AttachPort(&port);
  if (!port.Open(true)) {
    state.SkipWithError("the port does not open");
    return;
  }
  std::vector<uint8_t> stream;
  for (int i = 0; i < kFrames; ++i) {
    const tavosim::Bytes frame =
        tavosim::BuildFrame({0x48, 0x14, kAnswerCode}, tavosim::Bytes(3012, 0x5A));
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  std::vector<uint8_t> answer(tavo::CPlatformCommands::kFrameBufferSize);
  ThreadCounts total;
  for (auto _ : state) {
    std::thread module([&] { WriteAll(pty.master, stream); });
    const ThreadCounts start = ThreadCounts::Now();
    for (int i = 0; i < kFrames; ++i) {
      if (tat.ReadAnswer(answer.data(), static_cast<uint32_t>(answer.size()), kAnswerCode, 1000) !=
          TAVOLINK_OK) {
        state.SkipWithError("a frame was not received");
        break;
      }
    }
    const ThreadCounts one = ThreadCounts::Now().Since(start);
    total = {total.calls + one.calls, total.in + one.in, total.out, total.cpu + one.cpu};
    module.join();
  }
  const double bytes = static_cast<double>(std::max<uint64_t>(total.in, 1));
  state.counters["cpu_us_per_byte"] = 1e6 * total.cpu / bytes;
  state.counters["syscalls_per_byte"] = static_cast<double>(total.calls) / bytes;
  port.Close();
}
BENCHMARK(BM_FrameReceive)->Arg(1)->Arg(4096)->UseRealTime()->Unit(benchmark::kMillisecond);

// The floor: a writer sends the same volume through a raw pty; the reader
// takes it with 4096-byte reads.
void BM_PlainLoop(benchmark::State& state) {
  RawPty pty;
  if (!pty.Ok()) {
    state.SkipWithError("no pty");
    return;
  }
  const std::vector<uint8_t> stream(static_cast<size_t>(kFrames) * 3025, 0x5A);
  ThreadCounts total;
  std::array<uint8_t, 4096> buffer{};
  for (auto _ : state) {
    std::thread writer([&] { WriteAll(pty.master, stream); });
    const ThreadCounts start = ThreadCounts::Now();
    for (uint64_t got = 0; got < stream.size();) {
      pollfd entry{pty.slave, POLLIN, 0};
      poll(&entry, 1, 100);
      const ssize_t n = read(pty.slave, buffer.data(), buffer.size());
      got += n > 0 ? static_cast<uint64_t>(n) : 0;
    }
    const ThreadCounts one = ThreadCounts::Now().Since(start);
    total = {total.calls + one.calls, total.in + one.in, total.out, total.cpu + one.cpu};
    writer.join();
  }
  const double bytes = static_cast<double>(std::max<uint64_t>(total.in, 1));
  state.counters["cpu_us_per_byte"] = 1e6 * total.cpu / bytes;
  state.counters["syscalls_per_byte"] = static_cast<double>(total.calls) / bytes;
}
BENCHMARK(BM_PlainLoop)->UseRealTime()->Unit(benchmark::kMillisecond);

// P ports at 921600 baud, each read by its own thread, several sections each.
void BM_LineRate(benchmark::State& state) {
  const int ports = static_cast<int>(state.range(0));
  tavosim::PtyOptions options;
  options.emulateLineSpeed = true;
  options.chunkSize = static_cast<size_t>(state.range(1));
  std::vector<std::unique_ptr<Station>> stations;
  for (int i = 0; i < ports; ++i) {
    stations.push_back(std::make_unique<Station>(i, options, kLineBaud));
    if (!stations.back()->Ok()) {
      state.SkipWithError("no session with a simulated module");
      return;
    }
  }
  constexpr int kReadsPerPort = 4;
  double cpu = 0;
  double wall = 0;
  double worstRatio = 0;
  for (auto _ : state) {
    std::vector<ThreadCounts> counts(static_cast<size_t>(ports));
    std::vector<double> walls(static_cast<size_t>(ports));
    std::atomic<bool> failed{false};
    const double wall0 = WallSeconds();
    std::vector<std::thread> threads;
    for (int i = 0; i < ports; ++i) {
      threads.emplace_back([&, i] {
        std::vector<uint8_t> buffer(kSectionSize);
        const ThreadCounts start = ThreadCounts::Now();
        const double begin = WallSeconds();
        for (int r = 0; r < kReadsPerPort; ++r) {
          failed = failed || !stations[static_cast<size_t>(i)]->ReadSection(buffer);
        }
        walls[static_cast<size_t>(i)] = WallSeconds() - begin;
        counts[static_cast<size_t>(i)] = ThreadCounts::Now().Since(start);
      });
    }
    for (std::thread& t : threads) {
      t.join();
    }
    wall += WallSeconds() - wall0;
    if (failed) {
      state.SkipWithError("a section read failed");
      break;
    }
    for (int i = 0; i < ports; ++i) {
      const ThreadCounts& c = counts[static_cast<size_t>(i)];
      cpu += c.cpu;
      // Every byte both ways at 10 bits, the request delay waited before
      // each section's memory reads, and for each answer the adapter's wait
      // before it hands over a last, partial chunk.
      const double handOver =
          1e-6 *
          static_cast<double>(tavosim::LinePacer(kLineBaud, options.chunkSize).ChunkTimeoutUs());
      const double line = static_cast<double>(c.in + c.out) * 10.0 / kLineBaud +
                          kReadsPerPort * kRequestDelayMs * 1e-3 +
                          static_cast<double>(c.requests) * handOver;
      worstRatio = std::max(worstRatio, walls[static_cast<size_t>(i)] / line);
    }
  }
  state.counters["cpu_share_percent"] = wall > 0 ? 100.0 * cpu / wall : 0.0;
  state.counters["wall_over_line"] = worstRatio;
}
BENCHMARK(BM_LineRate)
    ->Args({1, 16})
    ->Args({1, 64})
    ->Args({16, 16})
    ->Args({16, 64})
    ->Iterations(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
