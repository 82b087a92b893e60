/* The C side of the Python binding's benchmark: the same calls a station
 * script makes through the tavolink package, made directly, timed per call.
 *
 *   binding_baseline COM CALLS
 *
 * opens a session on COM port COM (TAVOLINK_COM<N> names the device), then
 * times CALLS software-version requests and CALLS reads of section 0, and
 * prints "version <ns per call> section <ns per call>". Trace lines go to a
 * message sender that takes each line, as a host that shows them does; the
 * package does the same work for its logger. */
#define _POSIX_C_SOURCE 200809L
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "tavolink2.h"

static volatile size_t traceBytes;

static intptr_t Sender(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  (void)window;
  (void)message;
  (void)lParam;
  traceBytes += wParam;
  return 0;
}

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e9 + (double)t.tv_nsec;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: binding_baseline COM CALLS\n");
    return 2;
  }
  const int32_t com = atoi(argv[1]);
  const int calls = atoi(argv[2]);
  int32_t slot = -1;
  static int window;
  if (tavolink_Init(com, 115200, &slot) != TAVOLINK_OK) {
    fprintf(stderr, "Init failed\n");
    return 1;
  }
  tavolink_SetMessageSender(Sender);
  tavolink_SetSpy(&window, 1, slot);
  tavolink_SetTATDelay(0, 1, 1, 0, slot);
  char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE];
  int32_t status = tavolink_OpenSessionEx(id, slot);
  double start = Now();
  for (int i = 0; i < calls && status == TAVOLINK_OK; ++i) {
    status = tavolink_GetSoftVersion(id, slot);
  }
  const double version = (Now() - start) / calls;
  uint8_t buffer[4096];
  uint32_t size = 0;
  start = Now();
  for (int i = 0; i < calls && status == TAVOLINK_OK; ++i) {
    status = tavolink_ReadRadioParameters(buffer, (int32_t)sizeof buffer, &size, slot);
  }
  const double section = (Now() - start) / calls;
  tavolink_CloseSession(slot);
  tavolink_Close(slot);
  if (status != TAVOLINK_OK) {
    fprintf(stderr, "status %d\n", (int)status);
    return 1;
  }
  printf("version %.0f section %.0f\n", version, section);
  return 0;
}
