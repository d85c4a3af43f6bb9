#include "ui/dialog.h"

#include <algorithm>
#include <cstdlib>

#include "ui/application.h"
#include "ui/controls.h"

int MulDiv(int x, int numerator, int denominator) {
  if (denominator == 0) return -1;
  long long product = static_cast<long long>(x) * numerator;
  long long half = std::llabs(static_cast<long long>(denominator)) / 2;
  bool negative = (product < 0) != (denominator < 0);
  long long magnitude =
      (std::llabs(product) + half) / std::llabs(static_cast<long long>(denominator));
  return static_cast<int>(negative ? -magnitude : magnitude);
}

TDialog::TDialog(TWindow* parent, int resourceId, TModule* module)
    : TWindow(parent, nullptr, module), resourceId_(resourceId) {}

TDialog::~TDialog() {
  // The owned controls are children; destroy the windows while the controls still exist.
  if (IsCreated()) TWindow::Destroy(0);
}

TSize TDialog::BaseUnits() const {
  return ui::CurrentBackend().DialogBaseUnits(template_->fontFace, template_->fontSize);
}

TRect TDialog::MapDialogRect(int x, int y, int w, int h) const {
  TSize base = template_ != nullptr ? BaseUnits() : TSize{4, 8};
  int left = MulDiv(x, base.cx, 4);
  int top = MulDiv(y, base.cy, 8);
  return TRect{left, top, left + MulDiv(w, base.cx, 4), top + MulDiv(h, base.cy, 8)};
}

int TDialog::GetDefaultId() const {
  if (template_ != nullptr) {
    for (const DialogControl& control : template_->controls) {
      if (control.className == "BUTTON" && (control.style & 0xF) == BS_DEFPUSHBUTTON) {
        return control.id;
      }
    }
  }
  return IDOK;
}

// Gives every template control a window object: the one the dialog's class bound to the id, or
// one of the framework's own. Each takes its text, style and rectangle from the template, and
// the children are put into template order, the tab order.
void TDialog::BindControls() {
  std::vector<TWindow*> order;
  for (const DialogControl& control : template_->controls) {
    TWindow* window = nullptr;
    for (TWindow* child : Children()) {
      if (child->Attr().Id == control.id &&
          std::find(order.begin(), order.end(), child) == order.end()) {
        window = child;
        break;
      }
    }
    if (window == nullptr) {
      std::unique_ptr<TWindow> made;
      if (control.className == "EDIT") {
        made = std::make_unique<TEdit>(this, control.id);
      } else if (control.className == "COMBOBOX") {
        made = std::make_unique<TComboBox>(this, control.id);
      } else if (control.className == "STATIC") {
        made = std::make_unique<TStatic>(this, control.id);
      } else {
        made = std::make_unique<TButton>(this, control.id);
      }
      window = made.get();
      ownedControls_.push_back(std::move(made));
    }
    auto* bound = static_cast<TControl*>(window);
    TRect rect = MapDialogRect(control.x, control.y, control.w, control.h);
    bound->BindTemplate(control.className, control.text, control.style | WS_CHILD, rect);
    order.push_back(window);
  }
  SetChildOrder(order);
}

bool TDialog::Create() {
  if (IsCreated()) return true;
  TModule* module = GetModule();
  template_ = module != nullptr ? module->FindDialog(resourceId_) : nullptr;
  if (template_ == nullptr) return false;

  attr_.Style = template_->style;
  if (!template_->caption.empty() || GetText().empty()) SetWindowText(template_->caption.c_str());
  TRect client = MapDialogRect(template_->x, template_->y, template_->w, template_->h);
  if ((attr_.Style & WS_CHILD) != 0) {
    attr_.X = client.left;
    attr_.Y = client.top;
    attr_.W = client.Width();
    attr_.H = client.Height();
  } else {
    // A dialog window: the client area plus frame and caption, placed relative to the client
    // area of its owner's top-level window.
    int frameX = GetSystemMetrics(SM_CXFRAME);
    int frameY = GetSystemMetrics(SM_CYFRAME);
    int caption = (attr_.Style & WS_CAPTION) != 0 ? GetSystemMetrics(SM_CYCAPTION) : 0;
    TWindow* owner = GetParent();
    while (owner != nullptr && owner->GetParent() != nullptr) owner = owner->GetParent();
    int originX = 0;
    int originY = 0;
    if (owner != nullptr && owner->IsCreated()) {
      TRect ownerRect = owner->GetWindowRect();
      originX = ownerRect.left + frameX;
      originY = ownerRect.top + frameY + GetSystemMetrics(SM_CYCAPTION);
    }
    // Kept inside the work area of the monitor it opens on, as the dialog manager moves a new
    // dialog into view: an owner near the edge of the screen must not push it off.
    TRect outer{originX + client.left, originY + client.top, 0, 0};
    outer.right = outer.left + client.Width() + 2 * frameX;
    outer.bottom = outer.top + client.Height() + caption + 2 * frameY;
    outer = KeepInside(outer, MonitorWorkArea(outer));
    attr_.X = outer.left;
    attr_.Y = outer.top;
    attr_.W = outer.Width();
    attr_.H = outer.Height();
  }
  BindControls();
  if (!TWindow::Create()) return false;
  // As the dialog manager does once the dialog is set up: the focus goes to the first enabled
  // control with a tab stop, else the first enabled control. (A dialog that wants another
  // control focused sets it later, from a timer or a handler.)
  TWindow* first = nullptr;
  for (TWindow* child : Children()) {
    if (!child->IsWindowEnabled() || dynamic_cast<TStatic*>(child) != nullptr) continue;
    if ((child->Attr().Style & WS_TABSTOP) != 0) {
      first = child;
      break;
    }
    if (first == nullptr) first = child;
  }
  if (first != nullptr) {
    first->SetFocus();
    // An edit that gets the focus this way has its whole text selected, so typing replaces it.
    if (auto* edit = dynamic_cast<TEdit*>(first)) edit->SetSelection(0, -1);
  }
  return true;
}

int TDialog::Execute() {
  modal_ = true;
  ending_ = false;
  if (!Create()) {
    modal_ = false;
    return -1;
  }
  int code = ui::CurrentBackend().RunModal(this);
  modal_ = false;
  TWindow::Destroy(code);
  return code;
}

void TDialog::CloseWindow(int returnValue) {
  if (!modal_) {
    TWindow::CloseWindow(returnValue);
    return;
  }
  if (CanClose()) Destroy(returnValue);
}

void TDialog::Destroy(int returnValue) {
  if (!modal_) {
    TWindow::Destroy(returnValue);
    return;
  }
  if (ending_) return;
  ending_ = true;
  ui::CurrentBackend().EndModal(this, returnValue);
}

void TDialog::DefaultProcessing(TMessage& message) {
  if (message.message == WM_CLOSE) {
    CmCancel();
  } else if (message.message == WM_COMMAND && message.notifyCode == BN_CLICKED &&
             message.id == static_cast<unsigned>(IDOK)) {
    CmOk();
  } else if (message.message == WM_COMMAND && message.notifyCode == BN_CLICKED &&
             message.id == static_cast<unsigned>(IDCANCEL)) {
    CmCancel();
  }
}

void TDialog::CmOk() { CloseWindow(IDOK); }

void TDialog::CmCancel() {
  if (modal_) {
    Destroy(IDCANCEL);
  } else {
    CloseWindow(IDCANCEL);
  }
}
