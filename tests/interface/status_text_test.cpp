// Status messages as the host receives them from the translator: every text
// byte for byte in both languages, the number prefix, the cuts to the host's
// buffer size and the zero fill.
#include "interface/status_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tavolink2.h"

namespace tavo {
namespace {

struct ExpectedText {
  int32_t status;
  const char* english;  // ASCII
  const char* french;   // UTF-8 here, Windows-1252 from the library
};

// The messages as operators read them. The French texts are kept in UTF-8 in
// this file and converted below, so that the library's own hex-escaped
// Windows-1252 table is checked against a separately written copy.
// clang-format off
const ExpectedText kExpectedTexts[] = {
    {0, "Internal error!",
     "Erreur interne!"},
    {1, "OK",
     "OK"},
    {2, "Unable to load TAT Framework!",
     "Erreur de chargement du Framework!"},
    {3, "COM port already in use!",
     "Port COM déjà en cours d'utilisation!"},
    {4, "COM port initialization failure",
     "Echec de l'initialisation du port COM!"},
    {5, "Module detection to start download fails!",
     "Echec de la détection du module pour démarrer le téléchargement!"},
    {6, "Download of binary file failure!",
     "Echec de téléchargement du fichier binaire!"},
    {7, "Acknowledgement error!",
     "Erreur d'acquitement!"},
    {8, "Unable to change Module UART baud rate!",
     "Impossible de changer la vitesse du Module!"},
    {9, "Unable to update PC UART configuration!",
     "Impossible de reconfigurer le port série (PC)!"},
    {10, "Unable to change Module flow control!",
     "Impossible de changer le contrôle de flux du module!"},
    {11, "Error during Flash erasing!",
     "Erreur lors de l'effacement de la Flash!"},
    {12, "Tavo Software Address or size is incorrect!",
     "Adresse ou taille du soft Tavo incorrecte!"},
    {13, "Loader command to start Software download fails!",
     "Echec de la commande permettant de démarrer le téléchargement!"},
    {14, "File parameter is missing or invalid!",
     "Paramètre fichier manquant ou incorrect!"},
    {15, "File not found!",
     "Fichier non trouvé!"},
    {16, "Empty file!",
     "Fichier vide!"},
    {17, "Unable to access to this file!",
     "Impossible d'accéder au fichier!"},
    {18, "File Magic or Compatibility error!",
     "Erreur de Magic ou de compatibilité du fichier!"},
    {19, "Serial number error!",
     "Numéro de série incorrect!"},
    {20, "Detect module process is already running!",
     "Processus de détection de module en cours d'utilisation!"},
    {21, "Detect module process aborted!",
     "Processus de détection de module arrêté par l'utilisateur!"},
    {22, "Detect module process reached max loop!",
     "Nombre de tentative de détection de module atteint!"},
    {23, "Attempt to restart module after download failed!",
     "Echec de la tentative de redémarrer le module après le téléchargement!"},
    {24, "Error during Serial Port closing!",
     "Erreur lors de la fermeture du port série!"},
    {25, "Unexpected code from Module during download process!",
     "Réception d'un code inattendu durant le téléchargement!"},
    {26, "Block acknowledgement error during download process!",
     "Echec de l'acquitement des blocs pendant le téléchargement!"},
    {27, "Binary file corrupted!",
     "Fichier binaire corrompu!"},
    {28, "Error during sending of [KTAT] command!",
     "Erreur lors de l'envoie de la commande [KTAT]!"},
    {29, "RF Section has not been prebuffered!",
     "La Section RF n'a pas été préchargé!"},
    {30, "OTP memory: Unable to found this data type!",
     "Memoire OTP: Type de donnée introuvable!"},
    {31, "OTP memory: Available memory does not allow adding new data type!",
     "Memoire OTP: Mémoire disponible insuffisante pour ajouter un nouveau type de donnée!"},
    {50, "Buffer parameter is null!",
     "Buffer passé en paramètre nul!"},
    {51, "Buffer size error!",
     "Taille de buffer incorrecte!"},
    {52, "Buffer size too short!",
     "Taille de buffer insuffisante!"},
    {53, "IMEI size is incorrect!",
     "Taille de l'IMEI incorrecte!"},
    {54, "Given speed list to serial port is incorrect!",
     "Liste des vitesses du port série incorrecte!"},
    {56, "Save or restore Directory is required!",
     "Dossier de sauvegarde et restauration non défini!"},
    {57, "Download process aborted!",
     "Téléchargement interrompu!"},
    {58, "Invalid offset value compared to the reference data!",
     "Décalage (offset) invalide sur la donnée de référence!"},
    {59, "Invalid operation on Audio loop session!",
     "Operation invalide sur la session de la boucle audio!"},
    {100, "TAT Framework: Handle error!",
     "Framework TAT : erreur de Handle!"},
    {101, "TAT Framework: SetConfig function failure!",
     "Framework TAT : échec de la fonction SetConfig!"},
    {102, "Module connexion failure!",
     "Echec de connexion au Module!"},
    {103, "TAT session did not open yet!",
     "Session TAT pas encore ouverte!"},
    {104, "TAT session is already running!",
     "Session TAT déjà ouverte!"},
    {105, "Timeout TAT request!",
     "Pas de réponse du module à la requête!"},
    {106, "GSM band index error!",
     "Erreur d'index de bande GSM!"},
    {107, "Checksum error from TAT frame!",
     "Erreur de checksum sur la trame TAT!"},
    {108, "Checksum error from section data!",
     "Erreur de checksum dans la section!"},
    {200, "Thread index out of range (0 to 15)!",
     "Index de thread hors limites (0 à 15)!"},
    {201, "Thread index busy (COM port already assigned)!",
     "Index de thread utilisé (Port COM déjà assigné)!"},
    {202, "COM port was not defined!",
     "Port COM non défini!"},
    {203, "Configuration file objet not set!",
     "Objet du fichier de Configuration non initialisé!"},
    {204, "Function unsupported!",
     "Fonction non gérée!"},
    {205, "Invalid parameter use in Configuration file!",
     "Utilisation de paramètre invalide dans le fichier de Configuration!"},
    {206, "TavoLink2.Ini:Invalid section index used to chain section update!",
     "TavoLink2.Ini:Indice de section invalide pour une mise à jour chainée!"},
    {207, "TavoLink2.Ini:Section address (offset) is out of range!",
     "TavoLink2.Ini:Adresse de section (offset) hors limite!"},
    {208, "TavoLink2.Ini:Invalid data to write into module!",
     "TavoLink2.Ini:Donnée invalide pour une écriture dans le module!"},
    {209, "TavoLink2.Ini:Incorrect size of data to move!",
     "TavoLink2.Ini:Taille de donnée incorrecte pour le transfert!"},
    {250, "ExecuteService function error...!",
     "Erreur de la fonction ExecuteService..."},
    {251, "At least one parameter is invalid!",
     "Au moins un des paramètres de la fonction est invalide...!"},
    {252, "Unknown service!",
     "Service inconnu!"},
    {253, "Service parameters size is invalid!",
     "Taille des paramètres du Service invalides!"},
    {254, "Service compatibility error!",
     "Erreur de compatibilité de Service!"},
    {255, "Service parameters size error (Header)!",
     "Erreur sur la taille des paramètres de Service (Entête)!"},
    {256, "Checksum error!",
     "Erreur de Checksum!"},
    {257, "No waiting function to run!",
     "Auncune fonction en attente de traitement!"},
    {258, "Service key error!",
     "Erreur de service (code incorrect)!"},
    {259, "Invalid parameters size to run Service!",
     "Paramètres incorrectes pour exécuter le Service!"},
};
// clang-format on

constexpr int32_t kEnglish = 0x0000;
constexpr int32_t kFrench = 0x0001;
constexpr int32_t kWithNumber = 0x8000;
constexpr char kFiller = static_cast<char>(0xCC);

// UTF-8 to Windows-1252 for the only accented letters the texts use.
std::string ToWindows1252(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      continue;
    }
    // U+00C0..U+00FF are 0xC3 0x80..0xBF and map to the same single byte.
    if (lead != 0xC3 || i + 1 >= utf8.size()) {
      ADD_FAILURE() << "unexpected UTF-8 in expected text: " << utf8;
      return out;
    }
    const auto trail = static_cast<unsigned char>(utf8[++i]);
    out.push_back(static_cast<char>(0xC0 + (trail & 0x3F)));
  }
  return out;
}

