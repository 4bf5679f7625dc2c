// The readable crash report the watchdog writes: what the crashed process sent, named and
// laid out for a person, with the module each address falls in when the module list of the
// crashed process is known. Platform-free.
#pragma once

#include "CrashReportReader.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace watchdog {

/// One module of the crashed process.
struct ModuleInfo {
    uint64_t base = 0;
    uint64_t size = 0;
    std::string name; // file name
    std::string path; // full path
};

/// What the watchdog knows besides the report.
struct ReportSurroundings {
    std::string commandLine;   // the watchdog's own command line
    bool hasProcessId = false; // the command line named the crashed process
    uint32_t processId = 0;
    std::string time;          // when the report arrived, readable
    bool modulesKnown = false; // the module list could be read
    std::vector<ModuleInfo> modules;
};

/// The name of an exception code ("EXCEPTION_ACCESS_VIOLATION") and what it means ("access
/// violation"); null for a code it does not know.
struct ExceptionName {
    uint32_t code;
    const char* name;
    const char* meaning;
};
const ExceptionName* exceptionNameOf(uint32_t code);

/// The module `address` falls in, or null.
const ModuleInfo* moduleAt(const std::vector<ModuleInfo>& modules, uint64_t address);

/// "game.exe+0x1a2b", or "" when no module holds the address.
std::string moduleOffsetText(const std::vector<ModuleInfo>& modules, uint64_t address);

/// UTF-16 as UTF-8 for the report: unpaired surrogates and control characters are shown as
/// U+FFFD, so no byte a crashed process sends can break the text file.
std::string printableText(const std::u16string& text);

/// The whole readable report (lines ending in "\r\n").
std::string formatCrashReport(const CrashReport& report, const ReportSurroundings& around);

} // namespace watchdog
