#include "hook/Hook.h"

#include "hook/NearAllocator.h"
#include "hook/Relocator.h"
#include "hook/ThreadFreezer.h"
#include "hook/VirtualMemory.h"

#include "platform/win.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace hook {

namespace {

constexpr uint64_t kRelaySize = 16; // jmp [rip+0] ; dq replacement ; int3 fill
constexpr int64_t kRel32Span = int64_t(1) << 31;

/// The engine's process-wide state: created on first use, never destroyed (the hooks and
/// their entries live as long as the process).
struct Engine {
    std::mutex lock;
    Win32VirtualMemory memory;
    NearAllocator allocator{memory};
    Relocator relocator;

    static Engine& instance() {
        static Engine* engine = new Engine;
        return *engine;
    }
};

uint64_t saturatingSubtract(uint64_t value, uint64_t amount) {
    return value > amount ? value - amount : 0;
}

/// Where the slot may lie: its relay within reach of the target's jmp rel32, its entry
/// within reach of every moved RIP-relative operand's data.
void slotWindow(const RelocationPlan& plan, uint64_t& lowest, uint64_t& highest) {
    const uint64_t jumpEnd = plan.target() + kPatchLength;
    lowest = std::max(saturatingSubtract(jumpEnd, kRel32Span),
                      saturatingSubtract(plan.lowestEntry(), kRelaySize));
    highest =
        std::min(jumpEnd + kRel32Span - 1, saturatingSubtract(plan.highestEntry(), kRelaySize));
}

void writeRelay(uint8_t* slot, void* replacement) {
    const uint8_t jump[] = {0xFF, 0x25, 0, 0, 0, 0};
    memset(slot, 0xCC, kRelaySize);
    memcpy(slot, jump, sizeof jump);
    uint64_t destination = reinterpret_cast<uint64_t>(replacement);
    memcpy(slot + sizeof jump, &destination, sizeof destination);
}

/// The new first bytes of the target: the jump to the relay, then int3 over what is left
/// of the moved instructions (no thread runs there any more).
std::vector<uint8_t> patchBytes(const RelocationPlan& plan, uint64_t relay) {
    std::vector<uint8_t> bytes(std::max<size_t>(kPatchLength, plan.movedLength()), 0xCC);
    int32_t displacement = static_cast<int32_t>(relay - (plan.target() + kPatchLength));
    bytes[0] = 0xE9;
    memcpy(bytes.data() + 1, &displacement, sizeof displacement);
    return bytes;
}

HookStatus install(Engine& engine, void* target, void* replacement, void** original) {
    const uint64_t address = reinterpret_cast<uint64_t>(target);
    size_t available = engine.memory.readableLength(address, Relocator::kScanLimit + 64);
    if (available == 0)
        return HookStatus::UnreadableTarget;
    RelocationPlan plan;
    HookStatus status = engine.relocator.plan(static_cast<const uint8_t*>(target), available,
                                              address, kPatchLength, plan);
    if (status != HookStatus::Ok)
        return status;

    uint64_t lowest = 0, highest = 0;
    slotWindow(plan, lowest, highest);
    uint8_t* slot = engine.allocator.allocate(address, lowest, highest);
    if (!slot)
        return HookStatus::NoMemoryNearTarget;
    const uint64_t entry = reinterpret_cast<uint64_t>(slot) + kRelaySize;
    std::vector<uint8_t> entryCode;
    status = plan.emit(entry, entryCode);
    if (status != HookStatus::Ok) {
        engine.allocator.release(slot);
        return status;
    }
    writeRelay(slot, replacement);
    memcpy(slot + kRelaySize, entryCode.data(), entryCode.size());
    FlushInstructionCache(GetCurrentProcess(), slot, NearAllocator::kSlotSize);

    std::vector<uint8_t> patch = patchBytes(plan, reinterpret_cast<uint64_t>(slot));
    DWORD oldProtection = 0;
    if (!VirtualProtect(target, patch.size(), PAGE_EXECUTE_READWRITE, &oldProtection)) {
        engine.allocator.release(slot);
        return HookStatus::ProtectionFailed;
    }
    std::vector<uint8_t> before(static_cast<const uint8_t*>(target),
                                static_cast<const uint8_t*>(target) + plan.movedLength());
    ThreadFreezer freezer;
    status = freezer.freeze();
    if (status == HookStatus::Ok &&
        memcmp(target, before.data(), before.size()) != 0) // changed since it was planned
        status = HookStatus::UnrelocatableInstruction;
    if (status == HookStatus::Ok) {
        // Nothing below allocates: a frozen thread may hold the heap's lock.
        *original = reinterpret_cast<void*>(entry);
        memcpy(target, patch.data(), patch.size());
        FlushInstructionCache(GetCurrentProcess(), target, patch.size());
        freezer.moveOutOfPatch(plan, entry);
    }
    freezer.thaw();
    DWORD ignored = 0;
    VirtualProtect(target, patch.size(), oldProtection, &ignored);
    if (status != HookStatus::Ok)
        engine.allocator.release(slot);
    return status;
}

} // namespace

HookStatus installHook(void* target, void* replacement, void** original) {
    if (!target || !replacement || !original)
        return HookStatus::InvalidArgument;
    Engine& engine = Engine::instance();
    std::lock_guard<std::mutex> guard(engine.lock);
    return install(engine, target, replacement, original);
}

int setHook(void** pointerToReal, void* replacement, HookStatus* status) {
    HookStatus result = pointerToReal ? installHook(*pointerToReal, replacement, pointerToReal)
                                      : HookStatus::InvalidArgument;
    if (status)
        *status = result;
    return result == HookStatus::Ok ? 1 : 0;
}

} // namespace hook
