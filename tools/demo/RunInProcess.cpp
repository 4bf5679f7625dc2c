// Running a demo run in a child process.
#include "RunInProcess.h"

#include "DemoReport.h"

#include <fstream>
#include <signal.h>
#include <sstream>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

namespace demo {

std::string pathText(const sim::app::AppScript& script) {
    if (script.path == sim::app::AppPath::Direct)
        return "direct on GPU " +
               (script.gpu.empty() ? std::string("of the primary display") : script.gpu);
    return "interposed: " + script.library + "!" + script.entry;
}

RunSummary runInChildProcess(const sim::app::AppScript& script, const std::string& exchangeFile,
                             const std::function<RunSummary()>& body) {
    RunSummary failed;
    failed.name = script.name;
    failed.scene = sim::app::sceneKindName(script.scene);
    failed.path = script.path == sim::app::AppPath::Direct ? "direct" : "interposed";
    failed.pathText = pathText(script);
    failed.framesRequested = script.frames;
    unlink(exchangeFile.c_str());
    fflush(stdout);
    fflush(stderr);
    pid_t child = fork();
    if (child < 0) {
        failed.result = std::string("cannot start the run's process: ") + strerror(errno);
        return failed;
    }
    if (child == 0) {
        RunSummary summary = body();
        std::string error;
        bool written = DemoReport::writeFile(exchangeFile, summary.serialize(), error);
        fflush(stdout);
        fflush(stderr);
        // Leave without the parent's exit handlers: the machine's root folder is the
        // parent's to remove.
        _exit(written ? 0 : 1);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    std::ifstream in(exchangeFile, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    RunSummary summary;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && summary.parse(text.str()))
        return summary;
    if (WIFSIGNALED(status))
        failed.result = "the run's process ended with signal " + std::to_string(WTERMSIG(status)) +
                        " (" + strsignal(WTERMSIG(status)) + ")";
    else
        failed.result = "the run's process ended with exit code " +
                        std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                        " without its results";
    return failed;
}

} // namespace demo
