// Why an interception was or was not installed.
#pragma once

namespace hook {

/// The outcome of installing a hook. Every failure leaves the target untouched.
enum class HookStatus {
    Ok,
    InvalidArgument,          ///< a null target, replacement or result pointer
    UnreadableTarget,         ///< the target's bytes cannot be read
    UndecodableInstruction,   ///< the bytes to be moved are no valid x86-64 code
    UnrelocatableInstruction, ///< an instruction whose meaning no rewrite keeps
    FunctionTooShort,         ///< the function ends before the patch does
    JumpIntoPatchedBytes,     ///< a branch lands inside the bytes the patch overwrites
    CallInsidePatchedBytes,   ///< a call would return into the bytes the patch overwrites
    NoMemoryNearTarget,       ///< no free memory within +-2 GiB for the entry
    DisplacementOutOfRange,   ///< a moved operand cannot reach its data from the entry
    ThreadsNotSuspended,      ///< another thread of the process could not be stopped
    ProtectionFailed,         ///< the target's page could not be made writable
};

/// A short English description of a status, for logs and test messages.
const char* hookStatusText(HookStatus status);

} // namespace hook
