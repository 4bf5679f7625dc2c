// The partial-copy fraction and the rect it gives.
#include "GpuServices.h"

#include <gtest/gtest.h>

TEST(PartialCopyTest, PropertyTextIsClampedToAFraction) {
    struct Case {
        const WCHAR* text;
        double fraction;
    };
    const Case cases[] = {{WSTR("0.5"), 0.5}, {WSTR("1.5"), 1.0}, {WSTR("-2"), 0.0},
                          {WSTR("1"), 1.0},   {WSTR("0"), 0.0},   {WSTR(""), 1.0},
                          {nullptr, 1.0},     {WSTR("abc"), 1.0}, {WSTR("nan"), 0.0}};
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(c.fraction, GpuServices::fractionFromText(c.text));
}

TEST(PartialCopyTest, RectCoversTheFractionOfEachRowAndEveryRow) {
    RECT half = GpuServices::partialRect(1280, 720, 0.5);
    EXPECT_EQ(0, half.left);
    EXPECT_EQ(0, half.top);
    EXPECT_EQ(640, half.right);
    EXPECT_EQ(720, half.bottom);
    EXPECT_EQ(320, GpuServices::partialRect(640, 480, 0.5).right);
    EXPECT_EQ(213, GpuServices::partialRect(640, 480, 1.0 / 3).right); // the integer part
    EXPECT_EQ(640, GpuServices::partialRect(640, 480, 1.0).right);
    EXPECT_EQ(0, GpuServices::partialRect(640, 480, 0.0).right);
}
