// Helpers shared by the adapter tests on the simulated machine.
#pragma once

#include "platform/win.h"
#include "sim/Machine.h"

#include <string>

namespace adaptertest {

inline sim::Machine& machine() {
    return sim::Machine::instance();
}

/// The diagnostic log written so far.
inline std::string log() {
    std::string contents;
    machine().root().readFile(u"c:\\vessa.log", contents);
    return contents;
}

/// Empties the log (as the first report of a fresh process would).
inline void clearLog() {
    machine().root().writeFile(u"c:\\vessa.log", "");
}

/// Number of reports of this level and code whose second line holds `message`, at `site`
/// ("Adapter9.cpp:249") when given.
inline int reports(const std::string& level, int code, const std::string& message,
                   const std::string& site = "") {
    const std::string text = log();
    const std::string codeText = level + " code: " + std::to_string(code);
    int found = 0;
    size_t at = 0;
    while ((at = text.find(codeText + "\r", at)) != std::string::npos) {
        size_t lineStart = text.rfind('\n', at);
        lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
        size_t next = text.find('\n', at);
        size_t nextEnd = next == std::string::npos ? std::string::npos : text.find('\n', next + 1);
        std::string firstLine = text.substr(lineStart, at - lineStart);
        std::string secondLine =
            next == std::string::npos ? "" : text.substr(next + 1, nextEnd - next - 1);
        // "file.cpp:123" must match the whole site, "file.cpp" any line of the file.
        const std::string siteText =
            ", " + site + (site.find(':') == std::string::npos ? ":" : " - ");
        if ((site.empty() || firstLine.find(siteText) != std::string::npos) &&
            secondLine.find(message) != std::string::npos)
            ++found;
        at += codeText.size();
    }
    return found;
}

} // namespace adaptertest