std::string Expected(const ExpectedText& entry, int32_t language) {
  return language == kFrench ? ToWindows1252(entry.french) : std::string(entry.english);
}

std::string Prefix(int32_t status) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "[%03d] ", status);
  return prefix;
}

std::string Unknown(int32_t status, int32_t language) {
  return (language == kFrench ? "Status = " + std::to_string(status) + " - Message inconnu"
                              : "Status = " + std::to_string(status) + " - Unknown error");
}

struct Result {
  int32_t status = 0;
  std::string text;         // up to the first zero byte
  std::vector<char> bytes;  // the whole buffer, including bytes past the declared size
};

// Translates into a buffer of `allocated` bytes prefilled with a filler,
// declaring `declaredSize` to the translator.
Result Translate(int32_t status, int32_t languageWord, int32_t declaredSize, size_t allocated) {
  Result result;
  result.bytes.assign(allocated, kFiller);
  result.status = TranslateStatus(status, languageWord, result.bytes.data(), declaredSize);
  const auto end = std::find(result.bytes.begin(), result.bytes.end(), '\0');
  result.text.assign(result.bytes.begin(), end);
  return result;
}

Result Translate(int32_t status, int32_t languageWord, int32_t size = 256) {
  return Translate(status, languageWord, size, static_cast<size_t>(size));
}

