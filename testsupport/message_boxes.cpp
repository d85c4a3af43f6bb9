#include "testsupport/message_boxes.h"

#include <utility>

namespace testsupport {
namespace {

std::vector<ShownBox> g_shown;

int Record(const char* text, const char* caption, unsigned type) {
  g_shown.push_back({text ? text : "", caption ? caption : "", type});
  return 1;  // IDOK
}

}  // namespace

RecordedMessageBoxes::RecordedMessageBoxes() : previous_(platform::SetMessageBoxHook(Record)) {
  g_shown.clear();
}

RecordedMessageBoxes::~RecordedMessageBoxes() {
  platform::SetMessageBoxHook(previous_);
  g_shown.clear();
}

const std::vector<ShownBox>& RecordedMessageBoxes::shown() const { return g_shown; }

std::vector<ShownBox> RecordedMessageBoxes::Take() { return std::exchange(g_shown, {}); }

}  // namespace testsupport
