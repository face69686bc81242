#include "motion/motion_section.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "bitstream/bit_reader.h"
#include "bitstream/bit_writer.h"
#include "bitstream/flag_map.h"
#include "bitstream/little_endian.h"
#include "motion/motion_compensation.h"
#include "motion/vector_median.h"
#include "motion/vector_stream.h"

namespace rq43 {

namespace {

constexpr int32_t kBiasX = 64;  // horizontal symbols: value + 64, alphabet of 129
constexpr int32_t kBiasY = 32;  // vertical symbols: value + 32, alphabet of 65

struct Vector {
    int32_t x = 0;
    int32_t y = 0;
};

Vector VectorOf(const MotionEntry& entry) {
    return {entry.dx, entry.dy};
}

// Predictor of macroblock (col, row) from vectors already known in this frame; none for the first one.
bool SpatialPredictor(const std::vector<MotionEntry>& vectors, uint32_t col, uint32_t row, uint32_t mbCols,
                      Vector& predictor) {
    size_t i = size_t{row} * mbCols + col;
    if (col == 0 && row == 0) return false;
    if (row == 0) {
        predictor = VectorOf(vectors[i - 1]);
        return true;
    }
    if (col == 0) {
        predictor = VectorOf(vectors[i - mbCols]);
        return true;
    }
    Vector left = VectorOf(vectors[i - 1]);
    Vector up = VectorOf(vectors[i - mbCols]);
    Vector upLeft = VectorOf(vectors[i - mbCols - 1]);
    // The gradient term wraps in 16 bits, as the components do.
    int32_t gradientX = static_cast<int16_t>(left.x + up.x - upLeft.x);
    int32_t gradientY = static_cast<int16_t>(left.y + up.y - upLeft.y);
    predictor = {Median(left.x, up.x, gradientX), Median(left.y, up.y, gradientY)};
    return true;
}

// A vector equal to its predictor is always a difference, also when both are zero.
bool CodeAsDifference(Vector v, Vector p) {
    int32_t ex = v.x - p.x;
    int32_t ey = v.y - p.y;
    if (ex == 0 && ey == 0) return true;
    return std::abs(ex) + std::abs(ey) < std::abs(v.x) + std::abs(v.y) && std::abs(ex) < 64 &&
           std::abs(ey) < 32;
}

bool IsSubBlockMethod(MotionMethod method) {
    return method == MotionMethod::SubBlockPlain || method == MotionMethod::SubBlockTemporal;
}

// The symbol strings and flags of one method before they are packed.
struct MethodSymbols {
    std::vector<uint8_t> xs;
    std::vector<uint8_t> ys;
    std::vector<uint8_t> predicted;  // per macroblock: coded as difference
    std::vector<uint8_t> subBlock;   // per macroblock: sub-block mode
    bool representable = true;
};

void PushValue(MethodSymbols& out, Vector value) {
    if (value.x < -kBiasX || value.x > kBiasX || value.y < -kBiasY || value.y > kBiasY) {
        out.representable = false;
        return;
    }
    out.xs.push_back(static_cast<uint8_t>(value.x + kBiasX));
    out.ys.push_back(static_cast<uint8_t>(value.y + kBiasY));
}

void PushVector(MethodSymbols& out, Vector v, bool difference, Vector predictor) {
    PushValue(out, difference ? Vector{v.x - predictor.x, v.y - predictor.y} : v);
}

MethodSymbols CollectSymbols(const MotionField& field, MotionMethod method) {
    MethodSymbols out;
    uint32_t n = field.MacroblockCount();
    out.predicted.assign(n, 0);
    out.subBlock.assign(n, 0);
    for (uint32_t i = 0; i < n; ++i) {
        const MotionEntry& entry = field.current[i];
        Vector v = VectorOf(entry);
        Vector previous = VectorOf(field.previous[i]);
        bool subBlock = IsSubBlockMethod(method) && IsSubBlockMode(entry);
        out.subBlock[i] = subBlock ? 1 : 0;
        if (subBlock) {
            const MotionEntry* quadrants = &field.subVectors[4 * size_t{i}];
            bool difference = method == MotionMethod::SubBlockTemporal;
            for (int k = 0; k < 4 && difference; ++k) {
                difference = CodeAsDifference(VectorOf(quadrants[k]), previous);
            }
            out.predicted[i] = difference ? 1 : 0;
            for (int k = 0; k < 4; ++k) PushVector(out, VectorOf(quadrants[k]), difference, previous);
            continue;
        }
        Vector predictor;
        bool hasPredictor = false;
        if (method == MotionMethod::Temporal || method == MotionMethod::SubBlockTemporal) {
            predictor = previous;
            hasPredictor = true;
        } else if (method == MotionMethod::Spatial) {
            hasPredictor =
                SpatialPredictor(field.current, i % field.mbCols, i / field.mbCols, field.mbCols, predictor);
        }
        bool difference = hasPredictor && CodeAsDifference(v, predictor);
        out.predicted[i] = difference ? 1 : 0;
        PushVector(out, v, difference, predictor);
    }
    return out;
}

void PutLittle16(std::vector<uint8_t>& out, size_t value) {
    uint8_t bytes[2];
    PutLittleEndian(bytes, static_cast<uint32_t>(value), 2);
    out.insert(out.end(), bytes, bytes + 2);
}

void AppendBitmap(const std::vector<uint8_t>& flags, std::vector<uint8_t>& out) {
    size_t start = out.size();
    out.resize(start + (flags.size() + 7) / 8, 0);
    for (size_t i = 0; i < flags.size(); ++i) {
        out[start + i / 8] = static_cast<uint8_t>(out[start + i / 8] | (flags[i] << (i % 8)));
    }
}

bool AppendRunFlags(const std::vector<uint8_t>& flags, std::vector<uint8_t>& out) {
    size_t start = out.size();
    out.resize(start + 5 * flags.size() + 16);
    BitWriter writer;
    StartBitWriter(writer, out.data() + start, out.data() + out.size());
    WriteBits(writer, flags[0], 1);
    for (size_t begin = 0; begin < flags.size();) {
        size_t end = begin;
        while (end < flags.size() && flags[end] == flags[begin]) ++end;
        WriteEobRun(writer, static_cast<uint32_t>(end - begin - 1));
        begin = end;
    }
    FlushBitWriter(writer);
    out.resize(static_cast<size_t>(writer.out - out.data()));
    return !writer.overflow;
}

}  // namespace

bool EncodeMotionSectionWith(const MotionField& field, MotionMethod method, std::vector<uint8_t>& section) {
    section.clear();
    uint32_t n = field.MacroblockCount();
    if (n == 0 || field.current.size() != n || field.previous.size() != n ||
        field.subVectors.size() != 4 * size_t{n}) {
        return false;
    }
    MethodSymbols symbols = CollectSymbols(field, method);
    if (!symbols.representable) return false;

    std::vector<uint8_t> xStream;
    std::vector<uint8_t> yStream;
    EncodeVectorStream(symbols.xs, xStream);
    EncodeVectorStream(symbols.ys, yStream);
    if (xStream.size() > kMaxMotionSectionSize || yStream.size() > kMaxMotionSectionSize) return false;

    section.push_back(static_cast<uint8_t>(method));
    PutLittle16(section, xStream.size());
    if (method != MotionMethod::Plain) PutLittle16(section, yStream.size());
    section.insert(section.end(), xStream.begin(), xStream.end());
    section.insert(section.end(), yStream.begin(), yStream.end());

    bool packed = true;
    switch (method) {
        case MotionMethod::Plain:
            break;
        case MotionMethod::Temporal:
        case MotionMethod::Spatial:
            AppendFlagMap(symbols.predicted.data(), symbols.predicted.size(), field.mbCols, section);
            break;
        case MotionMethod::SubBlockTemporal:
            AppendBitmap(symbols.predicted, section);
            packed = AppendRunFlags(symbols.subBlock, section);
            break;
        case MotionMethod::SubBlockPlain:
            packed = AppendRunFlags(symbols.subBlock, section);
            break;
    }
    if (!packed || section.size() > kMaxMotionSectionSize) {
        section.clear();
        return false;
    }
    return true;
}

bool EncodeMotionSection(const MotionField& field, std::vector<uint8_t>& section) {
    // Candidates in order of preference: on equal lengths the earlier one wins.
    std::array<MotionMethod, 3> wholeMethods = {MotionMethod::Plain, MotionMethod::Spatial,
                                                MotionMethod::Temporal};
    std::array<MotionMethod, 2> subBlockMethods = {MotionMethod::SubBlockPlain,
                                                   MotionMethod::SubBlockTemporal};
    bool subBlocks = field.subBlockSearch != 0 && field.subBlockCount > 0;
    const MotionMethod* begin = subBlocks ? subBlockMethods.data() : wholeMethods.data();
    const MotionMethod* end = subBlocks ? begin + subBlockMethods.size() : begin + wholeMethods.size();

    section.clear();
    bool found = false;
    std::vector<uint8_t> candidate;
    for (const MotionMethod* method = begin; method != end; ++method) {
        if (EncodeMotionSectionWith(field, *method, candidate) &&
            (!found || candidate.size() < section.size())) {
            section.swap(candidate);
            found = true;
        }
    }
    return found;
}

namespace {

// Reads the parts of a section in order, refusing anything that reaches past its end.
struct SectionCursor {
    const uint8_t* data;
    size_t length;
    size_t position = 0;

