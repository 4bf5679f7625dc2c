// vessa-config as a user runs it: the sample files, bad files and usage, and the xenc
// conversion.
#include "ConfigProperty.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the tool with `arguments` (already quoted for the shell).
ToolRun runTool(const std::string& arguments) {
    // Tests run in parallel processes: each keeps its own error file.
    const std::string errPath =
        ::testing::TempDir() + "vessa-config-" + std::to_string(getpid()) + ".err";
    std::string command =
        std::string("'") + VESSA_CONFIG_TOOL + "' " + arguments + " 2>'" + errPath + "'";
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, got);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = readAll(errPath);
    remove(errPath.c_str());
    return run;
}

std::string sample(const char* name) {
    return std::string("'") + VESSA_SAMPLE_DIR "/" + name + "'";
}

// name -> (value, source) of every line; fails the test on a line without three fields.
std::map<std::string, std::pair<std::string, std::string>> parse(const std::string& out) {
    std::map<std::string, std::pair<std::string, std::string>> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        size_t first = line.find('\t');
        size_t second = line.find('\t', first + 1);
        EXPECT_NE(second, std::string::npos) << line;
        if (second == std::string::npos)
            continue;
        lines[line.substr(0, first)] = {line.substr(first + 1, second - first - 1),
                                        line.substr(second + 1)};
    }
    return lines;
}

TEST(VessaConfigTool, SampleFilesGiveAValueAndASourceForEveryProperty) {
    ToolRun run = runTool("show --exe 'C:\\Games\\Game.EXE' --gpus intel_nv --database " +
                          sample("vessa.xml") + " --user-settings " + sample("userSettings.xml") +
                          " --loader-ini " + sample("vessaloader.ini"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, ""); // the samples are complete: no box, no report
    auto lines = parse(run.out);
    EXPECT_EQ(lines.size(), std::size(kConfigProperties) + 4 * std::size(kConfigGpuProperties));
    const std::vector<std::string> sources = {"user-settings", "application+configuration",
                                              "application",   "default+configuration",
                                              "default",       "built-in",
                                              "computed",      "none"};
    for (const ConfigPropertyInfo& row : kConfigProperties) {
        ASSERT_EQ(lines.count(row.name), 1u) << row.name;
        EXPECT_NE(std::find(sources.begin(), sources.end(), lines[row.name].second), sources.end())
            << row.name;
        EXPECT_NE(lines[row.name].second, "none") << row.name;
    }
    using Line = std::pair<std::string, std::string>;
    EXPECT_EQ(lines["gpu_count"], Line("2", "computed"));
    EXPECT_EQ(lines["vessa_install_dir"], Line("C:\\Program Files\\Quorvex\\Vessa", "computed"));
    EXPECT_EQ(lines["use_zari_dx9"], Line("1", "application+configuration"));
    EXPECT_EQ(lines["should_umd_sync_copy"], Line("1", "application"));
    EXPECT_EQ(lines["partial_copy"], Line("1.0", "default")); // empty in the application
    EXPECT_EQ(lines["vessa_icon_show"], Line("2", "user-settings"));
    EXPECT_EQ(lines["orr_margin"], Line("35", "user-settings"));
    EXPECT_EQ(lines["the_first_property_for_looping_purposes"], Line("0", "built-in"));
    EXPECT_EQ(lines["gpu_vendor_id[2]"], Line("", "none"));
}

TEST(VessaConfigTool, MachineSelectsTheConfigurationGroups) {
    ToolRun run = runTool("show --exe 'C:\\Games\\game.exe' --gpus nv_intel --database " +
                          sample("vessa.xml"));
    ASSERT_EQ(run.status, 0) << run.err;
    auto lines = parse(run.out);
    EXPECT_EQ(lines["use_api_copy_dx9"].second, "default+configuration");
    EXPECT_EQ(lines["use_zari_dx9"], std::make_pair(std::string("0"), std::string("default")));
    // No user settings: the icon fallback, and its report on standard error.
    EXPECT_EQ(lines["vessa_icon_corner"],
              std::make_pair(std::string("UL"), std::string("built-in")));
    EXPECT_NE(run.err.find("can't find userSetting.xml"), std::string::npos);
}

TEST(VessaConfigTool, MissingDatabaseIsOneReportOnStandardErrorAndNoMessageBox) {
    ToolRun run = runTool("show --exe 'C:\\game.exe' --gpus none");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("message box"), std::string::npos);
    EXPECT_NE(run.err.find("Error code: 10004"), std::string::npos);
    EXPECT_EQ(parse(run.out)["orr_margin"],
              std::make_pair(std::string("20"), std::string("built-in")));
}

TEST(VessaConfigTool, UnreadableFilesAndBadUsageEndWithAClearMessage) {
    ToolRun missing =
        runTool("show --exe 'C:\\game.exe' --gpus intel_nv --database /nonexistent/vessa.xml");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot read '/nonexistent/vessa.xml'"), std::string::npos);
    EXPECT_EQ(missing.out, "");

    ToolRun directory = runTool("show --exe 'C:\\game.exe' --gpus intel_nv --user-settings /");
    EXPECT_EQ(directory.status, 1);

    EXPECT_EQ(runTool("show --exe 'C:\\game.exe' --gpus sli").status, 2);
    EXPECT_EQ(runTool("show --gpus intel_nv").status, 2);
    EXPECT_EQ(runTool("show --exe x --gpus intel_nv --colour red").status, 2);
    EXPECT_EQ(runTool("").status, 2);
}

TEST(VessaConfigTool, EncodeAndDecodeRoundTripTheDatabase) {
    std::string encoded = ::testing::TempDir() + "sample-" + std::to_string(getpid()) + ".xenc";
    std::string decoded = ::testing::TempDir() + "sample-" + std::to_string(getpid()) + ".xml";
    ASSERT_EQ(runTool("encode " + sample("vessa.xml") + " '" + encoded + "'").status, 0);
    EXPECT_EQ(readAll(encoded).compare(0, 8, "VXENC01\n"), 0);
    ASSERT_EQ(runTool("decode '" + encoded + "' '" + decoded + "'").status, 0);
    EXPECT_EQ(readAll(decoded), readAll(VESSA_SAMPLE_DIR "/vessa.xml"));
    EXPECT_EQ(runTool("decode " + sample("vessa.xml") + " '" + decoded + "'").status, 1);

    // The encoded database gives the same answers as the plain one.
    ToolRun run =
        runTool("show --exe 'C:\\Games\\game.exe' --gpus intel_nv --database '" + encoded + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(parse(run.out)["use_zari_dx9"].second, "application+configuration");
    remove(encoded.c_str());
    remove(decoded.c_str());
}

} // namespace
