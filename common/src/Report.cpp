// The assertion report and the diagnostic log "c:\vessa.log".
//
// Each report is two lines, each with the prefix "TID:<id>, MM/DD/YY, HH:MM:SS, <file>:<line> - ":
//   1. the code text, "Warning code: <n>\n" or "Error code: <n>\n";
//   2. "Condition: <condition text>, <message>\r\n".
// The file is opened in text mode, so every "\n" reaches the disk as "\r\n" (and the message's
// "\r\n" as "\r\r\n"); log tools and support know the file in exactly that form.
//
// The log is truncated once, at the first report of the process, and afterwards opened,
// appended to and closed for every line, so it is complete on disk even after a crash.
#include "Report.h"

#include "platform/win.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

// Text limits, in characters, of the formatted pieces. Longer texts are cut at the limit.
constexpr size_t kCodeTextLimit = 1024;
constexpr size_t kConditionTextLimit = 1024;
constexpr size_t kLineLimit = 4096;
constexpr size_t kDateTimeLimit = 128;

const WCHAR kLogPath[] = WSTR("c:\\vessa.log");

// The log lock and the one-time truncation. A function-local static is initialised exactly
// once even when several threads make their first report at the same moment, so no thread
// can truncate the log under another's feet or take a half-initialised lock.
class LogFile {
public:
    LogFile() {
        if (FILE* f = _wfopen(kLogPath, WSTR("w")))
            fclose(f);
        InitializeCriticalSection(&m_lock);
    }

    void writeLine(const char* line) {
        EnterCriticalSection(&m_lock);
        if (FILE* f = _wfopen(kLogPath, WSTR("a"))) {
            fputs(line, f);
            fflush(f);
            fclose(f);
        }
        LeaveCriticalSection(&m_lock);
    }

    static LogFile& instance() {
        // Never destroyed: reports may come from other objects' destructors at exit.
        static LogFile* s_log = new LogFile();
        return *s_log;
    }

private:
    CRITICAL_SECTION m_lock;
};

// Writes one line: the prefix with a fresh date and time, then `text`.
void writePrefixedLine(const char* baseName, int line, const char* text) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[kDateTimeLimit];
    char time[kDateTimeLimit];
    snprintf(date, sizeof date, "%02u/%02u/%02u", now.wMonth, now.wDay, now.wYear % 100u);
    snprintf(time, sizeof time, "%02u:%02u:%02u", now.wHour, now.wMinute, now.wSecond);

    char full[kLineLimit];
    snprintf(full, sizeof full, "TID:%d, %s, %s, %s:%d - %s",
             static_cast<int>(GetCurrentThreadId()), date, time, baseName, line, text);
    LogFile::instance().writeLine(full);
}

} // namespace

const char* reportBaseName(const char* path) {
    if (!path)
        return "";
    const char* base = path;
    // The build gives paths with either separator; both end a directory.
    for (const char* p = path; *p; ++p) {
        if (*p == '\\' || *p == '/')
            base = p + 1;
    }
    return base;
}

void reportAssertion(ReportLevel level, int code, const char* sourceFile, int line,
                     const char* conditionText, const char* messageFormat, ...) {
    const char* baseName = reportBaseName(sourceFile);

    char codeText[kCodeTextLimit];
    snprintf(codeText, sizeof codeText,
             level == ReportLevel::Error ? "Error code: %d\n" : "Warning code: %d\n", code);
    writePrefixedLine(baseName, line, codeText);

    // The condition is an argument, never part of the format, so a "%" in it prints as is.
    char conditionLine[kConditionTextLimit];
    int used = snprintf(conditionLine, sizeof conditionLine, "Condition: %s, ",
                        conditionText ? conditionText : "");
    if (used >= 0 && static_cast<size_t>(used) < sizeof conditionLine - 1) {
        va_list args;
        va_start(args, messageFormat);
        vsnprintf(conditionLine + used, sizeof conditionLine - used, messageFormat, args);
        va_end(args);
    }
    // The line always ends in "\r\n", even when the message was cut at the limit.
    size_t length = strlen(conditionLine);
    if (length > sizeof conditionLine - 3)
        length = sizeof conditionLine - 3;
    conditionLine[length] = '\r';
    conditionLine[length + 1] = '\n';
    conditionLine[length + 2] = '\0';
    writePrefixedLine(baseName, line, conditionLine);

    // Every caller carries on after a report, so a breakpoint without a debugger (which
    // would end the process) is never taken.
    if (level == ReportLevel::Error && IsDebuggerPresent())
        DebugBreak();
}
