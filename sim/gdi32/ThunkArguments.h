// Journal text of the kernel-thunk arguments: what each call asked for ("in") and, after a
// success, what it handed back ("out").
#pragma once

#include "platform/win.h"

#include <string>

namespace sim {

#define SIM_THUNK_TEXT(Name, NAME, qualifier)                                                      \
    std::string describeIn(const D3DKMT_##NAME* pArgs);                                            \
    std::string describeOut(const D3DKMT_##NAME* pArgs);
VESSA_D3DKMT_THUNKS(SIM_THUNK_TEXT)
#undef SIM_THUNK_TEXT

} // namespace sim
