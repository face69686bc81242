// AVI files holding an RQ43 stream, through libavformat: its AVI muxer writes them (OpenDML past 1 GiB,
// so they may grow past 4 GiB) and its demuxer reads them. What the library cannot know about our
// frames comes from the frames themselves: whether each is a key frame, and whether the stream format
// is one the codec can take.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "libav_util.h"
#include "platform/vfw.h"

namespace rq43::cli {

class AudioTrack;

class AviWriter {
  public:
    // Writes to `file` (named `name` in messages): the video stream with `format`, the stream format the
    // codec gave, and the audio track's stream when there is one.
    AviWriter(const std::string& file, const std::string& name, const BITMAPINFOHEADER& format, uint32_t rate,
              uint32_t scale, AudioTrack* audio);
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    void WriteFrame(const uint8_t* data, size_t size, bool key);
    // Audio packets from the track, timed in the output stream's time base.
    void WriteAudio(AVPacket& packet);
    // Writes the indexes and the final headers; the file is incomplete until this returns.
    void Finish();

  private:
    void Check(int result, const char* what);

    std::string name;
    AVFormatContext* output = nullptr;
    AVStream* video = nullptr;
    AVRational frameDuration;
    AvPacketPtr packet;
    int64_t frames = 0;
    bool headerWritten = false;
};

struct AviFrame {
    int64_t index = 0;  // by the frame's time in the stream, so that skipped frames leave gaps
    std::vector<uint8_t> data;
    bool key = false;      // by the frame's own header; false when that header is damaged
    bool complete = true;  // false when the file ended inside the frame
};

class AviReader {
  public:
    // Throws Failure naming the file when it is no AVI file or holds no RQ43 stream the codec takes.
    explicit AviReader(const std::string& path);

    const BITMAPINFOHEADER& Format() const { return format; }
    int Width() const { return format.biWidth; }
    int Height() const { return format.biHeight < 0 ? -format.biHeight : format.biHeight; }
    uint32_t Rate() const { return rate; }
    uint32_t Scale() const { return scale; }
    // The next frame of the RQ43 stream; false at the end.
    bool Next(AviFrame& frame);
    // After the end: true when the file holds fewer frames than its headers announce, or ended inside one.
    bool Truncated() const;
    int64_t AnnouncedFrames() const { return announced; }
    // The most frames from a key frame to the next as the file's index marks them (the last run counting
    // to the end); 0 when the file has no index. A hint: the frames themselves say which are key frames.
    int64_t LongestKeyRun() const;
    // The file's sound, if any, and the time (in its time base) that lines up with the first frame.
    const AVStream* Audio() const { return audioIndex >= 0 ? input->streams[audioIndex] : nullptr; }
    int64_t AudioStartTime() const;
    // Called with every sound packet met while reading frames; none are kept without it.
    void OnAudio(std::function<void(const AVPacket&)> handler) { audioHandler = std::move(handler); }

  private:
    std::string path;
    AvInputPtr input;
    AvPacketPtr packet;
    int streamIndex = -1;
    int audioIndex = -1;
    std::function<void(const AVPacket&)> audioHandler;
    BITMAPINFOHEADER format{};
    uint32_t rate = 25, scale = 1;
    int64_t announced = 0;
    int64_t firstTime = AV_NOPTS_VALUE;
    int64_t nextIndex = 0;
    bool cutShort = false;
    bool pending = false;  // a packet read but not yet handed out
};

}  // namespace rq43::cli
