#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "audio_track.h"
#include "avi.h"
#include "cli_errors.h"
#include "stream_check.h"

namespace rq43::cli {
namespace {

// The file's top-level RIFF chunks (one, plus one per further GiB in an AVI 2.0 file) reach no
// further than the file: a file cut short loses at least the index at the end of its last chunk,
// which the demuxer does without a word.
bool RiffChunksComplete(const std::string& path, uint64_t fileSize) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bool complete = true;
    for (uint64_t pos = 0; pos < fileSize;) {
        uint8_t head[8];
        if (fseeko(file, static_cast<off_t>(pos), SEEK_SET) != 0 || std::fread(head, 1, 8, file) != 8 ||
            std::memcmp(head, "RIFF", 4) != 0) {
            complete = pos + 8 <= fileSize && pos > 0;  // anything after the chunks is no concern of ours
            break;
        }
        const uint64_t size =
            uint64_t{head[4]} | uint64_t{head[5]} << 8 | uint64_t{head[6]} << 16 | uint64_t{head[7]} << 24;
        pos += 8 + size + (size & 1);
        if (pos > fileSize + (size & 1)) complete = false;
    }
    std::fclose(file);
    return complete;
}

}  // namespace

AviReader::AviReader(const std::string& path) : path(path), packet(NewPacket()) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) throw FileFailure(path, std::strerror(errno));
    if (S_ISDIR(st.st_mode)) throw FileFailure(path, "is a directory");
    if (int r = OpenInput(input, path.c_str(), av_find_input_format("avi")); r < 0)
        throw FileFailure(path,
                          r == AVERROR_INVALIDDATA ? "not an AVI file" : "cannot read (" + AvError(r) + ")");
    // The headers say everything we need; probing packets would only read ahead.
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream& s = *input->streams[i];
        if (s.codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        if (streamIndex < 0 || s.codecpar->codec_tag == FOURCC_RQ43) streamIndex = static_cast<int>(i);
        if (s.codecpar->codec_tag == FOURCC_RQ43) break;
    }
    if (streamIndex < 0) throw FileFailure(path, "no video stream");
    const AVStream& stream = *input->streams[streamIndex];
    format = Rq43StreamFormat(*stream.codecpar, path);
    AVRational fps = stream.avg_frame_rate.num > 0 && stream.avg_frame_rate.den > 0
                         ? stream.avg_frame_rate
                         : av_inv_q(stream.time_base);
    if (fps.num > 0 && fps.den > 0) {
        rate = static_cast<uint32_t>(fps.num);
        scale = static_cast<uint32_t>(fps.den);
    }  // else a header without a usable rate: keep the common 25
    announced = stream.nb_frames;
    cutShort = !RiffChunksComplete(path, static_cast<uint64_t>(st.st_size));
    audioIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, streamIndex, nullptr, 0);
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (static_cast<int>(i) != streamIndex && static_cast<int>(i) != audioIndex)
            input->streams[i]->discard = AVDISCARD_ALL;
}

int64_t AviReader::AudioStartTime() const {
    return audioIndex < 0 ? 0
                          : cli::AudioStartTime(*input->streams[streamIndex], *input->streams[audioIndex]);
}

bool AviReader::Next(AviFrame& frame) {
    for (;;) {
        if (!pending) {
            int r = av_read_frame(input.get(), packet.get());
            if (r == AVERROR_EOF) return false;
            if (r == AVERROR_EXIT) throw Interruption("interrupted");
            if (r < 0) {
                // What follows cannot be read: everything before it stands, and the file counts as cut short.
                cutShort = true;
                return false;
            }
            if (packet->stream_index != streamIndex) {
                if (packet->stream_index == audioIndex && audioHandler) audioHandler(*packet);
                av_packet_unref(packet.get());
                continue;
            }
            pending = true;
        }
        // Skipped frames show as gaps in the stream's times; each becomes an empty (dropped) frame.
        int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (firstTime == AV_NOPTS_VALUE && time != AV_NOPTS_VALUE) firstTime = time;
        int64_t index = time == AV_NOPTS_VALUE ? nextIndex : time - firstTime;
        const bool plausibleGap = index > nextIndex && (announced <= 0 || index < announced);
        frame.index = nextIndex++;
        frame.data.clear();
        frame.key = false;
        frame.complete = true;
        if (plausibleGap) return true;
        frame.data.assign(packet->data, packet->data + packet->size);
        frame.complete = (packet->flags & AV_PKT_FLAG_CORRUPT) == 0;
        frame.key = frame.complete && IsKeyFrame(frame.data.data(), frame.data.size());
        if (!frame.complete) cutShort = true;
        av_packet_unref(packet.get());
        pending = false;
        return true;
    }
}

int64_t AviReader::LongestKeyRun() const {
    AVStream* stream = input->streams[streamIndex];
    const int entries = avformat_index_get_entries_count(stream);
    int64_t longest = 0, run = 0;
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        run = entry && (entry->flags & AVINDEX_KEYFRAME) ? 1 : run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

bool AviReader::Truncated() const {
    return cutShort || (announced > 0 && nextIndex < announced);
}

}  // namespace rq43::cli
