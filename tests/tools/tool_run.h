// Runs the tavolink program as a child process and collects its exit code,
// stdout and stderr. The tool's environment is this process's, plus the
// variables given.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

namespace tavo::test {

struct ToolResult {
  int exitCode = -1;  // 128 + signal when killed by one
  std::string out;
  std::string err;
};

class ToolProcess {
 public:
  // Starts the tool with args; env entries are "NAME=value".
  ToolProcess(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv{TAVOLINK_TOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    envStrings_ = env;
    std::vector<char*> cenv;
    for (char** e = environ; *e != nullptr; ++e) cenv.push_back(*e);
    for (auto& e : envStrings_) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (posix_spawn(&pid_, cargv[0], &actions, nullptr, cargv.data(), cenv.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
  }
  ~ToolProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  void Signal(int sig) const {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  // Reads output until `until` holds for what stdout has so far, the tool
  // ends, or timeoutMs passes. True when `until` held.
  bool ReadUntil(const std::function<bool(const ToolResult&)>& until, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!until(result_)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
      if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
      bool open = false;
      open |= Drain(fds[0], out_, result_.out);
      open |= Drain(fds[1], err_, result_.err);
      if (!open && fds[0].revents != 0 && fds[1].revents != 0) return until(result_);
    }
    return true;
  }
  // Waits for the tool to end (at most timeoutMs) and returns what it did.
  ToolResult Finish(int timeoutMs = 60000) {
    ReadUntil([](const ToolResult&) { return false; }, timeoutMs);
    Wait();
    return result_;
  }
  const ToolResult& SoFar() const { return result_; }

 private:
  static bool Drain(const pollfd& p, int fd, std::string& to) {
    if ((p.revents & (POLLIN | POLLHUP)) == 0) return true;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) to.append(buf, static_cast<size_t>(n));
    return n > 0;
  }
  void Wait() {
    if (pid_ <= 0) return;
    int status = 0;
    if (::waitpid(pid_, &status, 0) == pid_) {
      result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::vector<std::string> envStrings_;
  ToolResult result_;
};

// Runs the tool to its end.
inline ToolResult RunTool(const std::vector<std::string>& args,
                          const std::vector<std::string>& env = {}) {
  ToolProcess p(args, env);
  return p.Finish();
}

}  // namespace tavo::test
