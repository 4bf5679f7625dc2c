// Visibility of the machine core's API: the core is one shared library whose singletons are
// shared by every simulated module and by the tests, so its classes are exported.
#pragma once

#ifdef _WIN32
// The Windows harness build links the core as DLLs that export every symbol.
#define SIM_API
#else
#define SIM_API __attribute__((visibility("default")))
#endif
