// Moving the first instructions of a function into a new entry that runs the real code.
//
// A hook overwrites the first `patchLength` bytes of a function with a jump. The whole
// instructions that held those bytes move into an entry elsewhere, rewritten where they
// depend on their address, followed by a jump back to the first instruction left in place:
//   RIP-relative operand   the displacement is re-aimed at the same data
//   jmp rel                jmp [rip+0] ; dq target
//   call rel               call [rip+2] ; jmp +8 ; dq target
//   jcc rel                j!cc +14 ; jmp [rip+0] ; dq target
//   loop/jrcxz rel8        loop +2 ; jmp +14 ; jmp [rip+0] ; dq target
// Branches between moved instructions stay inside the entry. What cannot be moved safely
// is refused before anything is written.
#pragma once

#include "hook/HookStatus.h"
#include "hook/InstructionDecoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hook {

/// The instructions a patch displaces and how they are laid out in the entry.
class RelocationPlan {
public:
    struct Moved {
        Instruction instruction;
        size_t entryOffset; ///< where its rewrite starts in the entry
    };

    uint64_t target() const { return m_target; }
    size_t patchLength() const { return m_patchLength; }
    /// Bytes of original code the entry replaces (whole instructions).
    size_t movedLength() const { return m_movedLength; }
    const std::vector<Moved>& moved() const { return m_moved; }
    /// Bytes the entry takes.
    size_t entrySize() const { return m_entrySize; }
    /// The span of addresses the entry may start in so that every moved RIP-relative
    /// operand still reaches its data with a 32-bit displacement (inclusive bounds).
    uint64_t lowestEntry() const { return m_lowestEntry; }
    uint64_t highestEntry() const { return m_highestEntry; }

    /// Writes the entry's code for an entry at `entryAddress` into `out` (entrySize() bytes).
    HookStatus emit(uint64_t entryAddress, std::vector<uint8_t>& out) const;

    /// Where a thread stopped at `address` must continue when the entry is at
    /// `entryAddress`: the rewrite of the moved instruction that starts there. 0 when
    /// `address` is not the start of a moved instruction after the first (a thread at the
    /// target itself is about to enter the function and may take the new jump).
    uint64_t relocatedAddress(uint64_t address, uint64_t entryAddress) const;

private:
    friend class Relocator;
    uint64_t m_target = 0;
    size_t m_patchLength = 0;
    size_t m_movedLength = 0;
    size_t m_entrySize = 0;
    bool m_jumpsBack = true;
    uint64_t m_lowestEntry = 0;
    uint64_t m_highestEntry = UINT64_MAX;
    std::vector<Moved> m_moved;
    std::vector<uint8_t> m_code; ///< the original bytes of the moved instructions

    const Moved* movedAt(uint64_t address) const;
};

/// Plans the move of a function's first instructions.
class Relocator {
public:
    /// How far past the moved instructions the function is searched for branches that
    /// come back into the patched bytes.
    static constexpr size_t kScanLimit = 64 * 1024;

    /// Plans the move for a patch of `patchLength` bytes at `address`, whose code is the
    /// `available` readable bytes at `code`.
    HookStatus plan(const uint8_t* code, size_t available, uint64_t address, size_t patchLength,
                    RelocationPlan& out) const;

private:
    InstructionDecoder m_decoder;

    HookStatus collectMoved(const uint8_t* code, size_t available, RelocationPlan& plan,
                            uint64_t& furthestTarget) const;
    HookStatus checkMovedBranches(RelocationPlan& plan) const;
    HookStatus scanForReturningBranches(const uint8_t* code, size_t available,
                                        const RelocationPlan& plan, uint64_t furthestTarget) const;
};

} // namespace hook
