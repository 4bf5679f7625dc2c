// Format layouts and colour packing of the simulated drivers.
#include "Formats.h"

#include <string.h>

namespace sim {
namespace umd {

bool formatLayout(D3DDDIFORMAT format, FormatLayout& out) {
    out = FormatLayout();
    // Read as a plain number: a caller's value need not be a member of the enumeration.
    UINT value;
    memcpy(&value, &format, sizeof value);
    switch (value) {
    case D3DDDIFMT_A8R8G8B8:
    case D3DDDIFMT_X8R8G8B8:
    case D3DDDIFMT_A8B8G8R8:
    case D3DDDIFMT_X8B8G8R8:
    case D3DDDIFMT_A2R10G10B10:
    case D3DDDIFMT_A2B10G10R10:
    case D3DDDIFMT_G16R16:
    case D3DDDIFMT_R32F:
    case D3DDDIFMT_G16R16F:
    case D3DDDIFMT_V16U16:
    case D3DDDIFMT_X8L8V8U8:
    case D3DDDIFMT_Q8W8V8U8:
        out.bytesPerPixel = 4;
        return true;
    case D3DDDIFMT_R8G8B8:
        out.bytesPerPixel = 3;
        return true;
    case D3DDDIFMT_R5G6B5:
    case D3DDDIFMT_X1R5G5B5:
    case D3DDDIFMT_A1R5G5B5:
    case D3DDDIFMT_A4R4G4B4:
    case D3DDDIFMT_X4R4G4B4:
    case D3DDDIFMT_A8R3G3B2:
    case D3DDDIFMT_A8L8:
    case D3DDDIFMT_V8U8:
    case D3DDDIFMT_L6V5U5:
    case D3DDDIFMT_L16:
    case D3DDDIFMT_R16F:
    case D3DDDIFMT_A8P8:
        out.bytesPerPixel = 2;
        return true;
    case D3DDDIFMT_A8:
    case D3DDDIFMT_L8:
    case D3DDDIFMT_P8:
    case D3DDDIFMT_R3G3B2:
    case D3DDDIFMT_A4L4:
        out.bytesPerPixel = 1;
        return true;
    case D3DDDIFMT_A16B16G16R16:
    case D3DDDIFMT_A16B16G16R16F:
    case D3DDDIFMT_G32R32F:
    case D3DDDIFMT_Q16W16V16U16:
        out.bytesPerPixel = 8;
        return true;
    case D3DDDIFMT_A32B32G32R32F:
        out.bytesPerPixel = 16;
        return true;
    case D3DDDIFMT_D16:
    case D3DDDIFMT_D16_LOCKABLE:
    case D3DDDIFMT_D15S1:
        out.bytesPerPixel = 2;
        out.depth = true;
        return true;
    case D3DDDIFMT_D24S8:
    case D3DDDIFMT_D24X8:
    case D3DDDIFMT_D24X4S4:
    case D3DDDIFMT_D32:
    case D3DDDIFMT_D32_LOCKABLE:
    case D3DDDIFMT_D32F_LOCKABLE:
    case D3DDDIFMT_D24FS8:
    case D3DDDIFMT_S8D24:
    case D3DDDIFMT_X8D24:
        out.bytesPerPixel = 4;
        out.depth = true;
        return true;
    case D3DDDIFMT_S8_LOCKABLE:
        out.bytesPerPixel = 1;
        out.depth = true;
        return true;
    case D3DDDIFMT_DXT1:
        out.blockBytes = 8;
        return true;
    case D3DDDIFMT_DXT2:
    case D3DDDIFMT_DXT3:
    case D3DDDIFMT_DXT4:
    case D3DDDIFMT_DXT5:
        out.blockBytes = 16;
        return true;
    case D3DDDIFMT_VERTEXDATA:
    case D3DDDIFMT_INDEX16:
    case D3DDDIFMT_INDEX32:
    case D3DDDIFMT_BINARYBUFFER:
        out.bytesPerPixel = 1;
        out.buffer = true;
        return true;
    default:
        return false;
    }
}

uint32_t rowBytes(const FormatLayout& layout, uint32_t width) {
    if (layout.blockBytes)
        return ((width + 3) / 4) * layout.blockBytes;
    return width * layout.bytesPerPixel;
}

uint32_t rowCount(const FormatLayout& layout, uint32_t height) {
    if (layout.blockBytes)
        return (height + 3) / 4;
    return height;
}

namespace {

void store(uint8_t* pOut, uint64_t value, uint32_t bytes) {
    for (uint32_t i = 0; i < bytes; ++i)
        pOut[i] = uint8_t(value >> (8 * i));
}

uint32_t channel(D3DCOLOR color, int shift) {
    return (color >> shift) & 0xFF;
}

} // namespace

bool packColor(D3DDDIFORMAT format, D3DCOLOR color, uint8_t* pOut, uint32_t& bytes) {
    uint32_t a = channel(color, 24), r = channel(color, 16), g = channel(color, 8),
             b = channel(color, 0);
    UINT value;
    memcpy(&value, &format, sizeof value);
    switch (value) {
    case D3DDDIFMT_A8R8G8B8:
    case D3DDDIFMT_X8R8G8B8:
        bytes = 4;
        store(pOut, color, 4);
        return true;
    case D3DDDIFMT_A8B8G8R8:
    case D3DDDIFMT_X8B8G8R8:
        bytes = 4;
        store(pOut, (a << 24) | (b << 16) | (g << 8) | r, 4);
        return true;
    case D3DDDIFMT_A2R10G10B10:
        bytes = 4;
        store(pOut,
              ((a >> 6) << 30) | ((r * 1023 / 255) << 20) | ((g * 1023 / 255) << 10) |
                  (b * 1023 / 255),
              4);
        return true;
    case D3DDDIFMT_R5G6B5:
        bytes = 2;
        store(pOut, ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3), 2);
        return true;
    case D3DDDIFMT_X1R5G5B5:
    case D3DDDIFMT_A1R5G5B5:
        bytes = 2;
        store(pOut, ((a >> 7) << 15) | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3), 2);
        return true;
    case D3DDDIFMT_A4R4G4B4:
    case D3DDDIFMT_X4R4G4B4:
        bytes = 2;
        store(pOut, ((a >> 4) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4), 2);
        return true;
    case D3DDDIFMT_A8:
        bytes = 1;
        pOut[0] = uint8_t(a);
        return true;
    case D3DDDIFMT_L8:
        bytes = 1;
        pOut[0] = uint8_t((r * 77 + g * 151 + b * 28) >> 8);
        return true;
    case D3DDDIFMT_R8G8B8:
        bytes = 3;
        store(pOut, color & 0xFFFFFF, 3);
        return true;
    default:
        return false;
    }
}

