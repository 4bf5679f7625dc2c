// The "vessa.xenc" format: the application database as shipped, so that a casual look at the
// installation does not show it as plain text. It is obfuscation, not protection: the
// transform is documented (docs/configuration.md) and reversible by anyone.
//
//   bytes 0..7   the magic "VXENC01\n"
//   bytes 8..    the XML document, byte i of it (counted from 0) XOR-ed with
//                (0x5A + 7 * i) mod 256
//
// The configuration library recognises the format by its magic, whatever the file is called;
// a file without the magic is read as plain XML.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <vector>

namespace xenc {

constexpr char kMagic[] = "VXENC01\n";
constexpr size_t kMagicSize = sizeof kMagic - 1;

/// The mask XOR-ed onto payload byte `index`.
inline uint8_t maskAt(size_t index) {
    return static_cast<uint8_t>(0x5Au + 7u * index);
}

/// Whether `data` starts with the format's magic.
inline bool hasMagic(const uint8_t* data, size_t size) {
    return data && size >= kMagicSize && memcmp(data, kMagic, kMagicSize) == 0;
}

/// Applies the payload transform in place; applying it twice gives the input back.
inline void transform(uint8_t* payload, size_t size) {
    for (size_t i = 0; i < size; ++i)
        payload[i] = static_cast<uint8_t>(payload[i] ^ maskAt(i));
}

/// A plain document as an xenc file (magic plus transformed payload).
inline std::vector<uint8_t> encode(const uint8_t* plain, size_t size) {
    std::vector<uint8_t> out(kMagic, kMagic + kMagicSize);
    out.insert(out.end(), plain, plain + size);
    transform(out.data() + kMagicSize, size);
    return out;
}

/// The document inside an xenc file; false (and `plain` untouched) without the magic.
inline bool decode(const uint8_t* data, size_t size, std::vector<uint8_t>& plain) {
    if (!hasMagic(data, size))
        return false;
    plain.assign(data + kMagicSize, data + size);
    transform(plain.data(), plain.size());
    return true;
}

} // namespace xenc
