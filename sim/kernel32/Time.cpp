// kernel32.dll: clocks.
#include "platform/sim/win32_api.h"
#include "sim/Clock.h"
#include "sim/Machine.h"

#include <sys/time.h>
#include <time.h>

namespace {

// The performance counter ticks in 100 ns units, the frequency current Windows reports.
constexpr LONGLONG kCounterFrequency = 10000000;

// The machine's clock (real, or the scenario's virtual time).
uint64_t monotonicNanoseconds() {
    return sim::Clock::instance().nowNs();
}

void fillSystemTime(const tm& parts, long nanoseconds, LPSYSTEMTIME time) {
    time->wYear = static_cast<WORD>(parts.tm_year + 1900);
    time->wMonth = static_cast<WORD>(parts.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    time->wDay = static_cast<WORD>(parts.tm_mday);
    time->wHour = static_cast<WORD>(parts.tm_hour);
    time->wMinute = static_cast<WORD>(parts.tm_min);
    time->wSecond = static_cast<WORD>(parts.tm_sec);
    time->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

/// Fills `time` with the wall-clock time now, split into calendar parts by `split`
/// (localtime_r for local time, gmtime_r for UTC); a null `time` is ignored.
void fillCurrentTime(LPSYSTEMTIME time, tm* (*split)(const time_t*, tm*)) {
    if (!time)
        return;
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts;
    split(&now.tv_sec, &parts);
    fillSystemTime(parts, now.tv_nsec, time);
}

} // namespace

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (!count) {
        sim::setLastError(ERROR_NOACCESS);
        return FALSE;
    }
    count->QuadPart = static_cast<LONGLONG>(monotonicNanoseconds() / 100);
    return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (!frequency) {
        sim::setLastError(ERROR_NOACCESS);
        return FALSE;
    }
    frequency->QuadPart = kCounterFrequency;
    return TRUE;
}

void WINAPI GetLocalTime(LPSYSTEMTIME time) {
    fillCurrentTime(time, localtime_r);
}

void WINAPI GetSystemTime(LPSYSTEMTIME time) {
    fillCurrentTime(time, gmtime_r);
}

DWORD WINAPI GetTickCount(void) {
    return static_cast<DWORD>(monotonicNanoseconds() / 1000000);
}

ULONGLONG WINAPI GetTickCount64(void) {
    return monotonicNanoseconds() / 1000000;
}