bool packDepth(D3DDDIFORMAT format, float depth, uint32_t stencil, uint8_t* pOut, uint32_t& bytes) {
    if (!(depth >= 0.0f))
        depth = 0.0f;
    if (depth > 1.0f)
        depth = 1.0f;
    UINT value;
    memcpy(&value, &format, sizeof value);
    switch (value) {
    case D3DDDIFMT_D16:
    case D3DDDIFMT_D16_LOCKABLE:
        bytes = 2;
        store(pOut, uint32_t(double(depth) * 65535.0 + 0.5), 2);
        return true;
    case D3DDDIFMT_D24S8:
    case D3DDDIFMT_D24X8:
        bytes = 4;
        store(pOut, (uint32_t(double(depth) * 16777215.0 + 0.5) << 8) | (stencil & 0xFF), 4);
        return true;
    case D3DDDIFMT_D32:
    case D3DDDIFMT_D32_LOCKABLE:
        bytes = 4;
        store(pOut, uint32_t(double(depth) * 4294967295.0 + 0.5), 4);
        return true;
    case D3DDDIFMT_D32F_LOCKABLE:
        bytes = 4;
        memcpy(pOut, &depth, 4);
        return true;
    default:
        return false;
    }
}

bool sameLayout(D3DDDIFORMAT from, D3DDDIFORMAT to) {
    if (from == to)
        return true;
    auto argb = [](D3DDDIFORMAT f) { return f == D3DDDIFMT_A8R8G8B8 || f == D3DDDIFMT_X8R8G8B8; };
    auto rgb555 = [](D3DDDIFORMAT f) { return f == D3DDDIFMT_X1R5G5B5 || f == D3DDDIFMT_A1R5G5B5; };
    return (argb(from) && argb(to)) || (rgb555(from) && rgb555(to));
}

bool convertPixel(D3DDDIFORMAT from, const uint8_t* pIn, D3DDDIFORMAT to, uint8_t* pOut) {
    D3DCOLOR color;
    switch (from) {
    case D3DDDIFMT_A8R8G8B8:
        color = D3DCOLOR(pIn[0]) | (D3DCOLOR(pIn[1]) << 8) | (D3DCOLOR(pIn[2]) << 16) |
                (D3DCOLOR(pIn[3]) << 24);
        break;
    case D3DDDIFMT_X8R8G8B8:
        color = D3DCOLOR(pIn[0]) | (D3DCOLOR(pIn[1]) << 8) | (D3DCOLOR(pIn[2]) << 16) | 0xFF000000u;
        break;
    case D3DDDIFMT_R5G6B5: {
        uint32_t v = uint32_t(pIn[0]) | (uint32_t(pIn[1]) << 8);
        uint32_t r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
        color = 0xFF000000u | (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) |
                ((b << 3) | (b >> 2));
        break;
    }
    case D3DDDIFMT_X1R5G5B5:
    case D3DDDIFMT_A1R5G5B5: {
        uint32_t v = uint32_t(pIn[0]) | (uint32_t(pIn[1]) << 8);
        uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        uint32_t a = (from == D3DDDIFMT_X1R5G5B5 || (v & 0x8000)) ? 0xFF : 0;
        color = (a << 24) | (((r << 3) | (r >> 2)) << 16) | (((g << 3) | (g >> 2)) << 8) |
                ((b << 3) | (b >> 2));
        break;
    }
    default:
        return false;
    }
    uint32_t bytes = 0;
    return packColor(to, color, pOut, bytes);
}

} // namespace umd
} // namespace sim
