// File-version data and its VS_VERSIONINFO resource form.
#include "sim/FileVersions.h"

#include "sim/WideString.h"

#include <cstring>

namespace sim {

namespace {

// One node of a version resource: wLength, wValueLength, wType, key, padding, value,
// padding, children. Lengths are filled in when the node is closed.
class ResourceWriter {
public:
    size_t open(std::u16string_view key, uint16_t valueLength, uint16_t type) {
        align();
        size_t start = m_bytes.size();
        put16(0);
        put16(valueLength);
        put16(type);
        for (char16_t c : key)
            put16(c);
        put16(0);
        align();
        return start;
    }
    void close(size_t start) {
        uint16_t length = static_cast<uint16_t>(m_bytes.size() - start);
        memcpy(&m_bytes[start], &length, 2);
    }
    void putBytes(const void* data, size_t size) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        m_bytes.insert(m_bytes.end(), p, p + size);
    }
    void put16(uint16_t v) { putBytes(&v, 2); }
    void align() {
        while (m_bytes.size() % 4)
            m_bytes.push_back(0);
    }
    std::vector<uint8_t>& bytes() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

struct FixedFileInfo {
    uint32_t dwSignature = 0xFEEF04BD;
    uint32_t dwStrucVersion = 0x00010000;
    uint32_t dwFileVersionMS, dwFileVersionLS, dwProductVersionMS, dwProductVersionLS;
    uint32_t dwFileFlagsMask = 0x3F;
    uint32_t dwFileFlags = 0;
    uint32_t dwFileOS = 0x00040004; // VOS_NT_WINDOWS32
    uint32_t dwFileType = 2;        // VFT_DLL
    uint32_t dwFileSubtype = 0;
    uint32_t dwFileDateMS = 0;
    uint32_t dwFileDateLS = 0;
};
static_assert(sizeof(FixedFileInfo) == 52, "VS_FIXEDFILEINFO is 52 bytes");

std::u16string fileNameOf(std::u16string_view path) {
    size_t slash = path.find_last_of(u"\\/");
    return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

} // namespace

void FileVersions::set(std::u16string_view pathOrName, FileVersion version) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_versions[upperAscii(pathOrName)] = std::move(version);
}

bool FileVersions::remove(std::u16string_view pathOrName) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_versions.erase(upperAscii(pathOrName)) == 1;
}

std::optional<FileVersion> FileVersions::find(std::u16string_view windowsPath) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::u16string path(windowsPath);
    for (char16_t& c : path)
        if (c == u'/')
            c = u'\\';
    auto it = m_versions.find(upperAscii(path));
    if (it == m_versions.end())
        it = m_versions.find(upperAscii(fileNameOf(path)));
    if (it == m_versions.end())
        return std::nullopt;
    return it->second;
}

std::vector<uint8_t> FileVersions::resourceOf(const FileVersion& version) {
    FixedFileInfo fixed;
    fixed.dwFileVersionMS = (uint32_t(version.fileVersion[0]) << 16) | version.fileVersion[1];
    fixed.dwFileVersionLS = (uint32_t(version.fileVersion[2]) << 16) | version.fileVersion[3];
    fixed.dwProductVersionMS =
        (uint32_t(version.productVersion[0]) << 16) | version.productVersion[1];
    fixed.dwProductVersionLS =
        (uint32_t(version.productVersion[2]) << 16) | version.productVersion[3];

    ResourceWriter w;
    size_t root = w.open(u"VS_VERSION_INFO", sizeof fixed, 0);
    w.putBytes(&fixed, sizeof fixed);
    size_t stringInfo = w.open(u"StringFileInfo", 0, 1);
    size_t table = w.open(u"040904b0", 0, 1);
    for (const auto& entry : version.strings) {
        size_t node = w.open(entry.first, static_cast<uint16_t>(entry.second.size() + 1), 1);
        for (char16_t c : entry.second)
            w.put16(c);
        w.put16(0);
        w.close(node);
    }
    w.close(table);
    w.close(stringInfo);
    size_t varInfo = w.open(u"VarFileInfo", 0, 1);
    size_t translation = w.open(u"Translation", 4, 0);
    w.put16(0x0409); // U.S. English
    w.put16(0x04B0); // Unicode
    w.close(translation);
    w.close(varInfo);
    w.close(root);
    return w.bytes();
}

} // namespace sim
