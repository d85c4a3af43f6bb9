#include "ui/menu.h"

#include <cstring>

void TMenu::AppendItem(unsigned id, const char* text) {
  items_.push_back({id, text != nullptr ? text : "", MF_STRING, nullptr});
}

void TMenu::AppendSeparator() { items_.push_back({0, "", MF_SEPARATOR, nullptr}); }

TMenu& TMenu::AppendPopup(const char* text) {
  items_.push_back({0, text != nullptr ? text : "", MF_POPUP, std::make_shared<TMenu>()});
  return *items_.back().popup;
}

int TMenu::GetMenuItemID(int position) const {
  if (position < 0 || position >= GetMenuItemCount()) return -1;
  const Item& item = items_[position];
  if (item.popup) return -1;
  return static_cast<int>(item.id);
}

TMenu* TMenu::GetSubMenu(int position) const {
  if (position < 0 || position >= GetMenuItemCount()) return nullptr;
  return items_[position].popup.get();
}

const TMenu::Item* TMenu::Lookup(unsigned item, unsigned flags) const {
  if ((flags & MF_BYPOSITION) != 0) {
    return item < items_.size() ? &items_[item] : nullptr;
  }
  for (const Item& candidate : items_) {
    if (candidate.popup) {
      if (const Item* inner = candidate.popup->Lookup(item, flags)) return inner;
    } else if ((candidate.flags & MF_SEPARATOR) == 0 && candidate.id == item) {
      return &candidate;
    }
  }
  return nullptr;
}

int TMenu::GetMenuString(unsigned item, char* buffer, int maxChars, unsigned flags) const {
  const Item* found = Lookup(item, flags);
  if (buffer != nullptr && maxChars > 0) buffer[0] = '\0';
  if (found == nullptr) return 0;
  int length = static_cast<int>(found->text.size());
  if (buffer == nullptr) return length;
  if (maxChars <= 0) return 0;
  int copied = length < maxChars - 1 ? length : maxChars - 1;
  std::memcpy(buffer, found->text.data(), copied);
  buffer[copied] = '\0';
  return copied;
}

bool TMenu::ModifyMenu(unsigned item, unsigned flags, unsigned newId, const char* text) {
  Item* found = const_cast<Item*>(Lookup(item, flags));
  if (found == nullptr) return false;
  found->text = text != nullptr ? text : "";
  if (!found->popup && (flags & MF_BYPOSITION) != 0) found->id = newId;
  return true;
}
