// The crash report that the crash filter hands to the watchdog over the named pipe: its
// size, the offsets of its fields and the names both sides use. Shared by the library
// (writer) and v_WatchDog.exe (reader), so the two can never disagree about a field.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace crashreport {

/// The pipe the crashing process creates and the watchdog opens.
constexpr const char kPipeName[] = "\\\\.\\pipe\\pipe_vorizar2";
/// The watchdog program the crash filter starts, with the crashing process id as argument.
constexpr const char kWatchdogPath[] = "C:/dizizir/v_WatchDog.exe";

/// Total size of one report, written as one message.
constexpr size_t kSize = 1442;

/// Offsets (little-endian fields): the x64 CONTEXT, the x64 EXCEPTION_RECORD, the crashing
/// thread's id, a constant marker, and the executable's file name (25 UTF-16 characters,
/// zero-padded, not terminated when it fills the field).
constexpr size_t kContextOffset = 0;
constexpr size_t kContextSize = 1232;
constexpr size_t kExceptionOffset = 1232;
constexpr size_t kExceptionSize = 152;
constexpr size_t kThreadIdOffset = 1384;
constexpr size_t kMarkerOffset = 1388;
constexpr uint32_t kMarker = 16920;
constexpr size_t kNameOffset = 1392;
constexpr size_t kNameChars = 25;

static_assert(kExceptionOffset == kContextOffset + kContextSize, "fields follow each other");
static_assert(kThreadIdOffset == kExceptionOffset + kExceptionSize, "fields follow each other");
static_assert(kMarkerOffset == kThreadIdOffset + 4, "fields follow each other");
static_assert(kNameOffset == kMarkerOffset + 4, "fields follow each other");
static_assert(kSize == kNameOffset + 2 * kNameChars, "the name ends the report");

/// Offsets inside the x64 CONTEXT record.
namespace context {
constexpr size_t kContextFlags = 0x30;
constexpr size_t kMxCsr = 0x34;
constexpr size_t kSegCs = 0x38; // then Ds, Es, Fs, Gs, Ss, 16 bits each
constexpr size_t kEFlags = 0x44;
constexpr size_t kDr0 = 0x48; // Dr0..Dr3, Dr6, Dr7
constexpr size_t kRax = 0x78; // then Rcx, Rdx, Rbx, Rsp, Rbp, Rsi, Rdi, R8..R15, 64 bits each
constexpr size_t kRip = 0xF8;
} // namespace context

/// Offsets inside the x64 EXCEPTION_RECORD.
namespace exception {
constexpr size_t kCode = 0;
constexpr size_t kFlags = 4;
constexpr size_t kNestedRecord = 8;
constexpr size_t kAddress = 16;
constexpr size_t kParameterCount = 24;
constexpr size_t kParameters = 32; // 15 values of 64 bits
constexpr size_t kMaxParameters = 15;
} // namespace exception

} // namespace crashreport
