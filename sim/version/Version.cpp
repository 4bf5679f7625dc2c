// version.dll: file-version queries over the machine's file-version data.
//
// A file without version data gives ERROR_RESOURCE_TYPE_NOT_FOUND when it exists (in the
// root, or by name in the module search path) and ERROR_FILE_NOT_FOUND otherwise. The A and
// W functions return the same (Unicode) resource block.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace {

const char kModule[] = "version.dll";

bool fileExists(const std::u16string& name) {
    sim::Machine& machine = sim::Machine::instance();
    std::string host = name.find_first_of(u"\\/:") == std::u16string::npos
                           ? machine.modules().find(sim::toUtf8(name))
                           : machine.root().toHost(name);
    struct stat st;
    return !host.empty() && ::stat(host.c_str(), &st) == 0;
}

// The resource of a file, or false with the last error set.
bool resourceOf(const std::u16string& name, std::vector<uint8_t>& resource) {
    auto version = sim::Machine::instance().fileVersions().find(name);
    if (!version) {
        sim::setLastError(fileExists(name) ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_FILE_NOT_FOUND);
        return false;
    }
    resource = sim::FileVersions::resourceOf(*version);
    return true;
}

DWORD sizeOf(const char* entry, const std::u16string& name, LPDWORD handle) {
    sim::Call call(kModule, entry);
    call.args("name=%s", sim::toUtf8(name).c_str());
    if (handle)
        *handle = 0;
    if (call.faulted()) {
        sim::setLastError(static_cast<DWORD>(call.faultStatus()));
        return call.finish(0u);
    }
    std::vector<uint8_t> resource;
    if (!resourceOf(name, resource))
        return call.finish(0u);
    return call.finish(static_cast<DWORD>(resource.size()));
}

BOOL infoOf(const char* entry, const std::u16string& name, DWORD length, LPVOID data) {
    sim::Call call(kModule, entry);
    call.args("name=%s length=%u", sim::toUtf8(name).c_str(), length);
    if (call.faulted()) {
        sim::setLastError(static_cast<DWORD>(call.faultStatus()));
        return call.finish(FALSE);
    }
    if (!data) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return call.finish(FALSE);
    }
    std::vector<uint8_t> resource;
    if (!resourceOf(name, resource))
        return call.finish(FALSE);
    // A short buffer receives the beginning of the block, as on Windows.
    memcpy(data, resource.data(), length < resource.size() ? length : resource.size());
    return call.finish(TRUE);
}

/// One node of a version resource block.
struct Node {
    const uint8_t* base;
    uint16_t length;
    uint16_t valueLength;
    uint16_t type;
    std::u16string key;
    size_t valueOffset;
    size_t childrenOffset;
};

size_t aligned(size_t offset) {
    return (offset + 3) & ~size_t(3);
}

bool readNode(const uint8_t* base, size_t limit, Node& node) {
    if (limit < 6)
        return false;
    node.base = base;
    memcpy(&node.length, base, 2);
    memcpy(&node.valueLength, base + 2, 2);
    memcpy(&node.type, base + 4, 2);
    if (node.length < 6 || node.length > limit)
        return false;
    node.key.clear();
    size_t offset = 6;
    for (;;) {
        if (offset + 2 > node.length)
            return false;
        char16_t c;
        memcpy(&c, base + offset, 2);
        offset += 2;
        if (!c)
            break;
        node.key += c;
    }
    node.valueOffset = aligned(offset);
    size_t valueBytes = node.type == 1 ? size_t(node.valueLength) * 2 : node.valueLength;
    node.childrenOffset = aligned(node.valueOffset + valueBytes);
    return node.valueOffset + valueBytes <= node.length;
}

} // namespace

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle) {
    return sizeOf("GetFileVersionInfoSizeW", sim::wideOf(fileName), handle);
}

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) {
    return sizeOf("GetFileVersionInfoSizeA", sim::fromUtf8(fileName ? fileName : ""), handle);
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR fileName, DWORD handle, DWORD length, LPVOID data) {
    return infoOf("GetFileVersionInfoW", sim::wideOf(fileName), length, data);
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD length, LPVOID data) {
    return infoOf("GetFileVersionInfoA", sim::fromUtf8(fileName ? fileName : ""), length, data);
}

BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length) {
    if (!block || !subBlock || !buffer)
        return FALSE;
    Node node;
    const uint8_t* base = static_cast<const uint8_t*>(block);
    uint16_t total = 0;
    memcpy(&total, base, 2);
    if (!readNode(base, total, node))
        return FALSE;
    std::u16string path = sim::wideOf(subBlock);
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos)
            end = path.size();
        std::u16string key = path.substr(start, end - start);
        start = end + 1;
        if (key.empty())
            continue;
        bool found = false;
        size_t offset = node.childrenOffset;
        while (offset + 6 <= node.length) {
            Node child;
            if (!readNode(node.base + offset, node.length - offset, child))
                return FALSE;
            if (sim::equalNoCase(std::u16string_view(child.key), key)) {
                node = child;
                found = true;
                break;
            }
            offset = aligned(offset + child.length);
        }
        if (!found)
            return FALSE;
    }
    *buffer = const_cast<uint8_t*>(node.base + node.valueOffset);
    if (length)
        *length = node.valueLength; // characters for text values, bytes otherwise
    return node.valueLength > 0 ? TRUE : FALSE;
}
