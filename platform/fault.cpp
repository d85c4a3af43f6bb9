#include "platform/fault.h"

namespace platform {
namespace detail {

std::atomic<bool> g_fault_hook_installed{false};

static FaultHook& Hook() {
  static FaultHook hook;
  return hook;
}

int CallFaultHook(FileOp op, std::string_view path) { return Hook() ? Hook()(op, path) : 0; }

}  // namespace detail

FaultHook SetFaultHook(FaultHook hook) {
  FaultHook previous = std::move(detail::Hook());
  detail::Hook() = std::move(hook);
  detail::g_fault_hook_installed.store(static_cast<bool>(detail::Hook()),
                                       std::memory_order_relaxed);
  return previous;
}

}  // namespace platform
