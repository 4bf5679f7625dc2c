// Zydis gives every instruction's length and raw fields; this file only sorts instructions
// by how they depend on their address.
#include "hook/InstructionDecoder.h"

#include <Zydis/Zydis.h>

namespace hook {

namespace {

bool isLoop(ZydisMnemonic mnemonic) {
    return mnemonic == ZYDIS_MNEMONIC_LOOP || mnemonic == ZYDIS_MNEMONIC_LOOPE ||
           mnemonic == ZYDIS_MNEMONIC_LOOPNE || mnemonic == ZYDIS_MNEMONIC_JRCXZ ||
           mnemonic == ZYDIS_MNEMONIC_JECXZ;
}

bool endsFlow(const ZydisDecodedInstruction& insn) {
    switch (insn.mnemonic) {
    case ZYDIS_MNEMONIC_RET:
    case ZYDIS_MNEMONIC_JMP:
    case ZYDIS_MNEMONIC_INT3:
    case ZYDIS_MNEMONIC_UD0:
    case ZYDIS_MNEMONIC_UD1:
    case ZYDIS_MNEMONIC_UD2:
    case ZYDIS_MNEMONIC_HLT:
    case ZYDIS_MNEMONIC_IRETQ:
    case ZYDIS_MNEMONIC_IRETD:
    case ZYDIS_MNEMONIC_IRET:
        return true;
    default:
        return false;
    }
}

// The kind of a relative branch; only the encodings the relocator knows how to rewrite.
InstructionKind branchKind(const ZydisDecodedInstruction& insn, uint8_t& condition) {
    const auto& imm = insn.raw.imm[0];
    bool legacy = insn.encoding == ZYDIS_INSTRUCTION_ENCODING_LEGACY;
    if (!legacy || (imm.size != 8 && imm.size != 32))
        return InstructionKind::Unrelocatable; // rel16 (an operand-size prefix) or exotic
    if (insn.mnemonic == ZYDIS_MNEMONIC_JMP)
        return InstructionKind::JumpRelative;
    if (insn.mnemonic == ZYDIS_MNEMONIC_CALL)
        return InstructionKind::CallRelative;
    if (isLoop(insn.mnemonic))
        return InstructionKind::LoopRelative;
    if (insn.meta.category == ZYDIS_CATEGORY_COND_BR) {
        // jcc rel8 is 0x70+cc in the default map, jcc rel32 is 0x0F 0x80+cc.
        bool shortForm =
            insn.opcode_map == ZYDIS_OPCODE_MAP_DEFAULT && (insn.opcode & 0xF0) == 0x70;
        bool nearForm = insn.opcode_map == ZYDIS_OPCODE_MAP_0F && (insn.opcode & 0xF0) == 0x80;
        if (!shortForm && !nearForm)
            return InstructionKind::Unrelocatable;
        condition = insn.opcode & 0x0F;
        return InstructionKind::ConditionalRelative;
    }
    return InstructionKind::Unrelocatable; // xbegin and anything else with a relative target
}

} // namespace

InstructionDecoder::InstructionDecoder() {
    ZydisDecoderInit(&m_decoder, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64);
}

bool InstructionDecoder::decode(const uint8_t* code, size_t available, uint64_t address,
                                Instruction& out) const {
    ZydisDecodedInstruction insn;
    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
    if (!ZYAN_SUCCESS(ZydisDecoderDecodeFull(&m_decoder, code, available, &insn, operands)))
        return false;
    out = Instruction();
    out.address = address;
    out.length = insn.length;
    out.endsFlow = endsFlow(insn);
    out.isCall = insn.mnemonic == ZYDIS_MNEMONIC_CALL;
    if (!(insn.attributes & ZYDIS_ATTRIB_IS_RELATIVE))
        return true;

    for (uint8_t i = 0; i < insn.operand_count; ++i) {
        const ZydisDecodedOperand& op = operands[i];
        if (op.type == ZYDIS_OPERAND_TYPE_MEMORY &&
            (op.mem.base == ZYDIS_REGISTER_RIP || op.mem.base == ZYDIS_REGISTER_EIP)) {
            // Only a 32-bit displacement relative to the full RIP can be re-aimed; an
            // address-size prefix (EIP-relative) truncates the sum to 32 bits.
            if (op.mem.base == ZYDIS_REGISTER_EIP || insn.raw.disp.size != 32) {
                out.kind = InstructionKind::Unrelocatable;
                return true;
            }
            out.kind = InstructionKind::RipRelative;
            out.displacementOffset = insn.raw.disp.offset;
            out.reference = out.end() + static_cast<uint64_t>(insn.raw.disp.value);
            return true;
        }
    }
    if (!insn.raw.imm[0].is_relative) {
        out.kind = InstructionKind::Unrelocatable;
        return true;
    }
    out.kind = branchKind(insn, out.condition);
    out.reference = out.end() + static_cast<uint64_t>(insn.raw.imm[0].value.s);
    out.branchOpcodeLength = insn.raw.imm[0].offset;
    return true;
}

} // namespace hook
