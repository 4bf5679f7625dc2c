// Between the thread objects of Threads.cpp and the thread control of ThreadControl.cpp.
#pragma once

#include "platform/sim/win32_api.h"

namespace sim {

/// The host thread id of a thread that CreateThread made (Threads.cpp); false for a handle
/// that is no such thread.
bool createdThreadId(HANDLE handle, DWORD& threadId);

/// Resumes a thread that SuspendThread stopped (ThreadControl.cpp). True when the handle
/// was a thread opened with OpenThread or a thread with a pending suspension; then
/// `previousCount` holds ResumeThread's answer. False leaves the handle to Threads.cpp.
bool resumeStoppedThread(HANDLE handle, DWORD& previousCount);

} // namespace sim
