#include "tavolink/flash.h"

#include <md5.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "tavolink/explain.h"
#include "tavolink/gateway.h"
#include "tavolink/interrupt.h"
#include "tavolink/progress.h"
#include "tavolink2.h"

namespace tool {
namespace {

// Whether a port's download can be aborted now, and the abort's hand-over.
// A download takes an abort only once it has the port and has started its
// power-up wait (progress code 2); earlier, tavolink_CloseSession would find
// nothing to stop. The watch calls tavolink_CloseSession for the slot from
// another thread while the worker is inside the download; the worker leaves
// the download only once that call has returned, so the two never meet on
// the slot outside a download.
class AbortGate {
 public:
  void Enter() {
    const std::lock_guard<std::mutex> lock(mutex_);
    inDownload_ = true;
  }
  void Leave() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return !aborting_; });
    inDownload_ = false;
  }
  // Claims the abort of the running download, once.
  bool Claim() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!inDownload_ || aborting_ || aborted_) {
      return false;
    }
    aborting_ = true;
    return true;
  }
  void Done() {
    const std::lock_guard<std::mutex> lock(mutex_);
    aborting_ = false;
    aborted_ = true;
    idle_.notify_all();
  }

  std::atomic<int32_t> slot{-1};

 private:
  std::mutex mutex_;
  std::condition_variable idle_;
  bool inDownload_ = false;
  bool aborting_ = false;
  bool aborted_ = false;
};

bool StartsWith(const std::string& text, const char* prefix, std::string* rest = nullptr) {
  const size_t n = std::char_traits<char>::length(prefix);
  if (text.compare(0, n, prefix) != 0) {
    return false;
  }
  if (rest != nullptr) {
    *rest = text.substr(n);
  }
  return true;
}

