// What every command of the tool shares: the global options, the ports named
// on the command line, and the road by which the library's trace lines and
// download progress reach the tool.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tavolink/output.h"

namespace tool {

// Options that apply to every command. A time-out or delay of 0 keeps the
// library's own setting.
struct GlobalOptions {
  std::vector<std::string> ports;  // --port, as given (a COM number or a device path)
  int32_t baud = 115200;           // the rate at which the module is addressed in AT mode
  int32_t tatBaud = 0;             // the TAT line speed; 0 keeps 115200
  int32_t openDelayMs = 0;         // the wait after switching a module into TAT mode
  int32_t requestDelayMs = 0;
  int32_t retryDelayMs = 0;
  int32_t requestTimeoutMs = 0;
  int32_t readyTimeoutMs = 0;
  int32_t powerUpTimeoutMs = 0;
  int32_t commandTimeoutMs = 0;
  std::string lang = "en";
  std::string logFile;
  bool verbose = false;
  bool json = false;
};

// One --port: the COM number the library is given, and the device behind it.
struct PortRef {
  std::string given;          // as on the command line
  int32_t com = 0;            // the library's COM port number
  std::string device;         // the device path it stands for
  std::string Label() const;  // "COM5 (/dev/ttyS4)", or the path given
};

// Turns the --port values into COM numbers. A number is taken as it is; a
// device path gets a COM number of its own (from 101 upwards) that is mapped
// to it through TAVOLINK_COM<N> in this process's environment, set here once,
// before any thread starts. An empty list means COM1. False (with a message)
// for a value that is neither.
bool ResolvePorts(const std::vector<std::string>& given, std::vector<PortRef>& out,
                  std::string& error);
// The device a COM number stands for, as the library will find it.
std::string DeviceOfCom(int32_t com);

// Receives what the library reports for one port while it works on it. The
// message sender hands each trace line and progress message to the PortRun
// whose address was given to the library as the "window".
class PortRun {
 public:
  explicit PortRun(PortRef port) : port_(std::move(port)) {}
  virtual ~PortRun() = default;
  PortRun(const PortRun&) = delete;
  PortRun& operator=(const PortRun&) = delete;

  const PortRef& Port() const { return port_; }
  // The last trace lines, for explaining a failure ("COM5: /dev/ttyS4: ...").
  std::vector<std::string> RecentTrace() const;

  std::function<void(const std::string&)> onTrace;  // the line without "TT<n> "
  std::function<void(uint32_t code, intptr_t value)> onProgress;

  void Trace(const std::string& line);
  void Progress(uint32_t code, intptr_t value);

 private:
  PortRef port_;
  mutable std::mutex mutex_;
  std::deque<std::string> recent_;
};

// Message numbers the tool gives the library for its two kinds of message.
inline constexpr uint32_t kTraceMessage = 0x0401;
inline constexpr uint32_t kProgressMessage = 0x0402;

// Installs the tool's message sender (once per process).
void InstallMessageSender();

// A library slot bound to one port for the time of a command: Init with the
// global settings applied, and on destruction the session ended and the slot
// freed. Trace lines go to the PortRun (and, with -v, to stderr); progress
// too. Status() is the result of the binding.
class Slot {
 public:
  Slot(const GlobalOptions& options, PortRun& run);
  ~Slot();
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

  int32_t Status() const { return status_; }
  int32_t Index() const { return index_; }
  // Opens a TAT session; softwareId (may be null) receives the identifier.
  int32_t OpenSession(std::string* softwareId = nullptr);
  PortRun& Run() { return run_; }

 private:
  PortRun& run_;
  int32_t index_ = -1;
  int32_t status_ = 0;
  bool session_ = false;
};

// The state of one run of the tool.
struct Context {
  GlobalOptions options;
  std::vector<PortRef> ports;  // resolved from options.ports before a command runs
  Output out;
  int exitCode = 0;

  int32_t Language() const;  // the library's language word for --lang
  const PortRef& FirstPort() const { return ports.front(); }
};

}  // namespace tool
