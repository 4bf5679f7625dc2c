// The machine's root folder: the host directory that holds the simulated drives.
#pragma once

#include "sim/Export.h"

#include <mutex>
#include <string>
#include <string_view>

namespace sim {

/// Maps Windows paths into the machine's root folder and back.
///
/// "C:\dir\file.txt" is "<root>/c/dir/file.txt". Both '\' and '/' separate components.
/// Components that already exist are found case-insensitively, as on Windows, so
/// "c:\VESSA.log" names an existing "<root>/c/vessa.log"; components that do not exist yet
/// keep the caller's spelling. "Z:\" is the host file system (as Wine maps it), so a host
/// path handed out as "Z:\tmp\x" maps back to "/tmp/x". Relative paths are relative to the
/// machine's current directory (C:\ unless changed), never to the host's.
class SIM_API RootFolder {
public:
    /// Uses `hostRoot`, creating it and its "c" drive folder when missing.
    /// `owned` roots are removed again when the process exits.
    RootFolder(std::string hostRoot, bool owned);

    /// The host directory of the root ("/tmp/vessa-sim-XXXXXX").
    const std::string& hostRoot() const { return m_hostRoot; }

    /// The host path of a Windows path, or "" for a path that maps nowhere (an unknown
    /// form such as "\\server\share", an empty path).
    std::string toHost(std::u16string_view windowsPath) const;
    std::string toHost(std::string_view windowsPath) const;

    /// The Windows path of a host path: "C:\..." inside the root's drives, else "Z:\...".
    std::u16string toWindows(std::string_view hostPath) const;

    /// Creates a Windows folder and its parents; true when it exists afterwards.
    bool createFolder(std::u16string_view windowsPath) const;

    /// Writes `contents` to a Windows file path (parents created); true on success.
    bool writeFile(std::u16string_view windowsPath, std::string_view contents) const;

    /// Reads a whole Windows file; false when it cannot be read.
    bool readFile(std::u16string_view windowsPath, std::string& contents) const;

    /// The current directory for relative paths ("C:\" by default).
    void setCurrentDirectory(std::u16string_view windowsPath);
    std::u16string currentDirectory() const;

    /// Finds `name` in host directory `dir` case-insensitively; returns the entry's real
    /// name, or `name` itself when no entry matches.
    static std::string findEntryNoCase(const std::string& dir, const std::string& name);

private:
    std::string m_hostRoot;
    mutable std::mutex m_lock;
    std::u16string m_currentDirectory;
};

} // namespace sim
