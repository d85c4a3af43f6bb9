#include "ui/controls.h"

#include <algorithm>
#include <cstring>
#include <vector>

// ---------------------------------------------------------------------------------------------
// TControl

TControl::TControl(TWindow* parent, int resourceId, TModule* module)
    : TWindow(parent, nullptr, module) {
  attr_.Id = resourceId;
  attr_.Style = WS_CHILD | WS_VISIBLE;
}

void TControl::BindTemplate(const std::string& className, const std::string& text, uint32_t style,
                            const TRect& rect) {
  className_ = className;
  SetWindowText(text.c_str());
  attr_.Style = style | WS_CHILD;
  attr_.X = rect.left;
  attr_.Y = rect.top;
  attr_.W = rect.Width();
  attr_.H = rect.Height();
}

// ---------------------------------------------------------------------------------------------
// TCharSet and the validators

TCharSet::TCharSet(const char* pattern) {
  if (pattern == nullptr) return;
  const auto* p = reinterpret_cast<const unsigned char*>(pattern);
  while (*p != '\0') {
    if (p[1] == '-' && p[2] != '\0') {
      for (unsigned c = p[0]; c <= p[2]; ++c) bits_.set(c);
      p += 3;
    } else {
      bits_.set(*p);
      ++p;
    }
  }
}

bool TValidator::IsValidInput(char* /*text*/, bool /*suppressFill*/) { return true; }
bool TValidator::IsValid(const char* /*text*/) { return true; }
void TValidator::Error(TWindow* /*owner*/) {}

bool TFilterValidator::IsValidInput(char* text, bool /*suppressFill*/) { return IsValid(text); }

