// ports: the serial devices of this machine that a module may sit behind.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tavolink/commands.h"

namespace tool {
namespace {

std::vector<std::string> List(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) {
    return names;
  }
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.rfind(prefix, 0) == 0 && name != "." && name != "..") {
      names.push_back(name);
    }
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// A ttyS device exists for every possible legacy UART; only those with a
// UART behind them answer TIOCGSERIAL with a known type.
bool UartPresent(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  serial_struct info{};
  const bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  ::close(fd);
  return present;
}

// /dev/serial/by-id names, keyed by the device they point to.
std::map<std::string, std::string> ByIdNames() {
  std::map<std::string, std::string> names;
  const std::string dir = "/dev/serial/by-id";
  for (const std::string& name : List(dir, "")) {
    char target[PATH_MAX];
    std::string link = dir;
    link += "/";
    link += name;
    if (::realpath(link.c_str(), target) != nullptr) {
      names[target] = link;
    }
  }
  return names;
}

// The COM number that stands for a device: a ttyS<n> is COM<n+1> unless
// mapped otherwise; a device mapped through TAVOLINK_COM<N> is COM<N>.
int32_t ComOf(const std::string& device) {
  for (int32_t com = 1; com <= 256; ++com) {
    if (DeviceOfCom(com) == device) {
      return com;
    }
  }
  return 0;
}

}  // namespace

void AddPortsCommand(CLI::App& app, Context& ctx) {
  auto* ports = app.add_subcommand("ports",
                                   "List the serial devices present (ttyS with a UART, "
                                   "ttyUSB, ttyACM) and the COM number of each");
  ports->callback([&ctx] {
    const auto byId = ByIdNames();
    Json list = Json::array();
    for (const std::string& name : List("/dev", "tty")) {
      const bool legacy = name.rfind("ttyS", 0) == 0;
      const bool usb = name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
      const std::string path = "/dev/" + name;
      if (!usb && !(legacy && UartPresent(path))) {
        continue;
      }
      Json entry = {{"device", path}};
      if (const int32_t com = ComOf(path); com > 0) {
        entry["com"] = com;
      }
      if (auto it = byId.find(path); it != byId.end()) {
        entry["by_id"] = it->second;
      }
      list.push_back(entry);
    }
    if (ctx.out.json) {
      ctx.out.Result(Json{{"ports", list}});
    } else if (list.empty()) {
      ctx.out.Note("no serial devices found (a simulator's pty is named with --port PATH)");
    } else {
      for (const Json& e : list) {
        std::string line = e["device"].get<std::string>();
        if (e.contains("com")) {
          line += "  COM" + std::to_string(e["com"].get<int32_t>());
        }
        if (e.contains("by_id")) {
          line += "  " + e["by_id"].get<std::string>();
        }
        ctx.out.Note(line);
      }
    }
    ctx.exitCode = 0;
  });
}

}  // namespace tool
