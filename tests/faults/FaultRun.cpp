#include "FaultRun.h"

#include "../interop/InteropFixture.h"
#include "platform/win.h"
#include "sim/Clock.h"
#include "sim/Machine.h"
#include "sim/app/AppScript.h"
#include "sim/app/FrameCompare.h"
#include "sim/app/SceneRunner.h"
#include "sim/drivers/DriverControl.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Presets.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <stdlib.h>

namespace faults {

namespace {

constexpr int kIntel = 0;
/// Where the in-game icon is drawn without user settings; the oracle leaves it out.
constexpr RECT kIconRect = {0, 0, 180, 89};

/// System calls the simulated machine journals but does not fail when asked to.
bool failsWhenArmed(const std::string& entry) {
    static const char* const kNeverFail[] = {"CallNextHookEx",
                                             "CancelIoEx",
                                             "DebugBreak",
                                             "OutputDebugStringA",
                                             "OutputDebugStringW",
                                             "PeekMessageW",
                                             "SetUnhandledExceptionFilter",
                                             "Sleep"};
    for (const char* name : kNeverFail)
        if (entry == name)
            return false;
    return true;
}

/// The system modules whose journalled calls the campaign fails.
bool isSystemModule(const std::string& module) {
    static const char* const kSystemModules[] = {"advapi32.dll", "kernel32.dll", "ntdll.dll",
                                                 "shlwapi.dll",  "user32.dll",   "version.dll",
                                                 "winmm.dll"};
    for (const char* name : kSystemModules)
        if (module == name)
            return true;
    return false;
}

/// The entries the campaign fails: the vendor drivers', the kernel's thunks, the interop
/// library's operations, and the system calls that can fail.
bool isCampaignSite(const sim::JournalEntry& e) {
    const std::string& module = e.module;
    if (module.rfind("simumd_", 0) == 0 || module == interoptest::kInterop)
        return true;
    if (module == "gdi32.dll")
        return e.entry.rfind("D3DKMT", 0) == 0;
    return isSystemModule(module) && failsWhenArmed(e.entry);
}

/// The configuration, the installation directory and (on the interop paths) the interop
/// library beside it, as a user's installation has them.
bool installProduct(TransferPath path, std::string& error) {
    const bool interop = path != TransferPath::ApiCopy;
    const char* sync = path == TransferPath::InteropAsync ? "0" : "1";
    interoptest::installMachine(interoptest::virtualMachine(), {{"should_umd_sync_copy", sync}},
                                interop);
    if (::testing::Test::HasFatalFailure()) {
        error = "install the machine and the product";
        return false;
    }
    return true;
}

/// The errors and warnings in the product's log text.
uint32_t reportsIn(const std::string& logText) {
    uint32_t found = 0;
    for (const char* kind : {"Error code: ", "Warning code: "})
        for (size_t at = logText.find(kind); at != std::string::npos;
             at = logText.find(kind, at + 1))
            ++found;
    return found;
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
        // Without a new present of the Intel driver no scan-out can come; the wait would
        // only end at the GPUs' stall bound.
        const uint64_t presents = sim::umd::stats(kIntel).presents;
        const bool presented = presents != m_intelPresents;
        m_intelPresents = presents;
        if ((!presented && display.count(kIntel, source) <= m_shownCount) ||
            !display.waitForCount(kIntel, source, m_shownCount + 1) ||
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
                                       ")" + olderFrameShown(frame, shown.image);
        }
        m_previous = shown.image;
        m_hasPrevious = true;
    }

private:
    /// ", shows frame N-k" when the display shows one of the few frames before, a late
    /// frame rather than a broken one.
    std::string olderFrameShown(uint32_t frame, const sim::Image& shown) const {
        for (uint32_t back = 1; back <= 3 && back <= frame; ++back) {
            sim::Image older;
            sim::app::SceneRunner::expectedFrame(m_script, m_report, frame - back, older);
            if (sim::app::compareFrames(older, shown, {kIconRect}).equal())
                return ", shows frame " + std::to_string(frame - back);
        }
        return "";
    }

    const sim::app::AppScript& m_script;
    const sim::app::RunReport& m_report;
    RunOutcome& m_outcome;
    uint64_t m_shownCount = 0;
    uint64_t m_intelPresents = sim::umd::stats(kIntel).presents;
    sim::Image m_previous;
    bool m_hasPrevious = false;
};

} // namespace

