// Child windows: the client panel of a dialog, edit, button, static text, drop-down list and
// the frame's status bar. Each sits at exactly the pixel rectangle the framework gives it and
// shows its dialog's font.
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>

#include <dlfcn.h>

#include <algorithm>
#include <string>
#include <utility>

#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/wx/typed_key.h"
#include "ui/wx/wx_internal.h"

namespace ui::wxb {
namespace {

wxPoint Position(const TWindowAttr& attr) { return wxPoint(attr.X, attr.Y); }
wxSize Size(const TWindowAttr& attr) { return wxSize(std::max(1, attr.W), std::max(1, attr.H)); }

// The dialog font on a control of a dialog (controls do not take it from their parent).
void ApplyDialogFont(WxBackend& backend, TWindow* window, wxWindow* widget) {
  if (const wxFont* font = backend.FontFor(window)) widget->SetFont(*font);
}

// A dialog that is the child of another window: the client of a frame (laid out over the
// frame's client area above the status bar, by the frame) or a panel at its own rectangle.
class PanelPeer final : public WxPeer {
 public:
  PanelPeer(WxBackend& backend, TWindow* window, WxPeer* parent)
      : WxPeer(backend, window, PeerKind::kDialog, window->Attr().Style), text_(window->GetText()) {
    wxWindow* container = parent->Widget();
    auto* panel = new wxPanel(container, wxID_ANY, Position(window->Attr()), Size(window->Attr()),
                              wxTAB_TRAVERSAL | wxBORDER_NONE);
    Attach(panel);
    ApplyDialogFont(backend, window, panel);
    if (wxDynamicCast(container, wxFrame) != nullptr) {
      // wxFrame keeps its only client child sized to its client area from now on.
      panel->SetSize(wxRect(wxPoint(0, 0), container->GetClientSize()));
    }
    panel->Show((CreationStyle() & WS_VISIBLE) != 0);
  }

  void SetText(const std::string& text) override { text_ = text; }
  std::string GetText() const override { return text_; }

 private:
  std::string text_;  // a panel shows no text, but the framework may keep one
};

// The part of an edit's text that a change replaced: the characters [from, to) of the old text
// became `inserted`.
struct TextChange {
  size_t from;
  size_t to;
  std::string inserted;
};

// How `before` became `after`. When the selection the user had (`selection`) explains the
// change, that is it (a paste over it, a drop into it); otherwise the one stretch between the
// longest common start and the longest common end.
TextChange ChangeBetween(const std::string& before, const std::string& after,
                         std::pair<size_t, size_t> selection) {
  auto [from, to] = selection;
  if (from <= to && to <= before.size() && after.size() + (to - from) >= before.size() &&
      after.compare(0, from, before, 0, from) == 0 &&
      after.compare(after.size() - (before.size() - to), std::string::npos, before, to) == 0) {
    return TextChange{from, to, after.substr(from, after.size() - (before.size() - (to - from)))};
  }
  size_t common = 0;
  while (common < before.size() && common < after.size() && before[common] == after[common]) {
    ++common;
  }
  size_t tail = 0;
  while (tail < before.size() - common && tail < after.size() - common &&
         before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) {
    ++tail;
  }
  return TextChange{common, before.size() - tail,
                    after.substr(common, after.size() - tail - common)};
}

// The width GTK gives an entry's text, looked up at run time like the other GTK functions
// the backend uses, so no GTK header is needed; -1 when the toolkit has no such function.
int EntryTextAreaWidth(wxTextCtrl* edit) {
  struct GdkRectangle {
    int x, y, width, height;
  };
  using GetTextArea = void (*)(void*, GdkRectangle*);
  static const auto getTextArea =
      reinterpret_cast<GetTextArea>(::dlsym(RTLD_DEFAULT, "gtk_entry_get_text_area"));
  if (getTextArea == nullptr || edit->GetHandle() == nullptr) return -1;
  GdkRectangle area{};
  getTextArea(edit->GetHandle(), &area);
  return area.width;
}

// A single-line edit. Typed characters do not reach the toolkit: the frame's key hook hands
// them to TakeTypedKey, which sends WM_CHAR to the framework, and the framework applies the
// key through SetText, SetSelection and SetModified. Every other change of the text (a paste
// from the clipboard or the primary selection, a drop, input methods and dead keys, Delete,
// cut) is taken back as soon as the toolkit reports it and handed to the framework as
// TEdit::ReplaceByUser, which applies it the same way, shortened to fit, or refuses it.
// (GTK reports such a change once, even a paste over a selection.)
class EditPeer final : public WxPeer {
 public:
  EditPeer(WxBackend& backend, TWindow* window, WxPeer* parent)
      : WxPeer(backend, window, PeerKind::kEdit, window->Attr().Style) {
    long style = (CreationStyle() & WS_BORDER) != 0 ? wxBORDER_DEFAULT : wxBORDER_NONE;
    edit_ = new wxTextCtrl(parent->Widget(), wxID_ANY, ToWx(window->GetText()),
                           Position(window->Attr()), Size(window->Attr()), style);
    Attach(edit_);
    ApplyDialogFont(backend, window, edit_);
    edit_->SetInsertionPoint(0);
    shown_ = GetText();
    Listen(edit_, wxEVT_TEXT);
    // Mouse buttons may paste (middle), start a drag or open the menu with "Paste" (right).
    Listen(edit_, wxEVT_LEFT_DOWN);
    Listen(edit_, wxEVT_MIDDLE_DOWN);
    Listen(edit_, wxEVT_RIGHT_DOWN);
  }

