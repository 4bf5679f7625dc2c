// The extent of a loaded module's image, for tests of which module an address lies in.
#pragma once

#include "platform/win.h"

#include <cstddef>

namespace platform {

/// The bytes the image of `module` (its base address) spans, from its own headers: on
/// Windows the PE header's SizeOfImage, when the module starts with "MZ" and its NT headers
/// are readable for 264 bytes, carry "PE" and a non-zero optional-header size; on the
/// simulated machine the extent of the ELF object's loaded segments. 0 when there are no
/// such headers.
size_t moduleImageSize(HMODULE module);

} // namespace platform
