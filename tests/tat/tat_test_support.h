// Pieces shared by the TAT tests: frames as a module sends them, a recorder
// of trace lines, a scratch configuration file, and a small scripted module
// that greets and answers the way a TAVO module does.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/link_base.h"
#include "support/scripted_device.h"
#include "support/trace_log.h"
#include "tavolink2.h"

namespace tavo::test {

// --- frames ------------------------------------------------------------------

inline void Put16At(ByteVector& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32At(ByteVector& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) {
    b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
}
inline uint16_t Get16At(const ByteVector& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
inline uint32_t Get32At(const ByteVector& b, size_t at) {
  return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) |
         (uint32_t{b[at + 3]} << 24);
}

// The 8-bit sum of every byte but the first: zero for a well-formed frame.
inline uint8_t SumAfterMagic(const ByteVector& frame) {
  uint8_t sum = 0;
  for (size_t i = 1; i < frame.size(); ++i) {
    sum = static_cast<uint8_t>(sum + frame[i]);
  }
  return sum;
}

// A frame from the module: header, payload from offset 12, checksum.
inline ByteVector ModuleFrame(uint16_t code, const ByteVector& payload, uint16_t source = 0x48,
                              uint16_t dest = 0x14) {
  const auto length = static_cast<uint16_t>(8 + payload.size());
  ByteVector f(12, 0);
  f[0] = 0xAA;
  f[1] = 0x83;
  Put16At(f, 2, length);
  Put16At(f, 4, length);
  Put16At(f, 6, source);
  Put16At(f, 8, dest);
  Put16At(f, 10, code);
  f.insert(f.end(), payload.begin(), payload.end());
  f.push_back(0);
  f.back() = static_cast<uint8_t>(0 - SumAfterMagic(f));
  return f;
}

// The answer to a version request: platform identifier at 16, software word at 20.
inline ByteVector VersionAnswer(uint32_t platformId, uint32_t softwareWord,
                                uint16_t code = 0x7200) {
  ByteVector payload(12, 0);
  Put16At(payload, 0, 0x4802);
  Put32At(payload, 4, platformId);
  Put32At(payload, 8, softwareWord);
  return ModuleFrame(code, payload);
}

// A frame a module sends when it enters TAT mode: its identity at 20 and 24.
inline ByteVector ReadyFrame(uint32_t platformId, uint32_t softwareWord, uint16_t index) {
  ByteVector payload(16, 0);
  Put16At(payload, 0, index);
  Put32At(payload, 8, platformId);
  Put32At(payload, 12, softwareWord);
  return ModuleFrame(0x7201, payload);
}

inline ByteVector Text(const std::string& text) { return ByteVector(text.begin(), text.end()); }

inline ByteVector Concat(std::initializer_list<ByteVector> parts) {
  ByteVector all;
  for (const ByteVector& p : parts) {
    all.insert(all.end(), p.begin(), p.end());
  }
  return all;
}

// --- configuration file ------------------------------------------------------

// A fresh directory for one test's "TavoLink2.Ini".
class ScratchIni {
 public:
  ScratchIni() {
    char pattern[] = "/tmp/tavo_tat_XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
      dir_ = pattern;
    }
  }
  ~ScratchIni() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  ScratchIni(const ScratchIni&) = delete;
  ScratchIni& operator=(const ScratchIni&) = delete;

  std::string Path() const { return dir_ + "/TavoLink2.Ini"; }
  void Write(const std::string& content) const {
    std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
    out << content;
  }

 private:
  std::string dir_;
};

// --- a scripted module -------------------------------------------------------

// The module side of a ScriptedLine: switches into TAT mode on "AT+KTAT=1\r",
// greets with 'I', sends its ready frames after the host's 'O', and answers
// version and restart requests in TAT mode.
class ScriptedModule {
 public:
  struct Behaviour {
    uint32_t platformId = 0x37000013;
    uint32_t softwareWord = 0x01000124;
    bool inTat = false;
    // Answers the AT command only at this AT baud rate (0: at any).
    uint32_t atBaudRate = 0;
    bool answersAt = true;
    // The greeting comes later than the host's purge after the AT command.
    uint32_t ackDelayMs = 150;
    ByteVector ack = {'I'};
    int readyFrames = 2;
    uint32_t readyDelayMs = 50;
    uint32_t readyGapMs = 20;
    bool answersVersion = true;
  };

  ScriptedModule(std::shared_ptr<ScriptedLine> line, Behaviour behaviour)
      : line_(std::move(line)), b_(behaviour) {
    line_->OnWrite([this](ScriptedLine& l, const ByteVector& bytes) { OnWrite(l, bytes); });
  }
  ~ScriptedModule() { line_->OnWrite(nullptr); }
  ScriptedModule(const ScriptedModule&) = delete;
  ScriptedModule& operator=(const ScriptedModule&) = delete;

  Behaviour& Config() { return b_; }
  bool InTat() const { return b_.inTat; }
  int AtCommands() const { return atCommands_; }
  int VersionRequests() const { return versionRequests_; }
  int Restarts() const { return restarts_; }
  int OsReceived() const { return oReceived_; }

 private:
  void OnWrite(ScriptedLine& line, const ByteVector& bytes) {
    if (bytes == Text("AT+KTAT=1\r")) {
      ++atCommands_;
      const uint32_t baud = line.Writes().back().settings.baudRate;
      if (b_.answersAt && (b_.atBaudRate == 0 || b_.atBaudRate == baud)) {
        awaitingO_ = true;
        line.Send(b_.ack, b_.ackDelayMs);
      }
      return;
    }
    if (bytes == Text("O") && awaitingO_) {
      ++oReceived_;
      awaitingO_ = false;
      b_.inTat = true;
      for (int i = 0; i < b_.readyFrames; ++i) {
        line.Send(ReadyFrame(b_.platformId, b_.softwareWord, static_cast<uint16_t>(i + 1)),
                  i == 0 ? b_.readyDelayMs : b_.readyGapMs);
      }
      return;
    }
    if (!b_.inTat || bytes.size() < 17 || bytes[0] != 0xAA || bytes[1] != 0x83) {
      return;
    }
    const uint16_t code = Get16At(bytes, 10);
    const uint16_t param1 = Get16At(bytes, 12);
    if (code == 0x4802 && param1 == 0x7200) {
      ++versionRequests_;
      if (b_.answersVersion) {
        line.Send(VersionAnswer(b_.platformId, b_.softwareWord), 5);
      }
    } else if (code == 0x4802 && param1 == 0x72B0) {
      ++restarts_;
      b_.inTat = false;
    }
  }

  std::shared_ptr<ScriptedLine> line_;
  Behaviour b_;
  bool awaitingO_ = false;
  int atCommands_ = 0;
  int versionRequests_ = 0;
  int restarts_ = 0;
  int oReceived_ = 0;
};

}  // namespace tavo::test
