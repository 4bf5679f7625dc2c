// The function interception engine: patches a function in this process so that every call
// reaches a replacement, and gives back an entry that runs the function's own code.
//
//   target:  jmp rel32 -> relay            (the first 5 bytes; the rest of the moved
//                                          instructions' bytes become int3)
//   relay:   jmp [rip+0] ; dq replacement  (in a slot within +-2 GiB of the target)
//   entry:   the moved instructions, rewritten ; jmp back to the first one left in place
//
// Hooks are never removed. Installing is serialised process-wide; the other threads of
// the process are suspended while the bytes change (see ThreadFreezer).
#pragma once

#include "hook/HookStatus.h"

namespace hook {

/// Bytes the patch overwrites at the target (a jmp rel32).
constexpr unsigned kPatchLength = 5;

/// Hooks `target`: on success every call of it reaches `replacement`, and `*original`
/// holds the entry that runs the real code (it is set before the patch takes effect, so a
/// replacement running at once finds it). On failure nothing is changed, `*original`
/// included.
HookStatus installHook(void* target, void* replacement, void** original);

/// The system's entry: `*pointerToReal` holds the function to hook. Returns 1 on success,
/// when `*pointerToReal` holds the entry that runs the real code; 0 on failure, with
/// `*pointerToReal` unchanged. `status`, when given, receives the reason.
int setHook(void** pointerToReal, void* replacement, HookStatus* status = nullptr);

/// The same for a typed function pointer variable.
template <class Function>
int setHook(Function* pointerToReal, Function replacement, HookStatus* status = nullptr) {
    return setHook(reinterpret_cast<void**>(pointerToReal), reinterpret_cast<void*>(replacement),
                   status);
}

} // namespace hook
