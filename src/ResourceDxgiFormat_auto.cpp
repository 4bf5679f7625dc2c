// The bits-per-pixel lookup, expanded from VESSA_FORMAT_BITS.
#include "ResourceDxgiFormat_auto.h"

#include "Report.h"

#include <string.h>

uint32_t formatBitsPerPixel(D3DDDIFORMAT format) {
    // Compared as a plain number: callers pass whatever the runtime or a driver wrote, which
    // need not be a member of the enumeration.
    uint32_t value;
    memcpy(&value, &format, sizeof value);
    switch (value) {
#define VESSA_FORMAT_BITS_CASE(name, bits)                                                         \
    case uint32_t(name):                                                                           \
        return bits;
        VESSA_FORMAT_BITS(VESSA_FORMAT_BITS_CASE)
#undef VESSA_FORMAT_BITS_CASE
    default:
        VESSA_REPORT_AT(244, Error, 1171, "false", "undocumented texture format format");
        return 0;
    }
}
