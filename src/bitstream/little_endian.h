// Little-endian fields of 1..4 bytes: every multi-byte field of the compressed format.
#pragma once

#include <cstdint>

namespace rq43 {

inline void PutLittleEndian(uint8_t* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint32_t GetLittleEndian(const uint8_t* in, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(in[i]) << (8 * i);
    return value;
}

}  // namespace rq43
