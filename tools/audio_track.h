// The input's sound carried into an output file: copied as it is where the output's muxer takes its
// codec, else decoded and written as 16-bit PCM.
#pragma once

#include <string>
#include <vector>

#include "libav_util.h"

struct SwrContext;

namespace rq43::cli {

// The time of `audio` (in its time base) that lines up with the first picture of `video`.
int64_t AudioStartTime(const AVStream& video, const AVStream& audio);

class AudioTrack {
  public:
    // `input` is the source's audio stream; `startTime` (in its time base) becomes time 0 of the output,
    // so that sound stays with the pictures. Throws Failure when the sound can be neither copied nor decoded.
    AudioTrack(const AVStream& input, int64_t startTime, const AVOutputFormat& muxer,
               const std::string& name);
    ~AudioTrack();
    AudioTrack(const AudioTrack&) = delete;
    AudioTrack& operator=(const AudioTrack&) = delete;

    bool Copies() const { return !decoder; }
    std::string Description() const;
    // Adds the output stream (before the output's header is written).
    void AddStream(AVFormatContext& output);
    // One input packet in, the packets for the output out (timed in the output stream's time base).
    std::vector<AvPacketPtr> Take(const AVPacket& packet);
    std::vector<AvPacketPtr> Flush();

  private:
    std::vector<AvPacketPtr> Drain();
    AvPacketPtr Stamp(AvPacketPtr packet, int64_t time) const;

    std::string name;
    AVRational inputTimeBase;
    int64_t startTime;
    const AVCodecParameters* inputParameters;
    AVStream* output = nullptr;
    AvCodecPtr decoder;
    SwrContext* resampler = nullptr;
    AvFramePtr frame;
    int64_t nextSample = 0;  // PCM: output samples written, the next packet's time
};

}  // namespace rq43::cli
