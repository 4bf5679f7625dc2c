// Visibility of the machine core's API: the core is one shared library whose singletons are
// shared by every simulated module and by the tests, so its classes are exported.
#pragma once

#define SIM_API __attribute__((visibility("default")))
