// Status numbers as messages for the host, in English or French.
//
// Every operation of the library returns a status number; hosts show it to
// their operators through tavolink_TranslateTavoStatus. The texts are 8-bit
// Windows-1252 strings (the French accents are single bytes) and are handed
// to the host exactly as they stand.
#pragma once

#include <cstdint>

namespace tavo {

// Languages of the status texts.
inline constexpr uint16_t kLanguageEnglish = 0;
inline constexpr uint16_t kLanguageFrench = 1;

// The text of a status in one language, or nullptr when the status has none.
// Only statuses 0 to 259 can have a text. Any language other than French
// gives the English text.
const char* FindStatusText(int32_t status, uint16_t language);

// One translation of a status into a message. Built with its defaults
// (English, no number), given the host's language word, then asked once.
class CStatusText {
 public:
  // 1 puts the status number "[%03d] " in front of the message.
  uint32_t withNumber = 0;
  // kLanguageEnglish or kLanguageFrench.
  uint16_t language = 0;

  // Low 8 bits of the word: 0 English, 1 French; bit 15 asks for the number.
  // Any other language code keeps the defaults, bit 15 included.
  void SetLanguage(int32_t languageWord);

  // Writes the message of status into buffer, of which only the low 16 bits
  // of bufferSize count. Returns 1 when the status has a text, 55 when it got
  // the unknown-status message, 50 for a null buffer and 51 for a size below
  // 16 (the buffer is then untouched). The message is cut to size - 1
  // characters and always ends with a zero byte; without the number, the rest
  // of the buffer is zero-filled as well.
  int32_t Translate(int32_t status, char* buffer, int32_t bufferSize) const;
};

// The whole translation behind tavolink_TranslateTavoStatus.
int32_t TranslateStatus(int32_t status, int32_t languageWord, char* buffer, int32_t bufferSize);

}  // namespace tavo
