/*
 * TavoLink2 — host-side driver library for TAVO GSM radio modules on serial
 * ports. C interface.
 *
 * Every function that names a channel slot takes the thread index (0 to 15)
 * as its last parameter and returns a status: TAVOLINK_OK (1) on success,
 * another TAVOLINK_* number on failure. tavolink_TranslateTavoStatus turns a
 * status into an English or French message.
 *
 * Texts are 8-bit (Windows-1252) zero-terminated strings, passed unchanged.
 */
#ifndef TAVOLINK2_H
#define TAVOLINK2_H

#include <stdint.h>

#if defined(_WIN32)
#define TAVOLINK_API __declspec(dllexport)
#elif defined(TAVOLINK_BUILDING)
#define TAVOLINK_API __attribute__((visibility("default")))
#else
#define TAVOLINK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Library version 3.5.3.2, one byte per number, as tavolink_GetVersion gives it. */
#define TAVOLINK_VERSION_MAJOR 3
#define TAVOLINK_VERSION_MINOR 5
#define TAVOLINK_VERSION_PATCH 3
#define TAVOLINK_VERSION_BUILD 2
#define TAVOLINK_VERSION 0x03050302u

/* Sizes of the records that cross the interface. */
#define TAVOLINK_PRODUCTION_INFO_SIZE 84
#define TAVOLINK_CALIBRATION_INFO_SIZE 60
#define TAVOLINK_IMEI_BUFFER_SIZE 16
#define TAVOLINK_SOFTWARE_ID_BUFFER_SIZE 17

/* Status numbers. */
enum {
  TAVOLINK_INTERNAL_ERROR = 0,
  TAVOLINK_OK = 1,
  TAVOLINK_FRAMEWORK_LOAD_ERROR = 2,
  TAVOLINK_COM_PORT_IN_USE = 3,
  TAVOLINK_COM_PORT_INIT_FAILURE = 4,
  TAVOLINK_DOWNLOAD_DETECTION_FAILURE = 5,
  TAVOLINK_BINARY_DOWNLOAD_FAILURE = 6,
  TAVOLINK_ACKNOWLEDGEMENT_ERROR = 7,
  TAVOLINK_MODULE_BAUD_RATE_ERROR = 8,
  TAVOLINK_PC_UART_ERROR = 9,
  TAVOLINK_MODULE_FLOW_CONTROL_ERROR = 10,
  TAVOLINK_FLASH_ERASE_ERROR = 11,
  TAVOLINK_SOFTWARE_ADDRESS_SIZE_ERROR = 12,
  TAVOLINK_START_DOWNLOAD_ERROR = 13,
  TAVOLINK_FILE_PARAMETER_ERROR = 14,
  TAVOLINK_FILE_NOT_FOUND = 15,
  TAVOLINK_EMPTY_FILE = 16,
  TAVOLINK_FILE_ACCESS_ERROR = 17,
  TAVOLINK_FILE_MAGIC_ERROR = 18,
  TAVOLINK_SERIAL_NUMBER_ERROR = 19,
  TAVOLINK_DETECTION_RUNNING = 20,
  TAVOLINK_DETECTION_ABORTED = 21,
  TAVOLINK_DETECTION_MAX_LOOP = 22,
  TAVOLINK_RESTART_AFTER_DOWNLOAD_ERROR = 23,
  TAVOLINK_PORT_CLOSE_ERROR = 24,
  TAVOLINK_UNEXPECTED_CODE = 25,
  TAVOLINK_BLOCK_ACK_ERROR = 26,
  TAVOLINK_BINARY_FILE_CORRUPTED = 27,
  TAVOLINK_KTAT_SEND_ERROR = 28,
  TAVOLINK_RF_SECTION_NOT_PREBUFFERED = 29,
  TAVOLINK_OTP_TYPE_NOT_FOUND = 30,
  TAVOLINK_OTP_MEMORY_FULL = 31,
  TAVOLINK_NULL_BUFFER = 50,
  TAVOLINK_BUFFER_SIZE_ERROR = 51,
  TAVOLINK_BUFFER_TOO_SHORT = 52,
  TAVOLINK_IMEI_SIZE_ERROR = 53,
  TAVOLINK_SPEED_LIST_ERROR = 54,
  TAVOLINK_UNKNOWN_STATUS = 55,
  TAVOLINK_DIRECTORY_REQUIRED = 56,
  TAVOLINK_DOWNLOAD_ABORTED = 57,
  TAVOLINK_INVALID_OFFSET = 58,
  TAVOLINK_AUDIO_LOOP_ERROR = 59,
  TAVOLINK_FRAMEWORK_HANDLE_ERROR = 100,
  TAVOLINK_FRAMEWORK_SETCONFIG_ERROR = 101,
  TAVOLINK_MODULE_CONNECTION_FAILURE = 102,
  TAVOLINK_SESSION_NOT_OPEN = 103,
  TAVOLINK_SESSION_ALREADY_OPEN = 104,
  TAVOLINK_REQUEST_TIMEOUT = 105,
  TAVOLINK_GSM_BAND_ERROR = 106,
  TAVOLINK_FRAME_CHECKSUM_ERROR = 107,
  TAVOLINK_SECTION_CHECKSUM_ERROR = 108,
  TAVOLINK_IMEI_CHECK_DIGIT_ERROR = 109,
  TAVOLINK_THREAD_INDEX_ERROR = 200,
  TAVOLINK_THREAD_INDEX_BUSY = 201,
  TAVOLINK_COM_PORT_UNDEFINED = 202,
  TAVOLINK_CONFIG_NOT_SET = 203,
  TAVOLINK_UNSUPPORTED = 204,
  TAVOLINK_CONFIG_INVALID_PARAMETER = 205,
  TAVOLINK_CONFIG_INVALID_CHAIN = 206,
  TAVOLINK_CONFIG_OFFSET_RANGE = 207,
  TAVOLINK_CONFIG_INVALID_DATA = 208,
  TAVOLINK_CONFIG_MOVE_SIZE = 209,
  TAVOLINK_SERVICE_ERROR = 250,
  TAVOLINK_SERVICE_INVALID_PARAMETER = 251,
  TAVOLINK_SERVICE_UNKNOWN = 252,
  TAVOLINK_SERVICE_SIZE_INVALID = 253,
  TAVOLINK_SERVICE_COMPATIBILITY = 254,
  TAVOLINK_SERVICE_HEADER_SIZE = 255,
  TAVOLINK_SERVICE_CHECKSUM = 256,
  TAVOLINK_SERVICE_NOTHING_WAITING = 257,
  TAVOLINK_SERVICE_KEY_ERROR = 258,
  TAVOLINK_SERVICE_RUN_SIZE = 259,
  TAVOLINK_VAULT_LOAD_ERROR = 302,
  TAVOLINK_SERVICE_NO_DATA = 303,
  TAVOLINK_VAULT_FUNCTION_MISSING = 304
};

