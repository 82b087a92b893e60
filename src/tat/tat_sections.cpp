// Section and memory requests of the TAT session.
//
// A module keeps its parameters in numbered sections. We ask the module where
// a section lies and how long it is (section-info request), read it in chunks
// of module memory, check its checksum, write it back in chunks and ask the
// module to commit it to its file system. Every step is tried twice, with a
// trace line and the retry delay in between: modules busy with radio work
// drop a request now and then.
#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "serial/serial_port.h"
#include "tat/frame_bytes.h"
#include "tat/section_checksum.h"
#include "tat/tat_request.h"

namespace tavo {
namespace {

constexpr uint32_t kChunk = CPlatformCommands::kMaxChunk;
constexpr uint32_t kUpdateAnswerWaitMs = 1000;

// Where the section-info and read-memory answers carry their values.
constexpr uint32_t kInfoAddressAt = kOffsetBody;
constexpr uint32_t kInfoSizeAt = 26;
constexpr uint32_t kMemoryDataAt = kOffsetBody;

// The size of the answer frame now in the buffer (length field + 5).
uint32_t AnswerFrameSize(const uint8_t* frame) {
  return Get16(frame, kOffsetLength) + kFrameOverhead;
}

// True when the answer in the buffer carries `count` bytes from `offset`, in
// front of its checksum byte. A shorter answer would leave stale bytes of
// the request (or of an older answer) where the values are taken from.
bool AnswerCarries(const uint8_t* frame, uint32_t offset, uint32_t count) {
  return AnswerFrameSize(frame) >= offset + count + 1;
}

}  // namespace

template <class Step>
int32_t CTATRequest::TryTwice(const char* retryLine, Step&& step) {
  const int32_t first = step();
  if (first == TAVOLINK_OK) {
    return first;
  }
  Trace(retryLine);
  platform::Sleep(static_cast<uint32_t>(retryDelay));
  return step();
}

uint32_t SectionChecksum(const uint8_t* bytes, size_t n) {
  uint32_t sum = 0;
  for (size_t i = 1; i < n; ++i) {
    sum += bytes[i];
  }
  return sum;
}

int32_t CTATRequest::ReadSectionInfo(int32_t section, uint16_t* dataSizeOut, uint16_t* sizeOut,
                                     uint32_t* addressOut, bool hexTrace) {
  const int32_t ready = SessionRequired();
  if (ready != TAVOLINK_OK) {
    return ready;
  }
  uint16_t expected = 0;
  const uint32_t frameSize = commands.BuildSectionInfoRequest(section, &expected);
  const int32_t result = Exchange(frameSize, &expected, requestTimeOut);
  if (result != TAVOLINK_OK) {
    return result;
  }
  const uint8_t* answer = commands.Frame();
  if (!AnswerCarries(answer, kInfoSizeAt, 2)) {
    return TAVOLINK_REQUEST_TIMEOUT;
  }
  const uint32_t address = Get32(answer, kInfoAddressAt);
  const uint16_t size = Get16(answer, kInfoSizeAt);
  // A size below the 8-byte header leaves no data: report 0, never a
  // wrapped-around size.
  const uint16_t dataSize =
      size >= kSectionHeaderSize ? static_cast<uint16_t>(size - kSectionHeaderSize) : 0;
  if (dataSizeOut != nullptr) {
    *dataSizeOut = dataSize;
  }
  if (sizeOut != nullptr) {
    *sizeOut = size;
  }
  if (addressOut != nullptr) {
    *addressOut = address;
  }
  if (hexTrace) {
    Tracef("ReadSectionInfo ID:%d (0x%X) Size:0x%04X - Address:0x%08X", section,
           static_cast<unsigned>(section), static_cast<unsigned>(size), address);
  } else {
    Tracef("ReadSectionInfo ID:%d Size:0x%04X - Address:0x%08X", section,
           static_cast<unsigned>(size), address);
  }
  return TAVOLINK_OK;
}

int32_t CTATRequest::ReadMemory(uint32_t address, uint8_t* destination, uint32_t count) {
  const int32_t ready = SessionRequired();
  if (ready != TAVOLINK_OK) {
    return ready;
  }
  Trace("CTATRequest::ReadMemory");
  if (destination == nullptr && count > 0) {
    return TAVOLINK_NULL_BUFFER;
  }
  // One answer must fit the frame buffer, so a longer read goes out as
  // several requests of at most one chunk each.
  uint32_t done = 0;
  do {
    const uint32_t part = std::min(count - done, kChunk);
    uint16_t expected = 0;
    const uint32_t frameSize =
        commands.BuildReadMemoryRequest(static_cast<uint16_t>(part), address + done, &expected);
    const int32_t result = Exchange(frameSize, &expected, requestTimeOut);
    if (result != TAVOLINK_OK) {
      return result;
    }
    const uint8_t* answer = commands.Frame();
    if (!AnswerCarries(answer, kMemoryDataAt, part)) {
      return TAVOLINK_REQUEST_TIMEOUT;
    }
    if (part > 0) {
      std::memcpy(destination + done, answer + kMemoryDataAt, part);
    }
    done += part;
  } while (done < count);
  return TAVOLINK_OK;
}

int32_t CTATRequest::ReadSection(int32_t section, int32_t* dataSizeOut, int32_t* sizeOut,
                                 int32_t* addressOut, bool readData) {
  // The image of an earlier read goes first: a read that fails at any step,
  // the section-info request included, must never leave it to pass for
  // this section's.
  if (readData) {
    sectionBuffer.clear();
  }
  uint16_t dataSize = 0;
  uint16_t size = 0;
  uint32_t address = 0;
  int32_t result = TryTwice("ReadSectionSize Retry ...",
                            [&] { return ReadSectionInfo(section, &dataSize, &size, &address); });
  if (result != TAVOLINK_OK) {
    return result;
  }
  if (dataSizeOut != nullptr) {
    *dataSizeOut = dataSize;
  }
  if (sizeOut != nullptr) {
    *sizeOut = size;
  }
  if (addressOut != nullptr) {
    *addressOut = static_cast<int32_t>(address);
  }
  if (!readData) {
    return TAVOLINK_OK;
  }
  // Without its 8-byte header the block is not a section: there is no data
  // to hand out and nothing that could be written back safely.
  if (size < kSectionHeaderSize) {
    return TAVOLINK_SECTION_CHECKSUM_ERROR;
  }
  sectionBuffer.assign(size, 0);
  platform::Sleep(static_cast<uint32_t>(requestDelay));
  for (uint32_t offset = 0; offset < size; offset += kChunk) {
    const uint32_t part = std::min<uint32_t>(size - offset, kChunk);
    result = TryTwice(
        offset == 0 ? "TavoLink2 ReadSection Retry ..." : "TavoLink2 ReadSection + Retry ...",
        [&] { return ReadMemory(address + offset, sectionBuffer.data() + offset, part); });
    if (result != TAVOLINK_OK) {
      // Half a section must never be taken for the module's content.
      sectionBuffer.clear();
      return result;
    }
  }
  return TAVOLINK_OK;
}

int32_t CTATRequest::ReadTATSection(int32_t section, uint8_t* buffer, int32_t bufferSize,
                                    uint32_t* sizeOut, bool wholeSection) {
  const bool dataWanted = buffer != nullptr && bufferSize != 0;
  int32_t result = SessionRequired();
  if (result != TAVOLINK_OK) {
    return result;
  }
  int32_t dataSize = 0;
  int32_t size = 0;
  result = ReadSection(section, &dataSize, &size, nullptr, dataWanted);
  if (result != TAVOLINK_OK) {
    return result;
  }
  const int32_t handed = wholeSection ? size : dataSize;
  if (sizeOut != nullptr) {
    *sizeOut = static_cast<uint32_t>(handed);
  }
  if (!dataWanted) {
    return TAVOLINK_OK;
  }
  if (handed > bufferSize) {
    Tracef("TAVO Error -> ReadTATSection : Incorrect size Buffer (%d<%d)", bufferSize, handed);
    return TAVOLINK_BUFFER_TOO_SHORT;
  }
  const uint8_t* from = sectionBuffer.data() + (wholeSection ? 0 : kSectionHeaderSize);
  if (handed > 0) {
    std::memcpy(buffer, from, static_cast<size_t>(handed));
  }
  const uint8_t computed =
      static_cast<uint8_t>(SectionChecksum(sectionBuffer.data(), sectionBuffer.size()));
  const uint8_t stored = sectionBuffer[0];
  if (computed == stored) {
    return TAVOLINK_OK;
  }
  Tracef("TAVO Error -> ReadTATSection : Checksum error : 0x%0X (Read : 0x%0X)",
         static_cast<unsigned>(computed), static_cast<unsigned>(stored));
  return stored == kUncheckedSectionChecksum ? TAVOLINK_OK : TAVOLINK_SECTION_CHECKSUM_ERROR;
}

int32_t CTATRequest::WriteTATSection(int32_t section, const uint8_t* data, int32_t size) {
  int32_t result = SessionRequired();
  if (result != TAVOLINK_OK) {
    return result;
  }
  Tracef("WriteTATSection: Section: %d Size: %d", section, size);
  // A negative size is a caller's mistake, not "no data": rewriting the
  // section anyway would silently repair a checksum the host never meant
  // to touch.
  if (size < 0) {
    return TAVOLINK_BUFFER_SIZE_ERROR;
  }
  if (data == nullptr && size > 0) {
    return TAVOLINK_NULL_BUFFER;
  }
  int32_t dataSize = 0;
  int32_t sectionSize = 0;
  int32_t address = 0;
  result = ReadSection(section, &dataSize, &sectionSize, &address, true);
  if (result != TAVOLINK_OK) {
    return result;
  }
  // Only the data area changes; the header bytes 1 to 7 stay as the module
  // keeps them and data beyond the section is ignored.
  const int32_t copied = std::min(dataSize, size);
  if (copied > 0) {
    std::memcpy(sectionBuffer.data() + kSectionHeaderSize, data, static_cast<size_t>(copied));
  }
  sectionBuffer[0] =
      static_cast<uint8_t>(SectionChecksum(sectionBuffer.data(), sectionBuffer.size()));

  const uint32_t total = static_cast<uint32_t>(sectionSize);
  const uint32_t base = static_cast<uint32_t>(address);
  for (uint32_t offset = 0; offset < total; offset += kChunk) {
    // The module wants a pause before the first chunk and again before the
    // run of further chunks.
    if (offset <= kChunk) {
      platform::Sleep(static_cast<uint32_t>(requestDelay));
    }
    const uint32_t part = std::min(total - offset, kChunk);
    const uint8_t* bytes = sectionBuffer.data() + offset;
    result = TryTwice(offset == 0 ? "WriteSection Retry ..." : "WriteSection + Retry ...",
                      [&] { return WriteSection(section, part, base + offset, bytes); });
    if (result != TAVOLINK_OK) {
      return result;
    }
  }

  platform::Sleep(static_cast<uint32_t>(requestDelay));
  return TryTwice("UpdateFileSystem Retry ...", [&] { return UpdateFileSystem(section); });
}

int32_t CTATRequest::WriteSection(int32_t /*section*/, uint32_t count, uint32_t address,
                                  const uint8_t* data) {
  Trace("CTATRequest::WriteSection");
  if (data == nullptr && count > 0) {
    return TAVOLINK_NULL_BUFFER;
  }
  // The address says where the bytes go; the section number is not sent.
  // A count above one chunk goes out as several requests, each of which
  // fits the frame buffer.
  uint32_t done = 0;
  do {
    const uint32_t part = std::min(count - done, kChunk);
    uint16_t expected = 0;
    const uint32_t frameSize = commands.BuildWriteMemoryRequest(
        static_cast<uint16_t>(part), address + done, data + done, &expected);
    const int32_t result = Exchange(frameSize, &expected, requestTimeOut);
    if (result != TAVOLINK_OK) {
      return result;
    }
    done += part;
  } while (done < count);
  return TAVOLINK_OK;
}

int32_t CTATRequest::UpdateFileSystem(int32_t section) {
  Trace("CTATRequest::UpdateFileSystem");
  if (serialPort == nullptr) {
    return TAVOLINK_FRAMEWORK_HANDLE_ERROR;
  }
  uint16_t expected = 0;
  const uint32_t frameSize = commands.BuildUpdateSectionRequest(section, &expected);
  serialPort->Purge();  // as in Exchange: no late answer may pass for this one
  if (!serialPort->Write(commands.Frame(), frameSize)) {
    return TAVOLINK_REQUEST_TIMEOUT;
  }
  // Committing to flash takes the module a while; it answers only then.
  platform::Sleep(kUpdateAnswerWaitMs);
  return ReadAnswer(commands.Frame(), CPlatformCommands::kFrameBufferSize, expected,
                    requestTimeOut);
}

}  // namespace tavo
