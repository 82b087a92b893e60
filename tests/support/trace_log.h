// The one recorder of trace lines for every test: it stands in for the
// host's message sender, so it sees exactly what a host would.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "link/link_base.h"
#include "tavolink2.h"

namespace tavo::test {

class TraceLog {
 public:
  // One message as the host's sender received it.
  struct Message {
    void* window;
    uint32_t message;
    uintptr_t wParam;
    std::string line;  // the whole "TT<slot> <text>" line
  };

  static constexpr uint32_t kMessage = 0x400;

  // The sender is a plain C function, hence one recorder per process.
  static TraceLog& Instance() {
    static TraceLog log;
    return log;
  }
  // The window handle that the recorder stands for.
  static void* Window() { return &Instance(); }
  // Receives what the host's message sender gets.
  static void InstallSender() { tavolink_SetMessageSender(&TraceLog::Sender); }
  static void Detach() { tavolink_SetMessageSender(nullptr); }
  // Sends the trace lines of one link (channel, session, downloader) here.
  static void Attach(CLinkBase& link) {
    link.traceWindow = Window();
    link.traceMessage = kMessage;
    InstallSender();
  }

  // Called with each line's text as it is written, on the writing thread.
  void OnLine(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
  }
  std::vector<Message> Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  // The texts, without their "TT<slot> " prefix.
  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    for (const Message& m : messages_) {
      lines.push_back(Text(m.line));
    }
    return lines;
  }
  size_t Count(const std::string& text) const {
    size_t n = 0;
    for (const std::string& l : Lines()) {
      n += l == text ? 1 : 0;
    }
    return n;
  }
  size_t CountPrefix(const std::string& prefix) const {
    size_t n = 0;
    for (const std::string& l : Lines()) {
      n += l.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
    progress_.clear();
  }

  // A download progress message: its wParam and lParam.
  struct Progress {
    uintptr_t wParam;
    intptr_t value;
    bool operator==(const Progress&) const = default;
  };
  // Download windows send this message number; their lParam is a value.
  static constexpr uint32_t kProgressMessage = 0x401;
  std::vector<Progress> ProgressMessages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return progress_;
  }

  static intptr_t Sender(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == kProgressMessage) {
      std::lock_guard<std::mutex> lock(Instance().mutex_);
      Instance().progress_.push_back({wParam, lParam});
      return 0;
    }
    Message m{window, message, wParam, reinterpret_cast<const char*>(lParam)};
    std::function<void(const std::string&)> hook;
    {
      std::lock_guard<std::mutex> lock(Instance().mutex_);
      hook = Instance().hook_;
      Instance().messages_.push_back(m);
    }
    if (hook) {
      hook(Text(m.line));
    }
    return 0;
  }

 private:
  static std::string Text(const std::string& line) {
    const size_t blank = line.find(' ');
    return blank == std::string::npos ? std::string() : line.substr(blank + 1);
  }

  mutable std::mutex mutex_;
  std::vector<Message> messages_;
  std::vector<Progress> progress_;
  std::function<void(const std::string&)> hook_;
};

}  // namespace tavo::test
