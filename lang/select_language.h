/* Language file selection: the dialog in which an operator chooses the language of the
 * product's programs.
 *
 * SelectLanguageFile lists the language files "<directory>*.<extension>" (their names up to
 * the first '.', first letter upper case and the rest lower case, in the order the directory
 * lists them) and "<deutsch>", the built-in German texts, as the last entry; it tells the code
 * page and the character set from "<directory>CHARSET.INI". On confirmation the chosen name is
 * stored where LS_init (lang/lang.h) looks for it: "Tarnwell"/"Language" in the user profile
 * and, with `writeProductConfig` set, "Common"/"Language" in "<directory>LINDAVOX.INI" (deleted
 * there for "<deutsch>"). A running program keeps its language; the choice counts from the next
 * LS_init.
 *
 * Preselected is the entry the programs would use now: the choice stored in the user profile,
 * else the product configuration's, else "<deutsch>", matched case-insensitively against the
 * start of the entries, the first match from the top. Nothing is selected when no entry
 * matches.
 *
 * The dialog is template 3623 of the resource library `resourceLibrary`: a shared object loaded
 * with dlopen for the call and freed before it returns (lang/resource_library.h). A name with a
 * '/' is used as it is; a bare name is looked for in the running program's folder first, then
 * where dlopen looks. `directory` is a folder prefix ending with '/' ("" for the current
 * directory). `parentWindow` is a window handle (TWindow::GetHandle) of this process that owns
 * the dialog; 0 or an unknown handle gives a dialog without owner.
 *
 * Returns 1 when the choice was stored, 2 when the dialog was cancelled or closed, or when there
 * is no language file (after the message "Please download a language pack first."). Also 2,
 * without showing anything, when the library or its template is missing, when no window
 * backend is installed, or for a null directory, extension or library name. When the choice
 * cannot be stored, a message says so and the dialog stays open. Texts are Windows-1252. */
#ifndef LINDAVOX_LANG_SELECT_LANGUAGE_H
#define LINDAVOX_LANG_SELECT_LANGUAGE_H

#include <stdint.h>

#include "platform/export.h"

/* The dialog template id of the language selection in its resource library. */
#define LS_SELECT_LANGUAGE_DIALOG 3623

LV_API int32_t SelectLanguageFile(uintptr_t parentWindow, const char* directory,
                                  const char* extension, const char* caption,
                                  uint8_t writeProductConfig, const char* resourceLibrary);

#endif
