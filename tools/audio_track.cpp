#include "audio_track.h"

#include <new>

extern "C" {
#include <libswresample/swresample.h>
}

#include "cli_errors.h"

namespace rq43::cli {

int64_t AudioStartTime(const AVStream& video, const AVStream& audio) {
    if (video.start_time == AV_NOPTS_VALUE) return 0;
    return av_rescale_q(video.start_time, video.time_base, audio.time_base);
}

AudioTrack::AudioTrack(const AVStream& input, int64_t startTime, const AVOutputFormat& muxer,
                       const std::string& name)
    : name(name),
      inputTimeBase(input.time_base),
      startTime(startTime == AV_NOPTS_VALUE ? 0 : startTime),
      inputParameters(input.codecpar),
      frame(NewFrame()) {
    if (avformat_query_codec(&muxer, input.codecpar->codec_id, FF_COMPLIANCE_NORMAL) == 1) return;
    const AVCodec* codec = avcodec_find_decoder(input.codecpar->codec_id);
    if (!codec) throw FileFailure(name, "no decoder for its sound; --no-audio leaves it out");
    decoder.reset(avcodec_alloc_context3(codec));
    if (!decoder) throw std::bad_alloc();
    int r = avcodec_parameters_to_context(decoder.get(), input.codecpar);
    if (r >= 0) r = avcodec_open2(decoder.get(), codec, nullptr);
    if (r < 0)
        throw FileFailure(name, "cannot decode its sound (" + AvError(r) + "); --no-audio leaves it out");
    decoder->pkt_timebase = input.time_base;
}

AudioTrack::~AudioTrack() {
    swr_free(&resampler);
}

std::string AudioTrack::Description() const {
    const char* codec = avcodec_get_name(inputParameters->codec_id);
    return Copies() ? std::string(codec) + " sound copied" : std::string(codec) + " sound as 16-bit PCM";
}

void AudioTrack::AddStream(AVFormatContext& out) {
    output = avformat_new_stream(&out, nullptr);
    if (!output) throw std::bad_alloc();
    if (Copies()) {
        if (avcodec_parameters_copy(output->codecpar, inputParameters) < 0) throw std::bad_alloc();
        output->codecpar->codec_tag = 0;  // the muxer picks its own tag for the codec
        output->time_base = inputTimeBase;
        return;
    }
    AVCodecParameters& p = *output->codecpar;
    p.codec_type = AVMEDIA_TYPE_AUDIO;
    p.codec_id = AV_CODEC_ID_PCM_S16LE;
    p.format = AV_SAMPLE_FMT_S16;
    p.sample_rate = decoder->sample_rate;
    if (av_channel_layout_copy(&p.ch_layout, &decoder->ch_layout) < 0) throw std::bad_alloc();
    p.bits_per_coded_sample = 16;
    p.block_align = 2 * p.ch_layout.nb_channels;
    p.bit_rate = int64_t{p.block_align} * p.sample_rate * 8;
    output->time_base = {1, p.sample_rate};
    int r = swr_alloc_set_opts2(&resampler, &p.ch_layout, AV_SAMPLE_FMT_S16, p.sample_rate,
                                &decoder->ch_layout, decoder->sample_fmt, decoder->sample_rate, 0, nullptr);
    if (r < 0 || (r = swr_init(resampler)) < 0)
        throw FileFailure(name, "cannot convert its sound (" + AvError(r) + ")");
}

AvPacketPtr AudioTrack::Stamp(AvPacketPtr packet, int64_t time) const {
    packet->stream_index = output->index;
    packet->pts = packet->dts = time;
    packet->pos = -1;
    return packet;
}

std::vector<AvPacketPtr> AudioTrack::Take(const AVPacket& in) {
    std::vector<AvPacketPtr> out;
    if (Copies()) {
        int64_t time = in.dts != AV_NOPTS_VALUE ? in.dts : in.pts;
        if (time == AV_NOPTS_VALUE || time < startTime) return out;  // sound before the first picture
        AvPacketPtr copy = NewPacket();
        if (av_packet_ref(copy.get(), &in) < 0) throw std::bad_alloc();
        const int64_t shifted = av_rescale_q(time - startTime, inputTimeBase, output->time_base);
        copy->duration = av_rescale_q(in.duration, inputTimeBase, output->time_base);
        out.push_back(Stamp(std::move(copy), shifted));
        return out;
    }
    if (int r = avcodec_send_packet(decoder.get(), &in); r < 0 && r != AVERROR_INVALIDDATA)
        throw FileFailure(name, "cannot decode its sound (" + AvError(r) + ")");
    return Drain();
}

std::vector<AvPacketPtr> AudioTrack::Flush() {
    if (Copies()) return {};
    avcodec_send_packet(decoder.get(), nullptr);
    return Drain();
}

std::vector<AvPacketPtr> AudioTrack::Drain() {
    std::vector<AvPacketPtr> out;
    const int channels = output->codecpar->ch_layout.nb_channels;
    while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
        const int room = swr_get_out_samples(resampler, frame->nb_samples);
        AvPacketPtr packet = NewPacket();
        if (room <= 0 || av_new_packet(packet.get(), room * 2 * channels) < 0) throw std::bad_alloc();
        uint8_t* planes[1] = {packet->data};
        int samples = swr_convert(resampler, planes, room, const_cast<const uint8_t**>(frame->extended_data),
                                  frame->nb_samples);
        av_frame_unref(frame.get());
        if (samples < 0) throw FileFailure(name, "cannot convert its sound (" + AvError(samples) + ")");
        if (samples == 0) continue;
        av_shrink_packet(packet.get(), samples * 2 * channels);
        packet->duration = samples;
        out.push_back(Stamp(std::move(packet), nextSample));
        nextSample += samples;
    }
    return out;
}

}  // namespace rq43::cli
