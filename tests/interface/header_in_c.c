/* The public header must compile as plain C, with the retired names callable
   with any arguments. */
#include "tavolink2.h"

int32_t tavolink_test_header_from_c(void) {
  uint32_t version = 0;
  char text[64];
  tavolink_GetVersion(&version, 0);
  if (tavolink_ReadADC(1, 2, 3) != TAVOLINK_UNSUPPORTED) {
    return 0;
  }
  return tavolink_TranslateTavoStatus(TAVOLINK_OK, TAVOLINK_LANGUAGE_FRENCH, text, sizeof text);
}
