// How the simulated runtime turns kernel statuses into the HRESULTs its callbacks return.
#pragma once

#include "platform/win.h"

namespace sim {
namespace rt {

/// The HRESULT a runtime callback returns for a kernel status.
HRESULT toHresult(NTSTATUS status);

/// Live runtime objects, so that callbacks can refuse handles the runtime never gave out.
void addLiveObject(const void* pObject);
void removeLiveObject(const void* pObject);
bool isLiveObject(const void* pObject);

} // namespace rt
} // namespace sim