  void SetText(const std::string& text) override {
    if (text == GetText()) return;
    Show(text, 0, 0);
    modified_ = false;
    NotifyParent(EN_CHANGE);
  }
  std::string GetText() const override { return FromWx(edit_->GetValue()); }

  void GetSelection(int* start, int* end) const override {
    long from = 0;
    long to = 0;
    edit_->GetSelection(&from, &to);
    *start = static_cast<int>(from);
    *end = static_cast<int>(to);
  }
  // As the edit control does: a start of -1 removes the selection (the caret stays at its
  // end), an end of -1 or beyond the text means the end of the text.
  void SetSelection(int start, int end) override {
    int length = static_cast<int>(edit_->GetLastPosition());
    if (start < 0) {
      int current = 0;
      int caret = 0;
      GetSelection(&current, &caret);
      start = end = std::min(caret, length);
    }
    if (end < 0 || end > length) end = length;
    start = std::min(start, length);
    Select(start, end);
  }
  bool IsModified() const override { return modified_; }
  void SetModified(bool modified) override { modified_ = modified; }

  // The whole text and the caret after it within the width GTK leaves for the text.
  bool TextFits(const std::string& text) const override {
    // Before GTK has laid the edit out on the screen it has no width to measure against.
    if (!edit_->IsShownOnScreen()) return true;
    int area = EntryTextAreaWidth(edit_);
    if (area < 0) area = edit_->GetClientSize().x;
    return edit_->GetTextExtent(ToWx(text)).x + kCaretWidth <= area;
  }

  bool TakeTypedKey(const wxKeyEvent& key) override {
    // Shortcuts (Ctrl+C, Alt+letter, ...) stay with the toolkit; AltGr is no such modifier.
    if ((key.GetModifiers() & (wxMOD_CONTROL | wxMOD_ALT | wxMOD_META)) != 0) return false;
    int byte = TypedCp1252Byte(key.GetRawKeyCode());
    if (byte == kNotTyping) return false;
    if (byte == kUnrepresentable) return true;
    TMessage message{WM_CHAR};
    message.wParam = static_cast<unsigned char>(byte);
    Deliver(Window(), message);
    return true;
  }

  void BeforeKey() override { NoteSelection(); }

 private:
  static constexpr int kCaretWidth = 1;

