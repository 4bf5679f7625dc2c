// The assertion report and the diagnostic log: line formats, truncation, limits, threads.
#include "Report.h"
#include "LogReader.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

using testlog::afterPrefix;
using testlog::logLines;
using testlog::readLog;

namespace {

class Report : public EmptyLogTest {};

const char* kPrefix = R"(TID:[0-9]+, [0-9]{2}/[0-9]{2}/[0-9]{2}, [0-9]{2}:[0-9]{2}:[0-9]{2}, )";

TEST_F(Report, WritesCodeLineAndConditionLineWithPrefix) {
    reportAssertion(ReportLevel::Warning, 1000, "src\\Adapter9.cpp", 57, "hr == S_OK",
                    "Could not find Adapter %x!", 0x2au);

    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    std::string tid = "TID:" + std::to_string(GetCurrentThreadId()) + ", ";
    EXPECT_EQ(lines[0].rfind(tid, 0), 0u);
    // Text mode: the code text's "\n" reaches the disk as "\r\n", the message's "\r\n" as "\r\r\n".
    EXPECT_TRUE(std::regex_match(
        lines[0],
        std::regex(std::string(kPrefix) + R"(Adapter9\.cpp:57 - Warning code: 1000\r\n)")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex(std::string(kPrefix) + R"(Adapter9\.cpp:57 - Condition: hr == S_OK, )"
                                                    R"(Could not find Adapter 2a!\r\r\n)")))
        << lines[1];
}

TEST_F(Report, ErrorLevelNamesErrorAndCarriesOnWithoutDebugger) {
    bool after = false;
    VESSA_REPORT(Error, 10211, "false", "no auxiliary adapter");
    after = true;
    EXPECT_TRUE(after);
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(afterPrefix(lines[0]), "Error code: 10211\r\n");
    EXPECT_EQ(afterPrefix(lines[1]), "Condition: false, no auxiliary adapter\r\r\n");
}

TEST_F(Report, CheckReportsOnlyWhenConditionFailsAndYieldsIt) {
    int value = 3;
    EXPECT_TRUE(VESSA_CHECK(Warning, 0, value == 3, "not reported"));
    EXPECT_EQ(readLog(), "");
    EXPECT_FALSE(VESSA_CHECK(Warning, 0, value == 4, "value %d", value));
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(afterPrefix(lines[1]), "Condition: value == 4, value 3\r\r\n");
}

TEST_F(Report, FirstReportOfProcessEmptiesOldLogAndLaterReportsAppend) {
    testlog::writeLog("left by an earlier process\r\n");
    VESSA_REPORT(Warning, 1, "false", "first");
    VESSA_REPORT(Warning, 2, "false", "second");
    std::string log = readLog();
    EXPECT_EQ(log.find("earlier process"), std::string::npos);
    EXPECT_EQ(logLines().size(), 4u);
    EXPECT_LT(log.find("first"), log.find("second"));
}

TEST_F(Report, ConditionTextWithPercentIsPrintedLiterally) {
    VESSA_REPORT(Warning, 0, "count % 2 == 0 && %s %n", "odd count");
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(afterPrefix(lines[1]), "Condition: count % 2 == 0 && %s %n, odd count\r\r\n");
}

TEST_F(Report, BaseNameIsTextAfterLastSeparator) {
    EXPECT_STREQ(reportBaseName("c:\\build\\src\\OpenAdapter9.cpp"), "OpenAdapter9.cpp");
    EXPECT_STREQ(reportBaseName("/home/build/common/public/Object.h"), "Object.h");
    EXPECT_STREQ(reportBaseName("Configuration.cpp"), "Configuration.cpp");
    EXPECT_STREQ(reportBaseName("dir\\"), "");
}

TEST_F(Report, OverlongTextsAreCutAtTheirLimitsAndLinesStayWhole) {
    std::string longCondition(5000, 'c');
    std::string longMessage(9000, 'm');
    VESSA_REPORT(Warning, 0, longCondition.c_str(), "%s", longMessage.c_str());
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    // The condition line is formatted into 1024 characters (terminator included) and still
    // ends its line; the full line with its prefix stays below 4096.
    std::string condition = afterPrefix(lines[1]);
    EXPECT_EQ(condition.size(), 1023u + 1u); // 1021 characters, "\r\n", and text mode's "\r"
    EXPECT_EQ(condition.substr(0, 12), "Condition: c");
    EXPECT_EQ(condition.substr(condition.size() - 3), "\r\r\n");
    EXPECT_LT(lines[1].size(), 4096u + 1u);
}

TEST_F(Report, ConcurrentReportsNeverInterleaveWithinALine) {
    constexpr int kThreads = 8;
    constexpr int kReportsPerThread = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            std::string marker(60, static_cast<char>('A' + t));
            for (int i = 0; i < kReportsPerThread; ++i)
                VESSA_REPORT(Warning, t, "false", "%s", marker.c_str());
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(2 * kThreads * kReportsPerThread));
    std::regex codeLine(std::string(kPrefix) +
                        R"(ReportTest\.cpp:[0-9]+ - Warning code: [0-7]\r\n)");
    std::regex conditionLine(std::string(kPrefix) +
                             R"(ReportTest\.cpp:[0-9]+ - Condition: false, ([A-H])\1{59}\r\r\n)");
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, codeLine) || std::regex_match(line, conditionLine))
            << line;
    }
}

} // namespace
