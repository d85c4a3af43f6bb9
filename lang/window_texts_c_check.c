/* The window half's public headers compiled as C: a caller in C sees the same declarations. */
#include "lang/resource_library.h"
#include "lang/select_language.h"
#include "lang/window_texts.h"

int WindowTextsCalledFromC(void);

/* 1 when null windows and menus are accepted and the selection without a library cancels. */
int WindowTextsCalledFromC(void) {
  TWindow* window = 0;
  TMenu* menu = 0;
  return LSWW(window, 0, 3, 1, -1, 0) == 1 && LSM(0, menu, 1, 3) == 1 && LSMP(0, menu, 0, 3) == 1 &&
         SelectLanguageFile(0, "", "LX", "", 0, 0) == 2 && LS_SELECT_LANGUAGE_DIALOG == 3623;
}
