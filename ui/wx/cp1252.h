// Windows-1252 <-> Unicode, for the one place where the system's texts meet a UTF-8 toolkit.
//
// Every text of the system is Windows-1252 bytes; the wxWidgets backend converts at the widget
// boundary and nowhere else. The table is exact, including 0x80-0x9F. The five bytes Windows
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control characters of the same
// value, as Windows' own conversion does, so that every byte survives a round trip. Characters
// that Windows-1252 lacks, and malformed UTF-8, become '?'.
#ifndef LINDAVOX_UI_WX_CP1252_H
#define LINDAVOX_UI_WX_CP1252_H

#include <string>
#include <string_view>

namespace ui::cp1252 {

// The character of one Windows-1252 byte.
char32_t ToCodePoint(unsigned char byte);
// The Windows-1252 byte of a character; -1 when the code page has none.
int FromCodePoint(char32_t character);

std::string ToUtf8(std::string_view text);
// Each malformed or unrepresentable character becomes one '?'.
std::string FromUtf8(std::string_view utf8);

}  // namespace ui::cp1252

#endif
