#include "tat/platform_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "config/config_file.h"
#include "tat/frame_bytes.h"

namespace tavo {
namespace {

constexpr uint16_t kFillerWord = 0xCCCC;
constexpr uint16_t kSectionInfoMarker = 0xCC00;
constexpr uint16_t kReadMemoryParam2 = 0xCC00;
// Memory requests go to the TAT process's memory-access service.
constexpr uint16_t kMemoryService = 0x0B;
// The first-generation module reads its serial number through a fixed
// process and a short request without parameter words.
constexpr uint16_t kGen1SerialProcess = 0x005A;

constexpr uint16_t kShortLength = 8;
constexpr uint16_t kParamLength = 12;
constexpr uint16_t kMemoryLength = 20;

constexpr uint32_t FrameSize(uint16_t length) { return uint32_t{length} + kFrameOverhead; }

}  // namespace

void CPlatformCommands::Reset() {
  processPc = 0x14;
  processTat = 0x48;
  processPmg = 0x67;
  version = {0x4802, 0x7200};
  restart = {0x4802, 0x72B0};
  readSerial = {0x4802, 0x72D8};
  infoSection = {0x6758, 0x6759};
  updateSection = {0x6750, 0x6751};
  readSection = {0x7160, 0x7168};
  writeSection = {0x7148, 0x7150};
}

void CPlatformCommands::LoadKeys(CConfigFile& config, const std::string& section) {
  // A key that is missing, empty or malformed leaves its field as it stood.
  config.ReadHexValue(section, "PROCESS_PC", processPc);
  config.ReadHexValue(section, "PROCESS_TAT", processTat);
  config.ReadHexValue(section, "PROCESS_PMG", processPmg);
  const struct {
    const char* key;
    CommandPair& pair;
  } pairs[] = {
      {"VERSION", version},
      {"RESTART", restart},
      {"READ_SERIAL", readSerial},
      {"INFO_SECTION", infoSection},
      {"UPDATE_SECTION", updateSection},
      {"READ_SECTION", readSection},
      {"WRITE_SECTION", writeSection},
  };
  for (const auto& entry : pairs) {
    config.ReadHexPair(section, entry.key, entry.pair.request, entry.pair.answer);
  }
}

int32_t CPlatformCommands::Load(CConfigFile& config, uint32_t platformId,
                                const char* softwareIdText, std::string* traceText) {
  // The key follows every identification, even one that keeps the table, so
  // that a restore converts with the chains of the module now on the line.
  char key[16];
  std::snprintf(key, sizeof key, "P%08X", static_cast<unsigned>(platformId));
  platformKey = key;
  // The same software again keeps the table exactly as it was loaded.
  if (softwareIdText != nullptr && softwareId == softwareIdText) {
    return TAVOLINK_OK;
  }
  if (softwareIdText != nullptr) {
    softwareId = softwareIdText;
  }
  // Start from the built-ins so that nothing of the previous module remains.
  Reset();
  std::string platformSection;
  config.GetPlatformSection(platformId, platformSection);
  LoadKeys(config, platformSection);
  if (traceText != nullptr) {
    *traceText = "Platform : [" + platformSection + "] - Specific : [";
  }
  if (softwareIdText == nullptr) {
    return TAVOLINK_OK;
  }
  std::string softwareSection;
  config.GetSoftwareSection(softwareId, softwareSection);
  LoadKeys(config, softwareSection);
  if (traceText != nullptr) {
    *traceText += softwareSection + "]";
  }
  return TAVOLINK_OK;
}

void CPlatformCommands::FillHeader(uint16_t length, uint16_t sourceProcess, uint16_t destProcess,
                                   uint16_t messageCode) {
  uint8_t* f = frame.data();
  f[kOffsetMagic] = kMagic0;
  f[kOffsetMagic + 1] = kMagic1;
  Put16(f, kOffsetLength, length);
  Put16(f, kOffsetLengthCopy, length);
  Put16(f, kOffsetSource, sourceProcess);
  Put16(f, kOffsetDest, destProcess);
  Put16(f, kOffsetMessageCode, messageCode);
  uint32_t position = 0;
  const uint8_t checksum = FrameChecksum(f, kFrameBufferSize, &position);
  if (position < kFrameBufferSize) {
    f[position] = checksum;
  }
}

uint32_t CPlatformCommands::BuildVersionRequest(uint16_t* expectedAnswer) {
  Put16(frame.data(), kOffsetParam1, version.answer);
  Put16(frame.data(), kOffsetParam2, kFillerWord);
  FillHeader(kParamLength, processPc, processTat, version.request);
  if (expectedAnswer != nullptr) {
    *expectedAnswer = version.answer;
  }
  return FrameSize(kParamLength);
}

uint32_t CPlatformCommands::BuildRestartRequest() {
  Put16(frame.data(), kOffsetParam1, restart.answer);
  Put16(frame.data(), kOffsetParam2, kFillerWord);
  FillHeader(kParamLength, processPc, processTat, restart.request);
  return FrameSize(kParamLength);
}

uint32_t CPlatformCommands::BuildReadSerialRequest(int32_t moduleGeneration,
                                                   uint16_t* expectedAnswer) {
  if (expectedAnswer != nullptr) {
    *expectedAnswer = readSerial.answer;
  }
  if (moduleGeneration == 1) {
    FillHeader(kShortLength, processPc, kGen1SerialProcess, readSerial.request);
    return FrameSize(kShortLength);
  }
  Put16(frame.data(), kOffsetParam1, readSerial.answer);
  Put16(frame.data(), kOffsetParam2, kFillerWord);
  FillHeader(kParamLength, processPc, processTat, readSerial.request);
  return FrameSize(kParamLength);
}

uint32_t CPlatformCommands::BuildSectionInfoRequest(int32_t section, uint16_t* expectedAnswer) {
  const auto sectionByte = static_cast<uint16_t>(section & 0xFF);
  Put16(frame.data(), kOffsetParam1, static_cast<uint16_t>(kSectionInfoMarker | sectionByte));
  Put16(frame.data(), kOffsetParam2, kFillerWord);
  FillHeader(kParamLength, processPc, processPmg, infoSection.request);
  if (expectedAnswer != nullptr) {
    *expectedAnswer = infoSection.answer;
  }
  return FrameSize(kParamLength);
}

uint32_t CPlatformCommands::BuildUpdateSectionRequest(int32_t section, uint16_t* expectedAnswer) {
  Put16(frame.data(), kOffsetParam1, static_cast<uint16_t>(section & 0xFF));
  Put16(frame.data(), kOffsetParam2, kFillerWord);
  FillHeader(kParamLength, processPc, processPmg, updateSection.request);
  if (expectedAnswer != nullptr) {
    *expectedAnswer = updateSection.answer;
  }
  return FrameSize(kParamLength);
}

uint32_t CPlatformCommands::BuildReadMemoryRequest(uint16_t count, uint32_t address,
                                                   uint16_t* expectedAnswer) {
  // The answer carries the bytes read and must fit the frame buffer.
  count = static_cast<uint16_t>(std::min<uint32_t>(count, kMaxChunk));
  uint8_t* f = frame.data();
  Put16(f, kOffsetParam1, readSection.request);
  Put16(f, kOffsetParam2, kReadMemoryParam2);
  Put32(f, kOffsetMemoryAddress, address);
  Put16(f, kOffsetMemoryCount, count);
  Put16(f, kOffsetMemoryReserved, 0);
  FillHeader(kMemoryLength, processPc, processTat, MemoryMessageCode());
  if (expectedAnswer != nullptr) {
    *expectedAnswer = readSection.answer;
  }
  return FrameSize(kMemoryLength);
}

uint32_t CPlatformCommands::BuildWriteMemoryRequest(uint16_t count, uint32_t address,
                                                    const uint8_t* data, uint16_t* expectedAnswer) {
  count = static_cast<uint16_t>(std::min<uint32_t>(count, kMaxChunk));
  uint8_t* f = frame.data();
  Put16(f, kOffsetParam1, writeSection.request);
  Put16(f, kOffsetParam2, 0);
  Put32(f, kOffsetMemoryAddress, address);
  Put16(f, kOffsetMemoryCount, count);
  Put16(f, kOffsetMemoryReserved, 0);
  if (data != nullptr) {
    std::memcpy(f + kOffsetMemoryData, data, count);
  } else {
    std::memset(f + kOffsetMemoryData, 0, count);
  }
  const auto length = static_cast<uint16_t>(kMemoryLength + count);
  FillHeader(length, processPc, processTat, MemoryMessageCode());
  if (expectedAnswer != nullptr) {
    *expectedAnswer = writeSection.answer;
  }
  return FrameSize(length);
}

uint16_t CPlatformCommands::MemoryMessageCode() const {
  return static_cast<uint16_t>(((processTat & 0xFF) << 8) | kMemoryService);
}

uint8_t FrameChecksum(const uint8_t* buffer, uint32_t bufferSize, uint32_t* position) {
  // The checksum closes the frame at offset L + 4; it covers every byte after
  // the leading 0xAA, so that the 8-bit sum of bytes 1 .. L + 4 is zero.
  uint32_t end = 0;  // offset of the checksum byte
  if (buffer != nullptr && bufferSize > kOffsetLength + 1) {
    end = uint32_t{Get16(buffer, kOffsetLength)} + 4;
  }
  if (position != nullptr) {
    *position = end;
  }
  uint8_t sum = 0;
  const uint32_t last = std::min(end, bufferSize);  // never look past the buffer
  for (uint32_t i = 1; i < last; ++i) {
    sum = static_cast<uint8_t>(sum + buffer[i]);
  }
  return static_cast<uint8_t>(0 - sum);
}

}  // namespace tavo
