// The locale comparison of Windows-1252 text, as lstrcmpA orders it on the ANSI code page 1252
// ("word sort"). Texts are compared level by level:
//   1. letters, digits and symbols, ignoring hyphens and apostrophes: symbols sort before
//      digits and digits before letters; an accented letter sorts with its base letter, and
//      æ, œ and ß sort as ae, oe and ss;
//   2. accents (a < á < ä);
//   3. case, lower before upper (a < A < b < B);
//   4. the hyphens and apostrophes left out at first (coop < co-op, a < a-);
//   5. the bytes themselves, so only equal texts compare equal.
#ifndef LINDAVOX_PLATFORM_ANSI_COLLATE_H
#define LINDAVOX_PLATFORM_ANSI_COLLATE_H

#include <string_view>

namespace platform {

// -1, 0 or +1 as `a` sorts before, equal to, or after `b`.
int AnsiCollate(std::string_view a, std::string_view b);

}  // namespace platform

#endif
