// Records the message boxes that library code shows through platform::ShowMessageBox, so a
// test can check text, caption and icon without a window.
#ifndef LINDAVOX_TESTSUPPORT_MESSAGE_BOXES_H
#define LINDAVOX_TESTSUPPORT_MESSAGE_BOXES_H

#include <string>
#include <vector>

#include "platform/message_box.h"

namespace testsupport {

struct ShownBox {
  std::string text;
  std::string caption;
  unsigned type;
  bool operator==(const ShownBox&) const = default;
};

// Installs a recording hook for its lifetime (one at a time); every box answers IDOK.
class RecordedMessageBoxes {
 public:
  RecordedMessageBoxes();
  ~RecordedMessageBoxes();
  RecordedMessageBoxes(const RecordedMessageBoxes&) = delete;
  RecordedMessageBoxes& operator=(const RecordedMessageBoxes&) = delete;

  // The boxes shown so far, oldest first; Take() also forgets them.
  const std::vector<ShownBox>& shown() const;
  std::vector<ShownBox> Take();

 private:
  platform::MessageBoxHook previous_;
};

}  // namespace testsupport

#endif
