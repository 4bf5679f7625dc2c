// The demo's report: the machine, each run's frames, timings and oracle check, and the
// journal and driver counts per GPU, written as Markdown.
#pragma once

#include "sim/app/AppScript.h"
#include "sim/app/SceneRunner.h"
#include "sim/gpus/MachineDesc.h"

#include <string>
#include <vector>

namespace demo {

/// One finished (or failed) run of the demo.
struct RunRecord {
    sim::app::AppScript script;
    sim::app::RunReport report;
    uint32_t exactFrames = 0;        ///< frames whose scan-out equals the oracle
    std::string firstDifference;     ///< the first frame that did not, described
    std::vector<std::string> pngs;   ///< frames written, relative to the output folder
    std::vector<std::string> counts; ///< "module!entry gpu N: count" lines
};

/// Collects the runs and writes report.md.
class DemoReport {
public:
    explicit DemoReport(const sim::MachineDesc& machine) : m_machine(machine) {}

    void add(RunRecord record) { m_runs.push_back(std::move(record)); }
    const std::vector<RunRecord>& runs() const { return m_runs; }

    /// The report as Markdown.
    std::string markdown() const;
    /// Writes it; false with the reason when the file cannot be written.
    bool write(const std::string& path, std::string& error) const;

private:
    std::string machineSection() const;

    const sim::MachineDesc& m_machine;
    std::vector<RunRecord> m_runs;
};

} // namespace demo
