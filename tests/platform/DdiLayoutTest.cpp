// The DDI, kernel-thunk and display-device layouts as the compiled code sees them. The
// headers check every fixed size and offset with static_asserts, which this file compiles
// into a test executable of each build; the cases below also check, at run time, that
// fields land on the bytes another component reads.
#include "platform/win.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

namespace {

template <typename T> uint32_t wordAt(const T& value, size_t offset) {
    uint32_t word = 0;
    memcpy(&word, reinterpret_cast<const unsigned char*>(&value) + offset, sizeof(word));
    return word;
}

TEST(DdiLayout, StructureSizesMatchTheDriverInterface) {
    EXPECT_EQ(64u, sizeof(D3DKMT_CREATEDEVICE));
    EXPECT_EQ(524u, sizeof(D3DKMT_UMDFILENAMEINFO));
    EXPECT_EQ(672u, sizeof(D3DKMT_PRESENT));
    EXPECT_EQ(368u, sizeof(D3DKMT_RENDER));
    EXPECT_EQ(44u, sizeof(D3DKMT_DISPLAYMODE));
    EXPECT_EQ(12u, sizeof(D3DKMT_MULTISAMPLEMETHOD));
    EXPECT_EQ(840u, sizeof(DISPLAY_DEVICEW));
    EXPECT_EQ(424u, sizeof(DISPLAY_DEVICEA));
}

TEST(DdiLayout, PresentFlipIntervalIsTheWordAtOffset84) {
    D3DKMT_PRESENT present{};
    present.FlipInterval = D3DDDI_FLIPINTERVAL_FOUR;
    present.Flags.Value = D3DKMT_PRESENTFLAGS::Flip;
    EXPECT_EQ(4u, wordAt(present, 84));
    EXPECT_EQ(0x4u, wordAt(present, 88));
}

TEST(DdiLayout, KernelHandlesAreFourBytesBesidePointers) {
    // The open-adapter result lands behind an 8-byte name pointer, with the LUID packed at 12.
    D3DKMT_OPENADAPTERFROMDEVICENAME open{};
    open.hAdapter = 0x11223344;
    open.AdapterLuid.LowPart = 0x55667788;
    open.AdapterLuid.HighPart = 0x01020304;
    EXPECT_EQ(0x11223344u, wordAt(open, 8));
    EXPECT_EQ(0x55667788u, wordAt(open, 12));
    EXPECT_EQ(0x01020304u, wordAt(open, 16));

    // The create-device flags follow the 8-byte adapter union.
    D3DKMT_CREATEDEVICE create{};
    create.hAdapter = 7;
    create.Flags.Value = D3DKMT_CREATEDEVICEFLAGS::LegacyMode;
    EXPECT_EQ(7u, wordAt(create, 0));
    EXPECT_EQ(1u, wordAt(create, 8));
}

TEST(DdiLayout, UmdFileNameFollowsTheVersionWord) {
    D3DKMT_UMDFILENAMEINFO info{};
    info.Version = KMTUMDVERSION_DX9;
    info.UmdFileName[0] = 'n';
    info.UmdFileName[MAX_PATH - 1] = 'z';
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&info);
    EXPECT_EQ('n', bytes[4]);
    EXPECT_EQ('z', bytes[4 + 2 * (MAX_PATH - 1)]);
}

TEST(DdiLayout, DisplayDeviceStateFlagsFollowTheDeviceString) {
    DISPLAY_DEVICEW wide{};
    wide.StateFlags = DISPLAY_DEVICE_PRIMARY_DEVICE | DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
    EXPECT_EQ(0x5u, wordAt(wide, 324));
    DISPLAY_DEVICEA narrow{};
    narrow.StateFlags = DISPLAY_DEVICE_MIRRORING_DRIVER;
    EXPECT_EQ(0x8u, wordAt(narrow, 164));
}

struct FourCcCase {
    D3DDDIFORMAT format;
    char code[5];
};

TEST(DdiLayout, FourCharacterFormatsMatchTheirCodes) {
    const FourCcCase cases[] = {
        {D3DDDIFMT_DXT1, "DXT1"}, {D3DDDIFMT_DXT5, "DXT5"},         {D3DDDIFMT_YUY2, "YUY2"},
        {D3DDDIFMT_UYVY, "UYVY"}, {D3DDDIFMT_MULTI2_ARGB8, "MET1"}, {D3DDDIFMT_ATI1, "ATI1"},
        {D3DDDIFMT_ATI2, "ATI2"}, {D3DDDIFMT_DF16, "DF16"},         {D3DDDIFMT_DF24, "DF24"},
        {D3DDDIFMT_NULL, "NULL"}, {D3DDDIFMT_NVCS, "NVCS"},         {D3DDDIFMT_INTZ, "INTZ"},
    };
    for (const FourCcCase& c : cases) {
        EXPECT_EQ(VESSA_DDI_FOURCC(c.code[0], c.code[1], c.code[2], c.code[3]),
                  static_cast<UINT>(c.format))
            << c.code;
    }
}

TEST(DdiLayout, StatusCodesKeepTheirValuesAndSigns) {
    EXPECT_EQ(0xC000000Du, static_cast<uint32_t>(STATUS_INVALID_PARAMETER));
    EXPECT_EQ(0xC000007Au, static_cast<uint32_t>(STATUS_PROCEDURE_NOT_FOUND));
    EXPECT_EQ(0xC01E0006u, static_cast<uint32_t>(STATUS_GRAPHICS_PRESENT_OCCLUDED));
    EXPECT_EQ(0x8876021Cu, static_cast<uint32_t>(D3DERR_WASSTILLDRAWING));
    EXPECT_EQ(0x8876086Cu, static_cast<uint32_t>(D3DERR_INVALIDCALL));
    EXPECT_FALSE(NT_SUCCESS(STATUS_NO_MEMORY));
    EXPECT_TRUE(NT_SUCCESS(STATUS_SUCCESS));
    EXPECT_TRUE(FAILED(D3DERR_DEVICELOST));
    EXPECT_TRUE(SUCCEEDED(S_PRESENT_OCCLUDED));
}

} // namespace