  void OnWidgetEvent(wxEvent& event) override {
    if (event.GetEventType() != wxEVT_TEXT) {
      NoteSelection();  // a mouse button: the toolkit acts on it next
      event.Skip();
      return;
    }
    if (settingText_) return;
    const std::string changed = GetText();
    if (changed == shown_) return;
    TextChange change = ChangeBetween(shown_, changed, selection_);
    // Back to the text the framework knows; the framework decides what becomes of the change.
    Show(shown_, static_cast<int>(selection_.first), static_cast<int>(selection_.second));
    if (auto* edit = dynamic_cast<TEdit*>(Window())) {
      edit->ReplaceByUser(static_cast<int>(change.from), static_cast<int>(change.to),
                          change.inserted);
    }
  }

  // Puts `text` in without telling anyone and selects [start, end).
  void Show(const std::string& text, int start, int end) {
    settingText_ = true;
    edit_->ChangeValue(ToWx(text));
    settingText_ = false;
    shown_ = GetText();
    int length = static_cast<int>(edit_->GetLastPosition());
    Select(std::min(start, length), std::min(end, length));
  }

  void Select(int start, int end) {
    if (start == end) {
      edit_->SetInsertionPoint(start);
    } else {
      edit_->SetSelection(start, end);
    }
    selection_ = {static_cast<size_t>(start), static_cast<size_t>(end)};
  }

  // The selection as the user leaves it before a key or a mouse button may change the text.
  void NoteSelection() {
    int start = 0;
    int end = 0;
    GetSelection(&start, &end);
    selection_ = {static_cast<size_t>(std::min(start, end)),
                  static_cast<size_t>(std::max(start, end))};
  }

  wxTextCtrl* edit_;
  std::string shown_;                          // the text as the framework last saw it
  std::pair<size_t, size_t> selection_{0, 0};  // the selection before the change at hand
  bool modified_ = false;
  bool settingText_ = false;  // the peer itself is changing the text
};

// A push button; BS_DEFPUSHBUTTON makes it the default button of its window.
class ButtonPeer final : public WxPeer {
 public:
  ButtonPeer(WxBackend& backend, TWindow* window, WxPeer* parent)
      : WxPeer(backend, window, PeerKind::kButton, window->Attr().Style) {
    auto* button = new wxButton(parent->Widget(), wxID_ANY, ToWx(window->GetText()),
                                Position(window->Attr()), Size(window->Attr()));
    Attach(button);
    ApplyDialogFont(backend, window, button);
    if ((CreationStyle() & 0xF) == BS_DEFPUSHBUTTON) button->SetDefault();
    Listen(button, wxEVT_BUTTON);
  }

 private:
  void OnWidgetEvent(wxEvent& event) override {
    if (event.GetEventType() == wxEVT_BUTTON) NotifyParent(BN_CLICKED);
  }
};

class StaticPeer final : public WxPeer {
 public:
  StaticPeer(WxBackend& backend, TWindow* window, WxPeer* parent)
      : WxPeer(backend, window, PeerKind::kStatic, window->Attr().Style) {
    long align = wxALIGN_LEFT;
    if ((CreationStyle() & 0x3) == SS_RIGHT) align = wxALIGN_RIGHT;
    if ((CreationStyle() & 0x3) == 0x1) align = wxALIGN_CENTRE_HORIZONTAL;  // SS_CENTER
    auto* label = new wxStaticText(parent->Widget(), wxID_ANY, ToWx(window->GetText()),
                                   Position(window->Attr()), Size(window->Attr()),
                                   align | wxST_NO_AUTORESIZE);
    Attach(label);
    ApplyDialogFont(backend, window, label);
  }
};

// A read-only drop-down list. The template's height includes the dropped list; the closed box
// is as high as the toolkit needs for one line of the dialog's font (at least one text line,
// at most the template's height), and that is the height the framework reads back, as it reads
// back the closed height on Windows.
class ComboPeer final : public WxPeer {
 public:
  ComboPeer(WxBackend& backend, TWindow* window, WxPeer* parent)
      : WxPeer(backend, window, PeerKind::kComboBox, window->Attr().Style) {
    long style = (CreationStyle() & CBS_SORT) != 0 ? wxCB_SORT : 0;
    const TWindowAttr& attr = window->Attr();
    choice_ =
        new wxChoice(parent->Widget(), wxID_ANY, Position(attr), wxDefaultSize, 0, nullptr, style);
    Attach(choice_);
    ApplyDialogFont(backend, window, choice_);
    SetBounds(TRect{attr.X, attr.Y, attr.X + attr.W, attr.Y + attr.H});
    Listen(choice_, wxEVT_CHOICE);
  }

