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

/* The smallest buffer tavolink_TranslateTavoStatus accepts. */
#define TAVOLINK_STATUS_TEXT_MIN_SIZE 16
/* A buffer that holds any serial number: the OTP forms need at most 15 bytes
 * (14 characters and the zero), but a first-generation module reports its
 * serial number as free text, which one answer frame bounds to 3012
 * characters. */
#define TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE 3013
/* A buffer that holds any backup file name (at most 63 characters). */
#define TAVOLINK_FILE_NAME_BUFFER_SIZE 64

/* The host's message sender, standing in for a window message: the one road
 * by which trace lines and download progress reach the host. A window is an
 * opaque token of the host's: the library never dereferences it, it only
 * hands it back to the sender, and a null window means "no window" (nothing
 * is sent for it). Trace lines arrive as
 *   sender(traceWindow, traceMessage, length, (intptr_t)"TT<slot> <text>"),
 * the line zero-terminated and valid only during the call, cut to 255
 * characters; download progress as
 *   sender(downloadWindow, downloadMessage, (threadIndex << 16) | code, value).
 * The sender runs synchronously on the thread that called the library. */
typedef intptr_t (*tavolink_MessageSender)(void* window, uint32_t message, uintptr_t wParam,
                                           intptr_t lParam);

/* The serial spy of the service gateway (installed through its set-serial-spy
 * service): it sees every byte that passes a slot's port exactly once and in
 * order, with direction 1 for bytes written to the module (one call per
 * write) and 0 for bytes read, on the calling thread. Bytes read are shown
 * grouped by read: one call for each piece that the library took from what
 * the port had received at once (a frame may come in several pieces, and one
 * piece never reaches past the end of the frame it belongs to). */
typedef void (*tavolink_SpyCallback)(uint32_t context, uint32_t direction, const uint8_t* bytes,
                                     uint32_t count);

/* Installs the process-wide message sender; null drops all messages. */
TAVOLINK_API void tavolink_SetMessageSender(tavolink_MessageSender sender);

/* ---- Library and slots ---------------------------------------------------
 *
 * Calls for one slot come one at a time (the library takes no lock of its
 * own per slot); calls for different slots may run on different threads at
 * once. Two calls may come from another thread while an operation of the slot
 * runs: tavolink_CloseSession / tavolink_Close abort a running download. */

/* *version = TAVOLINK_VERSION, *reserved = 0; either pointer may be null. */
TAVOLINK_API void tavolink_GetVersion(uint32_t* version, uint32_t* reserved);
/* Binds COM port comPort (see the README for the device it stands for) to the
 * slot already bound to it, or else to the lowest free slot, and stores the
 * slot in *threadIndexOut (-1 on failure; the pointer may be null). baudRate
 * is the rate at which the module is first addressed in AT mode. 1; 3 while
 * that slot's port is held by a session; 201 when all 16 slots are taken. */
TAVOLINK_API int32_t tavolink_Init(int32_t comPort, int32_t baudRate, int32_t* threadIndexOut);
/* Ends any session of the slot and frees it. 1; 202 when the slot is not
 * bound; 3 (the slot stays bound) when a download still holds the port. */
TAVOLINK_API int32_t tavolink_Close(int32_t threadIndex);
/* Writes the message of status into buffer, of which only the low 16 bits of
 * bufferSize count; language is a TAVOLINK_LANGUAGE_* word. The message is
 * cut to bufferSize - 1 characters and zero-terminated. 1; 55 for a status
 * without a text (the buffer then holds "Status = <n> - Unknown error" or its
 * French form); 50 for a null buffer; 51 when the size is below
 * TAVOLINK_STATUS_TEXT_MIN_SIZE (the buffer is untouched). */
TAVOLINK_API int32_t tavolink_TranslateTavoStatus(int32_t status, int32_t language, char* buffer,
                                                  int32_t bufferSize);

/* ---- Settings --------------------------------------------------------------
 *
 * A thread index outside 0..15 (for example -1) applies a setting to all 16
 * slots. Such a call touches every slot's settings without a lock, so a host
 * makes it only between operations, never while another thread runs one.
 * Time-out and delay values follow one rule: a value above 0 is taken, a
 * negative value restores the default, 0 keeps the setting. */

