// The line between module and host: the pacer's arithmetic and chunks, the
// module's XON/XOFF, the virtual-clock line carrying a whole session, and
// the pseudo-terminal paced at the host's baud rate.
#include <gtest/gtest.h>

#include <chrono>
#include <utility>
#include <vector>

#include "config/config_file.h"
#include "support/frames.h"
#include "support/sim_device.h"
#include "tat/tat_request.h"
#include "tavosim/line_pacer.h"
#include "tavosim/pty_module.h"

namespace tavo::test {
namespace {

using frames::Bytes;
using platform::LineMode;
using tavosim::LinePacer;

struct PacerRow {
  uint32_t baud;
  size_t chunk;
  size_t sent;                                          // bytes the module sends at 0
  std::vector<std::pair<uint64_t, size_t>> readableAt;  // (us, bytes readable)
};

const PacerRow kPacerRows[] = {
    // 86.8 us a byte: each one readable as it arrives.
    {115200, 1, 10, {{86, 0}, {87, 1}, {868, 9}, {869, 10}}},
    // A UART FIFO: 16 bytes at once, the last 4 after 4 quiet byte times.
    {921600, 16, 20, {{173, 0}, {174, 16}, {260, 16}, {261, 20}}},
    // A USB adapter's 1 ms latency is shorter than a byte at 9600.
    {9600, 64, 2, {{2041, 0}, {2042, 1}, {3083, 1}, {3084, 2}}},
    // No baud rate: an infinitely fast line.
    {0, 64, 3000, {{0, 3000}}},
};

TEST(SimLinePacer, BytesBecomeReadableChunkByChunk) {
  for (const PacerRow& row : kPacerRows) {
    SCOPED_TRACE(::testing::Message() << row.baud << " baud, chunk " << row.chunk);
    LinePacer pacer(row.baud, row.chunk);
    pacer.ModuleSend(tavosim::Bytes(row.sent, 0x55), 0);
    for (const auto& [at, readable] : row.readableAt) {
      EXPECT_EQ(pacer.Readable(at), readable) << "at " << at << " us";
    }
  }
  EXPECT_EQ(LinePacer::LineTimeUs(3000, 115200), 260417u);
}

// An XOFF from the module holds the host's output in loader mode, where the
// host's driver swallows it; in TAT mode it is an ordinary byte.
TEST(SimLine, XoffHoldsTheHostUntilXonInLoaderModeOnly) {
  for (const LineMode mode : {LineMode::Tat, LineMode::Loader}) {
    const bool loader = mode == LineMode::Loader;
    platform::VirtualClock clock;
    const auto line = SimLine::Create(clock);
    line->Module().Reset(tavosim::Mode::kTat);
    const auto device = line->OpenDevice();
    device->Configure({115200, mode, false});
    line->Module().SendRaw({tavosim::kXoff});
    clock.Advance(1);
    uint8_t got = 0;
    EXPECT_EQ(device->Read(&got, 1, 0), loader ? 0 : 1);

    const Bytes request = frames::VersionRequest();
    int asked = 0;
    const uint64_t before = line->NowUs();
    EXPECT_EQ(device->Write(request.data(), 17, [&] { return ++asked > 3; }), loader ? -1 : 17);
    EXPECT_NEAR(line->NowUs() - before, loader ? 300000 : LinePacer::LineTimeUs(17, 115200), 1);
    line->Module().SendRaw({tavosim::kXon});
    EXPECT_EQ(device->Write(request.data(), 17, nullptr), 17);
    EXPECT_EQ(line->Module().Requests(tavosim::RequestKind::kVersion).size(), loader ? 1u : 2u);
  }
}

// The library opens a session from AT mode over the simulated line and reads
// a section; at 9600 baud the time it takes is the line time of every byte
// plus the library's own waits.
TEST(SimLine, ASessionFromAtModeAndASectionReadTakeTheirLineTime) {
  platform::VirtualClock clock(100000);
  platform::ScopedClock scoped(clock);
  const auto line = SimLine::Create(clock);
  CConfigFile config;
  config.SetPath("/nonexistent/TavoLink2.Ini");
  CSerialPort port;
  port.SetDeviceOpener(line->Opener());
  CTATRequest tat;
  tat.AttachPort(&port);
  tat.configFile = &config;
  tat.baudRate = 9600;
  tat.ChangeTATBaudrate(9600);

  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = {};
  ASSERT_EQ(tat.OpenSession(id), TAVOLINK_OK);
  EXPECT_STREQ(id, "3700001301000124");
  const tavosim::Stats stats = line->Module().GetStats();
  EXPECT_EQ(stats.tatSwitches, 1);
  EXPECT_EQ(stats.oReceived, 1);
  EXPECT_EQ(stats.readyFramesSent, 2);

  const uint32_t start = clock.TickCount();
  const uint64_t slept = clock.TotalSlept();
  const size_t written = line->WrittenBytes().size();
  const size_t read = line->Delivered();
  int32_t dataSize = 0, size = 0, address = 0;
  ASSERT_EQ(tat.ReadSection(37, &dataSize, &size, &address, true), TAVOLINK_OK);
  EXPECT_EQ(tat.SectionBuffer(), line->Module().SectionImage(37));
  const size_t bytes = line->WrittenBytes().size() - written + line->Delivered() - read;
  EXPECT_GT(bytes, 1200u);
  const uint64_t expectedMs =
      LinePacer::LineTimeUs(bytes, 9600) / 1000 + (clock.TotalSlept() - slept);
  EXPECT_NEAR(clock.TickCount() - start, expectedMs, 3);
}

// Reads until `count` bytes came or the line failed (at most ~5 s).
Bytes ReadAll(platform::SerialDevice& device, size_t count) {
  Bytes out(count);
  size_t got = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (int32_t n = 0; n >= 0 && got < count && std::chrono::steady_clock::now() < end;) {
    n = device.Read(out.data() + got, static_cast<uint32_t>(count - got), 100);
    got += n > 0 ? static_cast<size_t>(n) : 0;
  }
  out.resize(got);
  return out;
}

// One 3000-byte memory read at 230400 baud: 3042 bytes on the wire, 132 ms.
TEST(SimPty, TheLineIsPacedAtTheHostsBaudRateWhenAsked) {
  const struct {
    bool emulate;
    size_t chunk;
  } rows[] = {{false, 1}, {true, 1}, {true, tavosim::LinePacer::kUsbChunk}};
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << "emulate " << row.emulate << ", chunk " << row.chunk);
    tavosim::PtyOptions options;
    options.emulateLineSpeed = row.emulate;
    options.chunkSize = row.chunk;
    tavosim::PtyModule module({}, options);
    module.Core().Reset(tavosim::Mode::kTat);
    ASSERT_TRUE(module.Start()) << module.LastError();
    const auto device = platform::OpenSerialDevice(module.SlavePath());
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->Configure({230400, LineMode::Tat, false}));
    const Bytes request = frames::ReadMemoryRequest(0x2000, 3000);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(device->Write(request.data(), 25, nullptr), 25);
    EXPECT_EQ(ReadAll(*device, 3017).size(), 3017u);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    const auto lineMs = static_cast<int64_t>(tavosim::LinePacer::LineTimeUs(3042, 230400) / 1000);
    if (row.emulate) {
      EXPECT_GE(ms, lineMs);
      EXPECT_LT(ms, lineMs + 250);
    } else {
      EXPECT_LT(ms, lineMs / 2);
    }
  }
}

}  // namespace
}  // namespace tavo::test
