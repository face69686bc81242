// 64-bit FNV-1a over byte strings: the fingerprint kept for compressed and decoded frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rq43::testing {

inline uint64_t Fnv1a(const uint8_t* bytes, size_t count, uint64_t hash = 0xcbf29ce484222325ull) {
    for (size_t i = 0; i < count; ++i) {
        hash ^= bytes[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

inline uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    return Fnv1a(bytes.data(), bytes.size());
}

}  // namespace rq43::testing
