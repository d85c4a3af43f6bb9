// The C++ side of the language text lookup: the section table, the text rules LSS applies, and
// the text-producing core of the functions that translate windows and menus. The window half
// of the language module (above ui/) reads a window's or menu item's text, passes it here, and
// sets the result; this half never sees a window.
#ifndef LINDAVOX_LANG_LANG_INTERNAL_H
#define LINDAVOX_LANG_LANG_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lang {

inline constexpr int32_t kSectionCount = 52;
// Longest text a lookup gives (the result buffers hold this plus the terminator).
inline constexpr size_t kMaxText = 511;
// A window's text and a menu item's text are cut to these lengths when they are read.
inline constexpr size_t kMaxWindowText = 999;
inline constexpr size_t kMaxMenuText = 259;

// `directory` (a prefix ending with '/', or "" for the current directory) followed by `name`.
// A path without any separator is given a "./", so the profile functions read the file in
// the current directory and not the configuration directory's file of that name.
std::string FileInDirectory(std::string_view directory, std::string_view name);

// True when `name` can name a file on every system the language files are shared with: not
// empty, and none of the characters Windows refuses in file names (control characters and
// < > : " / \ | ? *). So "<deutsch>" never names a language file, and no name reaches out of
// the program's folder.
bool CanNameFile(std::string_view name);

// The language file section of `index`, or null outside 0..kSectionCount-1.
const char* SectionName(int32_t index);

// The text rules of LSS, each in place on a terminated text of at most kMaxText characters.
void UndoEscapes(char* text);
void ApplyColonMode(char* text, int32_t colonMode);
void StripFirstAmpersand(char* text);

// The caption LSWW gives a window whose current text is `windowText` (cut to kMaxWindowText
// first), looked up as LSS does with the given arguments; nullopt while lookup is inactive (the
// window keeps its text) or when no memory is left. Uses and overwrites the slot's buffer.
std::optional<std::string> TranslateWindowText(int32_t section, int32_t id,
                                               std::string_view windowText, int32_t slot,
                                               int32_t colonMode, int32_t stripAmpersand) noexcept;

// The text LSM and LSMP give a menu item whose current text is `itemText` (cut to
// kMaxMenuText first): LSS with slot 1, colon mode -1 and no ampersand removal; nullopt while
// lookup is inactive or when no memory is left. Overwrites the shared buffer.
std::optional<std::string> TranslateMenuText(int32_t section, int32_t id,
                                             std::string_view itemText) noexcept;

}  // namespace lang

#endif
