#include <cstring>
#include <new>

#include "audio_track.h"
#include "avi.h"
#include "cli_errors.h"

namespace rq43::cli {

AviWriter::AviWriter(const std::string& file, const std::string& name, const BITMAPINFOHEADER& format,
                     uint32_t rate, uint32_t scale, AudioTrack* audio)
    : name(name), packet(NewPacket()) {
    Check(avformat_alloc_output_context2(&output, av_guess_format("avi", nullptr, nullptr), nullptr,
                                         file.c_str()),
          "cannot set up the AVI muxer");
    video = avformat_new_stream(output, nullptr);
    if (!video) throw std::bad_alloc();
    // No codec of the library's own: the stream is known by its tag and the format the codec gave.
    AVCodecParameters& p = *video->codecpar;
    p.codec_type = AVMEDIA_TYPE_VIDEO;
    p.codec_id = AV_CODEC_ID_NONE;
    p.codec_tag = format.biCompression;
    p.width = format.biWidth;
    p.height = format.biHeight < 0 ? -format.biHeight : format.biHeight;
    p.bits_per_coded_sample = format.biBitCount;
    if (format.biSize > sizeof format) {
        // A longer format header carries its extra bytes as the stream's extradata.
        const size_t extra = format.biSize - sizeof format;
        p.extradata = static_cast<uint8_t*>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!p.extradata) throw std::bad_alloc();
        std::memcpy(p.extradata, reinterpret_cast<const uint8_t*>(&format) + sizeof format, extra);
        p.extradata_size = static_cast<int>(extra);
    }
    frameDuration = {static_cast<int>(scale), static_cast<int>(rate)};
    video->time_base = frameDuration;
    video->avg_frame_rate = video->r_frame_rate = {static_cast<int>(rate), static_cast<int>(scale)};
    if (audio) audio->AddStream(*output);
    Check(avio_open2(&output->pb, file.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), "cannot open");
    Check(avformat_write_header(output, nullptr), "cannot write the AVI header");
    headerWritten = true;
}

AviWriter::~AviWriter() {
    if (!output) return;
    avio_closep(&output->pb);
    avformat_free_context(output);
}

void AviWriter::Check(int result, const char* what) {
    if (result < 0) throw FileFailure(name, std::string(what) + " (" + AvError(result) + ")");
}

void AviWriter::WriteFrame(const uint8_t* data, size_t size, bool key) {
    if (av_new_packet(packet.get(), static_cast<int>(size)) < 0) throw std::bad_alloc();
    if (size) std::memcpy(packet->data, data, size);
    packet->stream_index = video->index;
    packet->pts = packet->dts = av_rescale_q(frames++, frameDuration, video->time_base);
    packet->duration = av_rescale_q(1, frameDuration, video->time_base);
    if (key) packet->flags |= AV_PKT_FLAG_KEY;
    Check(av_interleaved_write_frame(output, packet.get()), "write failed");
}

void AviWriter::WriteAudio(AVPacket& audioPacket) {
    Check(av_interleaved_write_frame(output, &audioPacket), "write failed");
}

void AviWriter::Finish() {
    Check(av_interleaved_write_frame(output, nullptr), "write failed");
    Check(av_write_trailer(output), "write failed");
    Check(avio_closep(&output->pb), "write failed");
}

}  // namespace rq43::cli
