// One encoding run, shared by the encode and demo commands: source pictures through the codec into an
// AVI file, with an optional second instance that decodes every frame as it is written.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "config/settings_store.h"
#include "frame_preparer.h"
#include "host_format.h"
#include "psnr.h"
#include "video_input.h"

namespace rq43::cli {

struct EncodeOptions {
    std::optional<int> quality;  // 0..100
    int64_t bitrateKbps = 0;
    uint32_t frameSize = 0;
    std::optional<int> keyInterval;         // the codec's suggestion when absent; 0 = first frame only
    std::optional<HostFormat> inputFormat;  // the source's closest when absent
    std::optional<CodecSettings> runSettings;
    FitMode fit = FitMode::Pad;
    bool reconstruct = false;  // decode each frame again: PSNR and the demo's check
    bool audio = true;         // keep the source's sound
    int threads = 1;           // codec instances coding runs of groups at once
};

struct EncodeReport {
    int width = 0, height = 0;
    uint32_t rate = 0, scale = 0;
    HostFormat format = HostFormat::Uyvy;
    int64_t frames = 0, keyFrames = 0;
    uint64_t bytes = 0;
    std::string audio;        // what became of the source's sound; empty when it has none
    int instances = 1;        // codec instances used
    double codecSeconds = 0;  // time spent inside the codec's compress calls
    double seconds = 0;       // the whole run
    PsnrMeter psnr;           // filled when reconstructing
    double Kbps() const;
};

// Called for every frame when reconstructing: the visible source and the decoded picture.
using ReconstructionObserver =
    std::function<void(int64_t index, const Picture420& source, const Picture420& reconstruction)>;

// Writes the file beside `outputPath` and renames it into place when complete. Throws Failure when anything
// goes wrong, and Interruption on Ctrl-C; either way the unfinished file is discarded and whatever was at
// `outputPath` stays as it was.
EncodeReport EncodeVideo(VideoSource& source, const std::string& outputPath, const EncodeOptions& options,
                         const ReconstructionObserver& observer = {});

}  // namespace rq43::cli
