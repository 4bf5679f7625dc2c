// The interception engine's decoder on any bytes: every instruction it accepts lies inside
// the bytes it was given and names a branch or RIP-relative target when it is one.
#include "hook/InstructionDecoder.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const hook::InstructionDecoder decoder;
    const uint64_t address = 0x7ff612340000ull;
    size_t at = 0;
    while (at < size) {
        hook::Instruction instruction;
        if (!decoder.decode(data + at, size - at, address + at, instruction))
            break;
        if (instruction.length == 0 || instruction.length > 15 || instruction.length > size - at)
            abort();
        if (instruction.address != address + at)
            abort();
        if (instruction.kind == hook::InstructionKind::RipRelative &&
            instruction.displacementOffset + 4u > instruction.length)
            abort();
        at += instruction.length;
    }
    return 0;
}
