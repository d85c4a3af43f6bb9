// What a key press types into an edit control, decided from the X keysym of the key.
//
// The backend takes typed characters away from the toolkit and hands them to the framework as
// WM_CHAR with a Windows-1252 byte, so that validators see every character before it lands.
// It needs to know, for any key, whether it types a character and which one. The keysym is the
// key as the keyboard layout and the modifiers (Shift, Caps Lock, AltGr) made it, so it already
// tells 'a' from 'A' and '1' from '!'.
#ifndef LINDAVOX_UI_WX_TYPED_KEY_H
#define LINDAVOX_UI_WX_TYPED_KEY_H

#include <cstdint>

namespace ui {

// What the key types: 0 for keys that type nothing (cursor and function keys, Tab, Enter,
// Delete, modifiers, dead keys), 0x08 for Backspace, else the character. Character keys whose
// character this table does not know (legacy keysyms of other scripts) give U+FFFD, which no
// Windows-1252 byte has, so they are dropped rather than left to the toolkit.
char32_t TypedCharacter(uint32_t keysym);

// The WM_CHAR byte of a key press: the Windows-1252 byte of TypedCharacter (0x08 for
// Backspace), -1 when the key types nothing (the toolkit handles it), -2 when it types a
// character the code page lacks (the key is swallowed).
inline constexpr int kNotTyping = -1;
inline constexpr int kUnrepresentable = -2;
int TypedCp1252Byte(uint32_t keysym);

}  // namespace ui

#endif
