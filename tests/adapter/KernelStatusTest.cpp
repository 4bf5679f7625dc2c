// The kernel status translation that adapter and device callbacks hand to vendor drivers:
// the answers drivers act on, and what becomes of a status the table does not know.
#include "utils.h"

#include "../foundation/LogReader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

HRESULT translate(uint32_t status) {
    return kernelStatusToHResult(static_cast<NTSTATUS>(status));
}

} // namespace

class KernelStatusTable : public EmptyLogTest {};

TEST_F(KernelStatusTable, StatusesDriversActOnReachThemAsTheirOwnCodesWithoutReport) {
    EXPECT_EQ(S_OK, translate(0x00000000u));
    // "Still drawing" keeps a driver polling rather than failing its query.
    EXPECT_EQ(static_cast<HRESULT>(0x8876021Cu), translate(0xC01E0102u));
    EXPECT_EQ(E_OUTOFMEMORY, translate(0xC0000017u));
    EXPECT_EQ(E_INVALIDARG, translate(0xC000000Du));
    // A removed device is D3DDDIERR_DEVICEREMOVED, which drivers answer by giving up the GPU.
    EXPECT_EQ(static_cast<HRESULT>(0x88760870u), translate(0xC00002B6u));
    EXPECT_EQ("", testlog::readLog());
}

TEST_F(KernelStatusTable, UnsuccessfulIsAFailureNotASuccessCode) {
    // A driver that got 1 here would carry on as if the allocation or lock had worked.
    EXPECT_EQ(E_FAIL, translate(0xC0000001u));
    EXPECT_TRUE(FAILED(translate(0xC0000001u)));
}

TEST_F(KernelStatusTable, UnknownStatusesAreReportedAndBecomeEFail) {
    const uint32_t unknown[] = {0xC0000022u, 0x00000103u, 0xC01E0101u, 0x80000005u};
    for (uint32_t status : unknown)
        EXPECT_EQ(E_FAIL, translate(status)) << std::hex << status;

    std::vector<std::string> lines = testlog::logLines();
    ASSERT_EQ(2 * (sizeof unknown / sizeof unknown[0]), lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("utils.cpp:115 - Warning code: 0"));
    EXPECT_EQ(0u, testlog::afterPrefix(lines[1]).find("Condition: false, unknown error code\r"));
}
