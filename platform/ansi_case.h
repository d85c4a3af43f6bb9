// Letter case of Windows-1252 text, as CharUpperA and CharLowerA have it on the ANSI code page
// 1252: a-z and the accented letters 0xE0-0xFE (without 0xF7) pair with their capitals, and
// š/Š, œ/Œ, ž/Ž, ÿ/Ÿ pair across the 0x80-0x9F block. ß, µ and ƒ have no capital here.
#ifndef LINDAVOX_PLATFORM_ANSI_CASE_H
#define LINDAVOX_PLATFORM_ANSI_CASE_H

#include <string_view>

namespace platform {

unsigned char AnsiUpper(unsigned char c);
unsigned char AnsiLower(unsigned char c);
// True when the texts are the same letters regardless of case.
bool AnsiEqualIgnoreCase(std::string_view a, std::string_view b);

}  // namespace platform

#endif
