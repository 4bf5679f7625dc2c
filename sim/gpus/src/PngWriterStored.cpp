// PNG writing without libpng, for the Windows test harness build: 8-bit RGB or RGBA rows
// (filter 0) in uncompressed deflate blocks, with the CRC-32 and Adler-32 checksums the
// format requires. Files are larger than libpng's, and any PNG reader opens them.
// Reading needs libpng and is left to the native build.
#include "sim/gpus/PngWriter.h"

#include "PngWriterChecks.h"

#include <fstream>

namespace sim {

using pngcheck::setError;

namespace {

uint32_t crc32(const std::vector<uint8_t>& bytes, size_t begin) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = begin; i < bytes.size(); ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putBigEndian(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

// One chunk: length, type, data, CRC over type and data.
void putChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    putBigEndian(out, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    putBigEndian(out, crc32(body, 0));
}

// A zlib stream of stored blocks (at most 65535 bytes each) around `raw`.
std::vector<uint8_t> storedZlib(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> out = {0x78, 0x01};
    size_t offset = 0;
    do {
        size_t length = raw.size() - offset < 65535 ? raw.size() - offset : 65535;
        bool last = offset + length == raw.size();
        out.push_back(last ? 1 : 0);
        out.push_back(uint8_t(length));
        out.push_back(uint8_t(length >> 8));
        out.push_back(uint8_t(~length));
        out.push_back(uint8_t(~length >> 8));
        out.insert(out.end(), raw.begin() + ptrdiff_t(offset),
                   raw.begin() + ptrdiff_t(offset + length));
        offset += length;
    } while (offset < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521u;
        b = (b + a) % 65521u;
    }
    putBigEndian(out, (b << 16) | a);
    return out;
}

} // namespace

bool PngWriter::write(const std::string& path, const Image& image, bool withAlpha,
                      std::string* error) {
    if (!pngcheck::hasWritablePixels(image, error))
        return false;
    const size_t channels = withAlpha ? 4 : 3;
    std::vector<uint8_t> raw;
    raw.reserve(image.height * (1 + image.width * channels));
    for (uint32_t y = 0; y < image.height; ++y) {
        raw.push_back(0); // filter: none
        for (uint32_t x = 0; x < image.width; ++x) {
            uint32_t p = image.at(x, y); // 0xAARRGGBB
            raw.push_back(uint8_t(p >> 16));
            raw.push_back(uint8_t(p >> 8));
            raw.push_back(uint8_t(p));
            if (withAlpha)
                raw.push_back(uint8_t(p >> 24));
        }
    }
    std::vector<uint8_t> header;
    putBigEndian(header, image.width);
    putBigEndian(header, image.height);
    header.push_back(8);                    // bits per channel
    header.push_back(withAlpha ? 6 : 2);    // colour type: RGBA or RGB
    header.insert(header.end(), {0, 0, 0}); // deflate, adaptive filters, no interlace
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putChunk(file, "IHDR", header);
    putChunk(file, "IDAT", storedZlib(raw));
    putChunk(file, "IEND", {});
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    if (!stream ||
        !stream.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()))) {
        setError(error, "cannot write " + path);
        return false;
    }
    return true;
}

bool PngWriter::read(const std::string& path, Image& image, std::string* error) {
    setError(error, "cannot read " + path + ": reading PNG files needs the native build");
    return false;
}

} // namespace sim
