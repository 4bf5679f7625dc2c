// One run of the fault campaign's scenario: 30 interposed frames on the default machine's
// virtual clock, over one of the three transfer paths, with at most one machine entry armed
// to fail once at its nth call. Every frame the Intel display shows after a present is
// classified against the pixel oracle: the frame itself, a repeat of what was shown
// before, or wrong.
#pragma once

#include <stdint.h>
#include <string>
#include <vector>

namespace faults {

/// How frames cross from the rendering GPU to the presenting one.
enum class TransferPath {
    ApiCopy,      ///< no interop library installed: the driver's own copy through the runtime
    InteropSync,  ///< the interop library, waiting for each copy (should_umd_sync_copy 1)
    InteropAsync, ///< the interop library, copies completed by the device's worker (0)
};

constexpr TransferPath kTransferPaths[] = {TransferPath::ApiCopy, TransferPath::InteropSync,
                                           TransferPath::InteropAsync};

/// "api-copy", "interop-sync", "interop-async"; parsePath() reads it back.
const char* pathName(TransferPath path);
bool parsePath(const std::string& text, TransferPath& path);

/// A machine entry the system reached during the scenario.
/// A kernel thunk is one site per GPU it reached; every other entry is one site per module.
struct CallSite {
    std::string module;
    std::string entry;
    int gpu = -1; ///< -1: the nth call on any GPU
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

/// A site of a run without faults and how often the run called it.
struct ReachedSite {
    CallSite site;
    unsigned calls = 0;
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
    uint32_t reports = 0;   ///< errors and warnings the product wrote to its log
};

constexpr uint32_t kScenarioFrames = 30;

/// What a run arms and what it records.
struct RunRequest {
    TransferPath path = TransferPath::ApiCopy;
    CallSite site;    ///< armed when its module is not empty
    unsigned nth = 1; ///< the call of the site that fails (1: the first)
    /// When set, the sites the run reached are listed here with their calls (the journal
    /// is on).
    std::vector<ReachedSite>* reached = nullptr;
};

/// Installs the default machine and the product's installation for the request's path,
/// arms the site, runs the scenario and classifies its frames.
RunOutcome runScenario(const RunRequest& request);

/// The status an entry of `module` reports for a plain failure: E_FAIL for a user-mode
/// driver's entries, STATUS_UNSUCCESSFUL for the kernel's thunks, a GPU-side failure for
/// the interop library's operations, ERROR_ACCESS_DENIED for the system's calls.
int64_t failureStatus(const std::string& module);

/// The calls of a site a campaign fails: the first, the second and one in the middle of
/// the calls a run without faults made (each only when that run reached it, and each once).
std::vector<unsigned> occurrencesOf(unsigned calls);

/// One line of text for a child process to hand its outcome back, and its reading.
std::string encode(const RunOutcome& outcome);
bool decode(const std::string& line, RunOutcome& outcome);

} // namespace faults
