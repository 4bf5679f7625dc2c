// The demo's report: per machine, its GPUs and displays and the runs made on it, with
// frames, timings, the oracle check of every shown frame, pacing figures and the transfer
// path; written as Markdown (report.md) and as JSON (summary.json) for scripts and checks.
#pragma once

#include "RunSummary.h"

#include "sim/gpus/MachineDesc.h"

#include <string>
#include <vector>

namespace demo {

/// Collects runs grouped by the machine they ran on, and writes the report files.
class DemoReport {
public:
    /// Starts a group of runs on a machine (`title`: the scenario, or "default").
    void beginMachine(const std::string& title, const sim::MachineDesc& machine);
    /// Adds a run to the current machine.
    void add(RunSummary run);

    /// report.md's text.
    std::string markdown() const;
    /// summary.json's text: {"runs": [ {...}, ... ]}.
    std::string json() const;
    /// Writes text into a file; false with the reason when it cannot.
    static bool writeFile(const std::string& path, const std::string& text, std::string& error);

private:
    struct Group {
        std::string title;
        sim::MachineDesc machine;
        std::vector<RunSummary> runs;
    };
    static std::string machineSection(const sim::MachineDesc& machine);
    static std::string runsTable(const std::vector<RunSummary>& runs);
    static std::string runDetails(const RunSummary& run);

    std::vector<Group> m_groups;
};

} // namespace demo
