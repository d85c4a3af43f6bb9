// Window placement: storing, restoring and centring window positions in the user profile.
//
// A placement is stored as one profile value "x,y,w,h" (screen pixels of the frame), with an
// optional ";MAX" or ";MIN" show state written by the newer generation. The card editor carries
// the newer generation (WindowPos_*, GetStartState), the balance query the older one
// (RestorePosition, SavePosition, CenterDialog); both store their main window under section
// "Lindavox", key "quillet_pos", so each program opens where either was last closed.
//
// Flags of the restore functions: the low 16 bits are SetWindowPos flags (SWP_NOZORDER is always
// added); the upper bits are the options below. A null window, section or key places and stores
// nothing (a null key would otherwise read the section's key list, and delete the section when
// written).
#ifndef LINDAVOX_PLACEMENT_WINDOW_POS_H
#define LINDAVOX_PLACEMENT_WINDOW_POS_H

#include <stdint.h>

#include "platform/export.h"

// The windows are the window framework's objects; C callers pass them through as opaque
// pointers.
#ifdef __cplusplus
class TWindow;
class TDialog;
#else
typedef struct TWindow TWindow;
typedef struct TDialog TDialog;
#endif

#define WPR_KEEPWIDTH 0x10000u    /* keep the window's current width */
#define WPR_SHOWDEFAULT 0x20000u  /* no stored state: show SW_SHOWDEFAULT */
#define WPR_CAPTIONSHIFT 0x40000u /* shift stored x and y by a caption height */
#define WPR_NOSHOWSTATE 0x80000u  /* never show after placing */

// Newer generation.
LV_API int32_t WindowPos_Restore(TWindow* window, const char* section, const char* key,
                                 int32_t defaultWidth, int32_t defaultHeight, uint32_t flags,
                                 int32_t minWidth, int32_t minHeight);
LV_API void WindowPos_Save(TWindow* window, const char* section, const char* key,
                           uint8_t withState);
LV_API int32_t WindowPos_Center(TDialog* dialog, uint8_t upperQuarter);
LV_API uint16_t GetStartState(uint16_t defaultShow, uint8_t secondArgument);

// Older generation.
LV_API int32_t RestorePosition(TWindow* window, const char* section, const char* key,
                               int32_t defaultWidth, int32_t defaultHeight, uint32_t flags);
LV_API int32_t SavePosition(TWindow* window, const char* section, const char* key);
LV_API int32_t CenterDialog(TDialog* dialog);

#endif
