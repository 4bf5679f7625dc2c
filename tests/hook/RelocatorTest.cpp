// The relocator on awkward prologues given as bytes: what it refuses, and for what it
// accepts, the relocated entry run side by side with the original gives the same result.
#include "CodeBuffer.h"

#include "hook/Relocator.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using hook::HookStatus;
using hook::RelocationPlan;
using hook::Relocator;
using hooktest::Function;

uint64_t anchor() {
    return reinterpret_cast<uint64_t>(&hooktest::allocator);
}

/// An original placed in executable memory, and its relocated entry next to it.
struct Relocated {
    HookStatus status = HookStatus::InvalidArgument;
    uint8_t* original = nullptr;
    uint8_t* entry = nullptr;
    RelocationPlan plan;
};

RelocationPlan planFor(const std::vector<uint8_t>& bytes, HookStatus& status,
                       uint64_t address = 0x140001000) {
    RelocationPlan plan;
    status = Relocator().plan(bytes.data(), bytes.size(), address, 5, plan);
    return plan;
}

Relocated relocate(const std::vector<uint8_t>& bytes) {
    Relocated r;
    r.original = hooktest::place(bytes, anchor());
    if (!r.original)
        return r;
    uint64_t address = reinterpret_cast<uint64_t>(r.original);
    r.status = Relocator().plan(r.original, bytes.size(), address, 5, r.plan);
    if (r.status != HookStatus::Ok)
        return r;
    r.entry = hooktest::slotNear(address);
    std::vector<uint8_t> code;
    r.status = r.plan.emit(reinterpret_cast<uint64_t>(r.entry), code);
    if (r.status == HookStatus::Ok) {
        EXPECT_LE(code.size(), hook::NearAllocator::kSlotSize);
        EXPECT_EQ(code.size(), r.plan.entrySize());
        memcpy(r.entry, code.data(), code.size());
    }
    return r;
}

void expectSameResults(const Relocated& r, std::initializer_list<long long> arguments) {
    ASSERT_EQ(r.status, HookStatus::Ok) << hook::hookStatusText(r.status);
    for (long long argument : arguments)
        EXPECT_EQ(hooktest::asFunction(r.entry)(argument),
                  hooktest::asFunction(r.original)(argument))
            << "argument " << argument;
}

TEST(RelocatedEntry, RipRelativeLoadReadsTheSameData) {
    // mov rax, [rip+9] ; ret ; int3 x8 ; dq 0x1234567 -- the constant sits 16 bytes in.
    std::vector<uint8_t> bytes = {0x48, 0x8B, 0x05, 0x09, 0, 0, 0, 0xC3};
    bytes.resize(16, 0xCC);
    const uint8_t constant[8] = {0x67, 0x45, 0x23, 0x01, 0, 0, 0, 0};
    bytes.insert(bytes.end(), constant, constant + 8);
    Relocated r = relocate(bytes);
    expectSameResults(r, {0});
    EXPECT_EQ(hooktest::asFunction(r.entry)(0), 0x1234567);
}

TEST(RelocatedEntry, RipRelativeLeaThenLoadReachesTheSameAddress) {
    // lea rax, [rip+8] ; mov eax, [rax] ; ret ; ... ; dd 77 at offset 15
    std::vector<uint8_t> bytes = {0x48, 0x8D, 0x05, 0x08, 0, 0, 0, 0x8B, 0x00, 0xC3};
    bytes.resize(15, 0xCC);
    bytes.insert(bytes.end(), {77, 0, 0, 0});
    expectSameResults(relocate(bytes), {0});
}

TEST(RelocatedEntry, JumpInTheFirstFiveBytesGoesToItsTarget) {
    // jmp +6 over dead bytes ; mov eax, 42 ; ret
    std::vector<uint8_t> bytes = {0xEB, 0x06, 0x0F, 0x0B, 0x0F, 0x0B, 0x0F,
                                  0x0B, 0xB8, 42,   0,    0,    0,    0xC3};
    Relocated r = relocate(bytes);
    expectSameResults(r, {0});
    EXPECT_EQ(r.plan.movedLength(), 2u);
}

