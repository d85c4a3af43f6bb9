/* The conversion headers compiled as C: a caller in C sees the same declarations. */
#include <string.h>

#include "util/base64.h"
#include "util/convert.h"
#include "util/line_edit.h"

int ConvertCalledFromC(void);

/* 1 when a few conversions give a C caller the expected texts. */
int ConvertCalledFromC(void) {
  char encoded[16];
  char decoded[16];
  char line[16] = "a\nb";
  char name[] = "Uryyb";
  CONVERT_Encode64(encoded, "ABC");
  CONVERT_Decode64(decoded, encoded, (int32_t)strlen(encoded));
  return strcmp(encoded, "QUJD") == 0 && strcmp(decoded, "ABC") == 0 &&
         strcmp(CONVERT_ROT13(name), "Hello") == 0 &&
         strcmp(CONVERT_ByteString(1234, 6), " 1.234") == 0 &&
         CONVERT_SwitchString(line, sizeof line, "\n", "") == 1 && strcmp(line, "ab") == 0;
}
