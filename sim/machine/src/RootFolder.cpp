// The machine's root folder and the mapping of Windows paths into it.
#include "sim/RootFolder.h"

#include "sim/WideString.h"

#include <dirent.h>
#include <fstream>
#include <ftw.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

// The temporary root this process created, removed at exit. A plain pointer: it must
// outlive every static destructor that might still log into the root.
std::string* s_ownedRoot = nullptr;

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    ::remove(path);
    return 0;
}

void removeOwnedRoot() {
    if (s_ownedRoot && !getenv("VESSA_SIM_KEEP_ROOT"))
        nftw(s_ownedRoot->c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeDirectories(const std::string& path) {
    if (path.empty())
        return false;
    if (isDirectory(path))
        return true;
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeDirectories(path.substr(0, slash)))
        return false;
    return ::mkdir(path.c_str(), 0777) == 0 || isDirectory(path);
}

std::string absoluteHostPath(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        return path;
    return std::string(cwd) + "/" + path;
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
    char resolved[PATH_MAX];
    m_hostRoot = realpath(hostRoot.c_str(), resolved) ? std::string(resolved) : hostRoot;
    makeDirectories(m_hostRoot + "/c");
    if (owned && !s_ownedRoot) {
        s_ownedRoot = new std::string(m_hostRoot);
        atexit(removeOwnedRoot);
    }
}

std::string RootFolder::findEntryNoCase(const std::string& dir, const std::string& name) {
    struct stat st;
    if (::lstat((dir + "/" + name).c_str(), &st) == 0)
        return name; // exact spelling exists
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return name;
    std::string found = name;
    while (struct dirent* e = ::readdir(d)) {
        if (equalNoCase(std::string_view(e->d_name), name)) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
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
