#include "hook/Relocator.h"

#include <algorithm>
#include <cstring>

namespace hook {

namespace {

constexpr size_t kAbsoluteJumpSize = 14; // jmp [rip+0] ; dq target
constexpr int64_t kInt32Span = int64_t(1) << 31;

size_t rewrittenSize(const Instruction& insn) {
    switch (insn.kind) {
    case InstructionKind::JumpRelative:
        return kAbsoluteJumpSize;
    case InstructionKind::CallRelative:
    case InstructionKind::ConditionalRelative:
        return 2 + kAbsoluteJumpSize;
    case InstructionKind::LoopRelative:
        return insn.branchOpcodeLength + 1u + 2u + kAbsoluteJumpSize;
    default:
        return insn.length;
    }
}

void appendAddress(std::vector<uint8_t>& out, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void appendAbsoluteJump(std::vector<uint8_t>& out, uint64_t destination) {
    const uint8_t jump[] = {0xFF, 0x25, 0, 0, 0, 0};
    out.insert(out.end(), jump, jump + sizeof jump);
    appendAddress(out, destination);
}

bool isPadding(uint8_t byte) {
    return byte == 0xCC || byte == 0x90; // int3 and nop fill between functions
}

bool inRange(uint64_t address, uint64_t begin, uint64_t end) {
    return address >= begin && address < end;
}

} // namespace

const RelocationPlan::Moved* RelocationPlan::movedAt(uint64_t address) const {
    for (const Moved& m : m_moved)
        if (m.instruction.address == address)
            return &m;
    return nullptr;
}

uint64_t RelocationPlan::relocatedAddress(uint64_t address, uint64_t entryAddress) const {
    if (address == m_target)
        return 0;
    const Moved* m = movedAt(address);
    return m ? entryAddress + m->entryOffset : 0;
}

HookStatus RelocationPlan::emit(uint64_t entryAddress, std::vector<uint8_t>& out) const {
    out.clear();
    out.reserve(m_entrySize);
    for (const Moved& m : m_moved) {
        const Instruction& insn = m.instruction;
        const uint8_t* bytes = m_code.data() + (insn.address - m_target);
        uint64_t destination = insn.reference;
        if (const Moved* inner = movedAt(insn.reference); inner && insn.isBranch())
            destination = entryAddress + inner->entryOffset; // a branch between moved code
        switch (insn.kind) {
        case InstructionKind::RipRelative: {
            uint64_t next = entryAddress + out.size() + insn.length;
            int64_t displacement = static_cast<int64_t>(insn.reference - next);
            if (displacement < -kInt32Span || displacement >= kInt32Span)
                return HookStatus::DisplacementOutOfRange;
            size_t at = out.size();
            out.insert(out.end(), bytes, bytes + insn.length);
            int32_t value = static_cast<int32_t>(displacement);
            memcpy(out.data() + at + insn.displacementOffset, &value, sizeof value);
            break;
        }
        case InstructionKind::JumpRelative:
            appendAbsoluteJump(out, destination);
            break;
        case InstructionKind::CallRelative: {
            // The return address pushed is the entry's own, right after the literal.
            const uint8_t call[] = {0xFF, 0x15, 0x02, 0, 0, 0, 0xEB, 0x08};
            out.insert(out.end(), call, call + sizeof call);
            appendAddress(out, destination);
            break;
        }
        case InstructionKind::ConditionalRelative:
            // The inverted condition skips the jump to the original destination.
            out.push_back(static_cast<uint8_t>(0x70 | (insn.condition ^ 1)));
            out.push_back(kAbsoluteJumpSize);
            appendAbsoluteJump(out, destination);
            break;
        case InstructionKind::LoopRelative:
            // loop/jrcxz have only an 8-bit form: taken, they reach the absolute jump.
            out.insert(out.end(), bytes, bytes + insn.branchOpcodeLength);
            out.push_back(2);
            out.push_back(0xEB);
            out.push_back(kAbsoluteJumpSize);
            appendAbsoluteJump(out, destination);
            break;
        default:
            out.insert(out.end(), bytes, bytes + insn.length);
            break;
        }
    }
    if (m_jumpsBack)
        appendAbsoluteJump(out, m_target + m_movedLength);
    return HookStatus::Ok;
}

HookStatus Relocator::plan(const uint8_t* code, size_t available, uint64_t address,
                           size_t patchLength, RelocationPlan& out) const {
    out = RelocationPlan();
    out.m_target = address;
    out.m_patchLength = patchLength;
    if (!code || patchLength == 0)
        return HookStatus::InvalidArgument;
    if (available < patchLength)
        return HookStatus::FunctionTooShort;
    uint64_t furthestTarget = 0;
    HookStatus status = collectMoved(code, available, out, furthestTarget);
    if (status == HookStatus::Ok)
        status = checkMovedBranches(out);
    if (status == HookStatus::Ok)
        status = scanForReturningBranches(code, available, out, furthestTarget);
    return status;
}

HookStatus Relocator::collectMoved(const uint8_t* code, size_t available, RelocationPlan& plan,
                                   uint64_t& furthestTarget) const {
    const uint64_t target = plan.m_target;
    const uint64_t patchEnd = target + plan.m_patchLength;
    size_t offset = 0;
    size_t entryOffset = 0;
    Instruction insn;
    while (offset < plan.m_patchLength) {
        if (!m_decoder.decode(code + offset, available - offset, target + offset, insn))
            return HookStatus::UndecodableInstruction;
        if (insn.kind == InstructionKind::Unrelocatable)
            return HookStatus::UnrelocatableInstruction;
        // A thread inside the callee would come back into the middle of the new jump.
        if (insn.isCall && insn.end() < patchEnd)
            return HookStatus::CallInsidePatchedBytes;
        plan.m_moved.push_back({insn, entryOffset});
        entryOffset += rewrittenSize(insn);
        offset += insn.length;
        if (insn.isBranch() && insn.reference > insn.address)
            furthestTarget = std::max(furthestTarget, insn.reference);
        if (insn.endsFlow)
            break;
    }
    if (offset < plan.m_patchLength) {
        // The flow ended inside the patch. The rest is ours only when it is fill between
        // functions, or dead code that a forward jump skips inside this function.
        bool jumpsOver = insn.kind == InstructionKind::JumpRelative && insn.reference >= patchEnd;
        if (!jumpsOver && !std::all_of(code + offset, code + plan.m_patchLength, isPadding))
            return HookStatus::FunctionTooShort;
    }
    plan.m_jumpsBack = !insn.endsFlow;
    plan.m_movedLength = offset;
    plan.m_entrySize = entryOffset + (plan.m_jumpsBack ? kAbsoluteJumpSize : 0);
    plan.m_code.assign(code, code + offset);
    return HookStatus::Ok;
}

HookStatus Relocator::checkMovedBranches(RelocationPlan& plan) const {
    const uint64_t target = plan.m_target;
    const uint64_t movedEnd = target + plan.m_movedLength;
    const uint64_t patchEnd = target + plan.m_patchLength;
    int64_t lowest = 0;
    int64_t highest = INT64_MAX;
    for (const RelocationPlan::Moved& m : plan.m_moved) {
        const Instruction& insn = m.instruction;
        if (insn.kind == InstructionKind::RipRelative) {
            if (inRange(insn.reference, target, patchEnd))
                return HookStatus::UnrelocatableInstruction; // it reads the bytes we replace
            // The rewrite's displacement is counted from its end inside the entry.
            int64_t reference = static_cast<int64_t>(insn.reference);
            int64_t fromEntry = static_cast<int64_t>(m.entryOffset + insn.length);
            lowest = std::max(lowest, reference - kInt32Span - fromEntry);
            highest = std::min(highest, reference + kInt32Span - 1 - fromEntry);
            continue;
        }
        if (!insn.isBranch() || !inRange(insn.reference, target, patchEnd))
            continue;
        if (!inRange(insn.reference, target, movedEnd))
            return HookStatus::JumpIntoPatchedBytes; // into the fill the patch overwrites
        if (!plan.movedAt(insn.reference))
            return HookStatus::UnrelocatableInstruction; // into the middle of an instruction
        if (insn.isCall)
            return HookStatus::UnrelocatableInstruction; // the pushed address would change
    }
    if (lowest > highest)
        return HookStatus::DisplacementOutOfRange;
    plan.m_lowestEntry = static_cast<uint64_t>(lowest);
    plan.m_highestEntry = static_cast<uint64_t>(highest);
    return HookStatus::Ok;
}

HookStatus Relocator::scanForReturningBranches(const uint8_t* code, size_t available,
                                               const RelocationPlan& plan,
                                               uint64_t furthestTarget) const {
    // A linear sweep to the function's probable end: the first instruction that ends the
    // flow beyond every forward branch seen so far.
    const uint64_t target = plan.m_target;
    const uint64_t patchEnd = target + plan.m_patchLength;
    size_t limit = std::min(available, plan.m_movedLength + kScanLimit);
    size_t offset = plan.m_movedLength;
    Instruction insn;
    while (offset < limit) {
        if (!m_decoder.decode(code + offset, limit - offset, target + offset, insn))
            break; // data or the end of readable code: nothing more to learn
        if (insn.isBranch()) {
            // A loop back to the entry would run the replacement again on every turn; a
            // recursive call of the function may (it is a call like any other).
            bool recursiveCall = insn.isCall && insn.reference == target;
            if (inRange(insn.reference, target, patchEnd) && !recursiveCall)
                return HookStatus::JumpIntoPatchedBytes;
            if (insn.reference > insn.address)
                furthestTarget = std::max(furthestTarget, insn.reference);
        }
        offset += insn.length;
        if (insn.endsFlow && target + offset >= furthestTarget)
            break;
    }
    return HookStatus::Ok;
}

} // namespace hook
