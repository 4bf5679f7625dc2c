// The crash hand-off's arming point. The exception filter and the pipe protocol to the
// watchdog are installed from here; until then arming only records that the loader ini
// asked for it.
#include "CrashHandoff.h"

namespace {
bool s_armed = false;
} // namespace

void armCrashHandoff() {
    s_armed = true;
}

bool isCrashHandoffArmed() {
    return s_armed;
}
