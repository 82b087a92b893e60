#include "tavolink/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "tavolink/output.h"

namespace tool {
namespace {

constexpr size_t kBarWidth = 24;
constexpr int kPlainEvery = 10;  // percent between plain progress lines

bool HasPercent(Step step) { return step == Step::kLoader || step == Step::kSoftware; }

std::string Percent(int percent) { return std::to_string(percent) + "%"; }

std::string KibPerSecond(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f KiB/s", rate / 1024);
  return text;
}

std::string Duration(double seconds) {
  const long s = std::lround(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

}  // namespace

const char* StepName(Step step) {
  static const char* const kNames[] = {"backup",    "starting",     "waiting for power-up",
                                       "loader",    "erase",        "software",
                                       "check/run", "new software", "restore",
                                       "done",      "failed"};
  return kNames[static_cast<size_t>(step)];
}

Step StepOfCode(uint32_t code) {
  static const Step kSteps[] = {Step::kStarting, Step::kStarting, Step::kPowerUp, Step::kLoader,
                                Step::kLoader,   Step::kLoader,   Step::kErase,   Step::kSoftware,
                                Step::kSoftware, Step::kSoftware, Step::kCheckRun};
  return code < std::size(kSteps) ? kSteps[code] : Step::kCheckRun;
}

Board::Style ChooseStyle(bool json, std::FILE* out) {
  using Style = Board::Style;
  if (json) {
    return Style::kJson;
  }
  return ::isatty(::fileno(out)) != 0 ? Style::kLive : Style::kLines;
}

Board::Board(Style style, std::FILE* out, std::FILE* err, std::vector<std::string> labels,
             uint64_t softwareBytes, Step first)
    : style_(style), out_(out), err_(err), softwareSize_(softwareBytes) {
  for (std::string& label : labels) {
    labelWidth_ = std::max(labelWidth_, label.size());
    Line line;
    line.label = std::move(label);
    line.step = first;
    lines_.push_back(std::move(line));
  }
  winsize size{};
  if (::ioctl(::fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 20) {
    width_ = size.ws_col;
  }
}

void Board::Start() {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (size_t port = 0; port < lines_.size(); ++port) {
    Changed(port, true);
  }
}

void Board::Progress(size_t port, uint32_t code, intptr_t value) {
  const auto now = std::chrono::steady_clock::now();
  const std::lock_guard<std::mutex> lock(mutex_);
  Line& line = lines_.at(port);
  const Step step = StepOfCode(code);
  const bool stepChanged = step != line.step;
  if (stepChanged) {
    line.step = step;
    line.percent = step == Step::kLoader ? 0 : -1;
    line.lastPrinted = -1;
  }
  if (code == 4 || code == 9) {
    line.percent = static_cast<int>(std::clamp<intptr_t>(value, 0, 100));
  }
  if (code == 8) {
    line.percent = 0;
    line.softwareStart = line.softwareAt = now;
    line.softwareBytes = 0;
  } else if (code == 9 || code == 10) {
    line.softwareAt = now;
    line.softwareBytes = code == 10 ? softwareSize_ : softwareSize_ * line.percent / 100;
  }
  Changed(port, stepChanged);
}

void Board::SetStep(size_t port, Step step, const std::string& note) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Line& line = lines_.at(port);
  const bool stepChanged = step != line.step || note != line.note;
  line.step = step;
  line.percent = -1;
  line.note = note;
  Changed(port, stepChanged);
}

void Board::Message(const std::string& text) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (style_ == Style::kLive && drawn_) {
    // Up over the live lines, clear them, the message, the lines again below.
    std::fprintf(out_, "\033[%zuA\r\033[J", lines_.size());
    drawn_ = false;
  }
  std::fprintf(err_, "%s\n", text.c_str());
  if (style_ == Style::kLive) {
    Redraw();
  }
  std::fflush(err_);
}

Step Board::StepOf(size_t port) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return lines_.at(port).step;
}

double Board::SoftwareRate(size_t port) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return Rate(lines_.at(port));
}

double Board::Rate(const Line& line) const {
  const double seconds =
      std::chrono::duration<double>(line.softwareAt - line.softwareStart).count();
  return seconds > 0 ? static_cast<double>(line.softwareBytes) / seconds : 0;
}

void Board::Changed(size_t port, bool stepChanged) {
  Line& line = lines_[port];
  switch (style_) {
    case Style::kLive:
      Redraw();
      break;
    case Style::kLines:
      if (stepChanged || line.percent / kPlainEvery > line.lastPrinted / kPlainEvery) {
        PrintPlain(line);
      }
      break;
    case Style::kJson:
      if (stepChanged || line.percent != line.lastPrinted) {
        PrintJson(line);
      }
      break;
  }
  line.lastPrinted = line.percent;
  std::fflush(out_);
}

std::string Board::Render(const Line& line) const {
  std::string text = line.label;
  text.resize(labelWidth_ + 2, ' ');
  std::string step = StepName(line.step);
  step.resize(21, ' ');
  text += step;
  if (HasPercent(line.step) && line.percent >= 0) {
    const size_t filled = kBarWidth * static_cast<size_t>(line.percent) / 100;
    text += "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
    std::string percent = Percent(line.percent);
    text += std::string(4 - std::min<size_t>(percent.size(), 4), ' ') + percent;
    if (line.step == Step::kSoftware && line.softwareBytes > 0) {
      const double rate = Rate(line);
      text += "  " + KibPerSecond(rate);
      if (rate > 0) {
        const auto left = static_cast<double>(softwareSize_ - line.softwareBytes) / rate;
        text += "  " + Duration(left) + " left";
      }
    }
  }
  if (!line.note.empty()) {
    text += line.note;
  }
  return text;
}

void Board::Redraw() {
  if (drawn_) {
    std::fprintf(out_, "\033[%zuA", lines_.size());
  }
  for (const Line& line : lines_) {
    std::string text = Render(line);
    // A line that wraps would throw the cursor arithmetic off.
    if (text.size() >= width_) {
      text.resize(width_ - 1);
    }
    std::fprintf(out_, "\r\033[2K%s\n", text.c_str());
  }
  drawn_ = true;
}

void Board::PrintPlain(const Line& line) {
  std::string text = line.label + ": " + StepName(line.step);
  if (HasPercent(line.step) && line.percent >= 0) {
    text += " " + Percent(line.percent);
  }
  if (line.step == Step::kSoftware && line.softwareBytes > 0) {
    text += " (" + KibPerSecond(Rate(line)) + ")";
  }
  if (!line.note.empty()) {
    text += " " + line.note;
  }
  std::fprintf(out_, "%s\n", text.c_str());
}

void Board::PrintJson(const Line& line) {
  Json event = {{"event", "progress"}, {"port", line.label}, {"step", StepName(line.step)}};
  if (HasPercent(line.step) && line.percent >= 0) {
    event["percent"] = line.percent;
  }
  if (line.step == Step::kSoftware && line.softwareBytes > 0) {
    const double rate = Rate(line);
    event["bytes_per_second"] = static_cast<uint64_t>(rate);
    if (rate > 0) {
      const double left = static_cast<double>(softwareSize_ - line.softwareBytes) / rate;
      event["seconds_left"] = std::round(left * 10) / 10;
    }
  }
  if (!line.note.empty()) {
    event["note"] = line.note;
  }
  std::fprintf(out_, "%s\n", Dump(event).c_str());
}

}  // namespace tool
