// The one header through which the system's code reaches Win32, the C runtime's file
// functions, the kernel thunks and the Direct3D 9 DDI.
//
// On Windows this is <windows.h> plus our own DDI header. On Linux the same names are
// declared by sim/win32_api.h and implemented by the simulated machine (sim/), so the
// system's code is one source for both builds and carries no platform test of its own.
#pragma once

#ifdef _WIN32
#include <shlwapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

// After windows.h: the multimedia timer period (timeBeginPeriod), left out by WIN32_LEAN_AND_MEAN.
#include <timeapi.h>
// Thread and module snapshots (hooking engine, crash report), also after windows.h.
#include <tlhelp32.h>
#define VESSA_EXPORT extern "C" __declspec(dllexport)
#else
#include "platform/sim/win32_api.h"
#define VESSA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#include "platform/ddi.h"
#include "platform/text.h"
