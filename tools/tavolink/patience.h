// A word for a person who waits: a session with a module that must first be
// switched from AT into TAT mode takes the open delay (12 s by default)
// without a line of output. On a terminal, when a command is still working
// after a while, one line says why and how to shorten it.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace tool {

class PatienceNote {
 public:
  // Prints line to err after delayMs unless the note is destroyed first;
  // does nothing unless err is a terminal.
  PatienceNote(std::FILE* err, std::string line, int delayMs = 2000);
  ~PatienceNote();
  PatienceNote(const PatienceNote&) = delete;
  PatienceNote& operator=(const PatienceNote&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread waiter_;
};

}  // namespace tool