std::set<int32_t> StatusesWithText() {
  std::set<int32_t> statuses;
  for (const auto& entry : kExpectedTexts) {
    statuses.insert(entry.status);
  }
  return statuses;
}

TEST(StatusTextTest, EveryStatusHasItsEnglishAndFrenchTextByteForByte) {
  for (const auto& entry : kExpectedTexts) {
    for (const int32_t language : {kEnglish, kFrench}) {
      SCOPED_TRACE(testing::Message() << "status " << entry.status << " language " << language);
      const Result result = Translate(entry.status, language);
      EXPECT_EQ(result.status, TAVOLINK_OK);
      EXPECT_EQ(result.text, Expected(entry, language));
    }
  }
}

TEST(StatusTextTest, EveryStatusWithNumberGetsThePrefixInFront) {
  for (const auto& entry : kExpectedTexts) {
    for (const int32_t language : {kEnglish, kFrench}) {
      SCOPED_TRACE(testing::Message() << "status " << entry.status << " language " << language);
      const Result result = Translate(entry.status, language | kWithNumber);
      EXPECT_EQ(result.status, TAVOLINK_OK);
      EXPECT_EQ(result.text, Prefix(entry.status) + Expected(entry, language));
    }
  }
}

TEST(StatusTextTest, PrefixHasThreeDigitsWithLeadingZeros) {
  EXPECT_EQ(Translate(1, kEnglish | kWithNumber).text, "[001] OK");
  EXPECT_EQ(Translate(3, kFrench | kWithNumber).text,
            "[003] Port COM d\xE9j\xE0 en cours d'utilisation!");
  EXPECT_EQ(Translate(51, kEnglish | kWithNumber).text, "[051] Buffer size error!");
  EXPECT_EQ(Translate(259, kEnglish | kWithNumber).text,
            "[259] Invalid parameters size to run Service!");
}

TEST(StatusTextTest, TextsAreWindows1252WithinTheirLengthLimit) {
  const std::string accents = "\xE0\xE8\xE9\xEA\xF4";
  for (const auto& entry : kExpectedTexts) {
    for (const int32_t language : {kEnglish, kFrench}) {
      SCOPED_TRACE(testing::Message() << "status " << entry.status << " language " << language);
      const std::string text = Translate(entry.status, language).text;
      EXPECT_LE(text.size(), 84U);
      EXPECT_EQ(text.find('%'), std::string::npos);
      for (const char c : text) {
        if (static_cast<unsigned char>(c) > 0x7F) {
          EXPECT_NE(accents.find(c), std::string::npos)
              << "byte " << static_cast<int>(static_cast<unsigned char>(c));
        }
      }
    }
  }
}

