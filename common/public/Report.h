// The assertion report: the system's only diagnostics.
//
// A check is made by the caller; when it fails, the caller issues a report naming a level,
// a numeric code, the condition's source text and a message. The report writes two lines
// to "c:\vessa.log" (see Report.cpp) and returns: reports never change control flow,
// except that an Error breaks into a debugger when one is attached.
#pragma once

enum class ReportLevel { Warning, Error };

/// Writes one report. `conditionText` is printed literally, never used as a format.
/// `messageFormat` is printf-style (narrow) with its arguments; "\r\n" is appended.
void reportAssertion(ReportLevel level, int code, const char* sourceFile, int line,
                     const char* conditionText, const char* messageFormat, ...)
    __attribute__((format(printf, 6, 7)));

/// The base name of a source path: the text after its last path separator.
const char* reportBaseName(const char* path);

/// Reports when `condition` is false and yields the condition's value, so the caller
/// decides what to do next: `if (!VESSA_CHECK(Error, 1112, rc == 0, "...")) return false;`
#define VESSA_CHECK(level, code, condition, ...)                                                   \
    ((condition) ? true                                                                            \
                 : (reportAssertion(ReportLevel::level, code, __FILE__, __LINE__, #condition,      \
                                    __VA_ARGS__),                                                  \
                    false))

/// An unconditional report on a failure path; the condition text is given explicitly
/// (often "false", or the text of a check the caller made itself).
#define VESSA_REPORT(level, code, conditionText, ...)                                              \
    reportAssertion(ReportLevel::level, code, __FILE__, __LINE__, conditionText, __VA_ARGS__)

/// As VESSA_CHECK, for the long-established report sites whose file:line support staff and
/// log tools know them by: the line is given explicitly and stays stable as the file changes.
#define VESSA_CHECK_AT(line, level, code, condition, ...)                                          \
    ((condition)                                                                                   \
         ? true                                                                                    \
         : (reportAssertion(ReportLevel::level, code, __FILE__, line, #condition, __VA_ARGS__),    \
            false))

/// As VESSA_REPORT with an explicit, stable line.
#define VESSA_REPORT_AT(line, level, code, conditionText, ...)                                     \
    reportAssertion(ReportLevel::level, code, __FILE__, line, conditionText, __VA_ARGS__)
