// gdi32.dll of the simulated machine. The kernel thunks and device contexts are added by
// the simulated GPUs; the system resolves the thunks with GetProcAddress, so a thunk this
// module does not export fails as it would on a system without it.
#include "platform/sim/win32_api.h"
