#include "placement/window_pos.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "placement/window_pos_internal.h"
#include "platform/c_boundary.h"
#include "platform/profile.h"
#include "ui/dialog.h"
#include "ui/window.h"
#include "util/decimal.h"

namespace placement {
namespace {

// The reader takes at most this many characters of a stored value.
constexpr uint32_t kMaxPlacementText = 99;

// A stored placement, split: the numbers text before the first ';' and the show state after it.
struct StoredText {
  std::string numbers;
  std::string state;
};

std::string ReadPlacement(const char* section, const char* key) {
  char buffer[kMaxPlacementText + 1] = {};
  platform::ReadUserProfileString(section, key, "", buffer, sizeof buffer);
  return buffer;
}

StoredText SplitState(const std::string& text) {
  size_t semicolon = text.find(';');
  if (semicolon == std::string::npos) return StoredText{text, ""};
  return StoredText{text.substr(0, semicolon), text.substr(semicolon + 1)};
}

struct Numbers {
  int64_t x, y, w, h;
};

// The four numbers of "x,y,w,h", cut at the first three commas; nothing when there are fewer.
std::optional<Numbers> SplitNumbers(const std::string& text) {
  size_t first = text.find(',');
  if (first == std::string::npos) return std::nullopt;
  size_t second = text.find(',', first + 1);
  if (second == std::string::npos) return std::nullopt;
  size_t third = text.find(',', second + 1);
  if (third == std::string::npos) return std::nullopt;
  auto field = [&](size_t from, size_t to) {
    return static_cast<int64_t>(util::ParseDecimal32(text.substr(from, to - from).c_str()));
  };
  return Numbers{field(0, first), field(first + 1, second), field(second + 1, third),
                 field(third + 1, text.size())};
}

int Metric(int index) { return GetSystemMetrics(index); }

// Sizes are computed in 64 bits so that stored extremes cannot overflow; the window gets them
// back within the 32-bit range.
int Clamp32(int64_t value) {
  return static_cast<int>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

int32_t Position(TWindow* window, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t flags) {
  return window->SetWindowPos(0, Clamp32(x), Clamp32(y), Clamp32(w), Clamp32(h),
                              (flags & 0xFFFF) | SWP_NOZORDER)
             ? 1
             : 0;
}

bool UsableNames(const char* section, const char* key) {
  // A null key would read the section's key list, and writing with one would delete the whole
  // section: no placement is read or written without both names.
  return section != nullptr && key != nullptr;
}

}  // namespace

uint16_t StartStateFor(std::optional<uint16_t> requested, uint16_t defaultShow, bool demote) {
  if (!requested) return defaultShow;
  if (*requested == SW_SHOWMAXIMIZED) return demote ? SW_SHOWNORMAL : SW_SHOWMAXIMIZED;
  if (*requested == SW_SHOWMINNOACTIVE) return demote ? SW_HIDE : SW_SHOWMINIMIZED;
  return defaultShow;
}

}  // namespace placement

using placement::Clamp32;

int32_t WindowPos_Restore(TWindow* window, const char* section, const char* key,
                          int32_t defaultWidth, int32_t defaultHeight, uint32_t flags,
                          int32_t minWidth, int32_t minHeight) {
  using namespace placement;
  if (window == nullptr) return 0;
  return platform::CallNoThrow<int32_t>(0, [&]() -> int32_t {
    int64_t currentWidth = window->Attr().W;
    StoredText stored = SplitState(UsableNames(section, key) ? ReadPlacement(section, key) : "");
    std::optional<Numbers> numbers = SplitNumbers(stored.numbers);

    int32_t result;
    if (numbers) {
      Numbers n = *numbers;
      if ((flags & WPR_KEEPWIDTH) != 0) n.w = currentWidth;
      n.w = std::max<int64_t>(n.w, minWidth);
      n.h = std::max<int64_t>(n.h, minHeight);
      if ((flags & WPR_CAPTIONSHIFT) != 0) {
        n.x += Metric(SM_CYCAPTION);
        n.y += Metric(SM_CYCAPTION);
      }
      n.x = std::max<int64_t>(n.x, 0);
      n.y = std::max<int64_t>(n.y, 0);
      int64_t maxW = Metric(SM_CXFULLSCREEN) + 2 * int64_t{Metric(SM_CXFRAME)};
      int64_t maxH =
          Metric(SM_CYFULLSCREEN) + int64_t{Metric(SM_CYCAPTION)} + 2 * int64_t{Metric(SM_CYFRAME)};
      n.w = std::min(n.w, maxW);
      n.h = std::min(n.h, maxH);
      if (n.x + n.w > maxW) n.x = 0;
      if (n.y + n.h > maxH) n.y = 0;
      result = Position(window, n.x, n.y, n.w, n.h, flags);
    } else {
      int64_t cx = Metric(SM_CXFULLSCREEN);
      int64_t cy = Metric(SM_CYFULLSCREEN) + int64_t{Metric(SM_CYCAPTION)};
      int64_t w = std::min<int64_t>(defaultWidth, cx);
      int64_t h = std::min<int64_t>(defaultHeight, cy);
      if ((flags & WPR_KEEPWIDTH) != 0) w = currentWidth;
      if (w == 0) w = 200;
      if (h == 0) h = 200;
      result = Position(window, cx / 2 - w / 2, cy / 2 - h / 2, w, h, flags);
    }

    if ((flags & WPR_NOSHOWSTATE) != 0) return result;
    int show = -1;
    if (!stored.state.empty()) {
      show = stored.state == "MAX"   ? SW_SHOWMAXIMIZED
             : stored.state == "MIN" ? SW_SHOWMINIMIZED
                                     : SW_SHOWDEFAULT;
    } else if ((flags & WPR_SHOWDEFAULT) != 0) {
      show = SW_SHOWDEFAULT;
    }
    if (show >= 0) result = window->ShowWindow(show) ? 1 : 0;
    return result;
  });
}

void WindowPos_Save(TWindow* window, const char* section, const char* key, uint8_t withState) {
  using namespace placement;
  if (window == nullptr || !UsableNames(section, key)) return;
  platform::CallNoThrow<int>(0, [&] {
    const TWindowAttr& attr = window->Attr();
    if (attr.H < 50 || attr.W < 50) return 0;
    char text[80];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d", attr.X, attr.Y, attr.W, attr.H);
    if (withState != 0) {
      uint32_t style = window->GetWindowLong(GWL_STYLE);
      if ((style & WS_MAXIMIZE) != 0) std::strcat(text, ";MAX");
      if ((style & WS_MINIMIZE) != 0) std::strcat(text, ";MIN");
    }
    platform::WriteUserProfileString(section, key, text);
    return 0;
  });
}

int32_t WindowPos_Center(TDialog* dialog, uint8_t upperQuarter) {
  using namespace placement;
  if (dialog == nullptr) return 0;
  TRect rect = dialog->GetWindowRect();
  int64_t x = Metric(SM_CXFULLSCREEN) / 2 - rect.Width() / 2;
  int64_t y;
  if (upperQuarter != 0) {
    y = Metric(SM_CYFULLSCREEN) / 4;
  } else {
    y = Metric(SM_CYCAPTION) / 2 + Metric(SM_CYFULLSCREEN) / 2 - rect.Height() / 2;
  }
  x = std::max<int64_t>(x, 0);
  y = std::max<int64_t>(y, 0);
  return dialog->SetWindowPos(0, Clamp32(x), Clamp32(y), 0, 0, SWP_NOSIZE | SWP_NOZORDER) ? 1 : 0;
}

uint16_t GetStartState(uint16_t defaultShow, uint8_t demote) {
  // A Linux program is started without a show request (nothing like the Windows start-up
  // information reaches it), so the default stands.
  return placement::StartStateFor(std::nullopt, defaultShow, demote != 0);
}

int32_t RestorePosition(TWindow* window, const char* section, const char* key, int32_t defaultWidth,
                        int32_t defaultHeight, uint32_t flags) {
  using namespace placement;
  if (window == nullptr) return 0;
  return platform::CallNoThrow<int32_t>(0, [&]() -> int32_t {
    int64_t currentWidth = window->Attr().W;
    // The older reader knows no show state: a ";MAX" after the height just ends its digits.
    std::string text = UsableNames(section, key) ? ReadPlacement(section, key) : "";
    std::optional<Numbers> numbers = SplitNumbers(text);
    int64_t fullW = Metric(SM_CXFULLSCREEN);
    int64_t fullH = Metric(SM_CYFULLSCREEN) + int64_t{Metric(SM_CYCAPTION)};
    if (!numbers) {
      int64_t w = defaultWidth;
      int64_t h = defaultHeight;
      return Position(window, fullW / 2 - w / 2, fullH / 2 - h / 2, w, h, flags);
    }
    Numbers n = *numbers;
    if ((flags & WPR_KEEPWIDTH) != 0) n.w = currentWidth;
    int64_t leftEdge = Metric(SM_CXSCREEN) - fullW;
    int64_t topEdge = Metric(SM_CYSCREEN) - fullH;
    if (n.x < 0) n.x = leftEdge;
    if (n.y < 0) n.y = topEdge;
    if (n.x + n.w > fullW) n.x = leftEdge;
    if (n.y + n.h > fullH) n.y = topEdge;
    return Position(window, n.x, n.y, n.w, n.h, flags);
  });
}

int32_t SavePosition(TWindow* window, const char* section, const char* key) {
  using namespace placement;
  if (window == nullptr || !UsableNames(section, key)) return 0;
  return platform::CallNoThrow<int32_t>(0, [&]() -> int32_t {
    const TWindowAttr& attr = window->Attr();
    char text[64];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d", attr.X, attr.Y, attr.W, attr.H);
    return platform::WriteUserProfileString(section, key, text) ? 1 : 0;
  });
}

int32_t CenterDialog(TDialog* dialog) { return WindowPos_Center(dialog, 0); }
