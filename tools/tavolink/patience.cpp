#include "tavolink/patience.h"

#include <unistd.h>

#include <chrono>

namespace tool {

PatienceNote::PatienceNote(std::FILE* err, std::string line, int delayMs) {
  if (err == nullptr || ::isatty(::fileno(err)) == 0) {
    return;
  }
  waiter_ = std::thread([this, err, line = std::move(line), delayMs] {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!done_.wait_for(lock, std::chrono::milliseconds(delayMs), [this] { return finished_; })) {
      std::fprintf(err, "%s\n", line.c_str());
      std::fflush(err);
    }
  });
}

PatienceNote::~PatienceNote() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  done_.notify_all();
  if (waiter_.joinable()) {
    waiter_.join();
  }
}

}  // namespace tool
