// One TAT session object wired to a simulated module on a virtual clock: the
// library's real port, configuration reader and session code, the module
// model behind the line, and the trace recorder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/config_file.h"
#include "platform/clock.h"
#include "serial/serial_port.h"
#include "support/frames.h"
#include "support/sim_device.h"
#include "support/temp_dir.h"
#include "support/trace_log.h"
#include "tat/tat_request.h"

namespace tavo::test {

using tavosim::Bytes;
using tavosim::RequestKind;

// A configuration path of this test process, in a directory of its own that
// goes with the process: a file left there by another test can never count.
inline std::string ScratchIni() {
  static const TempDir dir;
  return dir.File("TavoLink2.Ini");
}

struct TatRig {
  static constexpr int32_t kComPort = 5;

  explicit TatRig(tavosim::ModuleConfig module = {}, uint32_t startTick = 100000)
      : clock(startTick), scoped(clock), line(SimLine::Create(clock, std::move(module))) {
    config.SetPath(ScratchIni());
    port.SetDeviceOpener(line->Opener());
    tat.AttachPort(&port);
    tat.configFile = &config;
    tat.comPort = kComPort;
    tat.baudRate = 115200;
    TraceLog::Instance().Clear();
    TraceLog::Attach(tat);
  }
  ~TatRig() {
    TraceLog::Instance().OnLine(nullptr);
    TraceLog::Detach();
    unlink(ScratchIni().c_str());
  }
  TatRig(const TatRig&) = delete;
  TatRig& operator=(const TatRig&) = delete;

  tavosim::Module& Module() { return line->Module(); }
  // Opens a session on a module already in TAT mode (the probe alone), with
  // short request and retry waits, and forgets what that took.
  void Open() {
    Module().Reset(tavosim::Mode::kTat);
    tat.SetTATTimeOut(1000, 2000);
    tat.SetTATDelay(0, 7, 11, 0);
    ASSERT_EQ(tat.OpenSession(nullptr), TAVOLINK_OK);
    Module().ClearRequests();
    TraceLog::Instance().Clear();
  }
  uint32_t Now() { return clock.TickCount(); }
  static std::vector<std::string> Lines() { return TraceLog::Instance().Lines(); }
  static size_t Count(const std::string& line) { return TraceLog::Instance().Count(line); }
  // Runs `action` on the n-th trace line equal to `text` (1 = the first).
  static void OnNthLine(const std::string& text, int n, std::function<void()> action) {
    auto seen = std::make_shared<int>(0);
    TraceLog::Instance().OnLine([=](const std::string& line) {
      if (line == text && ++*seen == n) {
        action();
      }
    });
  }
  // (address, count) of the module's memory requests of one kind, in order.
  std::vector<std::pair<uint32_t, uint32_t>> Memory(RequestKind kind) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const tavosim::RequestRecord& r : Module().Requests(kind)) {
      out.emplace_back(r.address, r.count);
    }
    return out;
  }

  platform::VirtualClock clock;
  platform::ScopedClock scoped;
  std::shared_ptr<SimLine> line;
  CConfigFile config;
  CSerialPort port;
  CTATRequest tat;
};

}  // namespace tavo::test
