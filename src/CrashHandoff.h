// The crash hand-off: on an unhandled exception, the crash context goes to the outside
// watchdog program. Process start-up arms it when the loader ini switches it on.
#pragma once

/// Arms the crash hand-off for the rest of the process. Called once, by initProcess, when
/// isCrashHandlerActive() is true; this is where the process-wide unhandled-exception
/// filter is installed.
void armCrashHandoff();

/// True once armCrashHandoff() has run in this process.
bool isCrashHandoffArmed();
