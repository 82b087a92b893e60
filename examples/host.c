/*
 * host.c: a small host program for TavoLink2, the way a test station starts.
 *
 *   host COM_PORT [BAUD_RATE]
 *
 * It binds a COM port to a channel slot, shows the library's trace lines,
 * opens a TAT session with the module on that port, prints what identifies
 * the module (software identifier, IMEI, serial number, production record)
 * and closes everything again. It uses nothing but the public header, in
 * plain C11.
 *
 * COM port N is the device named by the environment variable TAVOLINK_COM<N>
 * (else the key COM<N> of [PORTS] in TavoLink2.Ini, else /dev/ttyS<N-1>).
 * Without a module at hand, start the simulator and point a port at it:
 *
 *   tavosim --tat &                     # prints e.g. /dev/pts/4
 *   TAVOLINK_COM5=/dev/pts/4 ./host 5
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "tavolink2.h"

/* Trace lines reach the host through one function it installs, the message
 * sender. The library calls it with the "window" and message number that the
 * host gave for a slot; a window is any pointer the host likes (the library
 * never looks behind it), and a slot whose window is null sends nothing. So
 * the address of this variable serves as our window, and a number of our
 * choice tells trace lines from other messages. */
static int traceWindow;
enum { kTraceMessage = 0x0401 };

/* The sender runs on the thread that called the library, during that call:
 * the line it gets lives only until it returns, so it is printed (or copied)
 * right here. wParam holds the line's length, lParam its address. */
static intptr_t PrintMessage(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (window == &traceWindow && message == kTraceMessage) {
    printf("  trace: %.*s\n", (int)wParam, (const char*)lParam);
  }
  return 0;
}

/* Every call returns a status: TAVOLINK_OK (1) or a TAVOLINK_* number, which
 * the library turns into a message (English here; TAVOLINK_LANGUAGE_FRENCH
 * for French). Returns 1 when the call went well. */
static int Check(const char* what, int32_t status) {
  if (status == TAVOLINK_OK) {
    return 1;
  }
  char text[128];
  tavolink_TranslateTavoStatus(status, TAVOLINK_LANGUAGE_ENGLISH | TAVOLINK_LANGUAGE_WITH_NUMBER,
                               text, (int32_t)sizeof text);
  fprintf(stderr, "%s failed: %s\n", what, text);
  return 0;
}

/* The production record is the first 84 bytes of the module's section 40:
 * a 14-character text at offset 26, an 8-character text at 54 (neither is
 * necessarily zero-terminated) and a 16-bit little-endian value at 80. */
static void PrintProductionRecord(const uint8_t* record) {
  const unsigned value = (unsigned)record[80] | ((unsigned)record[81] << 8);
  /* "%.*s" stops at a zero or after the given count, whichever comes first. */
  printf("production record:   \"%.*s\" \"%.*s\" value 0x%04X\n", 14, (const char*)record + 26, 8,
         (const char*)record + 54, value);
}

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: %s COM_PORT [BAUD_RATE]\n", argv[0]);
    return 2;
  }
  const int32_t comPort = (int32_t)strtol(argv[1], NULL, 10);
  /* The AT baud rate: the speed at which a module in AT mode is asked to
   * switch to TAT mode. A module already in TAT mode answers at once. */
  const int32_t baudRate = argc > 2 ? (int32_t)strtol(argv[2], NULL, 10) : 115200;

  uint32_t version = 0;
  tavolink_GetVersion(&version, NULL);
  printf("TavoLink2 %u.%u.%u.%u\n", (unsigned)(version >> 24), (unsigned)(version >> 16) & 0xFFu,
         (unsigned)(version >> 8) & 0xFFu, (unsigned)version & 0xFFu);

  /* One sender for the whole process; install it before anything traces. */
  tavolink_SetMessageSender(PrintMessage);

  /* Binding the port gives a slot (thread index 0 to 15): every later call
   * for this module names it as its last argument. Each slot has its own
   * port and settings, so a station drives up to 16 modules on 16 threads. */
  int32_t slot = -1;
  if (!Check("tavolink_Init", tavolink_Init(comPort, baudRate, &slot))) {
    return 1;
  }
  tavolink_SetSpy(&traceWindow, kTraceMessage, slot);

  /* A module in AT mode is switched to TAT mode first and then given time to
   * start its TAT handlers: 12 s by default. A station that knows its modules
   * start faster can lower that wait (milliseconds; 0 keeps a setting, a
   * negative value restores its default):
   *   tavolink_SetTATDelay(3000, 0, 0, 0, slot);
   * A module already in TAT mode (as "tavosim --tat") skips the wait. */

  /* The session opens the port, finds the module and identifies it; the
   * software identifier is 16 hexadecimal digits: platform, then software. */
  char softwareId[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE] = "";
  int ok = Check("tavolink_OpenSessionEx", tavolink_OpenSessionEx(softwareId, slot));
  if (ok) {
    printf("software identifier: %s\n", softwareId);

    /* Within the session, each read is one or more requests to the module.
     * A failing read does not end the session: go on with the others. */
    char imei[TAVOLINK_IMEI_BUFFER_SIZE] = "";
    if (Check("tavolink_ReadIMEI", tavolink_ReadIMEI(imei, slot))) {
      printf("IMEI:                %s\n", imei);
    } else {
      ok = 0;
    }

    /* First-generation modules report a free text of any length, the others
     * a short number from their OTP memory: this size holds either. */
    static char serialNumber[TAVOLINK_SERIAL_NUMBER_BUFFER_SIZE];
    if (Check("tavolink_ReadSerialNumber", tavolink_ReadSerialNumber(serialNumber, slot))) {
      printf("serial number:       %s\n", serialNumber);
    } else {
      ok = 0;
    }

    uint8_t record[TAVOLINK_PRODUCTION_INFO_SIZE];
    if (Check("tavolink_ReadProductionInfos", tavolink_ReadProductionInfos(record, slot))) {
      PrintProductionRecord(record);
    } else {
      ok = 0;
    }

    /* Ends the session and releases the port; the module stays in TAT mode,
     * so the next session on it opens at once. */
    tavolink_CloseSession(slot);
  }

  /* Frees the slot (and would end a session still open). */
  tavolink_Close(slot);
  return ok ? 0 : 1;
}
