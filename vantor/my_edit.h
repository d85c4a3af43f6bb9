// TMyEdit: the card editor's single-line edit control. It replaces two pieces of the framework
// edit: the check of each typed character against an attached validator, and the text search.
// Both work on copies of the control's text. Exported by name from the card editor.
#ifndef LINDAVOX_VANTOR_MY_EDIT_H
#define LINDAVOX_VANTOR_MY_EDIT_H

#include "platform/export.h"
#include "ui/controls.h"

class LV_CLASS TMyEdit : public TEdit {
 public:
  // textLimit 0: no limit (every caller passes 0).
  TMyEdit(TWindow* parent, int resourceId, unsigned textLimit = 0, TModule* module = nullptr);
  ~TMyEdit() override;

  // WM_CHAR. Without a validator, and for backspace, the edit's own processing. Otherwise the
  // key is processed and the new text checked: text the validator refuses is put back, with the
  // modify flag as it was and the selection one character left of where the key put it (where
  // the caret was before the key, for a typed character).
  void EvChar(unsigned key, unsigned repeatCount, unsigned flags);

  // Finds `text` in the control from `startPos` (-1: from the selection: its start when
  // searching up, else its end), forward or backward (a backward match ends at or before
  // `startPos`), optionally case-sensitive and as a whole word (not touching an ASCII letter or
  // digit). A match refused as no whole word restarts the scan: forward one character after
  // its start, backward from its start as the new `startPos`. Selects the match and returns
  // where it starts; -1 when there is none.
  virtual int Search(unsigned startPos, const char* text, bool caseSensitive, bool wholeWord,
                     bool up);

  DECLARE_RESPONSE_TABLE(TMyEdit);
};

#endif
