// CTATRequest: the TAT side of a channel.
//
// It carries the TAT session with the module on the channel's serial port:
// opening (probe, switch from AT command mode, greeting, identification),
// the request/answer exchanges, the section and memory requests, detection
// over a list of AT baud rates, and the settings that tune all of it.
// Implementation is split by job: tat_settings.cpp, tat_exchange.cpp (frame
// receivers), tat_session.cpp, tat_detection.cpp, tat_sections.cpp,
// tat_serial_number.cpp. The module data built on these requests (records,
// IMEI) lives one layer up, in src/data/.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/link_base.h"
#include "tat/platform_commands.h"
#include "tavolink2.h"

namespace tavo {

class CSerialPort;

class CTATRequest : public CLinkBase {
 public:
  static constexpr int32_t kDefaultTatBaudRate = 115200;
  static constexpr int32_t kDefaultRequestTimeOut = 9000;
  static constexpr int32_t kSlowRequestTimeOut = 12000;
  static constexpr int32_t kDefaultReadyTimeOut = 10000;
  static constexpr int32_t kDefaultOpenDelay = 12000;
  static constexpr int32_t kDefaultRequestDelay = 100;
  static constexpr int32_t kDefaultRetryDelay = 2000;
  static constexpr uint32_t kReadyBufferSize = 256;

  CTATRequest() = default;
  ~CTATRequest() = default;
  CTATRequest(const CTATRequest&) = delete;
  CTATRequest& operator=(const CTATRequest&) = delete;

  // --- settings (tat_settings.cpp) -----------------------------------------
  // The channel's serial port, which this session borrows while it is open.
  void AttachPort(CSerialPort* port) { serialPort = port; }
  // Each value above 0 replaces its setting, a negative one restores the
  // default, 0 keeps the setting.
  void SetTATTimeOut(int32_t request, int32_t ready);
  void SetTATDelay(int32_t open, int32_t request, int32_t retry, int32_t unused);
  // A rate above 0 becomes the TAT rate, anything else 115200; then, unless
  // the rate given was negative, the request time-out follows the rate
  // (12000 ms below 115200 baud, else 9000 ms).
  void ChangeTATBaudrate(int32_t rate);
  void SetSerialSpy(uint32_t context, tavolink_SpyCallback callback);

  int32_t TatBaudRate() const { return tatBaudRate; }
  int32_t RequestTimeOut() const { return requestTimeOut; }
  int32_t ReadyTimeOut() const { return readyTimeOut; }
  int32_t OpenDelay() const { return openDelay; }
  int32_t RequestDelay() const { return requestDelay; }
  int32_t RetryDelay() const { return retryDelay; }
  int32_t GetModuleGeneration() const { return moduleGeneration; }
  bool SessionOpen() const { return sessionOpen; }
  bool Detecting() const { return detecting.load(); }
  // The command codes and frame buffer of the module now identified; a
  // caller of Exchange builds its request there.
  const CPlatformCommands& Commands() const { return commands; }
  CPlatformCommands& Commands() { return commands; }
  // 100 without a port, 103 without an open session, else 1: the first check
  // of every request that needs a module.
  int32_t SessionRequired() const;

  // --- frame exchange (tat_exchange.cpp) -----------------------------------
  // Receives one answer frame with the expected code into buffer (which holds
  // bufferSize bytes). 1, 105 (time-out) or 107 (bad frame checksum).
  int32_t ReadAnswer(uint8_t* buffer, uint32_t bufferSize, uint16_t expectedCode,
                     int32_t timeOutMs);
  // Waits up to requestTimeOut for one byte value. 1 or 7.
  int32_t WaitForByte(uint8_t value);
  // Collects the frames a module sends after entering TAT mode. 1 or 102.
  int32_t ReadReadyFrames(uint8_t* buffer, int32_t timeOutMs, int32_t* frameCount);
  // Drops whatever the module sent unasked, writes the request of frameSize
  // bytes at the start of the frame buffer and, when expectedCode is given,
  // receives its answer there. Dropping first means that a late answer to an
  // earlier request can never be taken for this request's answer.
  int32_t Exchange(uint32_t frameSize, const uint16_t* expectedCode, int32_t timeOutMs);

  // --- session (tat_session.cpp, tat_detection.cpp) ------------------------
  int32_t OpenSession(char* softwareIdOut);
  int32_t CloseSession();
  int32_t GetSoftVersion(char* out);
  int32_t RequestVersion(uint32_t* pairOut, int32_t timeOutMs);
  int32_t EnterTATMode(int32_t atBaudRate, uint32_t* pairOut);
  void IdentifyModule(uint32_t platformId, uint32_t softwareWord, char* softwareIdOut);
  int32_t RestartModule(int32_t closeAfter);
  uint32_t GetRestartFrame(uint8_t* out);
  // Detection: finds the module's AT rate among the speed list (the default
  // list for a null or empty text), at most maxPasses passes (0: no limit),
  // and opens a session with it. 1, 3 (port held), 4 (port), 20 (already
  // running), 21 (stopped), 22 (passes exhausted), 54 (bad list), 102.
  int32_t CheckTATSession(const char* speedList, int32_t maxPasses, uint32_t* baudOut,
                          char* softwareIdOut);
  int32_t StopDetection();