    bool Take(size_t bytes, const uint8_t*& start) {
        if (bytes > length - position) return false;
        start = data + position;
        position += bytes;
        return true;
    }
    bool Little16(size_t& value) {
        const uint8_t* bytes = nullptr;
        if (!Take(2, bytes)) return false;
        value = GetLittleEndian(bytes, 2);
        return true;
    }
};

// The flag map runs to the section's end (its range decoder may look at readable bytes behind it).
bool ReadPredictedFlags(SectionCursor& cursor, const uint8_t* readableEnd, uint32_t mbCols,
                        std::vector<uint8_t>& flags) {
    const uint8_t* map = nullptr;
    if (!cursor.Take(kFlagMapProbabilityBytes, map)) return false;
    cursor.position = cursor.length;
    return ReadFlagMap(map, readableEnd, mbCols, flags.data(), flags.size());
}

bool ReadRunFlags(SectionCursor& cursor, std::vector<uint8_t>& flags) {
    BitReader reader;
    StartBitReader(reader, cursor.data + cursor.position, cursor.data + cursor.length);
    uint8_t value = static_cast<uint8_t>(ReadBits(reader, 1));
    size_t filled = 0;
    while (filled < flags.size()) {
        uint64_t run = uint64_t{ReadEobRun(reader)} + 1;
        if (reader.overrun || run > flags.size() - filled) return false;
        std::fill_n(flags.begin() + static_cast<std::ptrdiff_t>(filled), run, value);
        filled += static_cast<size_t>(run);
        value ^= 1;
    }
    cursor.position = cursor.length;
    return true;
}

bool ReadBitmap(SectionCursor& cursor, std::vector<uint8_t>& flags) {
    const uint8_t* bytes = nullptr;
    if (!cursor.Take((flags.size() + 7) / 8, bytes)) return false;
    for (size_t i = 0; i < flags.size(); ++i) flags[i] = static_cast<uint8_t>((bytes[i / 8] >> (i % 8)) & 1);
    return true;
}

bool FramesAgree(const YuvFrame& target, const YuvFrame& reference) {
    return &target != &reference && target.allocated != 0 && reference.allocated != 0 && target.width != 0 &&
           target.height != 0 && target.width % 16 == 0 && target.height % 16 == 0 &&
           target.width == reference.width && target.height == reference.height &&
           target.border == reference.border && target.stride == reference.stride &&
           target.buffer != nullptr && reference.buffer != nullptr;
}

// Symbols of both streams, consumed in step.
struct VectorSource {
    const std::vector<uint8_t>& xs;
    const std::vector<uint8_t>& ys;
    size_t next = 0;

