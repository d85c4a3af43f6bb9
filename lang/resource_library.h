/* Resource libraries: shared objects that hand out dialog templates by id.
 *
 * A resource library is loaded with dlopen and exports one C function, LvResource_FindDialog,
 * which gives the template of a dialog id, or null when the library has none. A template is
 * plain constant data, exactly what a resource script states: the dialog's style, caption, font
 * and size, and its controls with class name ("BUTTON", "EDIT", "STATIC", "COMBOBOX"), text,
 * style and rectangle. Sizes and positions are dialog units; texts are Windows-1252. The data
 * belongs to the library and is valid while the library stays loaded, so a user copies what it
 * needs before it frees the library. Null texts count as empty. */
#ifndef LINDAVOX_LANG_RESOURCE_LIBRARY_H
#define LINDAVOX_LANG_RESOURCE_LIBRARY_H

#include <stdint.h>

#include "platform/export.h"

typedef struct LvDialogControlResource {
  int32_t id;            /* control id; -1 for a control nobody addresses */
  const char* className; /* "BUTTON", "EDIT", "STATIC" or "COMBOBOX" */
  const char* text;
  uint32_t style;     /* class style bits and WS_TABSTOP, WS_BORDER, ... (WS_CHILD implied) */
  int32_t x, y, w, h; /* dialog units; a combo box's height includes its dropped list */
} LvDialogControlResource;

typedef struct LvDialogResource {
  int32_t id;
  uint32_t style; /* WS_POPUP, WS_CAPTION, DS_MODALFRAME, DS_SETFONT, ... */
  const char* caption;
  const char* fontFace;
  int32_t fontSize; /* points */
  int32_t x, y, w, h;
  int32_t controlCount;
  const LvDialogControlResource* controls; /* controlCount entries, in tab order */
} LvDialogResource;

/* The name under which a resource library exports its lookup, and the lookup's type. */
#define LV_RESOURCE_FIND_DIALOG "LvResource_FindDialog"
typedef const LvDialogResource* (*LvResourceFindDialog)(int32_t id);

/* Defined by each resource library: the template of dialog `id`, or null. */
LV_API const LvDialogResource* LvResource_FindDialog(int32_t id);

#endif