  void SetBounds(const TRect& bounds) override {
    choice_->SetSize(bounds.left, bounds.top, std::max(1, bounds.Width()),
                     ClosedHeight(bounds.Height()), wxSIZE_ALLOW_MINUS_ONE);
  }
  // The text of a drop-down list is its selected item; setting a text selects the item of
  // exactly that text, when there is one.
  std::string GetText() const override {
    int index = choice_->GetSelection();
    return index != wxNOT_FOUND ? FromWx(choice_->GetString(index)) : std::string();
  }
  void SetText(const std::string& text) override {
    int index = choice_->FindString(ToWx(text), true);
    if (index != wxNOT_FOUND) choice_->SetSelection(index);
  }

  int AddString(const std::string& text) override { return choice_->Append(ToWx(text)); }
  void ClearList() override { choice_->Clear(); }
  int GetCount() const override { return static_cast<int>(choice_->GetCount()); }
  std::string GetString(int index) const override {
    if (index < 0 || index >= GetCount()) return std::string();
    return FromWx(choice_->GetString(index));
  }
  int GetSelIndex() const override { return choice_->GetSelection(); }
  void SetSelIndex(int index) override {
    choice_->SetSelection(index >= 0 && index < GetCount() ? index : wxNOT_FOUND);
  }

 private:
  void OnWidgetEvent(wxEvent& event) override {
    if (event.GetEventType() == wxEVT_CHOICE) NotifyParent(CBN_SELCHANGE);
  }

  int ClosedHeight(int templateHeight) const {
    int line = 0;
    auto* dialog = dynamic_cast<TDialog*>(Window()->GetParent());
    if (dialog != nullptr && dialog->Template() != nullptr) {
      // The 12 dialog units of a one-line field.
      const DialogTemplate& layout = *dialog->Template();
      line = MulDiv(12, Backend().DialogBaseUnits(layout.fontFace, layout.fontSize).cy, 8);
    }
    int needed = std::max(line, choice_->GetBestSize().y);
    return std::max(1, std::min(templateHeight, needed));
  }

  wxChoice* choice_;
};

// The status bar of a frame, along its bottom edge. The frame lays it out; its height is the
// real height of a status bar, which SM_CYCAPTION never falls below. Attaching and removing it
// keeps the frame's outer rectangle, as adding a decoration does on Windows.
class StatusBarPeer final : public WxPeer {
 public:
  StatusBarPeer(WxBackend& backend, TWindow* window, WxPeer* parent, wxFrame* frame)
      : WxPeer(backend, window, PeerKind::kStatusBar, window->Attr().Style),
        frame_(frame),
        parent_(parent) {
    TRect outer = parent_->GetBounds();
    long style = wxSTB_SHOW_TIPS | wxSTB_ELLIPSIZE_END | wxFULL_REPAINT_ON_RESIZE;
    if (frame->HasFlag(wxRESIZE_BORDER)) style |= wxSTB_SIZEGRIP;
    bar_ = new wxStatusBar(frame, wxID_ANY, style);
    Attach(bar_);
    const int fieldStyle = FieldStyle(window);
    bar_->SetStatusStyles(1, &fieldStyle);
    frame->SetStatusBar(bar_);
    bar_->SetStatusText(ToWx(window->GetText()));
    bar_->Show((CreationStyle() & WS_VISIBLE) != 0);
    parent_->SetBounds(outer);
  }
  ~StatusBarPeer() override {
    if (Widget() == nullptr || frame_.get() == nullptr) return;
    TRect outer = parent_->GetBounds();
    frame_->SetStatusBar(nullptr);
    bar_->Hide();
    parent_->SetBounds(outer);
  }

