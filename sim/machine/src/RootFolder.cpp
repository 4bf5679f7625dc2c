// The machine's root folder and the mapping of Windows paths into it.
#include "sim/RootFolder.h"

#include "sim/WideString.h"

#include <filesystem>
#include <fstream>
#include <stdlib.h>
#include <system_error>
#include <vector>

namespace sim {

namespace {

// The temporary root this process created, removed at exit. A plain pointer: it must
// outlive every static destructor that might still log into the root.
std::string* s_ownedRoot = nullptr;

// Host file-system work goes through std::filesystem, with error codes (never exceptions), so
// the machine core builds for the Windows test harness as well.
namespace fs = std::filesystem;

void removeOwnedRoot() {
    std::error_code ignored;
    if (s_ownedRoot && !getenv("VESSA_SIM_KEEP_ROOT"))
        fs::remove_all(fs::path(*s_ownedRoot), ignored);
}

bool isDirectory(const std::string& path) {
    std::error_code error;
    return fs::is_directory(fs::path(path), error);
}

bool makeDirectories(const std::string& path) {
    if (path.empty())
        return false;
    std::error_code error;
    return fs::create_directories(fs::path(path), error) || isDirectory(path);
}

std::string absoluteHostPath(const std::string& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(fs::path(path), error);
    return error ? path : absolute.string();
}

// Splits a Windows path into components ('\' or '/'), resolving "." and "..".
std::vector<std::u16string> components(std::u16string_view path) {
    std::vector<std::u16string> parts;
    std::u16string part;
    auto flush = [&]() {
        if (part == u"..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != u".") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (char16_t c : path) {
        if (c == u'\\' || c == u'/')
            flush();
        else
            part += c;
    }
    flush();
    return parts;
}

bool isDriveLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

} // namespace

RootFolder::RootFolder(std::string hostRoot, bool owned) : m_currentDirectory(u"C:\\") {
    makeDirectories(hostRoot);
    std::error_code error;
    fs::path resolved = fs::canonical(fs::path(hostRoot), error);
    m_hostRoot = error ? hostRoot : resolved.string();
    makeDirectories(m_hostRoot + "/c");
    if (owned && !s_ownedRoot) {
        s_ownedRoot = new std::string(m_hostRoot);
        atexit(removeOwnedRoot);
    }
}

std::string RootFolder::findEntryNoCase(const std::string& dir, const std::string& name) {
    std::error_code error;
    if (fs::symlink_status(fs::path(dir + "/" + name), error).type() != fs::file_type::not_found &&
        !error)
        return name; // exact spelling exists
    fs::directory_iterator entries(fs::path(dir), error);
    if (error)
        return name;
    for (const fs::directory_entry& entry : entries) {
        std::string entryName = entry.path().filename().string();
        if (equalNoCase(std::string_view(entryName), name))
            return entryName;
    }
    return name;
}

std::string RootFolder::toHost(std::string_view windowsPath) const {
    return toHost(fromUtf8(windowsPath));
}

std::string RootFolder::toHost(std::u16string_view windowsPath) const {
    std::u16string path(windowsPath);
    for (char16_t& c : path)
        if (c == u'/')
            c = u'\\';
    if (path.rfind(u"\\\\?\\", 0) == 0)
        path.erase(0, 4);
    if (path.empty() || path.rfind(u"\\\\", 0) == 0)
        return ""; // UNC and device paths are not files of the machine

    char16_t drive;
    std::u16string rest;
    if (path.size() >= 2 && isDriveLetter(path[0]) && path[1] == u':') {
        drive = path[0];
        rest = path.substr(2);
    } else {
        std::u16string current = currentDirectory();
        drive = current[0];
        rest = path[0] == u'\\' ? path : current.substr(2) + u"\\" + path;
    }
    if (drive >= u'a')
        drive = static_cast<char16_t>(drive - u'a' + u'A');

    std::string host = drive == u'Z' ? std::string() : m_hostRoot + "/" + char(drive - 'A' + 'a');
    for (const std::u16string& part : components(rest)) {
        std::string dir = host.empty() ? "/" : host;
        host += "/" + findEntryNoCase(dir, toUtf8(part));
    }
    return host.empty() ? "/" : host;
}

std::u16string RootFolder::toWindows(std::string_view hostPath) const {
    std::string path = absoluteHostPath(std::string(hostPath));
    const std::string& root = m_hostRoot;
    if (path.size() >= root.size() + 2 && path.compare(0, root.size(), root) == 0 &&
        path[root.size()] == '/' && path[root.size() + 1] >= 'a' && path[root.size() + 1] <= 'z' &&
        (path.size() == root.size() + 2 || path[root.size() + 2] == '/')) {
        std::u16string out;
        out += static_cast<char16_t>(path[root.size() + 1] - 'a' + 'A');
        out += u":";
        std::u16string tail = fromUtf8(path.substr(root.size() + 2));
        for (char16_t& c : tail)
            if (c == u'/')
                c = u'\\';
        out += tail.empty() ? u"\\" : tail;
        return out;
    }
    std::u16string out = u"Z:" + fromUtf8(path);
    for (char16_t& c : out)
        if (c == u'/')
            c = u'\\';
    return out;
}

bool RootFolder::createFolder(std::u16string_view windowsPath) const {
    std::string host = toHost(windowsPath);
    return !host.empty() && makeDirectories(host);
}

bool RootFolder::writeFile(std::u16string_view windowsPath, std::string_view contents) const {
    std::string host = toHost(windowsPath);
    if (host.empty())
        return false;
    size_t slash = host.find_last_of('/');
    if (slash != std::string::npos && slash > 0)
        makeDirectories(host.substr(0, slash));
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    return static_cast<bool>(out);
}

bool RootFolder::readFile(std::u16string_view windowsPath, std::string& contents) const {
    std::string host = toHost(windowsPath);
    std::ifstream in(host, std::ios::binary);
    if (host.empty() || !in)
        return false;
    contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

void RootFolder::setCurrentDirectory(std::u16string_view windowsPath) {
    std::u16string path(windowsPath);
    if (path.size() < 2 || path[1] != u':')
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_currentDirectory = path;
}

std::u16string RootFolder::currentDirectory() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_currentDirectory;
}

} // namespace sim
