// The fault campaign: on each transfer path, every vendor-driver entry, kernel thunk, interop
// operation and failable system call (kernel32, advapi32, ntdll, user32, shlwapi, version,
// winmm) the interposed scenario reaches is made to fail once, one site and one call at a
// time, each run in a child process of this executable with a time bound (two children at a
// time). A run must end (no crash, no hang, no sanitizer
// report), and every frame shown after a present must be that frame or a repeat of the
// image before it; an error the application sees is recorded, not a failure.
//
// VESSA_FAULT_MATRIX picks the calls failed: "first" (the default, what `make test` runs)
// fails each site of the API copy at its first call, and on the interop paths the interop
// library's operations; "all" fails every site of every path at its first, its second and one
// in the middle of its calls in the run without faults. VESSA_FAULT_TABLE names a file the Markdown
// tables of outcomes are appended to, one per path (`make reliability` puts them into
// docs/reliability.md).
#include "FaultRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using faults::CallSite;
using faults::ReachedSite;
using faults::RunOutcome;
using faults::RunRequest;
using faults::TransferPath;

constexpr int kTimeLimitSeconds = 90;
constexpr size_t kChildrenAtOnce = 2;
/// Frames one failed call may leave showing the frame before.
constexpr uint32_t kRepeatsOneFaultMayCost = 3;

/// A failed submission of the rendering GPU loses the application's own queued commands
/// (its surfaces' contents with them), which the driver drops as after a device reset: the
/// frames then differ from the oracle through no fault of the interposer, which shows what
/// was rendered. Such a site must still end without a crash, hang or report.
bool losesApplicationWork(const CallSite& site) {
    return site.module == "gdi32.dll" && site.entry == "D3DKMTRender" && site.gpu == 1;
}

bool fullMatrix() {
    const char* matrix = getenv("VESSA_FAULT_MATRIX");
    return matrix && strcmp(matrix, "all") == 0;
}

/// How a child run ended.
struct ChildResult {
    bool started = false;
    bool timedOut = false;
    int signal = 0;   ///< the signal that ended it, 0 when it exited
    int exitCode = 0; ///< its exit code (a sanitizer report ends it non-zero)
    bool decoded = false;
    RunOutcome outcome;

    bool survived() const { return started && !timedOut && !signal && !exitCode && decoded; }
};

/// One site failed at one of its calls, in a child process.
struct ChildRun {
    CallSite site;
    unsigned nth = 1;
    ChildResult result;
    pid_t pid = 0;
    std::string outPath;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point deadline;
};

std::string outcomeText(const ChildResult& r) {
    if (!r.started)
        return "not started";
    if (r.timedOut)
        return "HANG (killed after " + std::to_string(kTimeLimitSeconds) + " s)";
    if (r.signal)
        return std::string("CRASH (") + strsignal(r.signal) + ")";
    if (r.exitCode)
        return "exit code " + std::to_string(r.exitCode) + " (sanitizer report or failed check)";
    if (!r.decoded)
        return "no outcome written";
    const RunOutcome& o = r.outcome;
    std::string text = o.injected == 0 ? "not reached"
                       : o.completed   ? "presented"
                                       : "error: " + o.failure;
    text += ", " + std::to_string(o.exact) + " / " + std::to_string(o.repeated) + " / " +
            std::to_string(o.wrong) + ", " + std::to_string(o.reports) + " reports";
    if (o.wrong)
        text += " (differ from the oracle)";
    return text;
}

bool start(TransferPath path, ChildRun& run) {
    char outPath[] = "/tmp/vessa-fault-XXXXXX";
    const int fd = mkstemp(outPath);
    if (fd < 0)
        return false;
    close(fd);
    run.outPath = outPath;

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (strncmp(*e, "VESSA_FAULT_", 12) != 0)
            env.emplace_back(*e);
    env.push_back(std::string("VESSA_FAULT_PATH=") + faults::pathName(path));
    env.push_back("VESSA_FAULT_SITE=" + run.site.name());
    env.push_back("VESSA_FAULT_NTH=" + std::to_string(run.nth));
    env.push_back("VESSA_FAULT_OUT=" + run.outPath);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe";
    std::string filter = "--gtest_filter=FaultCampaignChild.RunsTheArmedSite";
    char* argv[] = {&self[0], &filter[0], nullptr};

    // The child's output stays out of the campaign's: it goes to /dev/null.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&run.pid, self.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        unlink(run.outPath.c_str());
        return false;
    }
    run.result.started = true;
    run.started = std::chrono::steady_clock::now();
    run.deadline = run.started + std::chrono::seconds(kTimeLimitSeconds);
    return true;
}