TEST(StatusTextTest, ThreadIndexOutOfRangeHasATextInBothLanguages) {
  const Result english = Translate(TAVOLINK_THREAD_INDEX_ERROR, kEnglish);
  EXPECT_EQ(english.status, TAVOLINK_OK);
  EXPECT_EQ(english.text, "Thread index out of range (0 to 15)!");
  const Result french = Translate(TAVOLINK_THREAD_INDEX_ERROR, kFrench);
  EXPECT_EQ(french.status, TAVOLINK_OK);
  EXPECT_EQ(french.text, "Index de thread hors limites (0 \xE0 15)!");
}

TEST(StatusTextTest, FrenchTextOfStatus4EndsWithExclamationMarkAndEnglishDoesNot) {
  EXPECT_EQ(Translate(4, kEnglish).text, "COM port initialization failure");
  EXPECT_EQ(Translate(4, kFrench).text, "Echec de l'initialisation du port COM!");
}

TEST(StatusTextTest, StatusesWithoutTextGiveTheUnknownMessageAnd55) {
  const std::set<int32_t> known = StatusesWithText();
  std::vector<int32_t> statuses = {INT_MIN, INT_MIN + 1, -1000, -1, 1000, 65535, 65536, INT_MAX};
  for (int32_t status = -20; status <= 400; ++status) {
    statuses.push_back(status);
  }
  for (const int32_t status : statuses) {
    if (known.count(status) != 0) {
      continue;
    }
    for (const int32_t language : {kEnglish, kFrench}) {
      SCOPED_TRACE(testing::Message() << "status " << status << " language " << language);
      const Result result = Translate(status, language);
      EXPECT_EQ(result.status, TAVOLINK_UNKNOWN_STATUS);
      EXPECT_EQ(result.text, Unknown(status, language));
    }
  }
}

TEST(StatusTextTest, StatusesMeantToReadAsUnknownHaveNoText) {
  for (const int32_t status :
       {TAVOLINK_UNKNOWN_STATUS, TAVOLINK_IMEI_CHECK_DIGIT_ERROR, TAVOLINK_VAULT_LOAD_ERROR,
        TAVOLINK_SERVICE_NO_DATA, TAVOLINK_VAULT_FUNCTION_MISSING}) {
    SCOPED_TRACE(status);
    const Result english = Translate(status, kEnglish);
    EXPECT_EQ(english.status, TAVOLINK_UNKNOWN_STATUS);
    EXPECT_EQ(english.text, "Status = " + std::to_string(status) + " - Unknown error");
    const Result french = Translate(status, kFrench);
    EXPECT_EQ(french.status, TAVOLINK_UNKNOWN_STATUS);
    EXPECT_EQ(french.text, "Status = " + std::to_string(status) + " - Message inconnu");
    EXPECT_EQ(FindStatusText(status, kLanguageEnglish), nullptr);
    EXPECT_EQ(FindStatusText(status, kLanguageFrench), nullptr);
  }
}

TEST(StatusTextTest, NegativeStatusIsPrintedSigned) {
  EXPECT_EQ(Translate(-1, kEnglish).text, "Status = -1 - Unknown error");
  EXPECT_EQ(Translate(-1, kFrench).text, "Status = -1 - Message inconnu");
  EXPECT_EQ(Translate(-1, kEnglish).status, TAVOLINK_UNKNOWN_STATUS);
  EXPECT_EQ(Translate(-1, kEnglish | kWithNumber).text, "[-01] Status = -1 - Unknown error");
  EXPECT_EQ(Translate(1000, kEnglish | kWithNumber).text, "[1000] Status = 1000 - Unknown error");
  EXPECT_EQ(Translate(INT_MIN, kFrench | kWithNumber).text,
            "[-2147483648] Status = -2147483648 - Message inconnu");
}