bool TFilterValidator::IsValid(const char* text) {
  if (text == nullptr) return true;
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    if (!allowed_.Has(*p)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// TEdit

DEFINE_RESPONSE_TABLE1(TEdit, TControl)
  EV_WM_CHAR(EvChar)
END_RESPONSE_TABLE;

TEdit::TEdit(TWindow* parent, int resourceId, unsigned textLimit, TModule* module)
    : TControl(parent, resourceId, module), textLimit_(textLimit) {}

TEdit::~TEdit() = default;

void TEdit::SetValidator(TValidator* validator) { validator_.reset(validator); }

void TEdit::GetSelection(int& start, int& end) const {
  start = end = 0;
  if (Peer() != nullptr) Peer()->GetSelection(&start, &end);
}

void TEdit::SetSelection(int start, int end) {
  if (Peer() == nullptr) return;
  // As EM_SETSEL: an end of -1 (or beyond the text) is the text's end; a start of -1 removes the
  // selection and leaves the caret where the selection ended. Peers get positions in range.
  int length = GetWindowTextLength();
  if (start < 0) {
    int current = 0;
    Peer()->GetSelection(&current, &end);
    start = end = std::clamp(end, 0, length);
  }
  if (end < 0 || end > length) end = length;
  start = std::min(start, length);
  Peer()->SetSelection(start, end);
}

bool TEdit::IsModified() const { return Peer() != nullptr && Peer()->IsModified(); }

void TEdit::ClearModify() { SetModify(false); }

void TEdit::SetModify(bool modified) {
  if (Peer() != nullptr) Peer()->SetModified(modified);
}

std::string TEdit::FittingPart(const std::string& text, size_t from, size_t to,
                               std::string inserted) const {
  const size_t kept = text.size() - (to - from);
  if (MaxLength() > 0)
    inserted.resize(std::min(inserted.size(), MaxLength() > kept ? MaxLength() - kept : 0));
  if ((attr_.Style & ES_AUTOHSCROLL) == 0 && Peer() != nullptr) {
    const std::string before = text.substr(0, from);
    const std::string after = text.substr(to);
    while (!inserted.empty() && !Peer()->TextFits(before + inserted + after)) inserted.pop_back();
  }
  return inserted;
}

void TEdit::TakeText(const std::string& text, int caret) {
  Peer()->SetText(text);
  Peer()->SetSelection(caret, caret);
  Peer()->SetModified(true);
}

void TEdit::Insert(const char* text) {
  if (Peer() == nullptr || text == nullptr) return;
  std::string current = GetText();
  int start = 0;
  int end = 0;
  GetSelection(start, end);
  size_t from =
      std::min<size_t>(static_cast<size_t>(std::max(0, std::min(start, end))), current.size());
  size_t to =
      std::min<size_t>(static_cast<size_t>(std::max(0, std::max(start, end))), current.size());
  std::string inserted = FittingPart(current, from, to, text);
  TakeText(current.substr(0, from) + inserted + current.substr(to),
           static_cast<int>(from + inserted.size()));
}

bool TEdit::ReplaceByUser(int from, int to, const std::string& inserted) {
  if (Peer() == nullptr) return false;
  const std::string current = GetText();
  size_t first = std::min(static_cast<size_t>(std::max(0, std::min(from, to))), current.size());
  size_t last = std::min(static_cast<size_t>(std::max(0, std::max(from, to))), current.size());
  std::string taken = FittingPart(current, first, last, inserted);
  std::string changed = current.substr(0, first) + taken + current.substr(last);
  int caret = static_cast<int>(first + taken.size());
  if (validator_) {
    std::vector<char> checked(changed.begin(), changed.end());
    checked.push_back('\0');
    if (!validator_->IsValidInput(checked.data(), false)) {
      MessageBeep();
      return false;
    }
    if (std::strcmp(checked.data(), changed.c_str()) != 0) {
      // The validator completed the input.
      changed = checked.data();
      caret = static_cast<int>(changed.size());
    }
  }
  if (taken.size() < inserted.size()) MessageBeep();
  if (changed == current) return false;
  TakeText(changed, caret);
  return true;
}

void TEdit::EvChar(unsigned key, unsigned /*repeatCount*/, unsigned /*flags*/) {
  if (!validator_ || key == 0x08 || Peer() == nullptr) {
    DefaultProcessing();
    return;
  }
  std::string before = GetText();
  int start = 0;
  int end = 0;
  GetSelection(start, end);
  bool wasModified = IsModified();
  DefaultProcessing();
  std::string after = GetText();
  if (after == before) return;
  std::vector<char> buffer(after.begin(), after.end());
  buffer.push_back('\0');
  bool appending = end == static_cast<int>(before.size());
  if (!validator_->IsValidInput(buffer.data(), !appending)) {
    Peer()->SetText(before);
    Peer()->SetSelection(start, end);
    Peer()->SetModified(wasModified);
  } else if (std::strcmp(buffer.data(), after.c_str()) != 0) {
    // The validator completed the input.
    Peer()->SetText(buffer.data());
    int caret = static_cast<int>(std::strlen(buffer.data()));
    Peer()->SetSelection(caret, caret);
    Peer()->SetModified(true);
  }
}

void TEdit::DefaultProcessing(TMessage& message) {
  if (message.message != WM_CHAR || Peer() == nullptr) {
    TControl::DefaultProcessing(message);
    return;
  }
  unsigned key = static_cast<unsigned>(message.wParam) & 0xFF;
  if (key == 0x08) {
    std::string text = GetText();
    int start = 0;
    int end = 0;
    GetSelection(start, end);
    if (start > end) std::swap(start, end);
    start = std::max(0, std::min(start, static_cast<int>(text.size())));
    end = std::max(0, std::min(end, static_cast<int>(text.size())));
    if (start == end) {
      if (start == 0) return;
      --start;
    }
    Peer()->SetText(text.substr(0, start) + text.substr(end));
    Peer()->SetSelection(start, start);
    Peer()->SetModified(true);
    return;
  }
  if (key < 0x20 || key == 0x7F) return;
  std::string text = GetText();
  int start = 0;
  int end = 0;
  GetSelection(start, end);
  if (start > end) std::swap(start, end);
  size_t from = std::min(static_cast<size_t>(std::max(0, start)), text.size());
  size_t to = std::min(static_cast<size_t>(std::max(0, end)), text.size());
  const std::string typed(1, static_cast<char>(key));
  if (FittingPart(text, from, to, typed).empty()) {
    MessageBeep();
    return;
  }
  Insert(typed.c_str());
}

// ---------------------------------------------------------------------------------------------
// TButton, TStatic, TComboBox

TButton::TButton(TWindow* parent, int resourceId, TModule* module)
    : TControl(parent, resourceId, module) {
  attr_.Style |= WS_TABSTOP;
}

TStatic::TStatic(TWindow* parent, int resourceId, unsigned /*textLimit*/, TModule* module)
    : TControl(parent, resourceId, module) {}

TComboBox::TComboBox(TWindow* parent, int resourceId, unsigned /*textLimit*/, TModule* module)
    : TControl(parent, resourceId, module) {}

int TComboBox::AddString(const char* text) {
  if (Peer() == nullptr) return -1;
  return Peer()->AddString(text != nullptr ? text : "");
}

void TComboBox::ClearList() {
  if (Peer() != nullptr) Peer()->ClearList();
}

int TComboBox::GetCount() const { return Peer() != nullptr ? Peer()->GetCount() : -1; }

int TComboBox::GetString(char* buffer, int index, int maxChars) const {
  if (buffer != nullptr && maxChars > 0) buffer[0] = '\0';
  if (Peer() == nullptr || index < 0 || index >= Peer()->GetCount()) return -1;
  std::string item = Peer()->GetString(index);
  if (buffer == nullptr || maxChars <= 0) return static_cast<int>(item.size());
  int copied = static_cast<int>(std::min<size_t>(item.size(), static_cast<size_t>(maxChars) - 1));
  std::memcpy(buffer, item.data(), copied);
  buffer[copied] = '\0';
  return copied;
}

int TComboBox::GetSelIndex() const { return Peer() != nullptr ? Peer()->GetSelIndex() : -1; }

int TComboBox::SetSelIndex(int index) {
  if (Peer() == nullptr) return -1;
  if (index >= Peer()->GetCount()) return -1;
  Peer()->SetSelIndex(index < 0 ? -1 : index);
  return index < 0 ? -1 : index;
}
