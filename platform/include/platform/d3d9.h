// IDirect3D9 in its C form (operations through lpVtbl) on both builds: MinGW's <d3d9.h>
// with CINTERFACE on Windows, a layout-identical declaration on the simulated machine.
#pragma once

#include "platform/win.h"

#ifdef _WIN32
#ifndef CINTERFACE
#define CINTERFACE
#endif
#include <d3d9.h>
#else
#include "platform/sim/d3d9_api.h"
#endif
