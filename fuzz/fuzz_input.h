// Reads a fuzzer's bytes as the choices of one run; past the end every choice is 0, so any input is
// a complete run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rq43::fuzz {

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool Empty() const { return offset >= size; }
    uint8_t Byte() { return offset < size ? data[offset++] : 0; }
    uint16_t U16() {
        const uint16_t low = Byte();
        return static_cast<uint16_t>(low | Byte() << 8);
    }
    uint32_t U32() {
        const uint32_t low = U16();
        return low | uint32_t{U16()} << 16;
    }
    // Up to `count` bytes, in a buffer of exactly their size so that a read past them is caught.
    std::vector<uint8_t> Bytes(size_t count) {
        const size_t taken = count < size - offset ? count : size - offset;
        std::vector<uint8_t> bytes(data + offset, data + offset + taken);
        offset += taken;
        return bytes;
    }

  private:
    const uint8_t* data;
    size_t size;
    size_t offset = 0;
};

}  // namespace rq43::fuzz
