// The pictures and the checksum format that the Windows host and the Linux reference share, so that
// their outputs can be compared line by line. Standard C++ only: it builds with both compilers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace rq43::crosscheck {

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr int kFrames = 10;
constexpr uint32_t kQuality = 7500;  // the interface's scale, 0..10000

// Bottom-up RGB24 (blue, green, red), rows padded to 4 bytes: a drifting gradient with texture and a
// bright square that moves, so that delta frames have motion to find.
inline std::vector<uint8_t> SyntheticFrame(int index) {
    const int stride = (kWidth * 3 + 3) & ~3;
    std::vector<uint8_t> picture(static_cast<size_t>(stride) * kHeight);
    uint32_t noise = 0x1234567u;
    const int squareX = 8 + 6 * index, squareY = 16 + 3 * index;
    for (int row = 0; row < kHeight; ++row) {
        const int y = kHeight - 1 - row;  // row 0 of the buffer is the bottom line
        uint8_t* line = picture.data() + static_cast<size_t>(row) * stride;
        for (int x = 0; x < kWidth; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = static_cast<int>(noise >> 29);
            int r = (x * 2 + index * 3 + grain) & 255;
            int g = (y * 3 + index + grain) & 255;
            int b = ((x + y) / 2 + index * 5) & 255;
            if (x >= squareX && x < squareX + 32 && y >= squareY && y < squareY + 32) r = g = b = 235 - grain;
            line[3 * x + 0] = static_cast<uint8_t>(b);
            line[3 * x + 1] = static_cast<uint8_t>(g);
            line[3 * x + 2] = static_cast<uint8_t>(r);
        }
    }
    return picture;
}

// The header of an uncompressed RGB picture of the sequence's size, in either side's record type.
template <typename Header>
Header RgbHeader(int bits) {
    Header header{};
    header.biSize = sizeof header;
    header.biWidth = kWidth;
    header.biHeight = kHeight;
    header.biPlanes = 1;
    header.biBitCount = static_cast<decltype(header.biBitCount)>(bits);
    header.biCompression = 0;  // uncompressed RGB
    header.biSizeImage = static_cast<decltype(header.biSizeImage)>(((kWidth * bits / 8 + 3) & ~3) * kHeight);
    return header;
}

inline uint64_t Fnv1a(const void* data, size_t size) {
    uint64_t hash = 0xcbf29ce484222325ull;
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
    return hash;
}

// One line of the checksum file: "<what> <frame> <bytes> <fnv-1a>".
inline std::string ChecksumLine(const char* what, int frame, const void* data, size_t size) {
    char line[128];
    std::snprintf(line, sizeof line, "%s %d %lu %016llx\n", what, frame, static_cast<unsigned long>(size),
                  static_cast<unsigned long long>(Fnv1a(data, size)));
    return line;
}

}  // namespace rq43::crosscheck
