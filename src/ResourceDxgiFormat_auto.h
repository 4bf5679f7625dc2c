// Bits per pixel of the Direct3D 9 formats, as the API-copy copier sizes its system-memory
// staging surfaces by them.
//
// The table is one list (VESSA_FORMAT_BITS) expanded into the lookup; a format missing from
// it is reported and counts as 0 bits.
#pragma once

#include "platform/win.h"

#include <stdint.h>

// X(format, bits). Buffer formats (vertex and index data) count 8 bits: their surfaces
// measure Width in bytes, so a byte is their "pixel". Block-compressed formats give the
// average over a 4x4 block (DXT1: 8 bytes for 16 pixels).
#define VESSA_FORMAT_BITS(X)                                                                       \
    X(D3DDDIFMT_A1, 1)                                                                             \
    X(D3DDDIFMT_DXT1, 4)                                                                           \
    X(D3DDDIFMT_R3G3B2, 8)                                                                         \
    X(D3DDDIFMT_A8, 8)                                                                             \
    X(D3DDDIFMT_P8, 8)                                                                             \
    X(D3DDDIFMT_L8, 8)                                                                             \
    X(D3DDDIFMT_A4L4, 8)                                                                           \
    X(D3DDDIFMT_S8_LOCKABLE, 8)                                                                    \
    X(D3DDDIFMT_VERTEXDATA, 8)                                                                     \
    X(D3DDDIFMT_INDEX16, 8)                                                                        \
    X(D3DDDIFMT_INDEX32, 8)                                                                        \
    X(D3DDDIFMT_DXT2, 8)                                                                           \
    X(D3DDDIFMT_DXT3, 8)                                                                           \
    X(D3DDDIFMT_DXT4, 8)                                                                           \
    X(D3DDDIFMT_DXT5, 8)                                                                           \
    X(D3DDDIFMT_ATI1, 8)                                                                           \
    X(D3DDDIFMT_ATI2, 8)                                                                           \
    X(D3DDDIFMT_R5G6B5, 16)                                                                        \
    X(D3DDDIFMT_X1R5G5B5, 16)                                                                      \
    X(D3DDDIFMT_A1R5G5B5, 16)                                                                      \
    X(D3DDDIFMT_A4R4G4B4, 16)                                                                      \
    X(D3DDDIFMT_A8R3G3B2, 16)                                                                      \
    X(D3DDDIFMT_X4R4G4B4, 16)                                                                      \
    X(D3DDDIFMT_A8P8, 16)                                                                          \
    X(D3DDDIFMT_A8L8, 16)                                                                          \
    X(D3DDDIFMT_V8U8, 16)                                                                          \
    X(D3DDDIFMT_L6V5U5, 16)                                                                        \
    X(D3DDDIFMT_D16_LOCKABLE, 16)                                                                  \
    X(D3DDDIFMT_S1D15, 16)                                                                         \
    X(D3DDDIFMT_D15S1, 16)                                                                         \
    X(D3DDDIFMT_D16, 16)                                                                           \
    X(D3DDDIFMT_L16, 16)                                                                           \
    X(D3DDDIFMT_R16F, 16)                                                                          \
    X(D3DDDIFMT_CxV8U8, 16)                                                                        \
    X(D3DDDIFMT_DF16, 16)                                                                          \
    X(D3DDDIFMT_G8R8_G8B8, 16)                                                                     \
    X(D3DDDIFMT_R8G8_B8G8, 16)                                                                     \
    X(D3DDDIFMT_UYVY, 16)                                                                          \
    X(D3DDDIFMT_R8G8B8, 24)                                                                        \
    X(D3DDDIFMT_DF24, 24)                                                                          \
    X(D3DDDIFMT_A8R8G8B8, 32)                                                                      \
    X(D3DDDIFMT_X8R8G8B8, 32)                                                                      \
    X(D3DDDIFMT_A2B10G10R10, 32)                                                                   \
    X(D3DDDIFMT_A8B8G8R8, 32)                                                                      \
    X(D3DDDIFMT_X8B8G8R8, 32)                                                                      \
    X(D3DDDIFMT_G16R16, 32)                                                                        \
    X(D3DDDIFMT_A2R10G10B10, 32)                                                                   \
    X(D3DDDIFMT_X8L8V8U8, 32)                                                                      \
    X(D3DDDIFMT_Q8W8V8U8, 32)                                                                      \
    X(D3DDDIFMT_V16U16, 32)                                                                        \
    X(D3DDDIFMT_W11V11U10, 32)                                                                     \
    X(D3DDDIFMT_A2W10V10U10, 32)                                                                   \
    X(D3DDDIFMT_D32, 32)                                                                           \
    X(D3DDDIFMT_S8D24, 32)                                                                         \
    X(D3DDDIFMT_D24S8, 32)                                                                         \
    X(D3DDDIFMT_X8D24, 32)                                                                         \
    X(D3DDDIFMT_D24X8, 32)                                                                         \
    X(D3DDDIFMT_X4S4D24, 32)                                                                       \
    X(D3DDDIFMT_D24X4S4, 32)                                                                       \
    X(D3DDDIFMT_D32F_LOCKABLE, 32)                                                                 \
    X(D3DDDIFMT_D24FS8, 32)                                                                        \
    X(D3DDDIFMT_D32_LOCKABLE, 32)                                                                  \
    X(D3DDDIFMT_G16R16F, 32)                                                                       \
    X(D3DDDIFMT_R32F, 32)                                                                          \
    X(D3DDDIFMT_YUY2, 32)                                                                          \
    X(D3DDDIFMT_MULTI2_ARGB8, 32)                                                                  \
    X(D3DDDIFMT_NULL, 32)                                                                          \
    X(D3DDDIFMT_NVCS, 32)                                                                          \
    X(D3DDDIFMT_INTZ, 32)                                                                          \
    X(D3DDDIFMT_A16B16G16R16, 64)                                                                  \
    X(D3DDDIFMT_Q16W16V16U16, 64)                                                                  \
    X(D3DDDIFMT_A16B16G16R16F, 64)                                                                 \
    X(D3DDDIFMT_G32R32F, 64)                                                                       \
    X(D3DDDIFMT_A32B32G32R32F, 128)

/// Bits per pixel of `format`; 0 (after Error 1171) for a format the table does not list.
uint32_t formatBitsPerPixel(D3DDDIFORMAT format);