  // In the frame's client area, below the part wxWidgets calls the client area.
  TRect GetBounds() const override {
    if (frame_.get() == nullptr) return TRect{};
    wxSize above = frame_->GetClientSize();
    int height = bar_->IsShown() ? bar_->GetSize().y : 0;
    return TRect{0, above.y, above.x, above.y + height};
  }
  // The frame places its status bar; a rectangle from the framework does not move it.
  void SetBounds(const TRect& /*bounds*/) override {}
  TSize GetClientSize() const override {
    TRect bounds = GetBounds();
    return TSize{bounds.Width(), bounds.Height()};
  }
  void Show(int command) override {
    if (frame_.get() == nullptr) return;
    TRect outer = parent_->GetBounds();
    bar_->Show(command != SW_HIDE);
    frame_->SendSizeEvent();
    parent_->SetBounds(outer);
  }
  void SetText(const std::string& text) override { bar_->SetStatusText(ToWx(text)); }
  std::string GetText() const override { return FromWx(bar_->GetStatusText()); }

 private:
  // The border of the bar's one field, from the gadget border style.
  static int FieldStyle(TWindow* window) {
    auto* bar = dynamic_cast<TStatusBar*>(window);
    switch (bar != nullptr ? bar->BorderStyle() : TGadget::Recessed) {
      case TGadget::Raised:
      case TGadget::Embossed:
        return wxSB_RAISED;
      case TGadget::None:
      case TGadget::Plain:
        return wxSB_FLAT;
      case TGadget::Recessed:
      default:
        return wxSB_SUNKEN;
    }
  }

  wxWeakRef<wxFrame> frame_;
  WxPeer* parent_;  // the frame's peer, which outlives this one
  wxStatusBar* bar_;
};

}  // namespace

std::unique_ptr<WxPeer> CreatePanelPeer(WxBackend& backend, TWindow* window, WxPeer* parent) {
  return std::make_unique<PanelPeer>(backend, window, parent);
}

std::unique_ptr<WxPeer> CreateControlPeer(WxBackend& backend, TWindow* window, PeerKind kind,
                                          WxPeer* parent) {
  // A control lives inside a window; without one there is nothing to create it in.
  if (parent == nullptr || parent->Widget() == nullptr) return nullptr;
  std::unique_ptr<WxPeer> peer;
  switch (kind) {
    case PeerKind::kEdit:
      peer = std::make_unique<EditPeer>(backend, window, parent);
      break;
    case PeerKind::kButton:
      peer = std::make_unique<ButtonPeer>(backend, window, parent);
      break;
    case PeerKind::kStatic:
      peer = std::make_unique<StaticPeer>(backend, window, parent);
      break;
    case PeerKind::kComboBox:
      peer = std::make_unique<ComboPeer>(backend, window, parent);
      break;
    default:
      return nullptr;
  }
  // Controls of a dialog template are visible unless the program hides them, as a resource
  // compiler makes them.
  peer->Widget()->Show();
  return peer;
}

std::unique_ptr<WxPeer> CreateStatusBarPeer(WxBackend& backend, TWindow* window, WxPeer* parent) {
  if (parent == nullptr) return nullptr;
  auto* frame = wxDynamicCast(parent->Widget(), wxFrame);
  if (frame == nullptr) return nullptr;
  return std::make_unique<StatusBarPeer>(backend, window, parent, frame);
}

}  // namespace ui::wxb
