// Reading the crash report the crashing process sends through the pipe. Platform-free and
// safe for any bytes: a field is taken only when all of its bytes arrived, so a truncated,
// oversized or garbage report still reads as far as it goes.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string>

namespace watchdog {

/// The registers of the x64 CONTEXT record.
struct Registers {
    uint32_t contextFlags = 0;
    uint32_t mxcsr = 0;
    uint16_t segments[6] = {}; // Cs, Ds, Es, Fs, Gs, Ss
    uint32_t eflags = 0;
    uint64_t debug[6] = {};    // Dr0..Dr3, Dr6, Dr7
    uint64_t general[16] = {}; // Rax, Rcx, Rdx, Rbx, Rsp, Rbp, Rsi, Rdi, R8..R15
    uint64_t rip = 0;
};

/// The x64 EXCEPTION_RECORD.
struct ExceptionInfo {
    uint32_t code = 0;
    uint32_t flags = 0;
    uint64_t nestedRecord = 0;
    uint64_t address = 0;
    uint32_t parameterCount = 0; // as sent; at most 15 are meaningful
    uint64_t parameters[15] = {};
};

/// What one report holds. `has*` says whether the field arrived whole.
struct CrashReport {
    size_t received = 0; // bytes received (may differ from the expected 1442)
    bool hasRegisters = false;
    Registers registers;
    bool hasException = false;
    ExceptionInfo exception;
    bool hasThreadId = false;
    uint32_t threadId = 0;
    bool hasMarker = false;
    uint32_t marker = 0;
    /// The executable's file name as far as it arrived: up to 25 UTF-16 units, cut at the
    /// first zero.
    std::u16string executable;

    /// All 1442 bytes arrived and nothing more.
    bool complete() const;
    /// The marker arrived and is the expected constant.
    bool markerValid() const;
};

/// Reads a report from `size` bytes at `data` (null with size 0 is an empty report).
CrashReport readCrashReport(const uint8_t* data, size_t size);

} // namespace watchdog
