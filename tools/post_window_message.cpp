// post_window_message: posts one message to a window found by its title, as a monitoring
// program of the product family does (platform/window_message.h).
//
//   post_window_message TITLE MESSAGE [WPARAM [LPARAM]]
//
// The numbers are decimal, or hexadecimal with 0x; WPARAM and LPARAM default to 0. For example
//   post_window_message "Set Prepaid" 0x102 0xA0
// sends the card editor the character 0xA0 (WM_CHAR), which makes it notify "Gorvex".
// Exit code 0: posted; 1: no window has the title, or the post failed; 2: wrong usage.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/window_message.h"

namespace {

// The whole of `text` as a number; false for anything else (empty, trailing characters, range).
bool ParseNumber(const char* text, intmax_t* value) {
  char* end = nullptr;
  errno = 0;
  *value = std::strtoimax(text, &end, 0);
  return *text != '\0' && *end == '\0' && errno == 0;
}

}  // namespace

int main(int argc, char** argv) {
  intmax_t numbers[3] = {0, 0, 0};
  bool usable = argc >= 3 && argc <= 5;
  for (int i = 2; usable && i < argc; ++i) usable = ParseNumber(argv[i], &numbers[i - 2]);
  if (!usable || numbers[0] < 0 || numbers[0] > UINT32_MAX) {
    std::fprintf(stderr, "usage: post_window_message TITLE MESSAGE [WPARAM [LPARAM]]\n");
    return 2;
  }
  platform::WindowHandle window = platform::FindWindowByTitle(argv[1]);
  if (window == 0) {
    std::fprintf(stderr, "post_window_message: no window \"%s\": %s\n", argv[1],
                 std::strerror(errno));
    return 1;
  }
  if (!platform::PostWindowMessage(window, static_cast<uint32_t>(numbers[0]),
                                   static_cast<uintptr_t>(numbers[1]),
                                   static_cast<intptr_t>(numbers[2]))) {
    std::fprintf(stderr, "post_window_message: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}