TEST(RelocatedEntry, JrcxzTakenAndNotTaken) {
    // jrcxz +6 ; mov eax, 1 ; ret ; mov eax, 2 ; ret
    std::vector<uint8_t> bytes = {0xE3, 0x06, 0xB8, 1, 0, 0, 0, 0xC3, 0xB8, 2, 0, 0, 0, 0xC3};
    Relocated r = relocate(bytes);
    expectSameResults(r, {0, 5});
    EXPECT_EQ(hooktest::asFunction(r.entry)(0), 2);
}

TEST(RelocatedEntry, LoopBetweenMovedInstructionsStaysInTheEntry) {
    // xor eax, eax ; L: inc eax ; loop L ; ret  -- counts rcx down
    std::vector<uint8_t> bytes = {0x31, 0xC0, 0xFF, 0xC0, 0xE2, 0xFC, 0xC3};
    Relocated r = relocate(bytes);
    expectSameResults(r, {1, 7, 300});
    EXPECT_EQ(hooktest::asFunction(r.entry)(7), 7);
}

TEST(RelocatedEntry, ConditionalJumpTakenAndNotTaken) {
    // test ecx, ecx ; je +6 ; mov eax, 1 ; ret ; mov eax, 2 ; ret
    std::vector<uint8_t> bytes = {0x85, 0xC9, 0x74, 0x06, 0xB8, 1, 0, 0,
                                  0,    0xC3, 0xB8, 2,    0,    0, 0, 0xC3};
    expectSameResults(relocate(bytes), {0, 3});
}

TEST(RelocatedEntry, NearConditionalJump) {
    // test ecx, ecx ; jne rel32 +6 ; mov eax, 1 ; ret ; mov eax, 2 ; ret
    std::vector<uint8_t> bytes = {0x85, 0xC9, 0x0F, 0x85, 0x06, 0, 0, 0, 0xB8, 1,
                                  0,    0,    0,    0xC3, 0xB8, 2, 0, 0, 0,    0xC3};
    expectSameResults(relocate(bytes), {0, 3});
}

TEST(RelocatedEntry, CallReturnsIntoTheEntry) {
    // sub rsp, 0x28 ; call helper ; add rsp, 0x28 ; ret ; helper: lea eax, [rcx+5] ; ret
    std::vector<uint8_t> bytes = {0x48, 0x83, 0xEC, 0x28, 0xE8, 0x05, 0,    0,    0,
                                  0x48, 0x83, 0xC4, 0x28, 0xC3, 0x8D, 0x41, 0x05, 0xC3};
    Relocated r = relocate(bytes);
    expectSameResults(r, {0, 10});
    EXPECT_EQ(hooktest::asFunction(r.entry)(10), 15);
}

TEST(RelocatedEntry, ThreeByteFunctionBeforePaddingIsMoved) {
    // mov eax, ecx ; ret ; int3 fill
    Relocated r = relocate({0x89, 0xC8, 0xC3, 0xCC, 0xCC, 0xCC, 0xCC});
    expectSameResults(r, {9});
    EXPECT_EQ(r.plan.movedLength(), 3u);
}

TEST(RelocationRefusal, ThreeByteFunctionFollowedByCode) {
    HookStatus status;
    planFor({0x89, 0xC8, 0xC3, 0x55, 0x48, 0x89, 0xE5, 0xC3}, status);
    EXPECT_EQ(status, HookStatus::FunctionTooShort);
}

TEST(RelocationRefusal, FewerBytesThanThePatch) {
    HookStatus status;
    planFor({0x90, 0x90, 0xC3}, status);
    EXPECT_EQ(status, HookStatus::FunctionTooShort);
}

