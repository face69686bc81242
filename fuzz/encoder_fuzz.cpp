// The encoder with random pictures, sizes, settings, qualities and byte targets. Every frame it writes
// is decoded by a second instance, whose picture must equal the encoder's own reconstruction: the two
// would otherwise drift apart from that frame on.
//
// Layout: width and height in macroblocks (1 to 4 each), a mode byte (bits 0-1 input format, bit 2
// top-down, bits 3-6 fast search, sub-blocks, automatic key frames, strong compression, bit 7 a data
// rate), the prefilter strength and iterations, the instance quality (hundredths, 16 bits), the data
// rate (16 bits, bytes per second); then per frame a flags byte (bit 0 key frame request), the frame's
// quality and byte target (16 bits each) and up to a picture's bytes, tiled over the picture.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "config/settings_store.h"
#include "fuzz_input.h"
#include "host/moving_clip.h"
#include "support/codec_session.h"
#include "support/scratch_registry.h"

namespace {

using namespace rq43;
using rq43::HostFormat;
using rq43::fuzz::FuzzInput;
using rq43::testing::Param;

constexpr int kMaxFrames = 6;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static testing::ScratchRegistry registry;
    FuzzInput input(data, size);
    const int32_t width = 16 * (1 + (input.Byte() & 3));
    const int32_t height = 16 * (1 + (input.Byte() & 3));
    const uint8_t mode = input.Byte();
    const HostFormat format = kHostFormats[mode & 3];
    CodecSettings settings;
    settings.fastSearch = (mode >> 3) & 1;
    settings.subBlockMotion = (mode >> 4) & 1;
    settings.autoKeyInsert = (mode >> 5) & 1;
    settings.strongCompression = (mode >> 6) & 1;
    settings.prefilterStrength = static_cast<int8_t>(input.Byte());
    settings.prefilterIterations = static_cast<int8_t>(input.Byte());
    SaveCodecSettings(settings);
    DWORD quality = input.U16();
    ICCOMPRESSFRAMES frames{};
    frames.lQuality = static_cast<LONG>(quality);
    frames.lDataRate = static_cast<LONG>(input.U16());
    frames.dwRate = 25;
    frames.dwScale = 1;

    testing::EncoderSession encoder(0xE001, HostHeader(format, width, height, (mode & 4) != 0));
    if (!encoder.Begun()) std::abort();  // every size and format chosen here is one the codec takes
    encoder.host.Message(ICM_SETQUALITY, Param(&quality));
    if (mode & 128) encoder.host.Message(ICM_COMPRESS_FRAMES_INFO, Param(&frames), sizeof frames);
    testing::DecoderSession decoder(0xE002, encoder.CompressedFormat(),
                                    HostHeader(HostFormat::Rgb24, width, height, false));
    if (!decoder.Begun()) std::abort();

    std::vector<uint8_t> picture(encoder.input.biSizeImage, 0x80);
    std::vector<uint8_t> decoded(decoder.OutputBytes());
    for (int frame = 0; frame < kMaxFrames; ++frame) {
        const uint8_t flags = input.Byte();
        testing::CompressOptions options;
        options.flags = (flags & 1) ? ICCOMPRESS_KEYFRAME : 0;
        options.quality = input.U16();
        options.frameSize = input.U16();
        const std::vector<uint8_t> bytes = input.Bytes(picture.size());
        for (size_t i = 0; !bytes.empty() && i < picture.size(); ++i) picture[i] = bytes[i % bytes.size()];

        testing::CompressedFrame chunk;
        if (encoder.Compress(picture, frame, &chunk, options) != ICERR_OK) std::abort();
        if (decoder.Decompress(chunk.bytes, decoded) != ICERR_OK) std::abort();
        if (!testing::SamePicture(decoder.Picture(), encoder.Reconstruction())) std::abort();
        if (input.Empty()) break;
    }
    return 0;
}