/* Trace lines of the slot go to window with message (null: no window). */
TAVOLINK_API void tavolink_SetSpy(void* window, uint32_t message, int32_t threadIndex);
/* logToFile 1 appends every trace line (the bare text and CR LF) to the file
 * logFileName. The library keeps the POINTER, not a copy: the host keeps the
 * string alive and unchanged while file logging is on. traceDelay (ms) is
 * waited after each trace line; 0 or below keeps the previous delay. */
TAVOLINK_API void tavolink_SetInfoOptions(int32_t logToFile, const char* logFileName,
                                          int32_t traceDelay, int32_t threadIndex);
/* Download progress of the slot goes to window with message. */
TAVOLINK_API void tavolink_SetWindowDownload(void* window, uint32_t message, int32_t threadIndex);
/* Loader time-outs in ms: power-up (default 15000), spare (accepted, unused;
 * default 1000), command (default 5000). */
TAVOLINK_API void tavolink_SetCMDTimeOut(int32_t powerUp, int32_t spare, int32_t command,
                                         int32_t threadIndex);
/* TAT time-outs in ms: each request (default 9000), the module's ready frames
 * after it entered TAT mode (default 10000). */
TAVOLINK_API void tavolink_SetTATTimeOut(int32_t request, int32_t ready, int32_t threadIndex);
/* TAT delays in ms: after entering TAT mode (default 12000), before requests
 * (default 100), before a retry (default 2000); the fourth value is unused. */
TAVOLINK_API void tavolink_SetTATDelay(int32_t open, int32_t request, int32_t retry, int32_t unused,
                                       int32_t threadIndex);
/* The TAT line speed: above 0 taken, else 115200; unless negative, the request
 * time-out follows (12000 ms below 115200 baud, else 9000). 1; 3 while the
 * port is held (for all slots: the first slot that refuses ends the call). */
TAVOLINK_API int32_t tavolink_ChangeTATBaudrate(int32_t baudRate, int32_t threadIndex);

/* ---- TAT session -------------------------------------------------------------
 *
 * Software identifiers are 16 upper-case hexadecimal digits and a zero:
 * buffers of TAVOLINK_SOFTWARE_ID_BUFFER_SIZE (17) bytes. */

/* Opens the port, finds the module (a version probe, else "AT+KTAT=1" at the
 * slot's baud rate and the module's greeting), identifies it; one retry after
 * 2 s. 1; 202 unbound; 3 port held; 4 port cannot be opened (a trace line
 * names the port, its device and the reason); 7 or 102 no module; 203. */
TAVOLINK_API int32_t tavolink_OpenSession(int32_t threadIndex);
/* As tavolink_OpenSession; softwareId (17 bytes, may be null) receives the
 * module's software identifier. */
TAVOLINK_API int32_t tavolink_OpenSessionEx(char* softwareId, int32_t threadIndex);
/* Asks the module for its software identifier again (17 bytes, may be null).
 * 1; 103 without a session; 105 no answer. */
TAVOLINK_API int32_t tavolink_GetSoftVersion(char* softwareId, int32_t threadIndex);
/* Sends the restart request; with closeAfter non-zero the session is closed
 * as well. 1; 103 without a session. */
TAVOLINK_API int32_t tavolink_RestartModule(int32_t closeAfter, int32_t threadIndex);
/* Ends the TAT session (the module stays in TAT mode) and aborts a download
 * running on another thread. 1; 202 unbound; 201 when an aborted download
 * still holds the port after 1 s. */
TAVOLINK_API int32_t tavolink_CloseSession(int32_t threadIndex);

/* ---- Module data (inside an open session: 103 without one) -------------------
 *
 * Sections are images of an 8-byte header and a payload; the section
 * functions exchange the payload only. A read with a null buffer or a buffer
 * size of 0 just stores the payload size in *sizeOut (which may be null); a
 * buffer smaller than the payload gives 52 with *sizeOut already set; 108
 * when the section's checksum does not match. A write replaces the first
 * min(size, payload) payload bytes, keeps the rest of the module's section
 * and commits it; a negative size gives 51, null data with a positive size
 * 50. A request the module does not answer gives 105 (each step is tried
 * twice). */

/* serialNumber receives the module's serial number as zero-terminated text:
 * 10 hexadecimal digits from its OTP data, 14 characters for the latest
 * modules, the module's own text for the first generation; a buffer of
 * TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE bytes holds any of them. 30 when the OTP
 * data has no serial number. */
