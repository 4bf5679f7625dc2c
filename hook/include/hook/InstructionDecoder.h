// Whole-instruction decoding of x86-64 code for the interception engine.
//
// The engine moves the first instructions of a function elsewhere, so it must know where
// each instruction ends and which of them depend on where they sit: RIP-relative memory
// operands and relative branches. Everything else is copied byte for byte.
#pragma once

#include <Zydis/Decoder.h>

#include <cstddef>
#include <cstdint>

namespace hook {

/// How an instruction depends on its own address.
enum class InstructionKind {
    Plain,               ///< position-independent: copied unchanged
    RipRelative,         ///< a memory operand [rip + disp32]
    JumpRelative,        ///< jmp rel8 / rel32
    CallRelative,        ///< call rel32
    ConditionalRelative, ///< jcc rel8 / rel32
    LoopRelative,        ///< loop, loope, loopne, jrcxz, jecxz (rel8 only)
    Unrelocatable,       ///< relative in a way no rewrite keeps (xbegin, rel16, EIP-relative)
};

/// One decoded instruction at a known address.
struct Instruction {
    uint64_t address = 0;
    uint8_t length = 0;
    InstructionKind kind = InstructionKind::Plain;
    /// Ends the flow through this address: ret, any jmp, int3, ud2, hlt.
    bool endsFlow = false;
    /// A call of any form: it leaves a return address behind.
    bool isCall = false;
    /// For relative branches and RIP-relative operands: the absolute address referred to.
    uint64_t reference = 0;
    /// RipRelative: where the 32-bit displacement sits inside the instruction.
    uint8_t displacementOffset = 0;
    /// ConditionalRelative: the condition code (0..15, as in the 0x70+cc opcodes).
    uint8_t condition = 0;
    /// LoopRelative: bytes before the 8-bit offset (prefixes and the opcode).
    uint8_t branchOpcodeLength = 0;

    uint64_t end() const { return address + length; }
    bool isBranch() const {
        return kind == InstructionKind::JumpRelative || kind == InstructionKind::CallRelative ||
               kind == InstructionKind::ConditionalRelative ||
               kind == InstructionKind::LoopRelative;
    }
};

/// Decodes 64-bit code with Zydis.
class InstructionDecoder {
public:
    InstructionDecoder();

    /// Decodes the instruction at `code` (at most `available` bytes are read), which runs at
    /// `address`. False for bytes that are no valid instruction or that run past `available`.
    bool decode(const uint8_t* code, size_t available, uint64_t address, Instruction& out) const;

private:
    ZydisDecoder m_decoder;
};

} // namespace hook