/* Language word of tavolink_TranslateTavoStatus: low 8 bits the language,
 * bit 15 puts "[%03d] " in front of the message. */
#define TAVOLINK_LANGUAGE_ENGLISH 0x0000
#define TAVOLINK_LANGUAGE_FRENCH 0x0001
#define TAVOLINK_LANGUAGE_WITH_NUMBER 0x8000

/* The host's message sender, standing in for a window message. The library
 * never dereferences the window: it only passes it back. Trace lines arrive
 * as sender(window, message, length, (intptr_t)"TT%d text"), valid only during
 * the call; download progress as sender(window, message,
 * (threadIndex << 16) | code, value). */
typedef intptr_t (*tavolink_MessageSender)(void* window, uint32_t message, uintptr_t wParam,
                                           intptr_t lParam);

/* Serial spy: direction 1 for bytes written to the module, 0 for bytes read. */
typedef void (*tavolink_SpyCallback)(uint32_t context, uint32_t direction, const uint8_t* bytes,
                                     uint32_t count);

/* Process-wide; null drops all messages. */
TAVOLINK_API void tavolink_SetMessageSender(tavolink_MessageSender sender);

/* Library and slots. */
TAVOLINK_API void tavolink_GetVersion(uint32_t* version, uint32_t* reserved);
TAVOLINK_API int32_t tavolink_Init(int32_t comPort, int32_t baudRate, int32_t* threadIndexOut);
TAVOLINK_API int32_t tavolink_Close(int32_t threadIndex);
TAVOLINK_API int32_t tavolink_TranslateTavoStatus(int32_t status, int32_t language, char* buffer,
                                                  int32_t bufferSize);

