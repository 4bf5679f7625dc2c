// Reading a whole configuration file into memory, by its Windows path.
#pragma once

#include "platform/win.h"

#include <stdint.h>
#include <vector>

namespace configctl {

/// Why a file could not be read.
enum class ReadStatus { Ok, Missing, TooLarge, ReadError };

/// Reads the file at `path` into `bytes`, refusing files larger than `limit` bytes.
ReadStatus readWholeFile(const WCHAR* path, size_t limit, std::vector<uint8_t>& bytes);

} // namespace configctl
