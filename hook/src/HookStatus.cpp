#include "hook/HookStatus.h"

namespace hook {

const char* hookStatusText(HookStatus status) {
    switch (status) {
    case HookStatus::Ok:
        return "hook installed";
    case HookStatus::InvalidArgument:
        return "null target, replacement or result pointer";
    case HookStatus::UnreadableTarget:
        return "the target's code cannot be read";
    case HookStatus::UndecodableInstruction:
        return "the target starts with bytes that are no valid instruction";
    case HookStatus::UnrelocatableInstruction:
        return "the target starts with an instruction that cannot be moved";
    case HookStatus::FunctionTooShort:
        return "the function is shorter than the patch";
    case HookStatus::JumpIntoPatchedBytes:
        return "a branch lands inside the bytes the patch would overwrite";
    case HookStatus::CallInsidePatchedBytes:
        return "a call would return into the bytes the patch would overwrite";
    case HookStatus::NoMemoryNearTarget:
        return "no free memory within 2 GiB of the target";
    case HookStatus::DisplacementOutOfRange:
        return "a moved instruction cannot reach its data from the new entry";
    case HookStatus::ThreadsNotSuspended:
        return "another thread of the process could not be suspended";
    case HookStatus::ProtectionFailed:
        return "the target's memory could not be made writable";
    }
    return "unknown hook status";
}

} // namespace hook
