// Opens TAT sessions on a module whose every byte comes from the input, as
// a faulty or hostile module (or a noisy line) would send them: the version
// probe's answer, the greeting 'I' after the AT command, the ready frames
// and their identity words, the detection's walk over a speed list, and the
// version request of an open session. The library's real CTATRequest and
// CSerialPort run over a scripted line on a virtual clock.
//
// Whatever arrives, the session must answer one of its statuses, give out a
// software identifier of 16 hexadecimal digits whose words tell the
// generation it took, never hold a session without its port, and never send
// a request the frame buffer does not hold whole and correct.
//
// Input:
//   0..2   three actions, each: low 3 bits which (0 open, 1 software
//          version, 2 detection, 3 close, 4 to 7 restart), the others options
//   3..10  the line's piece sizes, used in turn (see scripted_line.h)
//   11..22 the detection's speed list, up to its first zero byte
//   23..   the module's bytes
#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "config/config_file.h"
#include "fuzz_check.h"
#include "platform/clock.h"
#include "scripted_line.h"
#include "serial/serial_port.h"
#include "tat/module_generation.h"
#include "tat/speed_list.h"
#include "tat/tat_request.h"

using tavo::fuzz::Check;

namespace {

constexpr size_t kActions = 3;
constexpr size_t kSizesAt = 3;
constexpr size_t kSizes = 8;
constexpr size_t kListAt = kSizesAt + kSizes;
constexpr size_t kListSize = 12;
constexpr size_t kStreamAt = kListAt + kListSize;

using SoftwareId = std::array<char, TAVOLINK_SOFTWARE_ID_BUFFER_SIZE>;

uint32_t HexWord(const char* text) {
  return static_cast<uint32_t>(std::strtoul(std::string(text, 8).c_str(), nullptr, 16));
}

// 16 upper-case hexadecimal digits and the zero; the generation the session
// took is the one its two words name.
void CheckIdentity(const SoftwareId& id, const tavo::CTATRequest& tat) {
  for (size_t i = 0; i < 16; ++i) {
    const char c = id[i];
    Check((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
  }
  Check(id[16] == '\0');
  const uint32_t platformId = HexWord(id.data());
  const uint32_t softwareWord = HexWord(id.data() + 8);
  Check(tat.GetModuleGeneration() == tavo::ClassifyModule(platformId, softwareWord).generation);
  Check(tat.Commands().softwareId == std::string(id.data()));
}

bool IsOneOf(int32_t status, std::initializer_list<int32_t> allowed) {
  return std::find(allowed.begin(), allowed.end(), status) != allowed.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kStreamAt) {
    return 0;
  }
  tavo::platform::VirtualClock clock(0xFFFF0000u);  // wraps during the run
  tavo::platform::ScopedClock scoped(clock);
  tavo::fuzz::ScriptedSession session(clock, {data + kSizesAt, kSizes},
                                      {data + kStreamAt, size - kStreamAt});
  tavo::CSerialPort& port = session.port;
  tavo::CTATRequest& tat = session.tat;
  tat.baudRate = 9600;
  tat.SetTATDelay(3000, 10, 2000, 0);
  const std::string speedList(reinterpret_cast<const char*>(data + kListAt),
                              strnlen(reinterpret_cast<const char*>(data + kListAt), kListSize));

  for (size_t a = 0; a < kActions; ++a) {
    const uint8_t action = data[a];
    SoftwareId id;
    id.fill('\x7F');
    int32_t status = TAVOLINK_OK;
    switch (action & 7) {
      case 0:  // as the channel opens a session: never on a held port, one retry
        if (port.IsOpen()) {
          continue;
        }
        status = tat.OpenSession(id.data());
        if (status != TAVOLINK_OK && (action & 8) != 0) {
          status = tat.OpenSession(id.data());
        }
        Check(IsOneOf(status, {TAVOLINK_OK, TAVOLINK_ACKNOWLEDGEMENT_ERROR,
                               TAVOLINK_MODULE_CONNECTION_FAILURE}));
        Check((status == TAVOLINK_OK) == port.IsOpen());
        if (status == TAVOLINK_OK) {
          CheckIdentity(id, tat);
        }
        break;
      case 1:
        status = tat.GetSoftVersion(id.data());
        Check(IsOneOf(status, {TAVOLINK_OK, TAVOLINK_SESSION_NOT_OPEN, TAVOLINK_REQUEST_TIMEOUT,
                               TAVOLINK_FRAME_CHECKSUM_ERROR}));
        if (status == TAVOLINK_OK) {
          for (size_t i = 0; i < 16; ++i) {
            Check(std::isxdigit(static_cast<unsigned char>(id[i])) != 0);
          }
          Check(id[16] == '\0');
        }
        break;
      case 2: {
        uint32_t baud = 0;
        const bool wantBaud = (action & 8) != 0;
        const int32_t passes = 1 + ((action >> 4) & 3);
        status =
            tat.CheckTATSession(speedList.c_str(), passes, wantBaud ? &baud : nullptr, id.data());
        Check(IsOneOf(status, {TAVOLINK_OK, TAVOLINK_COM_PORT_IN_USE, TAVOLINK_DETECTION_MAX_LOOP,
                               TAVOLINK_SPEED_LIST_ERROR, TAVOLINK_MODULE_CONNECTION_FAILURE}));
        Check(!tat.Detecting());
        if (status == TAVOLINK_OK) {
          CheckIdentity(id, tat);
          tavo::SpeedList rates{};
          Check(tavo::ParseSpeedList(speedList.c_str(), tavo::kDefaultSpeedList.data(),
                                     rates.data()));
          if (wantBaud) {
            Check(std::find(rates.begin(), rates.end(), static_cast<int32_t>(baud)) != rates.end());
            Check(baud != 0 && static_cast<int32_t>(baud) == tat.baudRate);
          }
        } else if (status != TAVOLINK_COM_PORT_IN_USE) {
          Check(!port.IsOpen());
        }
        break;
      }
      case 3:
        Check(tat.CloseSession() == TAVOLINK_OK);
        Check(!tat.SessionOpen() && !port.IsOpen());
        break;
      default:
        status = tat.RestartModule((action >> 3) & 1);
        Check(IsOneOf(status, {TAVOLINK_OK, TAVOLINK_SESSION_NOT_OPEN, TAVOLINK_REQUEST_TIMEOUT}));
        break;
    }
    // A session always has its port.
    Check(!tat.SessionOpen() || port.IsOpen());
  }
  Check(session.line.Delivered() <= size - kStreamAt);
  return 0;
}
