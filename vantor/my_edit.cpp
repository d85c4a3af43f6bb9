#include "vantor/my_edit.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/ansi_case.h"

DEFINE_RESPONSE_TABLE1(TMyEdit, TEdit)
  EV_WM_CHAR(EvChar)
END_RESPONSE_TABLE;

TMyEdit::TMyEdit(TWindow* parent, int resourceId, unsigned textLimit, TModule* module)
    : TEdit(parent, resourceId, textLimit, module) {}

TMyEdit::~TMyEdit() = default;

void TMyEdit::EvChar(unsigned key, unsigned /*repeatCount*/, unsigned /*flags*/) {
  TValidator* validator = GetValidator();
  if (validator == nullptr || key == 0x08) {
    DefaultProcessing();
    return;
  }
  const std::string before = GetText();
  const bool modifiedBefore = IsModified();
  DefaultProcessing();
  bool modified = IsModified();
  int start = 0;
  int end = 0;
  GetSelection(start, end);
  const std::string after = GetText();
  std::vector<char> checked(after.begin(), after.end());
  checked.push_back('\0');
  if (!validator->IsValidInput(checked.data(), false)) {
    SetWindowText(before.c_str());
    modified = modifiedBefore;
    // Back to where the caret was before a typed character (never before the text's start).
    start = std::max(0, start - 1);
    end = std::max(0, end - 1);
  }
  SetSelection(start, end);
  SetModify(modified);
}

namespace {

bool IsAsciiAlnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

int TMyEdit::Search(unsigned startPos, const char* text, bool caseSensitive, bool wholeWord,
                    bool up) {
  if (text == nullptr || text[0] == '\0') return -1;
  const std::string content = GetText();
  const long long length = static_cast<long long>(std::strlen(text));
  const long long size = static_cast<long long>(content.size());
  long long from;
  if (startPos == static_cast<unsigned>(-1)) {
    int selStart = 0;
    int selEnd = 0;
    GetSelection(selStart, selEnd);
    from = up ? selStart : selEnd;
  } else {
    // Positions beyond the text start at its end.
    from = std::min<long long>(startPos, size);
  }
  const std::string_view wanted(text, static_cast<size_t>(length));
  auto matchesAt = [&](long long p) {
    std::string_view here(content.data() + p, static_cast<size_t>(length));
    return caseSensitive ? here == wanted : platform::AnsiEqualIgnoreCase(here, wanted);
  };
  auto isWord = [&](long long p) {
    if (p > 0 && IsAsciiAlnum(content[p - 1])) return false;
    if (p + length < size && IsAsciiAlnum(content[p + length])) return false;
    return true;
  };
  long long found = -1;
  if (!up) {
    for (long long p = from; p <= size - length; ++p) {
      if (matchesAt(p) && (!wholeWord || isWord(p))) {
        found = p;
        break;
      }
    }
  } else {
    long long p = std::min(from - length, size - length);
    while (p >= 0) {
      if (!matchesAt(p)) {
        --p;
      } else if (!wholeWord || isWord(p)) {
        found = p;
        break;
      } else {
        // A match inside a word: the scan goes on as if started from that match, so the next
        // candidate ends at or before where this one starts.
        p -= length;
      }
    }
  }
  if (found < 0) return -1;
  const int matchStart = static_cast<int>(found);
  const int matchEnd = static_cast<int>(found + length);
  // Select the match, move the caret to its end (which scrolls it into view), select again.
  SetSelection(matchStart, matchEnd);
  SetSelection(matchEnd, matchEnd);
  SetSelection(matchStart, matchEnd);
  return matchStart;
}
