// One run of the fault campaign's scenario: 30 interposed frames over the API copy on the
// default machine's virtual clock, with at most one machine entry armed to fail once at its
// first call. Every frame the Intel display shows after a present is classified against the
// pixel oracle: the frame itself, a repeat of what was shown before, or wrong.
#pragma once

#include <stdint.h>
#include <string>
#include <vector>

namespace faults {

/// A machine entry the system reached during the scenario.
/// A kernel thunk is one site per GPU it reached; a driver's entries reach its own GPU.
struct CallSite {
    std::string module;
    std::string entry;
    int gpu = -1; ///< -1: the first call on any GPU
    bool operator<(const CallSite& o) const {
        if (module != o.module)
            return module < o.module;
        return entry != o.entry ? entry < o.entry : gpu < o.gpu;
    }
    bool operator==(const CallSite& o) const {
        return module == o.module && entry == o.entry && gpu == o.gpu;
    }
    /// "gdi32.dll!D3DKMTRender@1", "simumd_nv.dll!Blt"; parse() reads it back.
    std::string name() const;
    static bool parse(const std::string& text, CallSite& site);
};

/// What one run did.
struct RunOutcome {
    bool completed = false; ///< every frame presented without an error to the application
    std::string failure;    ///< the application's step that reported an error, if any
    uint32_t frames = 0;    ///< presents the application made
    uint32_t exact = 0;     ///< presents after which the display showed that frame
    uint32_t repeated = 0;  ///< presents after which it showed the previous image again
    uint32_t wrong = 0;     ///< presents after which it showed anything else
    std::string firstWrong; ///< where the first wrong frame differed
    uint64_t injected = 0;  ///< failures the injector made
};

constexpr uint32_t kScenarioFrames = 30;

/// Installs the default machine, arms `site` (when its module is not empty) to fail at its
/// first call, runs the scenario and classifies its frames. With `sites`, the vendor-driver
/// entries and kernel thunks the run reached are listed there (the journal is on).
/// `nth` picks a later call of the site instead (1: the first).
RunOutcome runScenario(const CallSite& site, std::vector<CallSite>* sites = nullptr,
                       unsigned nth = 1);

/// The status an entry of `module` reports for a plain failure: E_FAIL for a user-mode
/// driver's entries, STATUS_UNSUCCESSFUL for the kernel's thunks.
int64_t failureStatus(const std::string& module);

/// One line of text for a child process to hand its outcome back, and its reading.
std::string encode(const RunOutcome& outcome);
bool decode(const std::string& line, RunOutcome& outcome);

} // namespace faults