// One port, on its own thread, from binding its slot to its result.
void FlashPort(const Context& ctx, const FlashJob& job, const uint8_t (*digest)[16],
               const std::atomic<bool>& interrupted, size_t index, AbortGate& gate, Board& board,
               PortOutcome& outcome) {
  const auto start = std::chrono::steady_clock::now();
  PortRun run(outcome.port);
  const std::string tag = "[COM" + std::to_string(outcome.port.com) + "] ";
  run.onTrace = [&](const std::string& line) {
    if (ctx.options.verbose) {
      board.Message(tag + line);
    }
    // The library names the update's later steps only in its trace.
    if (StartsWith(line, "Old Software Version : ", &outcome.softwareBefore)) {
      return;
    }
    if (StartsWith(line, "Loader is checking software")) {
      outcome.digestChecked = true;
    }
    if (StartsWith(line, "DownloadSoftwareFull : Waiting")) {
      gate.Leave();
      board.SetStep(index, Step::kNewSoftware);
    }
    if (StartsWith(line, "New Software Version : ", &outcome.softwareAfter)) {
      board.SetStep(index, Step::kRestore);
    }
  };
  run.onProgress = [&](uint32_t code, intptr_t value) {
    if (code == 2) {
      gate.Enter();
    }
    board.Progress(index, code, value);
  };

  // A download's rate is the slot's Init rate; an update's Init rate is the
  // AT rate of its sessions, and it names the download rate itself.
  GlobalOptions options = ctx.options;
  if (!job.update) {
    options.baud = job.downloadBaud;
  }
  Slot slot(options, run);
  gate.slot = slot.Index();
  int32_t status = slot.Status();
  if (status == TAVOLINK_OK && digest != nullptr) {
    status = SetDownloadDigest(slot.Index(), *digest);
  }
  if (status == TAVOLINK_OK && interrupted) {
    status = TAVOLINK_DOWNLOAD_ABORTED;
  }
  if (status == TAVOLINK_OK && job.update) {
    char saved[TAVOLINK_FILE_NAME_BUFFER_SIZE] = "";
    const uint16_t value16 = job.value16.value_or(0);
    status = tavolink_DownloadSoftwareFull(
        job.software.c_str(), job.loader.c_str(), static_cast<uint32_t>(job.downloadBaud),
        job.imei.empty() ? nullptr : job.imei.c_str(), job.value16 ? &value16 : nullptr,
        job.backupDir.c_str(), saved, job.waitSeconds, slot.Index());
    outcome.backupFile = saved;
  } else if (status == TAVOLINK_OK) {
    status = tavolink_DownloadSoftwareEx(job.software.c_str(), job.loader.c_str(),
                                         job.restartFirst ? 1 : 0, job.run ? 1 : 0, slot.Index());
  }
  gate.Leave();
  const Step step = board.StepOf(index);
  outcome.inSession = step == Step::kBackup || step == Step::kNewSoftware || step == Step::kRestore;
  outcome.status = status;
  outcome.aborted = status == TAVOLINK_DOWNLOAD_ABORTED && interrupted;
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.bytesPerSecond = board.SoftwareRate(index);
  outcome.recentTrace = run.RecentTrace();
  board.SetStep(index, status == TAVOLINK_OK ? Step::kDone : Step::kFailed,
                status == TAVOLINK_OK
                    ? ""
                    : std::string("in ") + StepName(step) + ": status " + std::to_string(status));
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

// Plain words for the statuses a download ends with, beyond the port's.
std::string DownloadExplanation(int32_t status, const PortOutcome& port, const FlashJob& job) {
  if (port.inSession) {
    return Explain(status, port.port, port.recentTrace);
  }
  switch (status) {
    case TAVOLINK_DOWNLOAD_DETECTION_FAILURE:
      if (!job.restartFirst && !job.update) {
        break;
      }
      return "the module did not restart into its boot code: the restart request reaches only "
             "a module in TAT mode (as a session leaves it). Switch it off and on while the "
             "tool waits for its power-up.";
    case 0:
      return "the loader found that the software it received does not match the file's MD5: "
             "flash it again; if it fails again, check the cable and the file.";
    case TAVOLINK_BINARY_DOWNLOAD_FAILURE:
    case TAVOLINK_ACKNOWLEDGEMENT_ERROR:
    case TAVOLINK_UNEXPECTED_CODE:
    case TAVOLINK_BLOCK_ACK_ERROR:
      return "the transfer broke off: the module waits in its loader without valid software. "
             "Flash it again (switch it off and on while the tool waits for its power-up).";
    case TAVOLINK_FLASH_ERASE_ERROR:
      return "the loader could not erase the flash: switch the module off and on and flash it "
             "again; a module that fails twice has a flash fault.";
    case TAVOLINK_DOWNLOAD_ABORTED:
      return port.aborted ? "stopped by Ctrl-C: flash this module again (it may be left without "
                            "valid software; switch it off and on while the tool waits)."
                          : "another program stopped the download.";
    default:
      break;
  }
  return Explain(status, port.port, port.recentTrace);
}

}  // namespace

bool FileMd5(const std::string& path, uint8_t (&digest)[16]) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return false;
  }
  MD5_CTX context;
  MD5Init(&context);
  char buffer[65536];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    MD5Update(&context, reinterpret_cast<const uint8_t*>(buffer),
              static_cast<size_t>(file.gcount()));
  }
  if (file.bad()) {
    return false;
  }
  MD5Final(digest, &context);
  return true;
}

