// The caller test's image extent on Windows, from hand-made PE headers: SizeOfImage is used
// only when the "MZ" and "PE" signatures, a readable NT header and a non-zero optional-header
// size are all there; otherwise a size of 0 is one byte, and nothing unreadable is read.
#include "Imposer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kPage = 0x1000;
constexpr uint32_t kImageSize = 0x3000;

/// One committed page of made-up headers, followed by reserved (unreadable) memory.
class PeHeaders : public ::testing::Test {
protected:
    void SetUp() override {
        m_base =
            static_cast<uint8_t*>(VirtualAlloc(nullptr, 16 * kPage, MEM_RESERVE, PAGE_NOACCESS));
        ASSERT_NE(m_base, nullptr);
        ASSERT_NE(VirtualAlloc(m_base, kPage, MEM_COMMIT, PAGE_READWRITE), nullptr);
        write(0, uint16_t(0x5A4D));    // "MZ"
        write(60, uint32_t(0x80));     // where the NT headers are
        write(0x80, uint32_t(0x4550)); // "PE\0\0"
        write(0x80 + 20, uint16_t(240));
        write(0x80 + 24 + 56, kImageSize);
    }
    void TearDown() override { VirtualFree(m_base, 0, MEM_RELEASE); }

    template <class T> void write(size_t offset, T value) {
        memcpy(m_base + offset, &value, sizeof value);
    }

    bool inside(size_t offset) const {
        return Imposer::isAddressInModule(m_base + offset, 0, 0, reinterpret_cast<HMODULE>(m_base));
    }

    uint8_t* m_base = nullptr;
};

TEST_F(PeHeaders, ASizeOfZeroIsTheImageSize) {
    EXPECT_TRUE(inside(0));
    EXPECT_TRUE(inside(kImageSize)); // both ends count
    EXPECT_FALSE(inside(kImageSize + 1));
}

TEST_F(PeHeaders, WithoutEitherSignatureASizeOfZeroIsOneByte) {
    write(0, uint16_t(0x5A4E));
    EXPECT_TRUE(inside(0));
    EXPECT_FALSE(inside(1));
    write(0, uint16_t(0x5A4D));
    write(0x80, uint32_t(0x4551));
    EXPECT_FALSE(inside(1));
}

TEST_F(PeHeaders, AnEmptyOptionalHeaderGivesNoImageSize) {
    write(0x80 + 20, uint16_t(0));
    EXPECT_FALSE(inside(1));
}

TEST_F(PeHeaders, NtHeadersRunningIntoUnreadableMemoryAreNotRead) {
    write(60, uint32_t(kPage - 100)); // 264 bytes from there cross into the reserved page
    EXPECT_TRUE(inside(0));
    EXPECT_FALSE(inside(1));
    write(60, uint32_t(0x7FFFFFF0)); // far outside anything mapped here
    EXPECT_FALSE(inside(1));
}

} // namespace
