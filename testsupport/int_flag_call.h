// Calling an exported function the way a C caller does that passes an int where the function
// takes a one-byte flag (no prototype in scope, or a declaration of its own that says int): the
// whole 32-bit value arrives, and only its low byte may count. A test that casts to uint8_t
// before the call never shows that, because the cast already drops the high bits.
#ifndef LINDAVOX_TESTSUPPORT_INT_FLAG_CALL_H
#define LINDAVOX_TESTSUPPORT_INT_FLAG_CALL_H

namespace testsupport {

// `function` seen as the function type `Declared` (the same parameters with int32_t for the
// flags). The detour through void (*)() is the conversion the compilers accept without a
// warning for casts between function types.
template <typename Declared, typename Function>
Declared* WithIntFlags(Function* function) {
  return reinterpret_cast<Declared*>(reinterpret_cast<void (*)()>(function));
}

}  // namespace testsupport

#endif
