#include "platform/message_box.h"

#include <cstdio>

namespace platform {
namespace {

MessageBoxHook g_hook = nullptr;

}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  MessageBoxHook previous = g_hook;
  g_hook = hook;
  return previous;
}

int ShowMessageBox(const char* text, const char* caption, unsigned type) {
  if (g_hook != nullptr) return g_hook(text, caption, type);
  std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
  return 1;
}

}  // namespace platform
