// The fault campaign: every vendor-driver entry and kernel thunk the interposed scenario
// reaches is made to fail once, at its first call, one at a time, each in a child process
// of this executable with a time bound. A run must end (no crash, no hang, no sanitizer
// report), and every frame shown after a present must be that frame or a repeat of the
// image before it; an error the application sees is recorded, not a failure.
//
// VESSA_FAULT_TABLE names a file for the Markdown table of outcomes (`make reliability`
// puts it into docs/reliability.md).
#include "FaultRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
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
using faults::RunOutcome;

constexpr int kTimeLimitSeconds = 90;

/// A failed submission of the rendering GPU loses the application's own queued commands
/// (its surfaces' contents with them), which the driver drops as after a device reset: the
/// frames then differ from the oracle through no fault of the interposer, which shows what
/// was rendered. Such a site must still end without a crash, hang or report.
bool losesApplicationWork(const CallSite& site) {
    return site.module == "gdi32.dll" && site.entry == "D3DKMTRender" && site.gpu == 1;
}

/// How a child run ended.
struct ChildResult {
    bool started = false;
    bool timedOut = false;
    int signal = 0;   ///< the signal that ended it, 0 when it exited
    int exitCode = 0; ///< its exit code (a sanitizer report ends it non-zero)
    bool decoded = false;
    RunOutcome outcome;
};

std::string siteName(const CallSite& s) {
    return s.name();
}

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
    std::string text = o.completed ? "all frames presented" : "application error: " + o.failure;
    if (o.wrong)
        text += "; frames differ from the oracle";
    if (o.injected == 0)
        text += "; not reached";
    return text;
}

/// Runs this executable's child test for one site, within the time bound.
ChildResult runChild(const CallSite& site) {
    ChildResult result;
    char outPath[] = "/tmp/vessa-fault-XXXXXX";
    const int fd = mkstemp(outPath);
    if (fd < 0)
        return result;
    close(fd);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (strncmp(*e, "VESSA_FAULT_", 12) != 0)
            env.emplace_back(*e);
    env.push_back("VESSA_FAULT_SITE=" + siteName(site));
    env.push_back(std::string("VESSA_FAULT_OUT=") + outPath);
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
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        unlink(outPath);
        return result;
    }
    result.started = true;

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kTimeLimitSeconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!result.timedOut) {
        if (WIFSIGNALED(status))
            result.signal = WTERMSIG(status);
        else
            result.exitCode = WEXITSTATUS(status);
    }
    std::ifstream in(outPath);
    std::string line;
    if (std::getline(in, line))
        result.decoded = faults::decode(line, result.outcome);
    unlink(outPath);
    return result;
}

void writeTable(const char* path, const std::vector<CallSite>& sites,
                const std::vector<ChildResult>& results) {
    std::ofstream out(path);
    out << "| call site (failed at its first call) | outcome | frames exact / repeated / wrong "
           "|\n|---|---|---|\n";
    for (size_t i = 0; i < sites.size(); ++i) {
        const ChildResult& r = results[i];
        out << "| `" << siteName(sites[i]) << "` | " << outcomeText(r)
            << (losesApplicationWork(sites[i]) && r.outcome.wrong
                    ? " (the lost submission held the application's own commands)"
                    : "")
            << " | ";
        if (r.decoded)
            out << r.outcome.exact << " / " << r.outcome.repeated << " / " << r.outcome.wrong;
        else
            out << "-";
        out << " |\n";
    }
}

