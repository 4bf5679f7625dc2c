// Our own Direct3D 9 user-mode DDI and kernel-thunk header (x64 layouts), written from the
// WDDM 1.1 layouts. MinGW ships neither d3dumddi.h nor d3dkmthk.h, and the simulated
// machine needs the same types, so both builds use this one.
#pragma once
