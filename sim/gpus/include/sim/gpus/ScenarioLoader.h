// The scenario text format for the machine: GPUs, display devices, registry values and
// files, so that a new end-to-end case needs no rebuild. docs/simulated-machine.md
// describes the format; sim/scenarios/ holds examples.
#pragma once

#include "sim/Export.h"
#include "sim/gpus/MachineDesc.h"

#include <functional>
#include <string>

namespace sim {

/// One "key = value" line of a section, with its line number.
struct ScenarioEntry {
    std::string key;
    std::string value;
    size_t line = 0;
};

/// Handles a section kind that another part of the simulation defines ("[app game.exe]").
/// Called once per section with its title and lines; returns false with a message (the
/// loader adds the file name and line number).
using ScenarioSectionHandler =
    std::function<bool(const std::string& title, const std::vector<ScenarioEntry>& entries,
                       MachineDesc& machine, std::string& error, size_t& errorLine)>;

/// Parses scenario text into a machine description.
class SIM_API ScenarioLoader {
public:
    /// What to do with a section kind that no part has registered.
    enum class UnknownSections { Fail, Skip };

    /// Parses text; `name` prefixes error messages ("name:line: message"). Skipping unknown
    /// section kinds suits a reader that wants the machine only, before the parts that own
    /// the other kinds are loaded (the start-up machine of VESSA_SCENARIO).
    static bool loadText(const std::string& text, const std::string& name, MachineDesc& out,
                         std::string* error = nullptr,
                         UnknownSections unknown = UnknownSections::Fail);
    /// Reads and parses a host file.
    static bool loadFile(const std::string& path, MachineDesc& out, std::string* error = nullptr,
                         UnknownSections unknown = UnknownSections::Fail);
    /// Lets another part of the simulation define a section kind.
    static void registerSection(const std::string& kind, ScenarioSectionHandler handler);
};

} // namespace sim
