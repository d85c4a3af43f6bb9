// The resource library of the language selection: dialog template 3623 of SelectLanguageFile.
// Only constant data, so the library unloads cleanly when it is freed.
#include "lang/resource_library.h"

#include <iterator>

namespace {

// The window and control styles, with their Windows values.
constexpr uint32_t kPopup = 0x80000000u;
constexpr uint32_t kCaption = 0x00C00000u;
constexpr uint32_t kSysMenu = 0x00080000u;
constexpr uint32_t kVScroll = 0x00200000u;
constexpr uint32_t kTabStop = 0x00010000u;
constexpr uint32_t kModalFrame = 0x80u;
constexpr uint32_t kSetFont = 0x40u;
constexpr uint32_t kDefPushButton = 0x1u;
constexpr uint32_t kPushButton = 0x0u;
constexpr uint32_t kDropDownList = 0x3u;
constexpr uint32_t kLeftText = 0x0u;

constexpr int32_t kLanguageSelection = 3623;

// The list of languages across the top, the code page line under it, the buttons at the bottom
// right. The caption is the caller's; the button texts are the built-in German ones.
const LvDialogControlResource kLanguageSelectionControls[] = {
    {102, "COMBOBOX", "", kDropDownList | kVScroll | kTabStop, 7, 7, 172, 80},
    {103, "STATIC", "", kLeftText, 7, 26, 172, 8},
    {1, "BUTTON", "OK", kDefPushButton | kTabStop, 75, 46, 50, 14},
    {2, "BUTTON", "Abbrechen", kPushButton | kTabStop, 129, 46, 50, 14},
};

const LvDialogResource kLanguageSelectionDialog = {
    .id = kLanguageSelection,
    .style = kPopup | kCaption | kSysMenu | kModalFrame | kSetFont,
    .caption = "Sprache",
    .fontFace = "MS Sans Serif",
    .fontSize = 8,
    .x = 0,
    .y = 0,
    .w = 186,
    .h = 67,
    .controlCount = static_cast<int32_t>(std::size(kLanguageSelectionControls)),
    .controls = kLanguageSelectionControls,
};

}  // namespace

const LvDialogResource* LvResource_FindDialog(int32_t id) {
  return id == kLanguageSelection ? &kLanguageSelectionDialog : nullptr;
}