/* Settings: an index outside 0..15 applies the setting to all 16 slots. */
TAVOLINK_API void tavolink_SetSpy(void* window, uint32_t message, int32_t threadIndex);
TAVOLINK_API void tavolink_SetInfoOptions(int32_t logToFile, const char* logFileName,
                                          int32_t traceDelay, int32_t threadIndex);
TAVOLINK_API void tavolink_SetWindowDownload(void* window, uint32_t message, int32_t threadIndex);
TAVOLINK_API void tavolink_SetCMDTimeOut(int32_t powerUp, int32_t spare, int32_t command,
                                         int32_t threadIndex);
TAVOLINK_API void tavolink_SetTATTimeOut(int32_t request, int32_t ready, int32_t threadIndex);
TAVOLINK_API void tavolink_SetTATDelay(int32_t open, int32_t request, int32_t retry, int32_t unused,
                                       int32_t threadIndex);
TAVOLINK_API int32_t tavolink_ChangeTATBaudrate(int32_t baudRate, int32_t threadIndex);

/* TAT session. */
TAVOLINK_API int32_t tavolink_OpenSession(int32_t threadIndex);
TAVOLINK_API int32_t tavolink_OpenSessionEx(char* softwareId, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_GetSoftVersion(char* softwareId, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_RestartModule(int32_t closeAfter, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_CloseSession(int32_t threadIndex);

/* Module data. Sections are images of an 8-byte header and a payload; the
 * section functions exchange the payload only. A read with a null buffer or a
 * buffer size of 0 just stores the payload size in *sizeOut (which may be
 * null); a buffer smaller than the payload gives 52 with *sizeOut already set.
 * A write replaces the first min(size, payload) payload bytes, keeps the rest
 * of the module's section and commits it; a negative size gives 51. Record
 * pointers hold TAVOLINK_PRODUCTION_INFO_SIZE or TAVOLINK_CALIBRATION_INFO_SIZE
 * bytes; a null one gives 50. */
TAVOLINK_API int32_t tavolink_ReadSerialNumber(char* serialNumber, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_ReadRadioParameters(uint8_t* buffer, int32_t bufferSize,
                                                  uint32_t* sizeOut, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_WriteRadioParameters(const uint8_t* data, int32_t size,
                                                   int32_t threadIndex);
TAVOLINK_API int32_t tavolink_ReadDravelSection(uint8_t* buffer, int32_t bufferSize,
                                                uint32_t* sizeOut, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_WriteDravelSection(const uint8_t* data, int32_t size,
                                                 int32_t threadIndex);
TAVOLINK_API int32_t tavolink_ReadProductionInfos(uint8_t* record, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_WriteProductionInfos(const uint8_t* record, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_ReadCalibrationInfos(uint8_t* record, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_WriteCalibrationInfos(const uint8_t* record, int32_t threadIndex);
/* imei receives 15 digits and a terminating zero (TAVOLINK_IMEI_BUFFER_SIZE
 * bytes); 109 when the check digit does not match. The write takes 14 or 15
 * digits (the 15th is not used) and needs the vault library libTavoVault.so:
 * 302 when it cannot be loaded, 304 when it lacks its function. */
TAVOLINK_API int32_t tavolink_ReadIMEI(char* imei, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_WriteIMEI(const char* imei, int32_t threadIndex);

/* Names kept for hosts built against older versions: each answers 204 and
 * ignores whatever arguments it is given. */
#ifdef __cplusplus
#define TAVOLINK_ANY_ARGUMENTS ...
#else
#define TAVOLINK_ANY_ARGUMENTS
#endif
TAVOLINK_API int32_t tavolink_EnableAudioLoop(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_InitReducedCom(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_PowerMeasure(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_ReadADC(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_ReadProductionSection(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_ReadRadioInfos(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_StartBurstGeneration(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_StopBurstGeneration(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_StopReducedCom(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_SynchroReducedCom(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_UpdatePowerLevel(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_UpdateReducedCom(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_WriteProductionSection(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_WriteRadioInfos(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_WriteRadioInfosToRAM(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_WriteRadioParametersToRAM(TAVOLINK_ANY_ARGUMENTS);
TAVOLINK_API int32_t tavolink_WriteSerialNumber(TAVOLINK_ANY_ARGUMENTS);

#ifdef __cplusplus
}
#endif

#endif /* TAVOLINK2_H */
