// Message boxes for library code that must show a message (a "show errors" flag).
//
// Library code never opens a window itself: it calls ShowMessageBox, and the window framework
// layer installs a hook at start that shows a real, modal box. Without a hook (a program or a
// test without a user interface) the message goes to standard error as "caption: text" and the
// call answers IDOK.
#ifndef LINDAVOX_PLATFORM_MESSAGE_BOX_H
#define LINDAVOX_PLATFORM_MESSAGE_BOX_H

namespace platform {

// The icons library code asks for (MB_ICONHAND, MB_ICONINFORMATION); the button is always OK.
inline constexpr unsigned kMessageIconStop = 0x10;
inline constexpr unsigned kMessageIconInformation = 0x40;

// text and caption are Windows-1252; type holds the MB_* button and icon bits. Returns the
// button chosen (IDOK = 1, IDCANCEL = 2, ...).
using MessageBoxHook = int (*)(const char* text, const char* caption, unsigned type);

// Installs `hook` (null: back to standard error); returns the previous one.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);
int ShowMessageBox(const char* text, const char* caption, unsigned type);

}  // namespace platform

#endif