TEST(RelocationRefusal, JumpBackIntoThePatchedBytes) {
    // xor eax, eax ; nop x3 ; inc eax ; cmp eax, ecx ; jne -> offset 2 ; ret
    HookStatus status;
    planFor({0x31, 0xC0, 0x90, 0x90, 0x90, 0xFF, 0xC0, 0x39, 0xC8, 0x75, 0xF7, 0xC3}, status);
    EXPECT_EQ(status, HookStatus::JumpIntoPatchedBytes);
}

TEST(RelocationRefusal, LoopBackToTheFunctionStart) {
    // L: dec ecx ; nop x3 ; jne L ; ret
    HookStatus status;
    planFor({0xFF, 0xC9, 0x90, 0x90, 0x90, 0x75, 0xF9, 0xC3}, status);
    EXPECT_EQ(status, HookStatus::JumpIntoPatchedBytes);
}

TEST(RelocationRefusal, CallThatWouldReturnIntoThePatch) {
    // call rax ; nop x4 ; ret
    HookStatus status;
    planFor({0xFF, 0xD0, 0x90, 0x90, 0x90, 0x90, 0xC3}, status);
    EXPECT_EQ(status, HookStatus::CallInsidePatchedBytes);
}

TEST(RelocationRefusal, InstructionsThatCannotBeMoved) {
    HookStatus status;
    planFor({0xC7, 0xF8, 0x10, 0, 0, 0, 0xC3}, status); // xbegin
    EXPECT_EQ(status, HookStatus::UnrelocatableInstruction);
    planFor({0x67, 0x8B, 0x05, 0x10, 0, 0, 0, 0xC3}, status); // EIP-relative load
    EXPECT_EQ(status, HookStatus::UnrelocatableInstruction);
    planFor({0x48, 0x8D, 0x05, 0xF9, 0xFF, 0xFF, 0xFF, 0xC3}, status); // lea of its own bytes
    EXPECT_EQ(status, HookStatus::UnrelocatableInstruction);
}

TEST(RelocationRefusal, BytesThatAreNoInstruction) {
    HookStatus status;
    planFor({0x06, 0x90, 0x90, 0x90, 0x90, 0xC3}, status); // push es: invalid in 64-bit mode
    EXPECT_EQ(status, HookStatus::UndecodableInstruction);
}

TEST(RelocationPlan, EntryOutOfReachOfTheDataIsRefused) {
    HookStatus status;
    RelocationPlan plan = planFor({0x48, 0x8B, 0x05, 0x09, 0, 0, 0, 0xC3}, status);
    ASSERT_EQ(status, HookStatus::Ok);
    EXPECT_GE(0x140001010ull, plan.lowestEntry());
    EXPECT_LE(0x140001000ull, plan.highestEntry());
    std::vector<uint8_t> code;
    EXPECT_EQ(plan.emit(0x140001000ull + (uint64_t(3) << 31), code),
              HookStatus::DisplacementOutOfRange);
}

TEST(RelocationPlan, ThreadsInsideMovedInstructionsContinueAtTheirRewrite) {
    // test ecx, ecx ; je +6 ; mov eax, 1 ; ...: je is rewritten as 16 bytes.
    HookStatus status;
    RelocationPlan plan =
        planFor({0x85, 0xC9, 0x74, 0x06, 0xB8, 1, 0, 0, 0, 0xC3, 0xB8, 2, 0, 0, 0, 0xC3}, status);
    ASSERT_EQ(status, HookStatus::Ok);
    const uint64_t entry = 0x150000000;
    EXPECT_EQ(plan.relocatedAddress(0x140001000, entry), 0u); // the target itself: not moved
    EXPECT_EQ(plan.relocatedAddress(0x140001002, entry), entry + 2);
    EXPECT_EQ(plan.relocatedAddress(0x140001004, entry), entry + 2 + 16);
    EXPECT_EQ(plan.relocatedAddress(0x140001003, entry), 0u); // inside an instruction
    EXPECT_EQ(plan.relocatedAddress(0x140001009, entry), 0u); // past the moved ones
}

} // namespace
