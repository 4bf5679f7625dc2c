// Our own Direct3D 9 user-mode DDI and kernel-thunk header (x64 layouts), written from the
// WDDM 1.1 layouts. MinGW ships neither d3dumddi.h nor d3dkmthk.h, and the simulated
// machine needs the same types, so both builds use this one.
//
// Included (through platform/win.h) after <windows.h> on Windows and after
// platform/sim/win32_api.h on Linux. Every size and offset that the driver interface fixes
// is checked by a static_assert next to its declaration.
#pragma once

// clang-format off
#include "platform/ddi/shared_types.h"
#include "platform/ddi/status_codes.h"
#include "platform/ddi/kmt.h"
#include "platform/ddi/umd_args.h"
#include "platform/ddi/umd_tables.h"
// clang-format on
