// Reads the diagnostic log back in tests, through the same Windows path the system writes.
#pragma once

#include "platform/win.h"

#include <string>
#include <vector>

namespace testlog {

/// The raw bytes of "c:\vessa.log" (empty when it does not exist).
inline std::string readLog() {
    std::string bytes;
    FILE* f = _wfopen(WSTR("c:\\vessa.log"), WSTR("rb"));
    if (!f)
        return bytes;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.append(buffer, n);
    fclose(f);
    return bytes;
}

/// Replaces the log with `bytes` (as an earlier process would have left it).
inline void writeLog(const std::string& bytes) {
    FILE* f = _wfopen(WSTR("c:\\vessa.log"), WSTR("wb"));
    if (!f)
        return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

/// The log split into lines at each "\n", which is kept with its line.
inline std::vector<std::string> logLines() {
    std::vector<std::string> lines;
    std::string log = readLog();
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        end = end == std::string::npos ? log.size() : end + 1;
        lines.push_back(log.substr(start, end - start));
        start = end;
    }
    return lines;
}

/// The text of a log line after its "TID:..., date, time, file:line - " prefix.
inline std::string afterPrefix(const std::string& line) {
    size_t dash = line.find(" - ");
    return dash == std::string::npos ? line : line.substr(dash + 3);
}

} // namespace testlog

/// Test fixture base: each test starts with an empty log, whatever an earlier process left.
#include <gtest/gtest.h>
class EmptyLogTest : public ::testing::Test {
protected:
    void SetUp() override { testlog::writeLog(""); }
};