/// True once the child has ended (or was killed at its deadline) and its outcome is read.
bool finished(ChildRun& run) {
    ChildResult& result = run.result;
    int status = 0;
    if (waitpid(run.pid, &status, WNOHANG) != run.pid) {
        if (std::chrono::steady_clock::now() <= run.deadline)
            return false;
        kill(run.pid, SIGKILL);
        waitpid(run.pid, &status, 0);
        result.timedOut = true;
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    } else {
        result.exitCode = WEXITSTATUS(status);
    }
    std::ifstream in(run.outPath);
    std::string line;
    if (std::getline(in, line))
        result.decoded = faults::decode(line, result.outcome);
    unlink(run.outPath.c_str());
    return true;
}

/// Runs every child, a few at a time, each within the time bound.
void runAll(TransferPath path, std::vector<ChildRun>& runs) {
    std::vector<ChildRun*> running;
    size_t next = 0;
    while (next < runs.size() || !running.empty()) {
        while (next < runs.size() && running.size() < kChildrenAtOnce) {
            ChildRun& run = runs[next++];
            if (start(path, run))
                running.push_back(&run);
        }
        for (auto it = running.begin(); it != running.end();) {
            if (finished(**it)) {
                const double seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - (*it)->started)
                        .count();
                printf("%-14s %-55s call %-4u %5.1f s  %s\n", faults::pathName(path),
                       (*it)->site.name().c_str(), (*it)->nth, seconds,
                       outcomeText((*it)->result).c_str());
                fflush(stdout);
                it = running.erase(it);
            } else {
                ++it;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

/// Runs by kind, for the line under a path's table.
std::string summary(const std::vector<ReachedSite>& sites, const std::vector<ChildRun>& runs) {
    size_t exact = 0, repeats = 0, errors = 0, unreached = 0, wrong = 0, broken = 0;
    for (const ChildRun& run : runs) {
        const ChildResult& r = run.result;
        if (!r.survived())
            ++broken;
        else if (r.outcome.injected == 0)
            ++unreached;
        else if (r.outcome.wrong)
            ++wrong;
        else if (!r.outcome.completed)
            ++errors;
        else if (r.outcome.repeated)
            ++repeats;
        else
            ++exact;
    }
    return std::to_string(sites.size()) + " sites, " + std::to_string(runs.size()) +
           " runs: " + std::to_string(exact) + " presented every frame exactly, " +
           std::to_string(repeats) + " presented every frame with repeats, " +
           std::to_string(errors) + " ended with the error the application saw, " +
           std::to_string(wrong) + " showed frames that differ from the oracle, " +
           std::to_string(unreached) + " never reached the armed call, " + std::to_string(broken) +
           " crashed, hung or reported.";
}

void appendTable(const char* file, TransferPath path, const std::vector<ReachedSite>& sites,
                 const std::vector<ChildRun>& runs) {
    std::map<std::pair<CallSite, unsigned>, const ChildRun*> byCall;
    for (const ChildRun& run : runs)
        byCall[{run.site, run.nth}] = &run;
    std::ofstream out(file, std::ios::app);
    out << "\n#### " << faults::pathName(path) << "\n\n"
        << "| call site | calls | first call | second call | middle call |\n"
        << "|---|---|---|---|---|\n";
    for (const ReachedSite& reached : sites) {
        out << "| `" << reached.site.name() << "` | " << reached.calls << " |";
        const std::vector<unsigned> nths = faults::occurrencesOf(reached.calls);
        for (size_t column = 0; column < 3; ++column) {
            out << ' ';
            if (column < nths.size()) {
                auto it = byCall.find({reached.site, nths[column]});
                if (it != byCall.end())
                    out << (column == 2 ? "call " + std::to_string(nths[column]) + ": " : "")
                        << outcomeText(it->second->result);
                else
                    out << "-";
            } else {
                out << "-";
            }
            out << " |";
        }
        out << "\n";
    }
    out << "\n" << summary(sites, runs) << "\n";
}

class FaultCampaign : public ::testing::TestWithParam<TransferPath> {};

std::string pathTestName(const ::testing::TestParamInfo<TransferPath>& info) {
    switch (info.param) {
    case TransferPath::ApiCopy:
        return "ApiCopy";
    case TransferPath::InteropSync:
        return "InteropSync";
    case TransferPath::InteropAsync:
        return "InteropAsync";
    }
    return "Unknown";
}

bool reaches(const std::vector<ReachedSite>& sites, const char* module, const char* entry) {
    return std::any_of(sites.begin(), sites.end(), [&](const ReachedSite& s) {
        return s.site.module == module && s.site.entry == entry;
    });
}

TEST_P(FaultCampaign, ScenarioWithoutFaultIsPixelExactAndReachesEveryLayer) {
    std::vector<ReachedSite> sites;
    RunRequest request;
    request.path = GetParam();
    request.reached = &sites;
    const RunOutcome o = faults::runScenario(request);
    ASSERT_TRUE(o.completed) << o.failure;
    EXPECT_EQ(faults::kScenarioFrames, o.exact) << o.firstWrong;
    EXPECT_EQ(0u, o.wrong);
    // Both GPUs' drivers, the kernel and the system are reached, or the campaign would
    // prove little; the interop library is reached exactly on its own paths.
    EXPECT_TRUE(reaches(sites, "simumd_nv.dll", "DrawPrimitive"));
    EXPECT_TRUE(reaches(sites, "simumd_intel.dll", "Present"));
    EXPECT_TRUE(reaches(sites, "gdi32.dll", "D3DKMTPresent"));
    EXPECT_TRUE(reaches(sites, "advapi32.dll", "RegQueryValueExW"));
    EXPECT_TRUE(reaches(sites, "kernel32.dll", "LoadLibraryW"));
    EXPECT_TRUE(reaches(sites, "ntdll.dll", "NtQueryValueKey"));
    EXPECT_TRUE(reaches(sites, "user32.dll", "EnumDisplayDevicesW"));
    EXPECT_TRUE(reaches(sites, "winmm.dll", "timeBeginPeriod"));
    const bool interop = GetParam() != TransferPath::ApiCopy;
    EXPECT_EQ(interop, reaches(sites, "vessaInterop.dll", "injectBufferedSurfaceTransfer"));
}

TEST_P(FaultCampaign, EverySiteFailedIsSurvived) {
    const TransferPath path = GetParam();
    std::vector<ReachedSite> sites;
    RunRequest request;
    request.path = path;
    request.reached = &sites;
    const RunOutcome baseline = faults::runScenario(request);
    ASSERT_TRUE(baseline.completed) << baseline.failure;
    ASSERT_FALSE(sites.empty());
    printf("%-14s without a fault: %u reports\n", faults::pathName(path), baseline.reports);

    std::vector<ChildRun> runs;
    for (const ReachedSite& reached : sites) {
        std::vector<unsigned> nths = faults::occurrencesOf(reached.calls);
        if (!fullMatrix()) {
            // The time `make test` allows: on the interop paths the library's own operations
            // only; the drivers', the kernel's and the system's sites there, most of them
            // the API copy's too, are in the full matrix.
            if (path != TransferPath::ApiCopy && reached.site.module != "vessaInterop.dll")
                continue;
            nths.resize(1);
        }
        for (unsigned nth : nths) {
            runs.emplace_back();
            runs.back().site = reached.site;
            runs.back().nth = nth;
        }
    }
    runAll(path, runs);
    for (const ChildRun& run : runs) {
        const std::string what = run.site.name() + " call " + std::to_string(run.nth);
        const ChildResult& r = run.result;
        EXPECT_TRUE(r.started) << what;
        EXPECT_FALSE(r.timedOut) << what;
        EXPECT_EQ(0, r.signal) << what;
        EXPECT_EQ(0, r.exitCode) << what;
        EXPECT_TRUE(r.decoded) << what;
        if (!losesApplicationWork(run.site)) {
            EXPECT_EQ(0u, r.outcome.wrong) << what << ": " << r.outcome.firstWrong;
            // One failed call may cost a frame or two, never the frames after it: a display
            // left repeating while every present succeeds is a frozen game to its player.
            if (r.outcome.completed) {
                EXPECT_LE(r.outcome.repeated, kRepeatsOneFaultMayCost) << what;
                // A failure the application never hears of, but its player sees, is left in
                // the log, or nobody could tell why the game stuttered.
                if (r.outcome.repeated) {
                    EXPECT_GT(r.outcome.reports, baseline.reports) << what;
                }
            }
        }
    }
    if (const char* table = getenv("VESSA_FAULT_TABLE"))
        appendTable(table, path, sites, runs);
}

INSTANTIATE_TEST_SUITE_P(Paths, FaultCampaign, ::testing::ValuesIn(faults::kTransferPaths),
                         pathTestName);

TEST(FaultCampaignApiCopy, AFailedCopyShowsTheLastFrameAgain) {
    // Mid-run, the copy's Blt into the Intel surface (each frame's first Intel Blt; the
    // icon's is the second), and the rendering GPU's lock of the system-memory surface it
    // reads: each costs one new frame, never a wrong one. At the first frame nothing was
    // ever shown: nothing is presented for it. One machine per process, so each in a child.
    std::vector<ChildRun> runs(3);
    runs[0].site = {"simumd_intel.dll", "Blt", -1};
    runs[0].nth = 9;
    runs[1].site = {"simumd_nv.dll", "Lock", -1};
    runs[1].nth = 10;
    runs[2].site = {"simumd_intel.dll", "Blt", -1};
    runs[2].nth = 1;
    runAll(TransferPath::ApiCopy, runs);
    for (const ChildRun& run : runs) {
        const std::string what = run.site.name() + " call " + std::to_string(run.nth);
        ASSERT_TRUE(run.result.survived()) << what << ": " << outcomeText(run.result);
        const RunOutcome& o = run.result.outcome;
        EXPECT_TRUE(o.completed) << what << ": " << o.failure;
        EXPECT_EQ(1u, o.injected) << what;
        EXPECT_EQ(0u, o.wrong) << what << ": " << o.firstWrong;
        EXPECT_EQ(faults::kScenarioFrames - 1, o.exact) << what;
    }
    EXPECT_EQ(1u, runs[0].result.outcome.repeated);
    EXPECT_EQ(1u, runs[1].result.outcome.repeated);
}

TEST(FaultCampaignMatrix, FailsTheFirstSecondAndMiddleCallEachOnce) {
    EXPECT_EQ(std::vector<unsigned>{1}, faults::occurrencesOf(1));
    EXPECT_EQ((std::vector<unsigned>{1, 2}), faults::occurrencesOf(2));
    EXPECT_EQ((std::vector<unsigned>{1, 2, 3}), faults::occurrencesOf(3));
    EXPECT_EQ((std::vector<unsigned>{1, 2, 3}), faults::occurrencesOf(4));
    EXPECT_EQ((std::vector<unsigned>{1, 2, 16}), faults::occurrencesOf(30));
}

/// The child side: runs the scenario on VESSA_FAULT_PATH with the site named by
/// VESSA_FAULT_SITE armed at call VESSA_FAULT_NTH and writes the outcome to
/// VESSA_FAULT_OUT. Skipped when run on its own.
TEST(FaultCampaignChild, RunsTheArmedSite) {
    const char* site = getenv("VESSA_FAULT_SITE");
    const char* path = getenv("VESSA_FAULT_PATH");
    const char* nth = getenv("VESSA_FAULT_NTH");
    const char* out = getenv("VESSA_FAULT_OUT");
    if (!site || !path || !nth || !out)
        GTEST_SKIP() << "run by the campaign for one call site";
    RunRequest request;
    ASSERT_TRUE(CallSite::parse(site, request.site)) << site;
    ASSERT_TRUE(faults::parsePath(path, request.path)) << path;
    request.nth = unsigned(strtoul(nth, nullptr, 10));
    ASSERT_GE(request.nth, 1u);
    const RunOutcome o = faults::runScenario(request);
    std::ofstream(out) << faults::encode(o) << "\n";
}

} // namespace