  // --- sections, memory, serial number (tat_sections.cpp,
  //     tat_serial_number.cpp, tat_imei.cpp) -------------------------------
  // A section is an image of `size` bytes: checksum byte, version byte, the
  // size again, four more header bytes, then size - 8 data bytes. Every
  // request below needs an open session (100 without a port, 103 without a
  // session) unless said otherwise; each section-info, memory chunk, write
  // chunk and commit is tried twice, with a trace line and retryDelay between.
  //
  // Sizes the module may report that are not sections:
  // - A section reported below its 8-byte header has no data: the data size
  //   given out is 0 (never a wrapped-around size), a size query still
  //   answers 1, but reading its bytes (ReadSection with data, ReadTATSection
  //   with a buffer) or writing it (WriteTATSection) is refused with 108
  //   before any memory request, so nothing outside the section is copied
  //   or written.
  // - An answer too short to carry the values asked for (section size and
  //   address, or the bytes of a memory read) counts as no answer: 105.

  // Section address and size; the data size is size - 8 (0 below 8).
  // hexTrace shows the section number in hexadecimal too (IMEI write).
  int32_t ReadSectionInfo(int32_t section, uint16_t* dataSizeOut, uint16_t* sizeOut,
                          uint32_t* addressOut, bool hexTrace = false);
  // Reads count bytes of module memory. A count above one chunk (3000
  // bytes) is split into several requests of at most 3000 bytes each, so
  // that no answer can overflow the frame buffer. 50 for a null destination.
  int32_t ReadMemory(uint32_t address, uint8_t* destination, uint32_t count);
  // Section info and, with readData, the whole image into sectionBuffer in
  // chunks of 3000 bytes. A failed read leaves sectionBuffer empty.
  int32_t ReadSection(int32_t section, int32_t* dataSizeOut, int32_t* sizeOut, int32_t* addressOut,
                      bool readData);
  // Data (or with wholeSection the whole image) into buffer, then the
  // checksum check: 108 on a mismatch unless the stored byte is 0xFF. With a
  // null buffer or a bufferSize of 0 only the size is given out. 52 when the
  // size exceeds bufferSize (compared signed, so a negative size never lets
  // data through).
  int32_t ReadTATSection(int32_t section, uint8_t* buffer, int32_t bufferSize, uint32_t* sizeOut,
                         bool wholeSection);
  // Re-reads the section, replaces its first min(data size, size) data bytes,
  // recomputes the checksum, writes the whole image back and commits it.
  // A negative size is refused with 51 and null data with a positive size
  // with 50, before anything is sent: rewriting the section "with no data"
  // would silently repair a checksum the caller never meant to touch. A size
  // of 0 rewrites the section unchanged.
  int32_t WriteTATSection(int32_t section, const uint8_t* data, int32_t size);
  // One write of module memory (no session test; only WriteTATSection calls
  // it). A count above 3000 bytes is split like ReadMemory's.
  int32_t WriteSection(int32_t section, uint32_t count, uint32_t address, const uint8_t* data);
  // Asks the module to commit the section; waits 1000 ms for the answer.
  int32_t UpdateFileSystem(int32_t section);
  // Generation 1: the module's text (up to its zero byte, never beyond the
  // answer). Others: from the OTP data, 10 hexadecimal digits, or (5 and 6)
  // 14 characters; 30 when the OTP data has no serial number.
  int32_t ReadSerialNumber(char* out);
  // The section image last read by ReadSection (empty when none).
  const std::vector<uint8_t>& SectionBuffer() const { return sectionBuffer; }

 private:
  // Opens the port in TAT mode at the TAT rate; 4 with a trace line naming
  // the port, the device and the reason when it cannot be opened.
  int32_t OpenPort();
  // Closes the port and forgets the session, whatever its state.
  void EndSession();
  // Runs a request step; when it fails, traces retryLine, waits the retry
  // delay and runs it once more. The second result is final.
  template <class Step>
  int32_t TryTwice(const char* retryLine, Step&& step);
  // Detection steps (tat_detection.cpp).
  int32_t RestartForDetection();
  int32_t WalkSpeedList(const int32_t* rates, int32_t maxPasses, uint32_t* baudOut,
                        uint32_t* pairOut);

  CSerialPort* serialPort = nullptr;
  int32_t tatBaudRate = kDefaultTatBaudRate;
  int32_t requestTimeOut = kDefaultRequestTimeOut;
  int32_t readyTimeOut = kDefaultReadyTimeOut;
  int32_t openDelay = kDefaultOpenDelay;
  int32_t requestDelay = kDefaultRequestDelay;
  int32_t retryDelay = kDefaultRetryDelay;
  // Cleared by CloseSession, which the host may call from another thread.
  std::atomic<bool> sessionOpen{false};
  // Read by the detection loop, cleared by StopDetection from another thread.
  std::atomic<bool> detecting{false};
  std::vector<uint8_t> sectionBuffer;
  int32_t moduleGeneration = 0;
  CPlatformCommands commands;
};

}  // namespace tavo