    bool Next(Vector& raw) {
        if (next >= xs.size() || next >= ys.size()) return false;
        raw = {int32_t{xs[next]} - kBiasX, int32_t{ys[next]} - kBiasY};
        ++next;
        return true;
    }
};

// Components are 16-bit: a damaged stream wraps exactly as stored vectors always have.
MotionEntry EntryOf(Vector raw, Vector addend, float cost) {
    return {static_cast<int16_t>(raw.x + addend.x), static_cast<int16_t>(raw.y + addend.y), cost};
}

}  // namespace

bool DecodeMotionSection(YuvFrame& target, const YuvFrame& reference, const uint8_t* section, size_t length,
                         MotionField& field, const uint8_t* readableEnd) {
    if (section == nullptr || length == 0 || !FramesAgree(target, reference)) return false;
    if (section[0] > static_cast<uint8_t>(MotionMethod::Spatial)) return false;
    auto method = static_cast<MotionMethod>(section[0]);
    const uint8_t* sectionEnd = section + length;
    if (readableEnd == nullptr || readableEnd < sectionEnd) readableEnd = sectionEnd;

    uint32_t mbCols = target.width / 16;
    uint32_t n = mbCols * (target.height / 16);
    int32_t border = static_cast<int32_t>(target.border);
    bool sameShape = field.width == target.width && field.height == target.height && field.border == border &&
                     field.current.size() == n && field.previous.size() == n &&
                     field.subVectors.size() == 4 * size_t{n};
    // Everything is decoded aside and written into the field only once the whole section checks out.
    std::vector<MotionEntry>& current = field.decodedCurrent;
    std::vector<MotionEntry>& subVectors = field.decodedSubVectors;
    if (sameShape) {
        current.assign(field.current.begin(), field.current.end());
        subVectors.assign(field.subVectors.begin(), field.subVectors.end());
    } else {
        current.assign(n, MotionEntry{});
        subVectors.assign(4 * size_t{n}, MotionEntry{});
    }
    std::vector<MotionEntry> zeros;
    if (!sameShape) zeros.assign(n, MotionEntry{});
    const std::vector<MotionEntry>& previous = sameShape ? field.previous : zeros;

    SectionCursor cursor{section, length, 1};
    size_t xLength = 0;
    size_t yLength = 0;
    if (!cursor.Little16(xLength)) return false;
    if (method != MotionMethod::Plain && !cursor.Little16(yLength)) return false;
    const uint8_t* xBytes = nullptr;
    const uint8_t* yBytes = nullptr;
    if (!cursor.Take(xLength, xBytes)) return false;
    if (method == MotionMethod::Plain) yLength = length - cursor.position;
    if (!cursor.Take(yLength, yBytes)) return false;
    std::vector<uint8_t> xs;
    std::vector<uint8_t> ys;
    if (!DecodeVectorStream(xBytes, xLength, 4 * n, xs) || !DecodeVectorStream(yBytes, yLength, 4 * n, ys)) {
        return false;
    }

    std::vector<uint8_t> predicted(n, 0);
    std::vector<uint8_t> subBlock(n, 0);
    switch (method) {
        case MotionMethod::Plain:
            break;
        case MotionMethod::Temporal:
        case MotionMethod::Spatial:
            if (!ReadPredictedFlags(cursor, readableEnd, mbCols, predicted)) return false;
            if (method == MotionMethod::Spatial && predicted[0] != 0) return false;
            break;
        case MotionMethod::SubBlockTemporal:
            if (!ReadBitmap(cursor, predicted)) return false;
            [[fallthrough]];
        case MotionMethod::SubBlockPlain:
            if (!ReadRunFlags(cursor, subBlock)) return false;
            break;
    }

    VectorSource source{xs, ys};
    for (uint32_t i = 0; i < n; ++i) {
        Vector addend;
        if (predicted[i] != 0) {
            if (method == MotionMethod::Spatial) {
                SpatialPredictor(current, i % mbCols, i / mbCols, mbCols, addend);
            } else {
                addend = VectorOf(previous[i]);
            }
        }
        Vector raw;
        if (subBlock[i] == 0) {
            if (!source.Next(raw)) return false;
            current[i] = EntryOf(raw, addend, 0.0f);
            continue;
        }
        for (size_t k = 0; k < 4; ++k) {
            if (!source.Next(raw)) return false;
            subVectors[4 * size_t{i} + k] = EntryOf(raw, addend, 0.0f);
        }
        current[i].cost = kSubBlockMarker;
    }
    if (!AllReadsInside(reference, mbCols, current.data(), subVectors.data(), n)) return false;

    AllocateMotionField(field, target.width, target.height, border);
    field.current.swap(current);
    field.subVectors.swap(subVectors);
    field.target = &target;
    field.reference = &reference;
    field.subBlockMotion = IsSubBlockMethod(method) ? 1 : 0;
    if (IsSubBlockMethod(method)) field.subBlockCount = 1;
    return true;
}

}  // namespace rq43
