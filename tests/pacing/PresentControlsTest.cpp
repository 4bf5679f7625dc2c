// The process-wide present controls behind the library's "getInterval" export.
#include "PresentControls.h"

#include <gtest/gtest.h>

TEST(PresentControls, GetIntervalHandsOutThreeStableAddressesWithTheInitialValues) {
    uint32_t* pInterval = nullptr;
    bool* pPerform = nullptr;
    bool* pForce = nullptr;
    ASSERT_TRUE(getInterval(&pInterval, &pPerform, &pForce));
    ASSERT_NE(nullptr, pInterval);
    ASSERT_NE(nullptr, pPerform);
    ASSERT_NE(nullptr, pForce);
    EXPECT_NE(static_cast<void*>(pPerform), static_cast<void*>(pForce));
    EXPECT_NE(static_cast<void*>(pInterval), static_cast<void*>(pPerform));
    EXPECT_NE(static_cast<void*>(pInterval), static_cast<void*>(pForce));
    // Before any present: interval 1, presents performed, interval forced.
    EXPECT_EQ(1u, *pInterval);
    EXPECT_TRUE(*pPerform);
    EXPECT_TRUE(*pForce);

    uint32_t* pAgain = nullptr;
    bool* pPerformAgain = nullptr;
    bool* pForceAgain = nullptr;
    ASSERT_TRUE(getInterval(&pAgain, &pPerformAgain, &pForceAgain));
    EXPECT_EQ(pInterval, pAgain);
    EXPECT_EQ(pPerform, pPerformAgain);
    EXPECT_EQ(pForce, pForceAgain);
}

TEST(PresentControls, WritesThroughTheAddressesReachTheKernelPresentsReaders) {
    uint32_t* pInterval = nullptr;
    bool* pPerform = nullptr;
    bool* pForce = nullptr;
    ASSERT_TRUE(getInterval(&pInterval, &pPerform, &pForce));
    *pInterval = 0;
    *pForce = false;
    *pPerform = false;
    EXPECT_EQ(0u, PresentControls::flipInterval());
    EXPECT_FALSE(PresentControls::forceInterval());
    EXPECT_FALSE(PresentControls::performPresent());
    *pInterval = 1;
    *pForce = true;
    *pPerform = true;
}

TEST(PresentControls, NullOutPointerIsRefusedAndNothingWritten) {
    uint32_t* pInterval = nullptr;
    bool* pForce = nullptr;
    EXPECT_FALSE(getInterval(&pInterval, nullptr, &pForce));
    EXPECT_EQ(nullptr, pInterval);
    EXPECT_EQ(nullptr, pForce);
}
