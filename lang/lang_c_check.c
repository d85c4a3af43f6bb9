/* The public header compiled as C: a caller in C sees the same declarations. */
#include "lang/lang.h"

int LangCalledFromC(void);

/* 1 when inactive lookup hands a C caller its own default back. */
int LangCalledFromC(void) {
  char text[] = "Fehler";
  return !LS_isActive() && LSS(LS_SECTION_COMMON, 1, text, 1, LS_COLON_KEEP, 0) == text;
}
