// Controls of the dialogs: edit, button, static text, combo box, and validators.
//
// A control constructed with (parent, id) is bound to the control of that id in the parent
// dialog's template; it takes its class, text, style and rectangle from there.
#ifndef LINDAVOX_UI_CONTROLS_H
#define LINDAVOX_UI_CONTROLS_H

#include <bitset>
#include <memory>
#include <string>

#include "ui/window.h"

class TControl : public TWindow {
 public:
  TControl(TWindow* parent, int resourceId, TModule* module = nullptr);
  int GetId() const { return attr_.Id; }
  // The template's class name ("EDIT", "BUTTON", ...), once bound.
  const std::string& ClassName() const { return className_; }
  // Called by the dialog before Create: the control's class, text, style and pixel rectangle
  // from the template.
  void BindTemplate(const std::string& className, const std::string& text, uint32_t style,
                    const TRect& rect);

 private:
  std::string className_;
};

// The set of characters a filter allows, written like "0-9" or "A-Za-z_": single characters
// and ranges of Windows-1252 bytes.
class TCharSet {
 public:
  TCharSet() = default;
  explicit TCharSet(const char* pattern);
  bool Has(unsigned char c) const { return bits_[c]; }

 private:
  std::bitset<256> bits_;
};

class TValidator {
 public:
  virtual ~TValidator() = default;
  // Whether `text` may stand in the control while the user types (the framework calls it with
  // the text as it would be after a key).
  virtual bool IsValidInput(char* text, bool suppressFill);
  // Whether `text` is acceptable as a whole.
  virtual bool IsValid(const char* text);
  // Tells the user that the input is not valid; the base does nothing.
  virtual void Error(TWindow* owner);
};

// Accepts only texts whose every character is in the set.
class TFilterValidator : public TValidator {
 public:
  explicit TFilterValidator(const TCharSet& allowed) : allowed_(allowed) {}
  bool IsValidInput(char* text, bool suppressFill) override;
  bool IsValid(const char* text) override;

 private:
  TCharSet allowed_;
};

class TEdit : public TControl {
 public:
  // textLimit 0: no limit.
  TEdit(TWindow* parent, int resourceId, unsigned textLimit = 0, TModule* module = nullptr);
  ~TEdit() override;

  // Takes ownership; replaces the previous validator.
  void SetValidator(TValidator* validator);
  TValidator* GetValidator() const { return validator_.get(); }

  using TWindow::DefaultProcessing;
  using TWindow::GetText;
  int GetText(char* buffer, int maxChars) const { return GetWindowText(buffer, maxChars); }
  void SetText(const char* text) { SetWindowText(text); }
  void GetSelection(int& start, int& end) const;
  // An end of -1 means the text's end; a start of -1 removes the selection.
  void SetSelection(int start, int end);
  bool IsModified() const;
  void ClearModify();
  void SetModify(bool modified);
  // Replaces the selection with `text` (at the caret when nothing is selected), as much of it
  // as fits (see FittingPart); the caret ends after the inserted text.
  void Insert(const char* text);
  // A change of the text that does not come through a typed character: a paste from the
  // clipboard or the primary selection, a drop, an input method's or a dead key's text, Delete
  // or Cut. The backend reports it as `inserted` replacing the characters from `from` to `to`.
  // The control takes as much of `inserted` as fits, then asks the validator about the whole
  // new text: a text it refuses is not taken at all, the control beeps and keeps its text,
  // selection and modify flag. A cut insertion beeps too. Returns whether the text changed.
  bool ReplaceByUser(int from, int to, const std::string& inserted);
  // The most characters the control takes (textLimit - 1), 0 for no limit.
  unsigned MaxLength() const { return textLimit_ > 0 ? textLimit_ - 1 : 0; }

 protected:
  ui::PeerKind Kind() const override { return ui::PeerKind::kEdit; }
  // A typed character. Without a validator (and for backspace) the default processing; with
  // one, the default processing first and then the validator's check of the new text: a text
  // it refuses is put back as it was, with the old selection and modify flag, so the key has
  // no effect.
  void EvChar(unsigned key, unsigned repeatCount, unsigned flags);
  // WM_CHAR: a character of 0x20 and above replaces the selection (when it does not fit, see
  // FittingPart, nothing happens but a beep), backspace (0x08) deletes the selection or the
  // character before the caret; other control characters do nothing. The change is visible at
  // once, sets the modify flag, and the parent receives EN_CHANGE. Other messages as TWindow.
  void DefaultProcessing(TMessage& message) override;

 private:
  // As much of the start of `inserted` as fits in place of [from, to) of `text`: within the
  // text limit and, for an edit without ES_AUTOHSCROLL, within its visible width, as the edit
  // control of Windows stops taking characters when a text that cannot scroll fills it.
  std::string FittingPart(const std::string& text, size_t from, size_t to,
                          std::string inserted) const;
  // Puts `text` in with the caret at `caret`, marked as changed by the user.
  void TakeText(const std::string& text, int caret);

  std::unique_ptr<TValidator> validator_;
  unsigned textLimit_;

  DECLARE_RESPONSE_TABLE(TEdit);
};

class TButton : public TControl {
 public:
  TButton(TWindow* parent, int resourceId, TModule* module = nullptr);

 protected:
  ui::PeerKind Kind() const override { return ui::PeerKind::kButton; }
};

class TStatic : public TControl {
 public:
  TStatic(TWindow* parent, int resourceId, unsigned textLimit = 0, TModule* module = nullptr);

 protected:
  ui::PeerKind Kind() const override { return ui::PeerKind::kStatic; }
};

// A drop-down list.
class TComboBox : public TControl {
 public:
  TComboBox(TWindow* parent, int resourceId, unsigned textLimit = 0, TModule* module = nullptr);
  int AddString(const char* text);
  void ClearList();
  int GetCount() const;
  // Copies item `index` (at most maxChars - 1 characters); returns its length, -1 for no item.
  int GetString(char* buffer, int index, int maxChars = 260) const;
  int GetSelIndex() const;
  int SetSelIndex(int index);

 protected:
  ui::PeerKind Kind() const override { return ui::PeerKind::kComboBox; }
};

#endif
