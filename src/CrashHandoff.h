// The crash hand-off: on an unhandled exception, the crash context goes to the outside
// watchdog program through a named pipe. Process start-up arms it when the loader ini
// switches it on.
//
// Everything here runs on a crashing thread: no heap allocation (the heap may be what is
// broken), only fixed buffers, and every wait is bounded, so the hand-off never makes a
// crash worse than it was.
#pragma once

#include "CrashReportLayout.h"

#include "platform/win.h"

/// How long the crashing process waits for the watchdog to open the pipe and to take the
/// report, in total. A watchdog that ends early ends the wait at once.
constexpr DWORD kWatchdogHandoffTimeoutMs = 10000;
/// How long the crashing process waits for a watchdog that has the report to finish.
constexpr DWORD kWatchdogExitTimeoutMs = 900000;

/// Arms the crash hand-off for the rest of the process: installs crashFilter as the
/// process-wide unhandled-exception filter. Called once, by initProcess, when
/// isCrashHandlerActive() is true.
void armCrashHandoff();

/// True once armCrashHandoff() has run in this process.
bool isCrashHandoffArmed();

/// The unhandled-exception filter: starts the watchdog with this process's id and hands it
/// the report. Always EXCEPTION_CONTINUE_SEARCH, so the system's own crash handling goes on.
/// A second exception while a hand-off runs (in any thread) goes straight on.
LONG WINAPI crashFilter(PEXCEPTION_POINTERS exceptionPointers);

/// Starts `programPath` with the command line "<program file name> <arguments>", hands it
/// the report through the pipe and waits for it to end. 0 on success, else the Win32 error
/// of the step that failed (the pipe, the process start, the connection or the write).
DWORD launchWatchdog(PEXCEPTION_POINTERS exceptionPointers, const WCHAR* programPath,
                     const WCHAR* arguments);

/// Waits (bounded) until the watchdog process `watchdog` has opened `pipe` (created
/// overlapped, with `event` a manual-reset event for its operations), then writes the
/// report of `exceptionPointers` and `threadId`, continuing short writes. 0 when all 1442
/// bytes were written; else the error (ERROR_TIMEOUT, ERROR_PIPE_NOT_CONNECTED when the
/// watchdog ended first, or the failed call's).
DWORD sendCrashReport(HANDLE pipe, HANDLE event, HANDLE watchdog,
                      PEXCEPTION_POINTERS exceptionPointers, DWORD threadId);

/// Fills `report` (crashreport::kSize bytes) for the exception and thread: the CONTEXT,
/// the EXCEPTION_RECORD (zeros for a missing one), the thread id, the marker and the first
/// 25 characters of the executable's file name.
void fillCrashReport(unsigned char* report, PEXCEPTION_POINTERS exceptionPointers, DWORD threadId);

/// The watchdog command line launchWatchdog builds: the program's file name (after its last
/// backslash; the whole path when it has none), then the arguments with one blank in front
/// unless they are empty or begin with one. False when it does not fit `capacity`.
bool formatWatchdogCommandLine(const WCHAR* programPath, const WCHAR* arguments, WCHAR* buffer,
                               size_t capacity);