const char* pathName(TransferPath path) {
    switch (path) {
    case TransferPath::ApiCopy:
        return "api-copy";
    case TransferPath::InteropSync:
        return "interop-sync";
    case TransferPath::InteropAsync:
        return "interop-async";
    }
    return "?";
}

bool parsePath(const std::string& text, TransferPath& path) {
    for (TransferPath p : kTransferPaths)
        if (text == pathName(p)) {
            path = p;
            return true;
        }
    return false;
}

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
    // What each kind of entry reports: a kernel status, the library's status, the timer's
    // own error, or for the other system calls the last error behind their FALSE or null.
    if (module == "gdi32.dll" || module == "ntdll.dll")
        return int64_t(NTSTATUS(0xC0000001L));
    if (module == interoptest::kInterop)
        return kViStatusGpuFailure;
    if (module == "winmm.dll")
        return TIMERR_NOCANDO;
    if (isSystemModule(module))
        return ERROR_ACCESS_DENIED;
    return int64_t(HRESULT(E_FAIL));
}

std::vector<unsigned> occurrencesOf(unsigned calls) {
    std::vector<unsigned> nths;
    for (unsigned nth = 1; nth <= std::min(calls, 2u); ++nth)
        nths.push_back(nth);
    // The middle call, past the first two when there is such a call.
    if (calls >= 3)
        nths.push_back(std::max(3u, calls / 2 + 1));
    return nths;
}

RunOutcome runScenario(const RunRequest& request) {
    RunOutcome outcome;
    std::string error;
    if (!installProduct(request.path, error)) {
        outcome.failure = error;
        return outcome;
    }
    const CallSite& site = request.site;
    sim::Machine& machine = sim::Machine::instance();
    machine.journal().clear();
    machine.journal().setEnabled(request.reached != nullptr);
    machine.faults().clear();
    sim::Clock::instance().setMode(sim::Clock::Mode::Virtual);
    sim::Display::instance().clear();
    // The injector counts across runs of a process.
    const uint64_t injectedBefore = machine.faults().injectedCount();
    if (!site.module.empty())
        machine.faults().failNth(site.module, site.entry, request.nth, failureStatus(site.module),
                                 1, site.gpu < 0 ? sim::kNoGpu : site.gpu);

    const sim::app::AppScript script = scenario();
    sim::app::RunReport report;
    FrameClassifier classifier(script, report, outcome);
    const HRESULT hr = sim::app::SceneRunner::run(
        script, report, [&](uint32_t frame) { classifier.afterPresent(frame); });
    outcome.completed = SUCCEEDED(hr);
    if (!outcome.completed)
        outcome.failure = report.failure;
    outcome.injected = machine.faults().injectedCount() - injectedBefore;
    outcome.reports = reportsIn(adaptertest::log());
    machine.faults().clear();
    sim::Clock::instance().setMode(sim::Clock::Mode::Real);

    if (request.reached) {
        std::map<CallSite, unsigned> found;
        for (const sim::JournalEntry& e : machine.journal().entries())
            if (isCampaignSite(e))
                ++found[{e.module, e.entry,
                         e.module == "gdi32.dll" && e.gpu != sim::kNoGpu ? e.gpu : -1}];
        request.reached->clear();
        for (const auto& [reached, calls] : found)
            request.reached->push_back({reached, calls});
    }
    return outcome;
}

std::string encode(const RunOutcome& o) {
    std::ostringstream out;
    out << "outcome\t" << o.completed << '\t' << o.frames << '\t' << o.exact << '\t' << o.repeated
        << '\t' << o.wrong << '\t' << o.injected << '\t' << o.reports << '\t' << o.failure << '\t'
        << o.firstWrong;
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
    while (fields.size() < 10)
        fields.emplace_back();
    if (fields[0] != "outcome")
        return false;
    o.completed = fields[1] == "1";
    o.frames = uint32_t(strtoul(fields[2].c_str(), nullptr, 10));
    o.exact = uint32_t(strtoul(fields[3].c_str(), nullptr, 10));
    o.repeated = uint32_t(strtoul(fields[4].c_str(), nullptr, 10));
    o.wrong = uint32_t(strtoul(fields[5].c_str(), nullptr, 10));
    o.injected = strtoull(fields[6].c_str(), nullptr, 10);
    o.reports = uint32_t(strtoul(fields[7].c_str(), nullptr, 10));
    o.failure = fields[8];
    o.firstWrong = fields[9];
    return true;
}

} // namespace faults
