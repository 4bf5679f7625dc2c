// The interception engine's relocator on any function prologue: a plan it accepts covers
// the patch with whole instructions (or ends the flow inside it) and emits exactly the entry
// it announced, at both ends of the range of entry addresses it allows.
//
// Input: the patch length (from the first byte), then the function's bytes.
#include "hook/Relocator.h"

#include <stdlib.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const hook::Relocator relocator;
    if (size < 1)
        return 0;
    size_t patchLength = 5 + data[0] % 12; // a rel32 jump up to an absolute one and more
    const uint8_t* code = data + 1;
    size_t available = size - 1;
    const uint64_t address = 0x7ff612340000ull;

    hook::RelocationPlan plan;
    if (relocator.plan(code, available, address, patchLength, plan) != hook::HookStatus::Ok)
        return 0;
    if (plan.moved().empty() || plan.movedLength() > available)
        abort();
    // Fewer bytes than the patch move only when the flow ends inside it (the rest is fill or
    // dead code the patch may overwrite).
    if (plan.movedLength() < patchLength && !plan.moved().back().instruction.endsFlow)
        abort();
    if (plan.lowestEntry() > plan.highestEntry())
        abort();
    uint64_t entries[] = {plan.lowestEntry(), plan.highestEntry() - plan.entrySize(),
                          address + 0x10000000ull};
    for (uint64_t entry : entries) {
        if (entry < plan.lowestEntry() || entry > plan.highestEntry())
            continue;
        std::vector<uint8_t> out;
        if (plan.emit(entry, out) == hook::HookStatus::Ok && out.size() != plan.entrySize())
            abort();
        for (const hook::RelocationPlan::Moved& moved : plan.moved())
            plan.relocatedAddress(moved.instruction.address, entry);
    }
    return 0;
}