std::optional<FlashRun> Flash(const Context& ctx, const FlashJob& job) {
  FlashRun result;
  std::error_code error;
  result.softwareBytes = std::filesystem::file_size(job.software, error);
  if (error) {
    ctx.out.Error(job.software + ": " + error.message());
    return std::nullopt;
  }
  uint8_t digest[16] = {};
  if (job.md5) {
    if (!FileMd5(job.software, digest)) {
      ctx.out.Error(job.software + ": cannot be read");
      return std::nullopt;
    }
    result.md5 = Hex(digest, sizeof digest);
  }

  std::vector<std::string> labels;
  for (const PortRef& port : ctx.ports) {
    labels.push_back(port.Label());
    result.ports.emplace_back().port = port;
  }
  std::FILE* progressOut = ctx.out.json ? ctx.out.out : ctx.out.err;
  Board board(ChooseStyle(ctx.out.json, progressOut), progressOut, ctx.out.err, labels,
              result.softwareBytes, job.update ? Step::kBackup : Step::kStarting);
  InstallMessageSender();
  board.Start();

  std::vector<std::unique_ptr<AbortGate>> gates;
  for (size_t i = 0; i < ctx.ports.size(); ++i) {
    gates.push_back(std::make_unique<AbortGate>());
  }
  std::atomic<bool> interrupted{false};
  std::vector<std::thread> aborts;
  {
    InterruptWatch watch(
        [&] {
          interrupted = true;
          board.Message(job.update
                            ? "tavolink: interrupted: aborting the downloads; a port that is "
                              "already restoring its parameters finishes that first (Ctrl-C "
                              "again stops at once)"
                            : "tavolink: interrupted: aborting the downloads");
        },
        [&] {
          // Each abort waits about a second for its download to let go of
          // the port: all of them at once.
          for (auto& gate : gates) {
            if (!gate->Claim()) {
              continue;
            }
            aborts.emplace_back([&gate = *gate] {
              tavolink_CloseSession(gate.slot);
              gate.Done();
            });
          }
        },
        [&] { board.Message("tavolink: stopped at once"); });
    std::vector<std::thread> workers;
    for (size_t i = 0; i < ctx.ports.size(); ++i) {
      workers.emplace_back([&, i] {
        FlashPort(ctx, job, job.md5 ? &digest : nullptr, interrupted, i, *gates[i], board,
                  result.ports[i]);
      });
    }
    for (std::thread& worker : workers) {
      worker.join();
    }
    result.interrupted = watch.Interrupted();
  }
  for (std::thread& abort : aborts) {
    abort.join();
  }
  return result;
}

int ReportFlash(const Context& ctx, const FlashJob& job, const FlashRun& run) {
  bool failed = false;
  Json ports = Json::array();
  for (const PortOutcome& port : run.ports) {
    const bool ok = port.status == TAVOLINK_OK;
    failed = failed || !ok;
    Json entry = {{"port", port.port.Label()}};
    entry.update(FailureJson(port.status, StatusMessage(port.status, ctx.Language()),
                             ok ? "" : DownloadExplanation(port.status, port, job)));
    entry["ok"] = ok;
    if (!ok) {
      entry["aborted"] = port.aborted;
    }
    entry["seconds"] = std::round(port.seconds * 10) / 10;
    entry["software_bytes"] = run.softwareBytes;
    entry["bytes_per_second"] = static_cast<uint64_t>(port.bytesPerSecond);
    if (job.md5) {
      entry["md5"] = run.md5;
      entry["md5_checked"] = port.digestChecked;
    }
    if (job.update) {
      entry["backup"] = port.backupFile;
      entry["software_before"] = port.softwareBefore;
      entry["software_after"] = port.softwareAfter;
    }
    ports.push_back(entry);
  }
  if (ctx.out.json) {
    // The last line of the event stream.
    std::fprintf(ctx.out.out, "%s\n", Dump(ports).c_str());
    std::fflush(ctx.out.out);
  } else {
    for (size_t i = 0; i < run.ports.size(); ++i) {
      const PortOutcome& port = run.ports[i];
      const Json& entry = ports[i];
      if (port.status != TAVOLINK_OK) {
        ctx.out.Failure(entry["port"].get<std::string>(), port.status,
                        entry["message"].get<std::string>(), entry.value("explanation", ""));
        continue;
      }
      char rate[64];
      std::snprintf(rate, sizeof rate, "%.1f KiB/s", port.bytesPerSecond / 1024);
      std::string line = port.port.Label() + ": " + (job.update ? "updated" : "flashed") + " in " +
                         Seconds(port.seconds) + ", " + std::to_string(run.softwareBytes) +
                         " bytes of software at " + rate;
      if (job.md5) {
        line += port.digestChecked ? ", MD5 checked by the loader"
                                   : ", MD5 not checked (this loader cannot)";
      }
      if (job.update) {
        line += ", software " + port.softwareBefore + " -> " + port.softwareAfter + ", backup " +
                port.backupFile;
      }
      ctx.out.Note(line);
    }
  }
  if (run.interrupted) {
    return 130;
  }
  return failed ? 1 : 0;
}

}  // namespace tool
