/* Window texts: translating a window's caption and a menu's items with the language file.
 *
 * The window's or the item's current text is the built-in default: it is looked up as LSS looks
 * up any text (lang/lang.h), and the result replaces it. While no language file is in use the
 * windows and menus are left exactly as they are. Every function returns 1, also for a null
 * window or menu and for a missing item, in which cases nothing changes.
 *
 * Lengths: a window text is read up to 999 characters, a menu item text up to 259.
 * A frame shows a changed menu bar once it is drawn again (TFrameWindow::DrawMenuBar).
 * Texts are Windows-1252 bytes; no function throws. */
#ifndef LINDAVOX_LANG_WINDOW_TEXTS_H
#define LINDAVOX_LANG_WINDOW_TEXTS_H

#include <stdint.h>

#include "platform/export.h"

/* The window framework's objects; C callers pass them through as opaque pointers. */
#ifdef __cplusplus
class TWindow;
class TMenu;
#else
typedef struct TWindow TWindow;
typedef struct TMenu TMenu;
#endif

/* Sets the window's caption to the text `id` of section `section`, with the window's current
 * text as the default and LSS's slot, colon mode and ampersand rule. Overwrites that slot's
 * LSS buffer. */
LV_API uint8_t LSWW(TWindow* window, int32_t section, int32_t id, int32_t slot, int32_t colonMode,
                    uint8_t stripAmpersand);

/* Gives the menu item with command id `command` (searched in the submenus too) the text `id`
 * of section `section`, with its current text as the default (LSS slot 1, colon mode -1, no
 * ampersand removal). Only the text changes; the item keeps its id and flags. */
LV_API uint8_t LSM(int32_t section, TMenu* menu, uint32_t command, int32_t id);

/* The same for the item at zero-based `position` of `menu` itself. Only the text changes: a
 * command item keeps its command id, a popup keeps its submenu. A separator has no text and is
 * left alone. */
LV_API uint8_t LSMP(int32_t section, TMenu* menu, int32_t position, int32_t id);

#endif