TEST(StatusTextTest, OtherLanguageCodesGiveEnglishWithoutNumber) {
  for (const int32_t word : {0x0002, 0x8002, 0x80FF, 0x00FF, 0x8010}) {
    SCOPED_TRACE(word);
    const Result result = Translate(3, word);
    EXPECT_EQ(result.status, TAVOLINK_OK);
    EXPECT_EQ(result.text, "COM port already in use!");
  }
}

TEST(StatusTextTest, BitsOtherThanLanguageAndNumberAreIgnored) {
  const std::string french = "Port COM d\xE9j\xE0 en cours d'utilisation!";
  EXPECT_EQ(Translate(3, 0x0101).text, french);
  EXPECT_EQ(Translate(3, 0x7F01).text, french);
  EXPECT_EQ(Translate(3, 0x10001).text, french);
  EXPECT_EQ(Translate(3, static_cast<int32_t>(0xFFFF0001u)).text, french);
  EXPECT_EQ(Translate(3, static_cast<int32_t>(0xFFFF8001u)).text, "[003] " + french);
  EXPECT_EQ(Translate(3, 0x18000).text, "[003] COM port already in use!");
  EXPECT_EQ(Translate(3, 0x0100).text, "COM port already in use!");
}

TEST(StatusTextTest, NullBufferGives50) {
  EXPECT_EQ(TranslateStatus(1, kEnglish, nullptr, 256), TAVOLINK_NULL_BUFFER);
  EXPECT_EQ(TranslateStatus(1, kFrench | kWithNumber, nullptr, 0), TAVOLINK_NULL_BUFFER);
  EXPECT_EQ(TranslateStatus(1000, kEnglish, nullptr, 16), TAVOLINK_NULL_BUFFER);
}

TEST(StatusTextTest, SizeBelow16Gives51AndLeavesTheBufferUntouched) {
  for (const int32_t size : {0, 1, 15, 65536, 65536 + 15, -65536, INT_MIN}) {
    SCOPED_TRACE(size);
    const Result result = Translate(1, kEnglish | kWithNumber, size, 64);
    EXPECT_EQ(result.status, TAVOLINK_BUFFER_SIZE_ERROR);
    EXPECT_EQ(result.bytes, std::vector<char>(64, kFiller));
  }
}

TEST(StatusTextTest, OnlyTheLow16BitsOfTheSizeCount) {
  // 65552 counts as 16: the message is cut there and nothing beyond is written.
  const Result result = Translate(5, kEnglish, 65552, 64);
  EXPECT_EQ(result.status, TAVOLINK_OK);
  EXPECT_EQ(result.text, "Module detectio");
  EXPECT_EQ(result.bytes[15], '\0');
  EXPECT_EQ(std::vector<char>(result.bytes.begin() + 16, result.bytes.end()),
            std::vector<char>(48, kFiller));
  // -1 counts as 65535.
  const Result large = Translate(1, kEnglish, -1, 65535);
  EXPECT_EQ(large.status, TAVOLINK_OK);
  EXPECT_EQ(large.text, "OK");
}

TEST(StatusTextTest, Size16WithNumberKeepsPrefixAndNineCharacters) {
  const Result english = Translate(201, kEnglish | kWithNumber, 16);
  EXPECT_EQ(english.status, TAVOLINK_OK);
  EXPECT_EQ(english.text, "[201] Thread in");
  EXPECT_EQ(english.bytes[15], '\0');
  const Result french = Translate(201, kFrench | kWithNumber, 16);
  EXPECT_EQ(french.text, "[201] Index de ");
  EXPECT_EQ(french.bytes[15], '\0');
}

TEST(StatusTextTest, LongPrefixIsCutLikeTheMessage) {
  const Result result = Translate(INT_MIN, kEnglish | kWithNumber, 16);
  EXPECT_EQ(result.status, TAVOLINK_UNKNOWN_STATUS);
  EXPECT_EQ(result.text, "[-2147483648] S");
}

