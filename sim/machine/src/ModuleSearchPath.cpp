// The loader's module search path.
#include "sim/ModuleSearchPath.h"

#include "sim/RootFolder.h"

#include <filesystem>
#include <stdlib.h>
#include <system_error>

#ifndef SIM_DEFAULT_MODULE_DIR
#error "SIM_DEFAULT_MODULE_DIR must name the build's modules folder"
#endif

namespace sim {

namespace {

bool isFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::path(path), error);
}

} // namespace

ModuleSearchPath::ModuleSearchPath(const RootFolder& root) : m_root(root) {
    const char* fromEnvironment = getenv("VESSA_MODULE_DIR");
    m_buildDirectory =
        fromEnvironment && *fromEnvironment ? fromEnvironment : SIM_DEFAULT_MODULE_DIR;
}

std::string ModuleSearchPath::buildDirectory() const {
    return m_buildDirectory;
}

void ModuleSearchPath::addDirectory(std::string hostDirectory) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_extra.push_back(std::move(hostDirectory));
}

void ModuleSearchPath::setApplicationDirectory(std::string hostDirectory) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_applicationDirectory = std::move(hostDirectory);
}

std::vector<std::string> ModuleSearchPath::directories() const {
    std::vector<std::string> dirs;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_applicationDirectory.empty())
            dirs.push_back(m_applicationDirectory);
        dirs.push_back(m_buildDirectory);
        dirs.insert(dirs.end(), m_extra.begin(), m_extra.end());
    }
    dirs.push_back(m_root.toHost(u"C:\\Windows\\System32"));
    dirs.push_back(m_root.toHost(u"C:\\Windows"));
    return dirs;
}

std::string ModuleSearchPath::find(std::string_view fileName) const {
    if (fileName.empty())
        return "";
    for (const std::string& dir : directories()) {
        std::string path = dir + "/" + RootFolder::findEntryNoCase(dir, std::string(fileName));
        if (isFile(path))
            return path;
    }
    return "";
}

} // namespace sim
