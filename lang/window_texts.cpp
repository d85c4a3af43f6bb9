// LSWW, LSM and LSMP: the window half of the language lookup, on the framework's windows and
// menus.
#include "lang/window_texts.h"

#include <optional>
#include <string>

#include "lang/lang_internal.h"
#include "platform/c_boundary.h"
#include "ui/menu.h"
#include "ui/window.h"

namespace lang {
namespace {

// Gives the item addressed by `item` and `by` (MF_BYCOMMAND or MF_BYPOSITION) its translated
// text. `keepId` is the item's own identifier, which a change by position would otherwise
// replace.
void TranslateItem(int32_t section, TMenu& menu, unsigned item, unsigned by, unsigned keepId,
                   int32_t id) {
  char text[kMaxMenuText + 1];
  menu.GetMenuString(item, text, sizeof text, by);
  if (std::optional<std::string> translated = TranslateMenuText(section, id, text)) {
    menu.ModifyMenu(item, by | MF_STRING, keepId, translated->c_str());
  }
}

}  // namespace
}  // namespace lang

uint8_t LSWW(TWindow* window, int32_t section, int32_t id, int32_t slot, int32_t colonMode,
             uint8_t stripAmpersand) {
  if (window == nullptr) return 1;
  return platform::CallNoThrow<uint8_t>(1, [&]() -> uint8_t {
    const std::string current = window->GetText();
    if (std::optional<std::string> caption = lang::TranslateWindowText(
            section, id, current, slot, colonMode, stripAmpersand != 0 ? 1 : 0)) {
      window->SetCaption(caption->c_str());
    }
    return 1;
  });
}

uint8_t LSM(int32_t section, TMenu* menu, uint32_t command, int32_t id) {
  if (menu == nullptr) return 1;
  return platform::CallNoThrow<uint8_t>(1, [&]() -> uint8_t {
    // By command the item keeps its id anyway; a missing item is not changed.
    lang::TranslateItem(section, *menu, command, MF_BYCOMMAND, command, id);
    return 1;
  });
}

uint8_t LSMP(int32_t section, TMenu* menu, int32_t position, int32_t id) {
  if (menu == nullptr || position < 0 || position >= menu->GetMenuItemCount()) return 1;
  const TMenu::Item& item = menu->Items()[static_cast<size_t>(position)];
  if ((item.flags & MF_SEPARATOR) != 0) return 1;
  const unsigned keepId = item.id;
  return platform::CallNoThrow<uint8_t>(1, [&]() -> uint8_t {
    lang::TranslateItem(section, *menu, static_cast<unsigned>(position), MF_BYPOSITION, keepId, id);
    return 1;
  });
}