TEST(StatusTextTest, MessageIsCutToSizeMinusOneInAnExactBuffer) {
  // Buffers allocated to the declared size exactly: any write past it is caught.
  for (const auto& entry : kExpectedTexts) {
    for (const int32_t language : {kEnglish, kFrench}) {
      for (const int32_t number : {0, kWithNumber}) {
        const std::string full =
            (number != 0 ? Prefix(entry.status) : std::string()) + Expected(entry, language);
        for (int32_t size = 16; size <= static_cast<int32_t>(full.size()) + 2; ++size) {
          SCOPED_TRACE(testing::Message() << "status " << entry.status << " language " << language
                                          << " number " << number << " size " << size);
          const Result result = Translate(entry.status, language | number, size);
          EXPECT_EQ(result.status, TAVOLINK_OK);
          EXPECT_EQ(result.text, full.substr(0, static_cast<size_t>(size) - 1));
        }
      }
    }
  }
}

TEST(StatusTextTest, WithoutNumberTheRestOfTheBufferIsZeroFilled) {
  const Result result = Translate(1, kFrench, 100, 120);
  EXPECT_EQ(result.status, TAVOLINK_OK);
  EXPECT_EQ(std::string(result.bytes.begin(), result.bytes.begin() + 2), "OK");
  EXPECT_EQ(std::vector<char>(result.bytes.begin() + 2, result.bytes.begin() + 100),
            std::vector<char>(98, '\0'));
  EXPECT_EQ(std::vector<char>(result.bytes.begin() + 100, result.bytes.end()),
            std::vector<char>(20, kFiller));

  const Result unknown = Translate(-7, kEnglish, 64);
  EXPECT_EQ(unknown.status, TAVOLINK_UNKNOWN_STATUS);
  const std::string text = "Status = -7 - Unknown error";
  EXPECT_EQ(unknown.text, text);
  EXPECT_EQ(std::vector<char>(unknown.bytes.begin() + static_cast<long>(text.size()),
                              unknown.bytes.end()),
            std::vector<char>(64 - text.size(), '\0'));
}

TEST(StatusTextTest, WithNumberTheMessageEndsWithAZeroByte) {
  const Result result = Translate(16, kEnglish | kWithNumber, 100);
  EXPECT_EQ(result.text, "[016] Empty file!");
  EXPECT_EQ(result.bytes[17], '\0');
}

TEST(StatusTextTest, TranslatorStartsInEnglishWithoutNumber) {
  const CStatusText translator;
  EXPECT_EQ(translator.withNumber, 0U);
  EXPECT_EQ(translator.language, kLanguageEnglish);
}

TEST(StatusTextTest, SetLanguageTakesLanguageAndNumberOnlyForKnownLanguages) {
  CStatusText french;
  french.SetLanguage(kFrench | kWithNumber);
  EXPECT_EQ(french.language, kLanguageFrench);
  EXPECT_EQ(french.withNumber, 1U);

  CStatusText english;
  english.SetLanguage(kEnglish | kWithNumber);
  EXPECT_EQ(english.language, kLanguageEnglish);
  EXPECT_EQ(english.withNumber, 1U);

  CStatusText other;
  other.SetLanguage(0x8002);
  EXPECT_EQ(other.language, kLanguageEnglish);
  EXPECT_EQ(other.withNumber, 0U);
}

TEST(StatusTextTest, FindStatusTextAgreesWithTheTranslator) {
  const std::set<int32_t> known = StatusesWithText();
  for (int32_t status = -5; status <= 300; ++status) {
    SCOPED_TRACE(status);
    EXPECT_EQ(FindStatusText(status, kLanguageEnglish) != nullptr, known.count(status) != 0);
    EXPECT_EQ(FindStatusText(status, kLanguageFrench) != nullptr, known.count(status) != 0);
  }
  EXPECT_STREQ(FindStatusText(3, kLanguageFrench), "Port COM d\xE9j\xE0 en cours d'utilisation!");
  EXPECT_STREQ(FindStatusText(3, kLanguageEnglish), "COM port already in use!");
}

}  // namespace
}  // namespace tavo
