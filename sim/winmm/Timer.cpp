// winmm.dll: the multimedia timer. The host's timers are already fine-grained, so a period
// request changes nothing but is checked and journalled as Windows would see it.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Clock.h"

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
    // The machine's clock, so that the virtual clock drives this timer too.
    return static_cast<DWORD>(sim::Clock::instance().nowNs() / 1000000u);
}
