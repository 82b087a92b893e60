// What a station operator sees while modules are flashed: one line per port
// redrawn in place on a terminal, plain lines through a pipe, JSON events
// with --json. Every port's download thread reports here, and every line the
// tool writes while downloads run goes through the board's one lock, so
// lines from several threads never mix.
//
// The library's message sender calls in on the download's own thread, in
// the middle of its transfer: an update costs a little formatting and one
// write, nothing that waits.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace tool {

// The steps of a download (and of an update around it) as people name them.
enum class Step {
  kBackup,       // update: the session that saves the parameters
  kStarting,     // the files are opened, the port taken
  kPowerUp,      // waiting for the module's boot code
  kLoader,       // the loader program goes over
  kErase,        // line speed and flow control changed, the flash is erased
  kSoftware,     // the software stream
  kCheckRun,     // the loader checks the digest and starts the software
  kNewSoftware,  // update: waiting for the new software to start
  kRestore,      // update: parameters back, IMEI and record rewritten
  kDone,
  kFailed,
};

const char* StepName(Step step);

// The step a progress code of the library starts (codes 0 to 10).
Step StepOfCode(uint32_t code);

class Board {
 public:
  enum class Style {
    kLive,   // a terminal: lines redrawn in place with ANSI controls
    kLines,  // a pipe or file: a line at each step and every 10 %
    kJson,   // JSON events, one per line, on out
  };
  // One port per label, each starting at step first; softwareBytes is the
  // size of the software stream, from which its bytes per second and the
  // time left are computed. Progress goes to out, messages to err.
  Board(Style style, std::FILE* out, std::FILE* err, std::vector<std::string> labels,
        uint64_t softwareBytes, Step first);

  // Shows every port at its first step.
  void Start();
  // A progress message of the library for port index.
  void Progress(size_t port, uint32_t code, intptr_t value);
  // A step the tool learns otherwise (from a trace line, or the end).
  void SetStep(size_t port, Step step, const std::string& note = "");
  // A line of text for the operator (a trace line, a warning) on err,
  // above the live lines.
  void Message(const std::string& line);
  // The step the port is at.
  Step StepOf(size_t port) const;
  // Bytes per second of the software stream so far (0 before it runs).
  double SoftwareRate(size_t port) const;
  Style GetStyle() const { return style_; }

 private:
  struct Line {
    std::string label;
    Step step = Step::kStarting;
    int percent = -1;  // of the loader or the software, -1 when none
    int lastPrinted = -1;
    std::chrono::steady_clock::time_point softwareStart{};
    std::chrono::steady_clock::time_point softwareAt{};
    uint64_t softwareBytes = 0;  // sent so far
    std::string note;
  };

  void Changed(size_t port, bool stepChanged);
  std::string Render(const Line& line) const;
  void Redraw();
  void PrintPlain(const Line& line);
  void PrintJson(const Line& line);
  double Rate(const Line& line) const;

  mutable std::mutex mutex_;
  Style style_;
  std::FILE* out_;
  std::FILE* err_;
  std::vector<Line> lines_;
  uint64_t softwareSize_;
  size_t labelWidth_ = 0;
  size_t width_ = 80;
  bool drawn_ = false;
};

// The style for out: JSON when asked, live when out is a terminal.
Board::Style ChooseStyle(bool json, std::FILE* out);

}  // namespace tool
