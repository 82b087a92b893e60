// Runs the requests of an open TAT session against a module whose every
// answer byte comes from the input: section information, section reads
// whole or in chunks, memory reads of any length, the serial number (the
// first generation's text, the others' OTP data), section writes with the
// reads before them, commits, the version and the restart, and the module
// data read through them (section copies, the IMEI of section 18, the
// production and calibration records). The library's
// real CTATRequest and CSerialPort run over a scripted line on a virtual
// clock; every output buffer is exactly as large as the caller says, so
// AddressSanitizer sees any write beyond it.
//
// Whatever the module answers, every request must end with one of its
// statuses, the sizes it gives out must agree with each other and with the
// buffers, a serial number must have the form of the module's generation,
// and no request may leave the frame buffer unable to build the next one.
//
// Input:
//   0      the module: one of 8 identities, generations 0 to 6
//   1..8   the line's piece sizes, used in turn (see scripted_line.h)
//   9..24  four requests, each: which (0 to 13), then three parameters
//   25..   the module's bytes
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "config/config_file.h"
#include "data/imei.h"
#include "data/records.h"
#include "data/section_access.h"
#include "fuzz_check.h"
#include "platform/clock.h"
#include "scripted_line.h"
#include "serial/serial_port.h"
#include "tat/tat_request.h"

using tavo::fuzz::Check;

