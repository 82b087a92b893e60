// The status texts in English and French, and the translator of a status
// into the message a host shows.
#include "interface/status_text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>

#include "tavolink2.h"

namespace tavo {
namespace {

struct StatusTextEntry {
  int32_t status;
  const char* english;
  const char* french;
};

// Windows-1252 texts. Every accented letter is one byte written as a hex
// escape that closes its literal, so that a following letter a-f is never
// read as part of the escape. A status missing here has no text: 55, which
// the translator returns for such statuses, and the few statuses of the
// library that are meant to read as unknown (109, 302, 303, 304).
// clang-format off
constexpr std::array kStatusTexts = std::to_array<StatusTextEntry>({
    {0, "Internal error!",
     "Erreur interne!"},
    {1, "OK",
     "OK"},
    {2, "Unable to load TAT Framework!",
     "Erreur de chargement du Framework!"},
    {3, "COM port already in use!",
     "Port COM d\xE9" "j\xE0" " en cours d'utilisation!"},
    {4, "COM port initialization failure",
     "Echec de l'initialisation du port COM!"},
    {5, "Module detection to start download fails!",
     "Echec de la d\xE9" "tection du module pour d\xE9" "marrer le t\xE9" "l\xE9" "chargement!"},
    {6, "Download of binary file failure!",
     "Echec de t\xE9" "l\xE9" "chargement du fichier binaire!"},
    {7, "Acknowledgement error!",
     "Erreur d'acquitement!"},
    {8, "Unable to change Module UART baud rate!",
     "Impossible de changer la vitesse du Module!"},
    {9, "Unable to update PC UART configuration!",
     "Impossible de reconfigurer le port s\xE9" "rie (PC)!"},
    {10, "Unable to change Module flow control!",
     "Impossible de changer le contr\xF4" "le de flux du module!"},
    {11, "Error during Flash erasing!",
     "Erreur lors de l'effacement de la Flash!"},
    {12, "Tavo Software Address or size is incorrect!",
     "Adresse ou taille du soft Tavo incorrecte!"},
    {13, "Loader command to start Software download fails!",
     "Echec de la commande permettant de d\xE9" "marrer le t\xE9" "l\xE9" "chargement!"},
    {14, "File parameter is missing or invalid!",
     "Param\xE8" "tre fichier manquant ou incorrect!"},
    {15, "File not found!",
     "Fichier non trouv\xE9" "!"},
    {16, "Empty file!",
     "Fichier vide!"},
    {17, "Unable to access to this file!",
     "Impossible d'acc\xE9" "der au fichier!"},
    {18, "File Magic or Compatibility error!",
     "Erreur de Magic ou de compatibilit\xE9" " du fichier!"},
    {19, "Serial number error!",
     "Num\xE9" "ro de s\xE9" "rie incorrect!"},
    {20, "Detect module process is already running!",
     "Processus de d\xE9" "tection de module en cours d'utilisation!"},
    {21, "Detect module process aborted!",
     "Processus de d\xE9" "tection de module arr\xEA" "t\xE9" " par l'utilisateur!"},
    {22, "Detect module process reached max loop!",
     "Nombre de tentative de d\xE9" "tection de module atteint!"},
    {23, "Attempt to restart module after download failed!",
     "Echec de la tentative de red\xE9" "marrer le module apr\xE8" "s le "
     "t\xE9" "l\xE9" "chargement!"},
    {24, "Error during Serial Port closing!",
     "Erreur lors de la fermeture du port s\xE9" "rie!"},
    {25, "Unexpected code from Module during download process!",
     "R\xE9" "ception d'un code inattendu durant le t\xE9" "l\xE9" "chargement!"},
    {26, "Block acknowledgement error during download process!",
     "Echec de l'acquitement des blocs pendant le t\xE9" "l\xE9" "chargement!"},
    {27, "Binary file corrupted!",
     "Fichier binaire corrompu!"},
    {28, "Error during sending of [KTAT] command!",
     "Erreur lors de l'envoie de la commande [KTAT]!"},
    {29, "RF Section has not been prebuffered!",
     "La Section RF n'a pas \xE9" "t\xE9" " pr\xE9" "charg\xE9" "!"},
    {30, "OTP memory: Unable to found this data type!",
     "Memoire OTP: Type de donn\xE9" "e introuvable!"},
    {31, "OTP memory: Available memory does not allow adding new data type!",
     "Memoire OTP: M\xE9" "moire disponible insuffisante pour ajouter un nouveau "
     "type de donn\xE9" "e!"},
    {50, "Buffer parameter is null!",
     "Buffer pass\xE9" " en param\xE8" "tre nul!"},
    {51, "Buffer size error!",
     "Taille de buffer incorrecte!"},
    {52, "Buffer size too short!",
     "Taille de buffer insuffisante!"},
    {53, "IMEI size is incorrect!",
     "Taille de l'IMEI incorrecte!"},
    {54, "Given speed list to serial port is incorrect!",
     "Liste des vitesses du port s\xE9" "rie incorrecte!"},
    {56, "Save or restore Directory is required!",
     "Dossier de sauvegarde et restauration non d\xE9" "fini!"},
    {57, "Download process aborted!",
     "T\xE9" "l\xE9" "chargement interrompu!"},
    {58, "Invalid offset value compared to the reference data!",
     "D\xE9" "calage (offset) invalide sur la donn\xE9" "e de r\xE9" "f\xE9" "rence!"},
    {59, "Invalid operation on Audio loop session!",
     "Operation invalide sur la session de la boucle audio!"},
    {100, "TAT Framework: Handle error!",
     "Framework TAT : erreur de Handle!"},
    {101, "TAT Framework: SetConfig function failure!",
     "Framework TAT : \xE9" "chec de la fonction SetConfig!"},
    {102, "Module connexion failure!",
     "Echec de connexion au Module!"},
    {103, "TAT session did not open yet!",
     "Session TAT pas encore ouverte!"},
    {104, "TAT session is already running!",
     "Session TAT d\xE9" "j\xE0" " ouverte!"},
    {105, "Timeout TAT request!",
     "Pas de r\xE9" "ponse du module \xE0" " la requ\xEA" "te!"},
    {106, "GSM band index error!",
     "Erreur d'index de bande GSM!"},
    {107, "Checksum error from TAT frame!",
     "Erreur de checksum sur la trame TAT!"},
    {108, "Checksum error from section data!",
     "Erreur de checksum dans la section!"},
    {200, "Thread index out of range (0 to 15)!",
     "Index de thread hors limites (0 \xE0" " 15)!"},
    {201, "Thread index busy (COM port already assigned)!",
     "Index de thread utilis\xE9" " (Port COM d\xE9" "j\xE0" " assign\xE9" ")!"},
    {202, "COM port was not defined!",
     "Port COM non d\xE9" "fini!"},
    {203, "Configuration file objet not set!",
     "Objet du fichier de Configuration non initialis\xE9" "!"},
    {204, "Function unsupported!",
     "Fonction non g\xE9" "r\xE9" "e!"},
    {205, "Invalid parameter use in Configuration file!",
     "Utilisation de param\xE8" "tre invalide dans le fichier de Configuration!"},
    {206, "TavoLink2.Ini:Invalid section index used to chain section update!",
     "TavoLink2.Ini:Indice de section invalide pour une mise \xE0" " jour chain\xE9" "e!"},
    {207, "TavoLink2.Ini:Section address (offset) is out of range!",
     "TavoLink2.Ini:Adresse de section (offset) hors limite!"},
    {208, "TavoLink2.Ini:Invalid data to write into module!",
     "TavoLink2.Ini:Donn\xE9" "e invalide pour une \xE9" "criture dans le module!"},
    {209, "TavoLink2.Ini:Incorrect size of data to move!",
     "TavoLink2.Ini:Taille de donn\xE9" "e incorrecte pour le transfert!"},
    {250, "ExecuteService function error...!",
     "Erreur de la fonction ExecuteService..."},
    {251, "At least one parameter is invalid!",
     "Au moins un des param\xE8" "tres de la fonction est invalide...!"},
    {252, "Unknown service!",
     "Service inconnu!"},
    {253, "Service parameters size is invalid!",
     "Taille des param\xE8" "tres du Service invalides!"},
    {254, "Service compatibility error!",
     "Erreur de compatibilit\xE9" " de Service!"},
    {255, "Service parameters size error (Header)!",
     "Erreur sur la taille des param\xE8" "tres de Service (Ent\xEA" "te)!"},
    {256, "Checksum error!",
     "Erreur de Checksum!"},
    {257, "No waiting function to run!",
     "Auncune fonction en attente de traitement!"},
    {258, "Service key error!",
     "Erreur de service (code incorrect)!"},
    {259, "Invalid parameters size to run Service!",
     "Param\xE8" "tres incorrectes pour ex\xE9" "cuter le Service!"},
});
// clang-format on

// The lookup relies on the order; a misplaced line must not compile.
static_assert(std::ranges::is_sorted(kStatusTexts, std::less<>{}, &StatusTextEntry::status));
static_assert(std::ranges::adjacent_find(kStatusTexts, std::equal_to<>{},
                                         &StatusTextEntry::status) == kStatusTexts.end());

// Only statuses up to this one, taken as unsigned numbers, have texts.
constexpr uint32_t kLastStatusWithText = 259;

// The host's buffer must hold at least this many bytes.
constexpr uint32_t kMinimumBufferSize = 16;

// The message of an unknown status is at most 38 characters.
constexpr size_t kMessageCapacity = 100;

// "[%03d] " of the smallest int is 14 characters.
constexpr size_t kPrefixCapacity = 16;

constexpr int32_t kLanguageCodeMask = 0xFF;
constexpr int32_t kWithNumberBit = 0x8000;

// Copies as much of text as fits in room bytes; returns the bytes copied.
size_t CopyCut(char* out, size_t room, const char* text, size_t length) {
  const size_t count = std::min(room, length);
  std::memcpy(out, text, count);
  return count;
}

}  // namespace

const char* FindStatusText(int32_t status, uint16_t language) {
  if (static_cast<uint32_t>(status) > kLastStatusWithText) {
    return nullptr;
  }
  const auto entry =
      std::ranges::lower_bound(kStatusTexts, status, std::less<>{}, &StatusTextEntry::status);
  if (entry == kStatusTexts.end() || entry->status != status) {
    return nullptr;
  }
  return language == kLanguageFrench ? entry->french : entry->english;
}

void CStatusText::SetLanguage(int32_t languageWord) {
  const int32_t code = languageWord & kLanguageCodeMask;
  if (code != kLanguageEnglish && code != kLanguageFrench) {
    return;
  }
  language = static_cast<uint16_t>(code);
  withNumber = (languageWord & kWithNumberBit) != 0 ? 1 : 0;
}

int32_t CStatusText::Translate(int32_t status, char* buffer, int32_t bufferSize) const {
  if (buffer == nullptr) {
    return TAVOLINK_NULL_BUFFER;
  }
  // Hosts pass a 16-bit size in a wider word; the upper bits are noise.
  const size_t size = static_cast<uint32_t>(bufferSize) & 0xFFFFu;
  if (size < kMinimumBufferSize) {
    return TAVOLINK_BUFFER_SIZE_ERROR;
  }

  const char* text = FindStatusText(status, language);
  const char* message = text;
  size_t messageLength = 0;
  std::array<char, kMessageCapacity> unknown{};
  if (text != nullptr) {
    messageLength = std::strlen(text);
  } else {
    const int printed =
        language == kLanguageFrench
            ? std::snprintf(unknown.data(), unknown.size(), "Status = %d - Message inconnu", status)
            : std::snprintf(unknown.data(), unknown.size(), "Status = %d - Unknown error", status);
    messageLength = std::min(static_cast<size_t>(std::max(printed, 0)), unknown.size() - 1);
    message = unknown.data();
  }

  std::array<char, kPrefixCapacity> prefix{};
  size_t prefixLength = 0;
  if (withNumber != 0) {
    const int printed = std::snprintf(prefix.data(), prefix.size(), "[%03d] ", status);
    prefixLength = std::min(static_cast<size_t>(std::max(printed, 0)), prefix.size() - 1);
  }

  // Room for size - 1 characters and the closing zero byte.
  const size_t room = size - 1;
  size_t written = CopyCut(buffer, room, prefix.data(), prefixLength);
  written += CopyCut(buffer + written, room - written, message, messageLength);
  if (withNumber != 0) {
    buffer[written] = '\0';
  } else {
    // Hosts that copy the whole buffer find no stale bytes behind the message.
    std::memset(buffer + written, 0, size - written);
  }
  return text != nullptr ? TAVOLINK_OK : TAVOLINK_UNKNOWN_STATUS;
}

int32_t TranslateStatus(int32_t status, int32_t languageWord, char* buffer, int32_t bufferSize) {
  CStatusText translator;
  translator.SetLanguage(languageWord);
  return translator.Translate(status, buffer, bufferSize);
}

}  // namespace tavo
