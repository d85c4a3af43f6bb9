// Internal helpers of window placement, for the tests.
#ifndef LINDAVOX_PLACEMENT_WINDOW_POS_INTERNAL_H
#define LINDAVOX_PLACEMENT_WINDOW_POS_INTERNAL_H

#include <cstdint>
#include <optional>

namespace placement {

// The show command a start-up request turns into: none known gives `defaultShow`; a maximise
// request gives SW_SHOWNORMAL when `demote` is set, else SW_SHOWMAXIMIZED; a minimise-without-
// activation request gives SW_HIDE when `demote` is set, else SW_SHOWMINIMIZED; any other
// request gives `defaultShow`.
uint16_t StartStateFor(std::optional<uint16_t> requested, uint16_t defaultShow, bool demote);

}  // namespace placement

#endif