namespace {

constexpr size_t kSizesAt = 1;
constexpr size_t kSizes = 8;
constexpr size_t kRequestsAt = kSizesAt + kSizes;
constexpr size_t kRequests = 4;
constexpr size_t kStreamAt = kRequestsAt + 4 * kRequests;

// Platform identifier and software word of each generation's module.
constexpr std::array<std::array<uint32_t, 2>, 8> kModules = {{{0x13000007, 0x01000100},
                                                              {0x37000013, 0x01000122},
                                                              {0x37000013, 0x01000124},
                                                              {0x37000013, 0x01000200},
                                                              {0x37000020, 0x01000100},
                                                              {0x37000020, 0x01030133},
                                                              {0x12345678, 0x00000001},
                                                              {0x37000020, 0x00030133}}};

bool IsOneOf(int32_t status, std::initializer_list<int32_t> allowed) {
  return std::find(allowed.begin(), allowed.end(), status) != allowed.end();
}

bool IsUpperHex(const char* text, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

// The answers a module can make a request fail with.
constexpr std::initializer_list<int32_t> kLineFaults = {TAVOLINK_REQUEST_TIMEOUT,
                                                        TAVOLINK_FRAME_CHECKSUM_ERROR};

bool IsOkOrLineFault(int32_t status, std::initializer_list<int32_t> more = {}) {
  return status == TAVOLINK_OK || IsOneOf(status, kLineFaults) || IsOneOf(status, more);
}

void SerialNumber(tavo::CTATRequest& tat) {
  std::vector<char> text(TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE, '\x7F');
  const int32_t status = tat.ReadSerialNumber(text.data());
  Check(IsOkOrLineFault(status, {TAVOLINK_OTP_TYPE_NOT_FOUND}));
  if (status != TAVOLINK_OK) {
    return;
  }
  const char* end = static_cast<const char*>(std::memchr(text.data(), 0, text.size()));
  Check(end != nullptr);
  const size_t length = static_cast<size_t>(end - text.data());
  switch (tat.GetModuleGeneration()) {
    case 1:  // the module's own text
      break;
    case 5:
    case 6:  // 10 digits from an OTP record, or 14 bytes stored backwards (a zero among them
             // ends the text early)
      Check((length == 10 && IsUpperHex(text.data(), 10)) || (length <= 14 && text[14] == '\0'));
      break;
    default:
      Check(length == 10 && IsUpperHex(text.data(), 10));
      break;
  }
}

// A section copy is exactly what the read that made it delivered: the image
// last read, whole or without its header, at the size given out.
void SectionCopy(tavo::CTATRequest& tat, int32_t section, bool whole) {
  std::vector<uint8_t> copy = {0xEE};
  uint16_t size = 0xEEEE;
  const int32_t status = tavo::data::ReadSectionCopy(tat, section, copy, &size, whole);
  Check(IsOkOrLineFault(status, {TAVOLINK_SECTION_CHECKSUM_ERROR, TAVOLINK_BUFFER_TOO_SHORT}));
  if (status != TAVOLINK_OK) {
    Check(copy == std::vector<uint8_t>{0xEE});  // replaced only on success
    return;
  }
  Check(copy.size() == size);
  if (size > 0) {
    const std::vector<uint8_t>& image = tat.SectionBuffer();
    Check(image.size() >= 8 && copy.size() == image.size() - (whole ? 0 : 8));
    Check(std::equal(copy.begin(), copy.end(), image.begin() + (whole ? 0 : 8)));
  }
}

// The record reads hand out the module's bytes or fail; the IMEI is 15
// digits (hexadecimal ones when the check digit cannot match).
void ModuleData(tavo::CTATRequest& tat, int which, uint8_t fill) {
  const std::initializer_list<int32_t> faults = {TAVOLINK_SECTION_CHECKSUM_ERROR,
                                                 TAVOLINK_BUFFER_TOO_SHORT};
  switch (which) {
    case 0: {
      std::vector<char> imei(TAVOLINK_IMEI_BUFFER_SIZE, '\x7F');
      const int32_t status = tavo::data::ReadImei(tat, imei.data());
      Check(IsOkOrLineFault(status, {TAVOLINK_SECTION_CHECKSUM_ERROR, TAVOLINK_BUFFER_TOO_SHORT,
                                     TAVOLINK_IMEI_CHECK_DIGIT_ERROR}));
      if (status == TAVOLINK_OK || status == TAVOLINK_IMEI_CHECK_DIGIT_ERROR) {
        Check(IsUpperHex(imei.data(), 15) && imei[15] == '\0');
      }
      if (status == TAVOLINK_OK) {
        Check(std::all_of(imei.begin(), imei.begin() + 15, [](char c) { return c <= '9'; }));
      }
      break;
    }
    case 1: {
      std::vector<char> text14(14, '\x7F');
      std::vector<char> text8(8, '\x7F');
      uint16_t value = 0;
      Check(IsOkOrLineFault(
          tavo::data::ReadProductionSummary(tat, text14.data(), &value, text8.data()), faults));
      break;
    }
    case 2: {
      std::vector<uint8_t> record(tavo::data::kCalibrationSize);
      Check(IsOkOrLineFault(tavo::data::ReadCalibrationInfos(tat, record.data()), faults));
      break;
    }
    default: {
      const std::vector<uint8_t> record(tavo::data::kProductionSize, fill);
      Check(IsOkOrLineFault(tavo::data::WriteProductionInfos(tat, record.data()), faults));
      break;
    }
  }
}

void Request(tavo::CTATRequest& tat, const uint8_t* r) {
  const int32_t section = r[1];
  switch (r[0] % 14) {
    case 0: {
      uint16_t dataSize = 0;
      uint16_t sectionSize = 0;
      uint32_t address = 0;
      const int32_t status =
          tat.ReadSectionInfo(section, &dataSize, &sectionSize, &address, (r[2] & 1) != 0);
      Check(IsOkOrLineFault(status));
      if (status == TAVOLINK_OK) {
        Check(dataSize == (sectionSize >= 8 ? sectionSize - 8 : 0));
      }
      break;
    }
    case 1: {
      int32_t dataSize = -1;
      int32_t sectionSize = -1;
      const bool readData = (r[2] & 1) != 0;
      const int32_t status = tat.ReadSection(section, &dataSize, &sectionSize, nullptr, readData);
      Check(IsOkOrLineFault(status, {TAVOLINK_SECTION_CHECKSUM_ERROR}));
      if (status == TAVOLINK_OK) {
        Check(sectionSize >= 0 && sectionSize <= 0xFFFF);
        Check(dataSize == (sectionSize >= 8 ? sectionSize - 8 : 0));
        if (readData) {
          Check(tat.SectionBuffer().size() == static_cast<size_t>(sectionSize));
        }
      } else if (readData) {
        Check(tat.SectionBuffer().empty());  // half a section is never kept
      }
      break;
    }
    case 2: {
      // A buffer of exactly the size given; 0 only asks for the size.
      const auto bufferSize = static_cast<int32_t>(r[2] * 16 + (r[3] >> 4));
      std::vector<uint8_t> buffer(static_cast<size_t>(bufferSize));
      const bool whole = (r[3] & 1) != 0;
      uint32_t handed = 0xFFFFFFFF;
      const int32_t status = tat.ReadTATSection(section, bufferSize > 0 ? buffer.data() : nullptr,
                                                bufferSize, &handed, whole);
      Check(IsOkOrLineFault(status, {TAVOLINK_SECTION_CHECKSUM_ERROR, TAVOLINK_BUFFER_TOO_SHORT}));
      if (status == TAVOLINK_OK) {
        Check(handed <= 0xFFFF);
        Check(bufferSize == 0 || handed <= static_cast<uint32_t>(bufferSize));
      }
      break;
    }
    case 3: {
      const uint32_t count = (r[2] | (r[3] << 8)) % 7001;
      std::vector<uint8_t> memory(count);
      const int32_t status =
          tat.ReadMemory(static_cast<uint32_t>(section) << 24, memory.data(), count);
      Check(IsOkOrLineFault(status, {TAVOLINK_NULL_BUFFER}));
      Check(status != TAVOLINK_NULL_BUFFER || (count > 0 && memory.data() == nullptr));
      break;
    }
    case 4:
      SerialNumber(tat);
      break;
    case 5: {
      // Data of exactly the size given, or none with size 0.
      const int32_t size = r[2] * 8 + (r[3] & 7);
      std::vector<uint8_t> bytes(static_cast<size_t>(size), r[3]);
      const int32_t status = tat.WriteTATSection(section, size > 0 ? bytes.data() : nullptr, size);
      Check(IsOkOrLineFault(status, {TAVOLINK_SECTION_CHECKSUM_ERROR}));
      break;
    }
    case 6:
      Check(IsOkOrLineFault(tat.UpdateFileSystem(section)));
      break;
    case 7: {
      std::array<char, TAVOLINK_SOFTWARE_ID_BUFFER_SIZE> id{};
      const int32_t status = tat.GetSoftVersion(id.data());
      Check(IsOkOrLineFault(status));
      Check(status != TAVOLINK_OK || (IsUpperHex(id.data(), 16) && id[16] == '\0'));
      break;
    }
    case 8:
      SectionCopy(tat, section, (r[2] & 1) != 0);
      break;
    case 9:
    case 10:
    case 11:
    case 12:
      ModuleData(tat, r[0] % 14 - 9, r[2]);
      break;
    default:
      // No answer is awaited; only a line that is gone fails it.
      Check(IsOneOf(tat.RestartModule(0), {TAVOLINK_OK, TAVOLINK_REQUEST_TIMEOUT}));
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kStreamAt) {
    return 0;
  }
  tavo::platform::VirtualClock clock(0xFFFFF000u);  // wraps during the run
  tavo::platform::ScopedClock scoped(clock);
  tavo::fuzz::ScriptedSession session(clock, {data + kSizesAt, kSizes},
                                      {data + kStreamAt, size - kStreamAt});
  tavo::CSerialPort& port = session.port;
  tavo::CTATRequest& tat = session.tat;
  tat.SetTATDelay(0, 10, 500, 0);

  // An open session on the module of the input's kind, as the probe leaves it.
  Check(port.Open(true));
  const std::array<uint32_t, 2>& module = kModules[data[0] % kModules.size()];
  tat.IdentifyModule(module[0], module[1], nullptr);
  Check(tat.SessionOpen());

  for (size_t i = 0; i < kRequests; ++i) {
    Request(tat, data + kRequestsAt + 4 * i);
    Check(tat.SessionOpen() && port.IsOpen());
  }
  Check(tat.CloseSession() == TAVOLINK_OK && !port.IsOpen());
  return 0;
}
