// The file is read through the C runtime with its Windows path, so the same code reads the
// real file system on Windows and the simulated machine's on Linux.
#include "FileReader.h"

#include <stdio.h>

namespace configctl {

ReadStatus readWholeFile(const WCHAR* path, size_t limit, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (!path || !path[0])
        return ReadStatus::Missing;
    FILE* f = _wfopen(path, WSTR("rb"));
    if (!f)
        return ReadStatus::Missing;

    // Read in chunks instead of trusting a size from seeking: the limit holds even for a
    // file that grows while it is read, or a device that reports no size.
    constexpr size_t kChunk = 64 * 1024;
    ReadStatus status = ReadStatus::Ok;
    for (;;) {
        size_t used = bytes.size();
        if (used > limit) {
            status = ReadStatus::TooLarge;
            break;
        }
        bytes.resize(used + kChunk);
        size_t got = fread(bytes.data() + used, 1, kChunk, f);
        bytes.resize(used + got);
        if (got < kChunk) {
            if (ferror(f))
                status = ReadStatus::ReadError;
            else if (bytes.size() > limit)
                status = ReadStatus::TooLarge;
            break;
        }
    }
    fclose(f);
    if (status != ReadStatus::Ok)
        bytes.clear();
    return status;
}

} // namespace configctl
