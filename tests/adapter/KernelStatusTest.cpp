// The kernel status translation that adapter and device callbacks hand to vendor drivers.
#include "utils.h"

#include "../foundation/LogReader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Row {
    uint32_t status;
    uint32_t hresult;
};

// Every status the callbacks translate, with the code the vendor driver receives.
const Row kExpected[] = {
    {0x00000000u, 0x00000000u}, {0xC0000001u, 0x00000001u}, {0xC0000008u, 0x88760873u},
    {0xC01E0106u, 0x88760873u}, {0xC000000Du, 0x80070057u}, {0xC0000017u, 0x8007000Eu},
    {0xC000001Du, 0x88760872u}, {0xC0000096u, 0x88760871u}, {0xC00000E8u, 0x88760879u},
    {0xC00002B6u, 0x88760870u}, {0xC01E0100u, 0x8876017Cu}, {0xC01E0102u, 0x8876021Cu},
    {0xC01E0103u, 0x80004005u}, {0xC01E0109u, 0xC0262109u}, {0xC01E0111u, 0xC0262111u},
    {0xC01E0200u, 0x8876086Au},
};

} // namespace

class KernelStatusTable : public EmptyLogTest {};

TEST_F(KernelStatusTable, EveryKnownStatusBecomesItsHResultWithoutReport) {
    for (const Row& row : kExpected) {
        EXPECT_EQ(static_cast<HRESULT>(row.hresult),
                  kernelStatusToHResult(static_cast<NTSTATUS>(row.status)))
            << std::hex << row.status;
    }
    EXPECT_EQ("", testlog::readLog());
    // STATUS_UNSUCCESSFUL reaches the driver as 1, which is not a failure code.
    EXPECT_FALSE(FAILED(kernelStatusToHResult(static_cast<NTSTATUS>(0xC0000001u))));
}

TEST_F(KernelStatusTable, UnknownStatusesAreReportedAndBecomeEFail) {
    const uint32_t unknown[] = {0xC0000022u, 0x00000103u, 0xC01E0101u, 0x80000005u};
    for (uint32_t status : unknown)
        EXPECT_EQ(E_FAIL, kernelStatusToHResult(static_cast<NTSTATUS>(status)))
            << std::hex << status;

    std::vector<std::string> lines = testlog::logLines();
    ASSERT_EQ(2 * (sizeof unknown / sizeof unknown[0]), lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("utils.cpp:115 - Warning code: 0"));
    EXPECT_EQ(0u, testlog::afterPrefix(lines[1]).find("Condition: false, unknown error code\r"));
}
