// VLC 3.0 video decoder module for the fourcc RQ43. The AVI demuxer hands over the stream's size and rate;
// pictures come from the codec module's DriverProc as packed 4:2:2, top row first.
#define MODULE_NAME rq43
#define MODULE_STRING "rq43"

// vlc_common.h first: the other headers build on it.
#include <vlc_common.h>
// clang-format off
#include <vlc_codec.h>
#include <vlc_plugin.h>
// clang-format on

#include <new>
#include <string>

#include "common/driver_host.h"

using rq43::players::DecodeResult;
using rq43::players::PictureFormat;
using rq43::players::StreamDecoder;

namespace {

struct Rq43Decoder {
    StreamDecoder codec;
};

Rq43Decoder* Sys(decoder_t* dec) {
    return reinterpret_cast<Rq43Decoder*>(dec->p_sys);
}

void Flush(decoder_t* dec) {
    Sys(dec)->codec.WaitForKeyFrame();
}

int Decode(decoder_t* dec, block_t* block) {
    if (block == nullptr) return VLCDEC_SUCCESS;  // draining: nothing is held back
    Rq43Decoder* sys = Sys(dec);
    const mtime_t date = block->i_pts != VLC_TS_INVALID ? block->i_pts : block->i_dts;
    const double seconds = date != VLC_TS_INVALID ? static_cast<double>(date - VLC_TS_0) / CLOCK_FREQ : -1;
    if (block->i_flags & BLOCK_FLAG_DISCONTINUITY) sys->codec.WaitForKeyFrame();

    picture_t* picture = nullptr;
    if (decoder_UpdateVideoFormat(dec) == 0) picture = decoder_NewPicture(dec);
    if (picture == nullptr) {
        block_Release(block);
        return VLCDEC_SUCCESS;
    }
    DecodeResult result = sys->codec.Decode(block->p_buffer, block->i_buffer, picture->p[0].p_pixels,
                                            static_cast<size_t>(picture->p[0].i_pitch));
    switch (result) {
        case DecodeResult::Picture:
            picture->date = date;
            picture->b_progressive = true;
            decoder_QueueVideo(dec, picture);
            block_Release(block);
            return VLCDEC_SUCCESS;
        case DecodeResult::Damaged:
            msg_Err(dec,
                    "damaged frame at %.3f s (%zu bytes) refused by the codec; pictures resume at the next "
                    "key frame",
                    seconds, block->i_buffer);
            break;
        case DecodeResult::WaitingKey:
            msg_Dbg(dec, "delta frame at %.3f s without a reference, dropped", seconds);
            break;
        case DecodeResult::NullFrame:
            break;
    }
    picture_Release(picture);
    block_Release(block);
    return VLCDEC_SUCCESS;
}

int Open(vlc_object_t* object) {
    auto* dec = reinterpret_cast<decoder_t*>(object);
    if (dec->fmt_in.i_codec != VLC_FOURCC('R', 'Q', '4', '3')) return VLC_EGENERIC;
    const int width = static_cast<int>(dec->fmt_in.video.i_width);
    const int height = static_cast<int>(dec->fmt_in.video.i_height);
    if (width <= 0 || height <= 0) {
        msg_Err(dec, "RQ43 stream without a picture size");
        return VLC_EGENERIC;
    }
    auto* sys = new (std::nothrow) Rq43Decoder();
    if (sys == nullptr) return VLC_ENOMEM;
    std::string error;
    if (!sys->codec.Open(width, height, PictureFormat::Uyvy, &error)) {
        msg_Err(dec, "%s", error.c_str());
        delete sys;
        return VLC_EGENERIC;
    }
    dec->p_sys = reinterpret_cast<decoder_sys_t*>(sys);

    es_format_Copy(&dec->fmt_out, &dec->fmt_in);
    dec->fmt_out.i_codec = VLC_CODEC_UYVY;
    video_format_t& out = dec->fmt_out.video;
    out.i_chroma = VLC_CODEC_UYVY;
    out.i_width = out.i_visible_width = static_cast<unsigned>(width);
    out.i_height = out.i_visible_height = static_cast<unsigned>(height);
    out.i_x_offset = out.i_y_offset = 0;
    out.orientation = ORIENT_NORMAL;
    if (out.i_sar_num == 0 || out.i_sar_den == 0) out.i_sar_num = out.i_sar_den = 1;

    dec->pf_decode = Decode;
    dec->pf_flush = Flush;
    msg_Dbg(dec, "RQ43 %dx%d through DriverProc", width, height);
    return VLC_SUCCESS;
}

void Close(vlc_object_t* object) {
    auto* dec = reinterpret_cast<decoder_t*>(object);
    delete Sys(dec);
}

}  // namespace

vlc_module_begin() set_shortname("RQ43") set_description("RQ43 video decoder")
    set_capability("video decoder", 100) set_category(CAT_INPUT) set_subcategory(SUBCAT_INPUT_VCODEC)
        set_callbacks(Open, Close) vlc_module_end()
