// Status translation and the runtime's live-object registry.
#include "KernelStatus.h"

#include <mutex>
#include <set>

namespace sim {
namespace rt {

HRESULT toHresult(NTSTATUS status) {
    if (status >= 0)
        return S_OK;
    switch (ULONG(status)) {
    case 0xC000000Du: // STATUS_INVALID_PARAMETER
        return E_INVALIDARG;
    case 0xC0000017u: // STATUS_NO_MEMORY
        return E_OUTOFMEMORY;
    case 0xC01E0100u: // STATUS_GRAPHICS_NO_VIDEO_MEMORY
        return D3DERR_OUTOFVIDEOMEMORY;
    case 0xC01E0102u: // STATUS_GRAPHICS_ALLOCATION_BUSY
        return D3DERR_WASSTILLDRAWING;
    case 0xC0000023u: // STATUS_BUFFER_TOO_SMALL
        return D3DERR_MOREDATA;
    case 0xC00000BBu: // STATUS_NOT_SUPPORTED
        return E_NOTIMPL;
    default:
        return E_FAIL;
    }
}

namespace {

std::mutex& liveLock() {
    static std::mutex* s_pLock = new std::mutex();
    return *s_pLock;
}

std::set<const void*>& liveSet() {
    static std::set<const void*>* s_pSet = new std::set<const void*>();
    return *s_pSet;
}

} // namespace

void addLiveObject(const void* pObject) {
    std::lock_guard<std::mutex> guard(liveLock());
    liveSet().insert(pObject);
}

void removeLiveObject(const void* pObject) {
    std::lock_guard<std::mutex> guard(liveLock());
    liveSet().erase(pObject);
}

bool isLiveObject(const void* pObject) {
    std::lock_guard<std::mutex> guard(liveLock());
    return liveSet().count(pObject) != 0;
}

} // namespace rt
} // namespace sim
