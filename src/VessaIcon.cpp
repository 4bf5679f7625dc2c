// VessaIcon: the corner code.
#include "VessaIcon.h"

uint32_t VessaIcon::cornerFromText(const WCHAR* text) {
    const bool upper = text && text[0] == 'U';
    const bool left = text && text[0] && text[1] == 'L';
    if (upper)
        return left ? kIconUpperLeft : kIconUpperRight;
    return left ? kIconLowerLeft : kIconLowerRight;
}
