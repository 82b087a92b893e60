#include "program/serve.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <vector>

#include "program/wire_log.h"

namespace tavosim {

namespace {

std::string LinkTarget(const std::string& path) {
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size() - 1);
  return n < 0 ? std::string() : std::string(buffer.data(), static_cast<size_t>(n));
}

// One served module: its terminal, its log and its link.
// The log outlives the module that calls it.
struct Served {
  std::unique_ptr<WireLog> log;
  std::unique_ptr<PtyModule> module;
  std::string link;
};

void StopAll(std::vector<Served>& served) {
  for (Served& s : served) {
    s.module->Stop();
    if (s.log) {
      s.log->Flush();
    }
    if (!s.link.empty()) {
      RemoveLink(s.link, s.module->SlavePath());
    }
  }
}

}  // namespace

bool MakeLink(const std::string& path, const std::string& target, std::string& error) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = path + " exists and is no link: it is left alone";
      return false;
    }
    struct stat to {};
    const std::string old = LinkTarget(path);
    if (::stat(path.c_str(), &to) == 0 && old.rfind("/dev/pts/", 0) != 0) {
      error = path + " is a link to " + old + ", which is not a terminal: it is left alone";
      return false;
    }
    ::unlink(path.c_str());
  }
  if (::symlink(target.c_str(), path.c_str()) != 0) {
    error = "cannot link " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void RemoveLink(const std::string& path, const std::string& target) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && LinkTarget(path) == target) {
    ::unlink(path.c_str());
  }
}

int ServeModules(const ProgramOptions& options, std::FILE* out, std::FILE* err) {
  // Blocked before any serving thread exists, so that only sigwait below
  // receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::vector<Served> served;
  for (int i = 0; i < options.modules; ++i) {
    Served s;
    s.module = std::make_unique<PtyModule>(options.config, options.pty);
    s.module->Core().SetFaults(options.faults);
    if (options.verbose) {
      s.log = std::make_unique<WireLog>(err, i);
      s.module->Core().SetWireObserver(
          [log = s.log.get()](WireDirection d, Mode m, std::span<const uint8_t> b, uint64_t ms) {
            log->Observe(d, m, b, ms);
          });
    }
    const bool started = s.module->Start();
    served.push_back(std::move(s));
    if (!started) {
      std::fprintf(err, "tavosim: module %d: %s\n", i, served.back().module->LastError().c_str());
      StopAll(served);
      return 1;
    }
    if (!options.link.empty()) {
      const std::string link = LinkPath(options.link, options.modules, i);
      std::string error;
      if (!MakeLink(link, served.back().module->SlavePath(), error)) {
        std::fprintf(err, "tavosim: %s\n", error.c_str());
        StopAll(served);
        return 1;
      }
      served.back().link = link;
    }
  }
  for (const Served& s : served) {
    std::fprintf(out, "%s\n", s.module->SlavePath().c_str());
  }
  std::fflush(out);

  int signal = 0;
  sigwait(&stopSignals, &signal);
  StopAll(served);
  return 0;
}

}  // namespace tavosim
