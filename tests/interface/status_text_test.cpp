// Status messages as the host receives them from the translator: texts byte
// for byte in both languages (French in Windows-1252), the number prefix, the
// unknown-status message, and the host's buffer: its size rules, the cut to
// size - 1 and the zero fill.
#include "interface/status_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "tavolink2.h"

namespace tavo {
namespace {

constexpr int32_t kEnglish = 0x0000;
constexpr int32_t kFrench = 0x0001;
constexpr int32_t kWithNumber = 0x8000;
constexpr char kFiller = static_cast<char>(0xCC);

// Translates into a buffer of `allocated` bytes (none: a null buffer)
// prefilled with kFiller, declaring `size`, and checks the result, the text
// up to the first zero byte and every byte of the buffer: the rest of the
// declared size zero-filled without the number, nothing written past the
// closing zero with it, nothing at all for a refused buffer.
void ExpectTranslation(int32_t status, int32_t word, int32_t size, size_t allocated,
                       int32_t expected, const std::string& text) {
  SCOPED_TRACE(testing::Message() << "status " << status << " word " << std::hex << word << std::dec
                                  << " size " << size);
  std::vector<char> buffer(allocated, kFiller);
  ASSERT_EQ(TranslateStatus(status, word, allocated != 0 ? buffer.data() : nullptr, size),
            expected);
  std::vector<char> want(allocated, kFiller);
  if (expected == TAVOLINK_OK || expected == TAVOLINK_UNKNOWN_STATUS) {
    // Bit 15 counts only along with a known language code.
    const bool withNumber = (word & kWithNumber) != 0 && (word & 0xFF) <= kFrench;
    const size_t declared = static_cast<uint32_t>(size) & 0xFFFFu;
    std::copy(text.begin(), text.end(), want.begin());
    std::fill_n(want.begin() + static_cast<long>(text.size()),
                withNumber ? 1 : declared - text.size(), '\0');
    EXPECT_EQ(std::string(buffer.begin(), std::find(buffer.begin(), buffer.end(), '\0')), text);
  }
  EXPECT_EQ(buffer, want);
}

struct TextCase {
  int32_t status;
  int32_t word;
  int32_t size;
  size_t allocated;  // the declared size when 0 is given here, see below
  int32_t expected;
  std::string text;
};

const std::string kFrench3 = "Port COM d\xE9j\xE0 en cours d'utilisation!";

// clang-format off
const TextCase kTextCases[] = {
    // Texts byte for byte.
    {1, kEnglish, 64, 0, TAVOLINK_OK, "OK"},
    {3, kEnglish, 64, 0, TAVOLINK_OK, "COM port already in use!"},
    {3, kFrench, 64, 0, TAVOLINK_OK, kFrench3},
    {4, kEnglish, 64, 0, TAVOLINK_OK, "COM port initialization failure"},
    {4, kFrench, 64, 0, TAVOLINK_OK, "Echec de l'initialisation du port COM!"},
    {10, kFrench, 64, 0, TAVOLINK_OK, "Impossible de changer le contr\xF4le de flux du module!"},
    {23, kFrench, 100, 0, TAVOLINK_OK,
     "Echec de la tentative de red\xE9marrer le module apr\xE8s le t\xE9l\xE9" "chargement!"},
    {200, kFrench, 64, 0, TAVOLINK_OK, "Index de thread hors limites (0 \xE0 15)!"},
    {255, kFrench, 64, 0, TAVOLINK_OK,
     "Erreur sur la taille des param\xE8tres de Service (Ent\xEAte)!"},
    {259, kEnglish, 64, 0, TAVOLINK_OK, "Invalid parameters size to run Service!"},
    // Bit 15 puts the number in front; other language codes keep English
    // without the number; bits other than these are ignored.
    {1, kEnglish | kWithNumber, 64, 0, TAVOLINK_OK, "[001] OK"},
    {259, kFrench | kWithNumber, 80, 0, TAVOLINK_OK,
     "[259] Param\xE8tres incorrectes pour ex\xE9" "cuter le Service!"},
    {3, 0x8002, 64, 0, TAVOLINK_OK, "COM port already in use!"},
    {3, 0x00FF, 64, 0, TAVOLINK_OK, "COM port already in use!"},
    {3, 0x7F01, 64, 0, TAVOLINK_OK, kFrench3},
    {3, static_cast<int32_t>(0xFFFF8001u), 64, 0, TAVOLINK_OK, "[003] " + kFrench3},
    {3, 0x18000, 64, 0, TAVOLINK_OK, "[003] COM port already in use!"},
    // Statuses without a text, some of them the library's own.
    {55, kEnglish, 64, 0, TAVOLINK_UNKNOWN_STATUS, "Status = 55 - Unknown error"},
    {109, kFrench, 64, 0, TAVOLINK_UNKNOWN_STATUS, "Status = 109 - Message inconnu"},
    {-1, kEnglish | kWithNumber, 64, 0, TAVOLINK_UNKNOWN_STATUS, "[-01] Status = -1 - Unknown error"},
    {1000, kEnglish | kWithNumber, 64, 0, TAVOLINK_UNKNOWN_STATUS,
     "[1000] Status = 1000 - Unknown error"},
    {INT_MIN, kFrench | kWithNumber, 64, 0, TAVOLINK_UNKNOWN_STATUS,
     "[-2147483648] Status = -2147483648 - Message inconnu"},
    // The buffer: null gives 50, below 16 bytes 51 (only the low 16 bits of
    // the size count), and the message is cut to size - 1.
    {1, kEnglish, 256, 0, TAVOLINK_NULL_BUFFER, ""},
    {1000, kFrench | kWithNumber, 0, 0, TAVOLINK_NULL_BUFFER, ""},
    {1, kEnglish | kWithNumber, 15, 64, TAVOLINK_BUFFER_SIZE_ERROR, ""},
    {1, kEnglish, 0, 64, TAVOLINK_BUFFER_SIZE_ERROR, ""},
    {1, kEnglish, 65536 + 15, 64, TAVOLINK_BUFFER_SIZE_ERROR, ""},
    {1, kEnglish, INT_MIN, 64, TAVOLINK_BUFFER_SIZE_ERROR, ""},
    {5, kEnglish, 65536 + 16, 64, TAVOLINK_OK, "Module detectio"},
    {1, kFrench, -1, 65535, TAVOLINK_OK, "OK"},
    {201, kEnglish | kWithNumber, 16, 0, TAVOLINK_OK, "[201] Thread in"},
    {201, kFrench | kWithNumber, 16, 0, TAVOLINK_OK, "[201] Index de "},
    {INT_MIN, kEnglish | kWithNumber, 16, 0, TAVOLINK_UNKNOWN_STATUS, "[-2147483648] S"},
};
// clang-format on

TEST(StatusTextTest, TextsPrefixAndBufferRules) {
  for (const TextCase& c : kTextCases) {
    const bool null = c.expected == TAVOLINK_NULL_BUFFER;
    const size_t allocated = null               ? 0
                             : c.allocated != 0 ? c.allocated
                                                : static_cast<size_t>(c.size);
    ExpectTranslation(c.status, c.word, c.size, allocated, c.expected, c.text);
  }
}

std::string Full(int32_t status, int32_t word) {
  const bool french = (word & 0xFF) == kFrench;
  char prefix[32] = "";
  if ((word & kWithNumber) != 0) {
    std::snprintf(prefix, sizeof prefix, "[%03d] ", status);
  }
  const char* text = FindStatusText(status, french ? kLanguageFrench : kLanguageEnglish);
  return prefix + (text != nullptr ? std::string(text)
                                   : "Status = " + std::to_string(status) +
                                         (french ? " - Message inconnu" : " - Unknown error"));
}

TEST(StatusTextTest, EveryStatusInEveryBufferSize) {
  // Buffers of exactly the declared size, so that a write past it is caught.
  int withText = 0;
  for (int32_t status = -3; status <= 300; ++status) {
    const bool known = FindStatusText(status, kLanguageEnglish) != nullptr;
    ASSERT_EQ(known, FindStatusText(status, kLanguageFrench) != nullptr) << status;
    withText += known ? 1 : 0;
    for (const int32_t word : {kEnglish, kFrench, kFrench | kWithNumber}) {
      const std::string full = Full(status, word);
      // Windows-1252: the accents àèéêô are the only bytes above ASCII.
      for (const char ch : full) {
        const auto byte = static_cast<unsigned char>(ch);
        EXPECT_TRUE(byte < 0x80 ||
                    std::string("\xE0\xE8\xE9\xEA\xF4").find(ch) != std::string::npos)
            << status << ": byte " << static_cast<int>(byte);
      }
      EXPECT_LE(full.size(), (word & kWithNumber) != 0 ? 90u : 84u) << status;
      for (size_t size = 16; size <= full.size() + 2; ++size) {
        ExpectTranslation(status, word, static_cast<int32_t>(size), size,
                          known ? TAVOLINK_OK : TAVOLINK_UNKNOWN_STATUS, full.substr(0, size - 1));
      }
    }
  }
  EXPECT_EQ(withText, 70);
}

}  // namespace
}  // namespace tavo
