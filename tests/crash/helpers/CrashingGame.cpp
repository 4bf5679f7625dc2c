// game.exe for the crash hand-off tests: loads the library named on its command line (whose
// start-up arms the crash hand-off when the loader ini asks for it), then writes through a
// bad pointer. Exit code 10 when the library does not load, 11 when the write survived.
#include "platform/win.h"

int main(int argc, char** argv) {
    if (argc != 2)
        return 9;
    std::u16string library = text::widen(argv[1]);
    if (!LoadLibraryW(text::w(library)))
        return 10;
    // Through a variable, so the compiler cannot see the bad address coming.
    volatile uintptr_t address = 0x10;
    *reinterpret_cast<volatile int*>(address) = 1;
    return 11;
}
