// The pacing policy an interposed device ends up with: ZARI follows the interop's staging
// buffers, so the device turns it off once it knows they cannot be had, whatever the
// database asked for.
#include "../interop/InteropFixture.h"

#include <gtest/gtest.h>

using interoptest::InteropDevice;

namespace {

struct Policy {
    BOOL zari = FALSE;
    BOOL dropDraw = FALSE;
};

Policy policyOf(InteropDevice& device) {
    Policy policy;
    auto probe = interoptest::probe<BOOL (*)(HANDLE, BOOL*, BOOL*)>("vessaProbeFlipManager");
    EXPECT_TRUE(probe && probe(device.hDevice(), &policy.zari, &policy.dropDraw));
    return policy;
}

struct PolicyCase {
    const char* name;
    const char* syncCopy;
    bool withInterop;
    BOOL zari;
};

class PacingPolicyTest : public ::testing::TestWithParam<PolicyCase> {};

TEST_P(PacingPolicyTest, ZariOnlyWithTheInteropsSynchronousCopies) {
    const PolicyCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(interoptest::installMachine(
        interoptest::virtualMachine(),
        {{"use_zari_dx9", "1"}, {"drop_draw_dx9", "1"}, {"should_umd_sync_copy", c.syncCopy}},
        c.withInterop));
    InteropDevice device;
    device.open();
    const Policy policy = policyOf(device);
    EXPECT_EQ(c.zari, policy.zari);
    EXPECT_TRUE(policy.dropDraw);
    device.close();
}

INSTANTIATE_TEST_SUITE_P(Cases, PacingPolicyTest,
                         ::testing::Values(PolicyCase{"SynchronousInterop", "1", true, TRUE},
                                           PolicyCase{"NoInteropLibrary", "1", false, FALSE},
                                           PolicyCase{"AsynchronousCopies", "0", true, FALSE}),
                         [](const ::testing::TestParamInfo<PolicyCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
