/* The C side of the Python binding's benchmark (bench/python_binding.py): the
 * calls a station script makes through the tavolink package, made directly.
 * Built as a small shared library that the benchmark loads into its own
 * process, so that both sides use the same slot, session and simulated
 * module, block after block, and the machine's noise falls on both alike.
 * Each function makes `calls` calls and returns the mean wall time of one in
 * nanoseconds, or -status when a call fails. */
#define _POSIX_C_SOURCE 200809L
#include <stdint.h>
#include <time.h>

#include "tavolink2.h"

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e9 + (double)t.tv_nsec;
}

/* Software-version requests, each into its own identifier buffer. */
double BaselineVersion(int32_t slot, int32_t calls) {
  const double start = Now();
  for (int32_t i = 0; i < calls; ++i) {
    char id[TAVOLINK_SOFTWARE_ID_BUFFER_SIZE];
    const int32_t status = tavolink_GetSoftVersion(id, slot);
    if (status != TAVOLINK_OK) {
      return -status;
    }
  }
  return (Now() - start) / calls;
}

/* Reads of section 0 into a buffer that holds any payload. */
double BaselineSection(int32_t slot, int32_t calls) {
  static uint8_t buffer[65535];
  const double start = Now();
  for (int32_t i = 0; i < calls; ++i) {
    uint32_t size = 0;
    const int32_t status =
        tavolink_ReadRadioParameters(buffer, (int32_t)sizeof buffer, &size, slot);
    if (status != TAVOLINK_OK) {
      return -status;
    }
  }
  return (Now() - start) / calls;
}
