// Reading the crash report field by field: every field is copied out byte-wise, little
// endian, only when it lies wholly inside what arrived.
#include "CrashReportReader.h"

#include "CrashReportLayout.h"

namespace watchdog {

namespace {

class Fields {
public:
    Fields(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool has(size_t offset, size_t bytes) const {
        return m_data && offset <= m_size && bytes <= m_size - offset;
    }

    uint64_t read(size_t offset, size_t bytes) const {
        uint64_t value = 0;
        for (size_t i = 0; i < bytes; ++i)
            value |= static_cast<uint64_t>(m_data[offset + i]) << (8 * i);
        return value;
    }
    uint16_t u16(size_t offset) const { return static_cast<uint16_t>(read(offset, 2)); }
    uint32_t u32(size_t offset) const { return static_cast<uint32_t>(read(offset, 4)); }
    uint64_t u64(size_t offset) const { return read(offset, 8); }

private:
    const uint8_t* m_data;
    size_t m_size;
};

void readRegisters(const Fields& in, Registers& out) {
    namespace c = crashreport::context;
    size_t base = crashreport::kContextOffset;
    out.contextFlags = in.u32(base + c::kContextFlags);
    out.mxcsr = in.u32(base + c::kMxCsr);
    for (size_t i = 0; i < 6; ++i)
        out.segments[i] = in.u16(base + c::kSegCs + 2 * i);
    out.eflags = in.u32(base + c::kEFlags);
    for (size_t i = 0; i < 6; ++i)
        out.debug[i] = in.u64(base + c::kDr0 + 8 * i);
    for (size_t i = 0; i < 16; ++i)
        out.general[i] = in.u64(base + c::kRax + 8 * i);
    out.rip = in.u64(base + c::kRip);
}

void readException(const Fields& in, ExceptionInfo& out) {
    namespace e = crashreport::exception;
    size_t base = crashreport::kExceptionOffset;
    out.code = in.u32(base + e::kCode);
    out.flags = in.u32(base + e::kFlags);
    out.nestedRecord = in.u64(base + e::kNestedRecord);
    out.address = in.u64(base + e::kAddress);
    out.parameterCount = in.u32(base + e::kParameterCount);
    for (size_t i = 0; i < e::kMaxParameters; ++i)
        out.parameters[i] = in.u64(base + e::kParameters + 8 * i);
}

} // namespace

bool CrashReport::complete() const {
    return received == crashreport::kSize;
}

bool CrashReport::markerValid() const {
    return hasMarker && marker == crashreport::kMarker;
}

CrashReport readCrashReport(const uint8_t* data, size_t size) {
    CrashReport report;
    report.received = data ? size : 0;
    Fields in(data, report.received);
    report.hasRegisters = in.has(crashreport::kContextOffset, crashreport::kContextSize);
    if (report.hasRegisters)
        readRegisters(in, report.registers);
    report.hasException = in.has(crashreport::kExceptionOffset, crashreport::kExceptionSize);
    if (report.hasException)
        readException(in, report.exception);
    report.hasThreadId = in.has(crashreport::kThreadIdOffset, 4);
    if (report.hasThreadId)
        report.threadId = in.u32(crashreport::kThreadIdOffset);
    report.hasMarker = in.has(crashreport::kMarkerOffset, 4);
    if (report.hasMarker)
        report.marker = in.u32(crashreport::kMarkerOffset);
    for (size_t i = 0; i < crashreport::kNameChars; ++i) {
        size_t offset = crashreport::kNameOffset + 2 * i;
        if (!in.has(offset, 2))
            break;
        char16_t c = static_cast<char16_t>(in.u16(offset));
        if (c == 0)
            break;
        report.executable += c;
    }
    return report;
}

} // namespace watchdog