TEST(FaultCampaign, ScenarioWithoutFaultIsPixelExactAndReachesDriversAndKernel) {
    std::vector<CallSite> sites;
    const RunOutcome o = faults::runScenario(CallSite(), &sites);
    ASSERT_TRUE(o.completed) << o.failure;
    EXPECT_EQ(faults::kScenarioFrames, o.exact) << o.firstWrong;
    EXPECT_EQ(0u, o.wrong);
    // Both GPUs' drivers and the kernel are reached, or the campaign would prove little.
    auto has = [&](const char* module, const char* entry) {
        return std::any_of(sites.begin(), sites.end(), [&](const CallSite& s) {
            return s.module == module && s.entry == entry;
        });
    };
    EXPECT_TRUE(has("simumd_nv.dll", "DrawPrimitive"));
    EXPECT_TRUE(has("simumd_intel.dll", "Present"));
    EXPECT_TRUE(has("gdi32.dll", "D3DKMTPresent"));
}

TEST(FaultCampaign, AFailedApiCopyShowsTheLastFrameAgain) {
    // Mid-run, the copy's Blt into the Intel surface (each frame's first Intel Blt; the
    // icon's is the second), and the rendering GPU's lock of the system-memory surface it
    // reads: each costs one new frame, never a wrong one.
    for (const auto& [site, nth] : {std::make_pair(CallSite{"simumd_intel.dll", "Blt", -1}, 9u),
                                    std::make_pair(CallSite{"simumd_nv.dll", "Lock", -1}, 10u)}) {
        const RunOutcome o = faults::runScenario(site, nullptr, nth);
        ASSERT_TRUE(o.completed) << site.name() << ": " << o.failure;
        EXPECT_EQ(1u, o.injected) << site.name();
        EXPECT_EQ(0u, o.wrong) << site.name() << ": " << o.firstWrong;
        EXPECT_EQ(1u, o.repeated) << site.name();
        EXPECT_EQ(faults::kScenarioFrames - 1, o.exact) << site.name();
    }
    // At the first frame nothing was ever shown: nothing is presented for it.
    const RunOutcome first = faults::runScenario({"simumd_intel.dll", "Blt", -1}, nullptr, 1);
    EXPECT_EQ(0u, first.wrong) << first.firstWrong;
    EXPECT_EQ(faults::kScenarioFrames - 1, first.exact);
}

TEST(FaultCampaign, EveryDriverEntryAndKernelThunkFailedOnceIsSurvived) {
    std::vector<CallSite> sites;
    const RunOutcome baseline = faults::runScenario(CallSite(), &sites);
    ASSERT_TRUE(baseline.completed) << baseline.failure;
    ASSERT_FALSE(sites.empty());

    std::vector<ChildResult> results;
    for (const CallSite& site : sites) {
        results.push_back(runChild(site));
        const ChildResult& r = results.back();
        printf("%-50s %s\n", siteName(site).c_str(), outcomeText(r).c_str());
        fflush(stdout);
        EXPECT_TRUE(r.started) << siteName(site);
        EXPECT_FALSE(r.timedOut) << siteName(site);
        EXPECT_EQ(0, r.signal) << siteName(site);
        EXPECT_EQ(0, r.exitCode) << siteName(site);
        EXPECT_TRUE(r.decoded) << siteName(site);
        if (!losesApplicationWork(site)) {
            EXPECT_EQ(0u, r.outcome.wrong) << siteName(site) << ": " << r.outcome.firstWrong;
        }
    }
    if (const char* table = getenv("VESSA_FAULT_TABLE"))
        writeTable(table, sites, results);
}

/// The child side: runs the scenario with the site named by VESSA_FAULT_SITE armed and
/// writes the outcome to VESSA_FAULT_OUT. Skipped when run on its own.
TEST(FaultCampaignChild, RunsTheArmedSite) {
    const char* site = getenv("VESSA_FAULT_SITE");
    const char* out = getenv("VESSA_FAULT_OUT");
    if (!site || !out)
        GTEST_SKIP() << "run by the campaign for one call site";
    CallSite armed;
    ASSERT_TRUE(CallSite::parse(site, armed)) << site;
    const RunOutcome o = faults::runScenario(armed, nullptr);
    std::ofstream(out) << faults::encode(o) << "\n";
}

} // namespace
