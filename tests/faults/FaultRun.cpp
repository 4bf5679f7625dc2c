#include "FaultRun.h"

#include "platform/win.h"
#include "sim/Clock.h"
#include "sim/Machine.h"
#include "sim/app/AppScript.h"
#include "sim/app/FrameCompare.h"
#include "sim/app/SceneRunner.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Presets.h"

#include <algorithm>
#include <set>
#include <sstream>
#include <stdlib.h>

namespace faults {

namespace {

constexpr int kIntel = 0;
/// Where the in-game icon is drawn without user settings; the oracle leaves it out.
constexpr RECT kIconRect = {0, 0, 180, 89};

bool isDriverOrThunk(const sim::JournalEntry& e) {
    const std::string module = e.module;
    if (module.rfind("simumd_", 0) == 0)
        return true;
    return module == "gdi32.dll" && e.entry.rfind("D3DKMT", 0) == 0;
}

sim::app::AppScript scenario() {
    sim::app::AppScript s;
    s.name = "fault-campaign";
    s.path = sim::app::AppPath::Interposed;
    s.frames = kScenarioFrames;
    s.rate = 60.0;
    s.interval = 1;
    return s;
}

/// Classifies what the display shows after each present.
class FrameClassifier {
public:
    FrameClassifier(const sim::app::AppScript& script, const sim::app::RunReport& report,
                    RunOutcome& outcome)
        : m_script(script), m_report(report), m_outcome(outcome) {}

    void afterPresent(uint32_t frame) {
        ++m_outcome.frames;
        sim::Display& display = sim::Display::instance();
        const uint32_t source = m_report.vidPnSourceId;
        sim::ScanOut shown;
        if (!display.waitForCount(kIntel, source, m_shownCount + 1) ||
            !display.last(kIntel, source, shown)) {
            // Nothing new reached the display: it still shows the previous image.
            ++m_outcome.repeated;
            return;
        }
        m_shownCount = display.count(kIntel, source);
        sim::Image expected;
        sim::app::SceneRunner::expectedFrame(m_script, m_report, frame, expected);
        const sim::app::FrameDifference d =
            sim::app::compareFrames(expected, shown.image, {kIconRect});
        if (d.equal()) {
            ++m_outcome.exact;
        } else if (m_hasPrevious &&
                   sim::app::compareFrames(m_previous, shown.image, {kIconRect}).equal()) {
            ++m_outcome.repeated;
        } else {
            if (m_outcome.wrong++ == 0)
                m_outcome.firstWrong = "frame " + std::to_string(frame) + " at (" +
                                       std::to_string(d.firstX) + "," + std::to_string(d.firstY) +
                                       ")";
        }
        m_previous = shown.image;
        m_hasPrevious = true;
    }

private:
    const sim::app::AppScript& m_script;
    const sim::app::RunReport& m_report;
    RunOutcome& m_outcome;
    uint64_t m_shownCount = 0;
    sim::Image m_previous;
    bool m_hasPrevious = false;
};

} // namespace

std::string CallSite::name() const {
    return module + "!" + entry + (gpu >= 0 ? "@" + std::to_string(gpu) : std::string());
}

bool CallSite::parse(const std::string& text, CallSite& site) {
    const size_t bang = text.find('!');
    if (bang == std::string::npos || bang == 0)
        return false;
    site.module = text.substr(0, bang);
    const size_t at = text.find('@', bang);
    site.entry = text.substr(bang + 1, at == std::string::npos ? std::string::npos : at - bang - 1);
    site.gpu = at == std::string::npos ? -1 : atoi(text.c_str() + at + 1);
    return !site.entry.empty();
}

int64_t failureStatus(const std::string& module) {
    return module == "gdi32.dll" ? int64_t(NTSTATUS(0xC0000001L)) : int64_t(HRESULT(E_FAIL));
}

RunOutcome runScenario(const CallSite& site, std::vector<CallSite>* sites, unsigned nth) {
    RunOutcome outcome;
    std::string error;
    if (!sim::installMachine(sim::presets::defaultMachine(), &error)) {
        outcome.failure = "install the machine: " + error;
        return outcome;
    }
    sim::Machine& machine = sim::Machine::instance();
    machine.journal().clear();
    machine.journal().setEnabled(sites != nullptr);
    machine.faults().clear();
    sim::Clock::instance().setMode(sim::Clock::Mode::Virtual);
    sim::Display::instance().clear();
    // The injector counts across runs of a process.
    const uint64_t injectedBefore = machine.faults().injectedCount();
    if (!site.module.empty())
        machine.faults().failNth(site.module, site.entry, nth, failureStatus(site.module), 1,
                                 site.gpu < 0 ? sim::kNoGpu : site.gpu);

    const sim::app::AppScript script = scenario();
    sim::app::RunReport report;
    FrameClassifier classifier(script, report, outcome);
    const HRESULT hr = sim::app::SceneRunner::run(
        script, report, [&](uint32_t frame) { classifier.afterPresent(frame); });
    outcome.completed = SUCCEEDED(hr);
    if (!outcome.completed)
        outcome.failure = report.failure;
    outcome.injected = machine.faults().injectedCount() - injectedBefore;
    machine.faults().clear();
    sim::Clock::instance().setMode(sim::Clock::Mode::Real);

    if (sites) {
        std::set<CallSite> found;
        for (const sim::JournalEntry& e : machine.journal().entries())
            if (isDriverOrThunk(e))
                found.insert({e.module, e.entry,
                              e.module == "gdi32.dll" && e.gpu != sim::kNoGpu ? e.gpu : -1});
        sites->assign(found.begin(), found.end());
    }
    return outcome;
}

std::string encode(const RunOutcome& o) {
    std::ostringstream out;
    out << "outcome\t" << o.completed << '\t' << o.frames << '\t' << o.exact << '\t' << o.repeated
        << '\t' << o.wrong << '\t' << o.injected << '\t' << o.failure << '\t' << o.firstWrong;
    std::string line = out.str();
    std::replace(line.begin(), line.end(), '\n', ' ');
    return line;
}

bool decode(const std::string& line, RunOutcome& o) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t'))
        fields.push_back(field);
    while (fields.size() < 9)
        fields.emplace_back();
    if (fields[0] != "outcome")
        return false;
    o.completed = fields[1] == "1";
    o.frames = uint32_t(strtoul(fields[2].c_str(), nullptr, 10));
    o.exact = uint32_t(strtoul(fields[3].c_str(), nullptr, 10));
    o.repeated = uint32_t(strtoul(fields[4].c_str(), nullptr, 10));
    o.wrong = uint32_t(strtoul(fields[5].c_str(), nullptr, 10));
    o.injected = strtoull(fields[6].c_str(), nullptr, 10);
    o.failure = fields[7];
    o.firstWrong = fields[8];
    return true;
}

} // namespace faults
