// Shared helpers of the fuzz targets: the simulated machine's module folder, the diagnostic
// log kept small over millions of runs, and an input cut into the pieces a target needs.
#pragma once

#include "sim/Machine.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string>

namespace fuzz {

/// Points the simulated loader at the build's modules unless the caller already did, and
/// stops the machine's call journal: over millions of inputs it would only grow (to its
/// capacity of a million entries) and slow every call down.
inline void useBuildModules() {
    setenv("VESSA_MODULE_DIR", VESSA_FUZZ_MODULE_DIR, 0);
    sim::Machine::instance().journal().setEnabled(false);
}

/// Every reader reports what it refuses into c:\vessa.log, which would grow without end
/// over a long run: it is emptied every few hundred inputs.
inline void keepLogSmall() {
    static unsigned calls = 0;
    if (++calls % 256 == 0)
        sim::Machine::instance().root().writeFile(u"c:\\vessa.log", "");
}

/// The fuzzer's bytes, consumed from the front.
class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    /// The next byte, 0 when none is left.
    uint8_t byte() {
        if (m_at >= m_size)
            return 0;
        return m_data[m_at++];
    }
    /// Text up to the next `separator` line ("\n" + separator + "\n") or the end.
    std::string part(const std::string& separator) {
        std::string rest = remaining();
        std::string marker = "\n" + separator + "\n";
        size_t end = rest.find(marker);
        if (end == std::string::npos) {
            m_at = m_size;
            return rest;
        }
        m_at += end + marker.size();
        return rest.substr(0, end);
    }
    /// Text up to the next line end (consumed, not returned) or the end.
    std::string line() {
        std::string rest = remaining();
        size_t end = rest.find('\n');
        if (end == std::string::npos) {
            m_at = m_size;
            return rest;
        }
        m_at += end + 1;
        return rest.substr(0, end);
    }
    /// Everything not consumed yet.
    std::string remaining() const {
        return std::string(reinterpret_cast<const char*>(m_data) + m_at, m_size - m_at);
    }
    /// The rest as UTF-16 units, two bytes each (a trailing odd byte is dropped).
    std::u16string remainingWide() const {
        std::u16string text;
        for (size_t i = m_at; i + 1 < m_size; i += 2)
            text.push_back(static_cast<char16_t>(m_data[i] | (m_data[i + 1] << 8)));
        return text;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

} // namespace fuzz