TAVOLINK_API int32_t tavolink_ReadSerialNumber(char* serialNumber, int32_t threadIndex);
/* Section 0, the radio parameters. */
TAVOLINK_API int32_t tavolink_ReadRadioParameters(uint8_t* buffer, int32_t bufferSize,
                                                  uint32_t* sizeOut, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_WriteRadioParameters(const uint8_t* data, int32_t size,
                                                   int32_t threadIndex);
/* Section 37, the maker section. */
TAVOLINK_API int32_t tavolink_ReadDravelSection(uint8_t* buffer, int32_t bufferSize,
                                                uint32_t* sizeOut, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_WriteDravelSection(const uint8_t* data, int32_t size,
                                                 int32_t threadIndex);
/* The production record: the first TAVOLINK_PRODUCTION_INFO_SIZE (84) bytes
 * of section 40. A write sets its first word to 1 and its XOR checksum word
 * at offset 82. 50 for a null record; 52 when the module's section is too
 * short for the record (nothing is read into or written from the record). */
TAVOLINK_API int32_t tavolink_ReadProductionInfos(uint8_t* record, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_WriteProductionInfos(const uint8_t* record, int32_t threadIndex);
/* The calibration record: TAVOLINK_CALIBRATION_INFO_SIZE (60) bytes at
 * payload offsets 896..955 of section 37; 50 and 52 as above. */
TAVOLINK_API int32_t tavolink_ReadCalibrationInfos(uint8_t* record, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_WriteCalibrationInfos(const uint8_t* record, int32_t threadIndex);
/* imei receives 15 digits and a terminating zero (TAVOLINK_IMEI_BUFFER_SIZE
 * bytes); 109 when the check digit does not match; 50 for a null buffer. The
 * write takes 14 or 15 digits (the 15th is not used; 53 for another length
 * or a character other than a digit among the 14, nothing sent) and needs
 * the vault library libTavoVault.so: 302 when it cannot be loaded, 304 when
 * it lacks its function. */
TAVOLINK_API int32_t tavolink_ReadIMEI(char* imei, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_WriteIMEI(const char* imei, int32_t threadIndex);
/* Applies the parameter script fileName: 16-byte little-endian records
 * (section u8, address u32 in the whole image with its 8-byte header, type u8
 * = bit 7 bit field + width 1/2/4 bytes, bitOffset u32 from the unit's top
 * bit, bitSize u16, data u32). Every section named is read (in the order of
 * first appearance), all records are applied to the copies in file order and
 * each section is written back once; 200 ms after each read and write. A
 * record of another width changes nothing. 1 (an empty file touches
 * nothing); 17 for a null name or a file that cannot be read; 18 for a file
 * over 1 MiB or whose length is not a multiple of 16 (the module is not
 * asked); 207 when a record's 4 bytes at its address reach past the section,
 * its unit lies in the header (address below 8), or its bit field is empty,
 * 32 bits or more wide or outside its unit. Nothing is written when a
 * section cannot be read or a record is refused; a failing write keeps the
 * sections written before it and ends the call with the module's status. */
TAVOLINK_API int32_t tavolink_WriteParameterFile(const char* fileName, int32_t threadIndex);

/* Parameter backups: .SAV files in a directory the host names, one per
 * module, named "TAVO<serial>_<YYYYMMDD_HHMMSS>.SAV" (tavolink_SaveParameters:
 * the sections 18, 0, 40, 37, 11, 13, 8) or "..._INI.SAV"
 * (tavolink_SaveParametersEx: the sections 0 to 41 less the comma-separated
 * list excludedSections, e.g. "3,5,22"; null or empty excludes nothing). A
 * new backup is written in full under a temporary name and only then takes
 * its name; the module's older backups are then renamed to .SAV -> .SA_.
 * fileName (may be null, else TAVOLINK_FILE_NAME_BUFFER_SIZE bytes) receives
 * the new file's bare name, even when the directory then proves missing.
 * 1; 56 for a null directory; 17 when the directory is missing, the file
 * cannot be written (nothing is renamed then) or the serial number cannot
 * name a file; the module's status when a section cannot be read (no file
 * is written). */
TAVOLINK_API int32_t tavolink_SaveParameters(const char* directory, char* fileName,
                                             int32_t threadIndex);
TAVOLINK_API int32_t tavolink_SaveParametersEx(const char* directory, char* fileName,
                                               const char* excludedSections, int32_t threadIndex);
/* Restores a backup into the module: the file fileName of the directory when
 * the low 8 bits of useFileName are not 0 and fileName is not empty;
 * otherwise the module's backup in the directory (a save leaves one; when a
 * save cut short left two, the newer by the time in its name), whose name
 * then goes to fileName when it is not null. Sections whose restore class
 * shares a bit with classMask are restored (1: 0, 18, 40; 2: 37; 4: 11;
 * 8: 13; 16: 8; exactly 65535: every section of the file;
 * tavolink_RestoreParameters uses 65535). Each saved section is read from
 * the module first, converted along the upgrade chain of the configuration
 * file when its layout version differs, and written back. 1; 16 empty file;
 * 17 no such file or backup; 18 not a backup; 27 corrupted file; 206 to 208
 * upgrade chain errors; nothing is written on any of these. A failing write
 * ends the restore with the module's status. */
TAVOLINK_API int32_t tavolink_RestoreParameters(const char* directory, char* fileName,
                                                int32_t useFileName, int32_t threadIndex);
TAVOLINK_API int32_t tavolink_RestoreParametersEx(const char* directory, char* fileName,
                                                  int32_t useFileName, uint32_t classMask,
                                                  int32_t threadIndex);

/* Flashes new module software through the module's boot loader: the loader
 * file (.hex) and the software file (.cla) are sent as stored. The port is
 * opened at 115200 baud; the module must be switched on (or, with
 * restartFirst, is sent the TAT restart request) while the library repeats
 * its synchronisation byte for up to the power-up time-out; the line then
 * moves to the slot's download baud rate (tavolink_Init's rate). Progress
 * goes to the window of tavolink_SetWindowDownload: wParam = (slot << 16) |
 * code, codes 0 to 10, with percentages of the loader (4) and the software
 * (9). run != 0 starts the new software afterwards (tavolink_DownloadSoftware
 * does not). tavolink_CloseSession or tavolink_Close from another thread
 * aborts it (57). 1; 3 port in use; 4 port; 14, 15, 16 files; 5 no power-up;
 * 6, 7, 25, 26 transfer; 8, 10, 11, 12, 13, 23 loader commands; 205 an empty
 * download setting in TavoLink2.Ini (nothing is sent). */
TAVOLINK_API int32_t tavolink_DownloadSoftware(const char* softwareFile, const char* loaderFile,
                                               int32_t threadIndex);
TAVOLINK_API int32_t tavolink_DownloadSoftwareEx(const char* softwareFile, const char* loaderFile,
                                                 int32_t restartFirst, uint32_t run,
                                                 int32_t threadIndex);

/* The whole software update in one call. A session reads the old software
 * identifier and backs the parameters up into directory (as
 * tavolink_SaveParameters; savedFileName, may be null, receives the file's
 * name); the software is flashed at baudRate after the TAT restart request
 * and started; after waitSeconds (0: 22 s) a new session restores the
 * software and maker sections (restore classes 0x01 and 0x02) from that file
 * through the upgrade chains of TavoLink2.Ini, then writes imei and stores
 * *value16 at offset 80 of the production record, each only when given, 100
 * ms apart. baudRate stays the slot's download rate afterwards. The session
 * is closed on every path, and whatever fails after the backup leaves the
 * backup file in directory for tavolink_RestoreParameters. 1; 202; 56 null
 * directory (no session opened); 3 port in use; then the first failing
 * step's status: session opening, backup, download, restore, IMEI, record. */
TAVOLINK_API int32_t tavolink_DownloadSoftwareFull(const char* softwareFile, const char* loaderFile,
                                                   uint32_t baudRate, const char* imei,
                                                   const uint16_t* value16, const char* directory,
                                                   char* savedFileName, uint32_t waitSeconds,
                                                   int32_t threadIndex);

/* ---- Module check and detection ----------------------------------------------
 *
 * Both open a session, read into every output given (each may be null: a
 * null output is never written) and close the session again on every path.
 * softwareId: 17 bytes; imei: 16 bytes (15 digits, as tavolink_ReadIMEI);
 * serialNumber: as tavolink_ReadSerialNumber; text14 and text8: the 14- and
 * 8-character texts of the production record (not necessarily
 * zero-terminated), value16 its value at offset 80. The production record is
 * read even when no output asks for it, and the result is its status. */

/* Opens a session at the slot's baud rate (one retry after 2 s). */
TAVOLINK_API int32_t tavolink_CheckModule(char* softwareId, char* imei, char* serialNumber,
                                          char* text14, uint16_t* value16, char* text8,
                                          int32_t threadIndex);
/* Finds the module's AT baud rate among speedList ("9600;115200", at most 19
 * rates; null or empty: 115200;9600;57600;38400;19200) in up to maxLoops passes (0: until
 * found or stopped); baudRate (may be null) receives it. A module still in
 * TAT mode is restarted first when baudRate is asked for. 20 while a
 * detection runs on the slot, 21 stopped, 22 passes exhausted, 54 bad list. */
TAVOLINK_API int32_t tavolink_DetectModule(const char* speedList, int32_t maxLoops,
                                           uint32_t* baudRate, char* softwareId, char* imei,
                                           char* serialNumber, char* text14, uint16_t* value16,
                                           char* text8, int32_t threadIndex);
/* Called from another thread: the slot's running detection ends with 21. 1. */
TAVOLINK_API int32_t tavolink_StopDetection(int32_t threadIndex);

/* ---- Service gateway ------------------------------------------------------------
 *
 * Raw services in two calls over one parameter block: bytes 0 version (0 to
 * 2), 1 L (3 to 255, at most the block), 2..L-2 the parameters, L-1 the low
 * 8 bits of the sum of bytes 0..L-2; only the low 16 bits of size count, and
 * the block also receives the output. A request call (code = the service)
 * writes a 16-bit token into bytes 0 and 1, accepted or not; the run call
 * (code TAVOLINK_SERVICE_CODE_RUN, the token at bytes 2 and 3, size = room for
 * the results) runs the request once; the status call (code
 * TAVOLINK_SERVICE_CODE_STATUS, the same block form) writes the previous call's
 * detailed status (251 to 259, or the service's own) into bytes 0..3, once.
 * Host addresses in the parameters are as wide as a pointer, little-endian.
 * Parameters: read memory: address 32, count 16; section info and read
 * section: section 16; write section: section 16, skipHeader 8, data
 * address, length 16; restore section 37: the directory's characters; set
 * digest: 16 MD5 bytes for the next downloads' check; set serial spy:
 * context 32, tavolink_SpyCallback address (0: off). 1; 250 (the status
 * call tells why); 200; 202 unbound. */
#define TAVOLINK_SERVICE_CODE_STATUS 0x03B3BD63u
#define TAVOLINK_SERVICE_CODE_RUN 0xB9CE12E4u
#define TAVOLINK_SERVICE_CODE_READ_MEMORY 0x64B7FF1Bu
#define TAVOLINK_SERVICE_CODE_SECTION_INFO 0x05CF8C42u
#define TAVOLINK_SERVICE_CODE_READ_SECTION 0x9F8C9A12u
#define TAVOLINK_SERVICE_CODE_WRITE_SECTION 0x686894D8u
#define TAVOLINK_SERVICE_CODE_RESTORE_SECTION37 0x04DBD1FAu
#define TAVOLINK_SERVICE_CODE_SET_DIGEST 0xA2EE72F9u
#define TAVOLINK_SERVICE_CODE_SET_SERIAL_SPY 0xD20CF633u
TAVOLINK_API int32_t tavolink_ExecuteService(uint32_t code, void* block, int32_t size,
                                             int32_t threadIndex);

/* Names kept for hosts built against older versions: each answers 204 and
 * ignores whatever arguments it is given. In C they are declared without a
 * prototype, so that old calls with any arguments still compile; the
 * warning that such declarations draw is silenced for them alone. */
#ifdef __cplusplus
#define TAVOLINK_ANY_ARGUMENTS ...
#else
#define TAVOLINK_ANY_ARGUMENTS
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstrict-prototypes"
#endif
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
#if !defined(__cplusplus) && defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#ifdef __cplusplus
}
#endif

#endif /* TAVOLINK2_H */
