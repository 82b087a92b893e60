#include "tavolink/explain.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tavolink2.h"

namespace tool {
namespace {

// Why a port cannot be opened, found by trying it the way the library does.
std::string PortProblem(const PortRef& port) {
  if (port.device.empty()) {
    return "no device is mapped to COM" + std::to_string(port.com) + ".";
  }
  struct stat st {};
  if (::stat(port.device.c_str(), &st) != 0) {
    return port.device +
           " does not exist. Is the adapter plugged in? `tavolink ports` lists the serial "
           "devices present; a simulator's pty vanishes when the simulator stops.";
  }
  const int fd = ::open(port.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == EACCES || error == EPERM) {
      return "this user may not open " + port.device +
             ": add the user to the group that owns it (usually `dialout`: sudo usermod -aG "
             "dialout $USER, then log in again).";
    }
    if (error == EBUSY) {
      return port.device + " is held by another program; close it (fuser " + port.device +
             " tells which) and try again.";
    }
    return port.device + " cannot be opened: " + std::strerror(error) + ".";
  }
  std::string problem;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    problem = port.device +
              " is held by another program (a terminal, a modem manager, another "
              "station); close it (fuser " +
              port.device + " tells which) and try again.";
  } else {
    ::flock(fd, LOCK_UN);
  }
  ::close(fd);
  return problem;
}

}  // namespace

std::string StatusMessage(int32_t status, int32_t language) {
  char text[256] = "";
  tavolink_TranslateTavoStatus(status, language, text, sizeof text);
  return FromCp1252(text);
}

std::string Explain(int32_t status, const PortRef& port,
                    const std::vector<std::string>& recentTrace) {
  switch (status) {
    case 3:
      return "another session, download or detection of this station holds " + port.device +
             "; wait for it to end.";
    case 4: {
      std::string reason;
      const std::string prefix = "COM" + std::to_string(port.com) + ": ";
      for (const std::string& line : recentTrace) {
        if (line.rfind(prefix, 0) == 0) {
          reason = line.substr(prefix.size());
        }
      }
      std::string problem = PortProblem(port);
      if (problem.empty()) {
        problem = reason.empty() ? port.device + " could not be opened." : reason;
      }
      return problem;
    }
    case 5:
      return "the module did not answer from its boot code: switch it on (or off and on) while "
             "the tool waits, or use --restart-first for a module that is running.";
    case 16:
    case 18:
    case 27:
      return "the file is not what the command takes: a backup is a TAVO....SAV file written by "
             "`tavolink backup` (this one is empty, not a backup or damaged: restore an older "
             "one, a .SA_ file renamed to .SAV); a parameter script is whole 16-byte records, at "
             "most 1 MiB.";
    case 17:
      return "a file or directory cannot be used: a backup needs an existing directory this user "
             "may write to; a restore needs the module's own backup in it (TAVO<serial>_*.SAV, "
             "see `tavolink serial`) or the file named with --file.";
    case 22:
      return "no module answered at any of the baud rates: check that it is powered and cabled, "
             "give more rates with --speeds or more passes with --loops (0: until Ctrl-C).";
    case 7:
    case 102:
    case 105:
      return "the module does not answer on " + port.device +
             ": check that it is powered and cabled, try `tavolink detect` to find its baud rate, "
             "and give a module that was just switched into TAT mode its time (--open-delay).";
    case 108:
      return "the module's copy of the section fails its checksum: the section is damaged; write "
             "it again (`tavolink restore` from a backup, or `tavolink section write`).";
    case 109:
      return "the IMEI read from the module fails its check digit: the module's IMEI section is "
             "damaged or was never written; write it again with `tavolink imei --write`.";
    case 206:
    case 207:
    case 208:
      return "a section's layout cannot be converted or a script record does not fit its section: "
             "check the upgrade chains in TavoLink2.Ini, or the script's records (run with -v to "
             "see which one).";
    case 252:
    case 253:
    case 255:
    case 259:
      return "the service call was refused: check the service name or code, the parameter bytes "
             "it takes (`tavolink service --help`) and --room for its output.";
    case 302:
      return "the IMEI vault library libTavoVault.so cannot be loaded: install it beside "
             "libtavolink2.so or point LD_LIBRARY_PATH at it.";
    case 303:
      return "a range of the calibration merge lies outside the module's section or the saved "
             "one: the backup does not belong to this module's layout.";
    case 304:
      return "libTavoVault.so was found but lacks tavovault_CryptImei: it is not the vault "
             "library.";
    default:
      return "";
  }
}

int ReportFailure(const Context& ctx, const PortRun& run, int32_t status) {
  ctx.out.Failure(run.Port().Label(), status, StatusMessage(status, ctx.Language()),
                  Explain(status, run.Port(), run.RecentTrace()));
  return 1;
}

}  // namespace tool
