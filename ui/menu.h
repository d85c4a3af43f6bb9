// Menus as data: items with a command id or a popup, addressed by command id or by position, as
// the Windows menu functions address them. A frame shows its menu as a menu bar through its
// backend peer; a frame whose module has no menu resource has none.
#ifndef LINDAVOX_UI_MENU_H
#define LINDAVOX_UI_MENU_H

#include <memory>
#include <string>
#include <vector>

// How a menu function finds its item.
inline constexpr unsigned MF_BYCOMMAND = 0x0000;
inline constexpr unsigned MF_BYPOSITION = 0x0400;
inline constexpr unsigned MF_STRING = 0x0000;
inline constexpr unsigned MF_POPUP = 0x0010;
inline constexpr unsigned MF_SEPARATOR = 0x0800;

class TMenu {
 public:
  struct Item {
    unsigned id = 0;   // command id; 0 for separators and popups
    std::string text;  // Windows-1252, with '&' before the mnemonic and "\t" before a key
    unsigned flags = MF_STRING;
    std::shared_ptr<TMenu> popup;
  };

  void AppendItem(unsigned id, const char* text);
  void AppendSeparator();
  // Appends a popup and returns it for filling.
  TMenu& AppendPopup(const char* text);

  int GetMenuItemCount() const { return static_cast<int>(items_.size()); }
  // The command id at `position`; -1 for a popup, 0 for a separator, -1 out of range.
  int GetMenuItemID(int position) const;
  TMenu* GetSubMenu(int position) const;
  // Copies the item's text (at most maxChars - 1 characters and a terminator); returns the
  // number of characters copied, 0 when there is no such item. A null buffer returns the
  // length. By command id the search descends into popups.
  int GetMenuString(unsigned item, char* buffer, int maxChars, unsigned flags) const;
  // Replaces the item's text (and, by position, its id); false when there is no such item.
  bool ModifyMenu(unsigned item, unsigned flags, unsigned newId, const char* text);

  const std::vector<Item>& Items() const { return items_; }

 private:
  const Item* Lookup(unsigned item, unsigned flags) const;

  std::vector<Item> items_;
};

#endif
