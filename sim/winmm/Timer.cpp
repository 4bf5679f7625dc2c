// winmm.dll: the multimedia timer. The host's timers are already fine-grained, so a period
// request changes nothing but is checked and journalled as Windows would see it.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"

#include <time.h>

namespace {

MMRESULT changePeriod(const char* entry, UINT period) {
    sim::Call call("winmm.dll", entry);
    call.args("period=%u", period);
    if (call.faulted())
        return call.finish(static_cast<MMRESULT>(call.faultStatus()));
    // The supported range, as timeGetDevCaps reports it on Windows: 1 to 1,000,000 ms.
    if (period < 1 || period > 1000000)
        return call.finish(static_cast<MMRESULT>(TIMERR_NOCANDO));
    return call.finish(static_cast<MMRESULT>(TIMERR_NOERROR));
}

} // namespace

MMRESULT WINAPI timeBeginPeriod(UINT period) {
    return changePeriod("timeBeginPeriod", period);
}

MMRESULT WINAPI timeEndPeriod(UINT period) {
    return changePeriod("timeEndPeriod", period);
}

DWORD WINAPI timeGetTime(void) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                              static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}
