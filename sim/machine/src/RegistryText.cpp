// Import of registry files in regedit's text form.
#include "sim/Registry.h"

namespace sim {

bool Registry::importText(std::string_view text, size_t* errorLine) {
    (void)text;
    if (errorLine)
        *errorLine = 0;
    return false;
}

} // namespace sim
