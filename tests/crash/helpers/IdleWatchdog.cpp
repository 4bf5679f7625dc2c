// A watchdog that never opens the crash pipe: it sleeps for the milliseconds its first
// argument names (0: ends at once), then ends with exit code 0.
#include "platform/win.h"

#include <stdlib.h>

int main(int argc, char** argv) {
    Sleep(argc > 1 ? static_cast<DWORD>(strtoul(argv[1], nullptr, 10)) : 0);
    return 0;
}
