// GStreamer plugin "rq43": the decoder element rq43dec and a type finder for AVI files whose first video
// stream is RQ43. The AVI demuxer gives an unknown fourcc's stream neither size nor rate, so the type
// finder puts both into the file's caps and the decoder reads them from upstream, which works for a
// stream on a pipe as well as for a file.
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstring>
#include <string>
#include <vector>

#include "avi_stream_format.h"
#include "common/driver_host.h"

using rq43::players::AviStreamFormat;
using rq43::players::DecodeResult;
using rq43::players::PictureFormat;
using rq43::players::StreamDecoder;

GST_DEBUG_CATEGORY_STATIC(rq43dec_debug);
#define GST_CAT_DEFAULT rq43dec_debug

namespace {

constexpr int kRq43FourCC = 0x33345152;  // 'R' 'Q' '4' '3', as the AVI demuxer reports it
constexpr const char* kWidthField = "rq43-width";
constexpr const char* kHeightField = "rq43-height";
constexpr const char* kRateField = "rq43-framerate";

// ---- type finder ----

void FindRq43Avi(GstTypeFind* find, gpointer) {
    AviStreamFormat format;
    auto peek = [find](uint64_t offset, size_t size) {
        return static_cast<const uint8_t*>(
            gst_type_find_peek(find, static_cast<gint64>(offset), static_cast<guint>(size)));
    };
    if (!rq43::players::ReadFirstVideoStream(peek, &format) || format.compression != rq43::FOURCC_RQ43)
        return;
    if (format.width <= 0 || format.height == 0) return;
    GstCaps* caps =
        gst_caps_new_simple("video/x-msvideo", kWidthField, G_TYPE_INT, format.width, kHeightField,
                            G_TYPE_INT, format.height < 0 ? -format.height : format.height, nullptr);
    if (format.rate > 0 && format.scale > 0 && format.rate <= G_MAXINT && format.scale <= G_MAXINT) {
        gst_caps_set_simple(caps, kRateField, GST_TYPE_FRACTION, static_cast<gint>(format.rate),
                            static_cast<gint>(format.scale), nullptr);
    }
    gst_type_find_suggest(find, GST_TYPE_FIND_MAXIMUM, caps);
    gst_caps_unref(caps);
}

// ---- decoder ----

struct Rq43Dec {
    GstVideoDecoder parent;
    StreamDecoder* decoder;
    PictureFormat format;
    int width, height;
    std::vector<uint8_t>* scratch;
    GstVideoCodecState* inputState;
};

struct Rq43DecClass {
    GstVideoDecoderClass parent_class;
};

GType rq43_dec_get_type();
G_DEFINE_TYPE(Rq43Dec, rq43_dec, GST_TYPE_VIDEO_DECODER)
#define RQ43_DEC(obj) (reinterpret_cast<Rq43Dec*>(obj))

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-avi-unknown, fourcc = (int) 859066706"));

// The codec's own order: packed 4:2:2 first, as it decodes, then the RGB forms.
GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ UYVY, YUY2, BGR, BGRx }")));

struct StreamSize {
    int width = 0, height = 0;
    int rateN = 0, rateD = 1;
};

bool ReadSize(const GstStructure* s, const char* widthField, const char* heightField, const char* rateField,
              StreamSize* size) {
    if (!gst_structure_get_int(s, widthField, &size->width) ||
        !gst_structure_get_int(s, heightField, &size->height))
        return false;
    if (!gst_structure_get_fraction(s, rateField, &size->rateN, &size->rateD)) {
        size->rateN = 0;
        size->rateD = 1;
    }
    return size->width > 0 && size->height > 0;
}

bool ReadCapsSize(GstCaps* caps, StreamSize* size) {
    if (caps == nullptr || gst_caps_get_size(caps) == 0) return false;
    return ReadSize(gst_caps_get_structure(caps, 0), kWidthField, kHeightField, kRateField, size);
}

// Walks upstream from `pad` (through queues, demuxers and bins, by the pads' internal links) to the caps
// the type finder gave the file.
bool FindUpstreamSize(GstPad* pad, int depth, StreamSize* size) {
    if (depth > 32) return false;
    GstPad* peer = gst_pad_get_peer(pad);
    if (peer == nullptr) return false;
    GstCaps* caps = gst_pad_get_current_caps(peer);
    bool found = ReadCapsSize(caps, size);
    if (caps) gst_caps_unref(caps);
    if (!found && caps == nullptr) {
        // A type finder feeding a demuxer in pull mode sends no caps event, but answers with its caps.
        caps = gst_pad_query_caps(peer, nullptr);
        found = gst_caps_is_fixed(caps) && ReadCapsSize(caps, size);
        gst_caps_unref(caps);
    }
    if (!found) {
        GstIterator* links = gst_pad_iterate_internal_links(peer);
        GValue item = G_VALUE_INIT;
        bool done = links == nullptr;
        while (!done && !found) {
            switch (gst_iterator_next(links, &item)) {
                case GST_ITERATOR_OK: {
                    auto* upstream = GST_PAD(g_value_get_object(&item));
                    GstCaps* upstreamCaps = gst_pad_get_current_caps(upstream);
                    found = ReadCapsSize(upstreamCaps, size) || FindUpstreamSize(upstream, depth + 1, size);
                    if (upstreamCaps) gst_caps_unref(upstreamCaps);
                    g_value_reset(&item);
                    break;
                }
                case GST_ITERATOR_RESYNC:
                    gst_iterator_resync(links);
                    break;
                default:
                    done = true;
                    break;
            }
        }
        g_value_unset(&item);
        if (links) gst_iterator_free(links);
    }
    gst_object_unref(peer);
    return found;
}

PictureFormat ChooseFormat(GstVideoDecoder* dec, GstVideoFormat* videoFormat) {
    GstCaps* allowed = gst_pad_get_allowed_caps(GST_VIDEO_DECODER_SRC_PAD(dec));
    GstVideoFormat chosen = GST_VIDEO_FORMAT_UYVY;
    if (allowed != nullptr && !gst_caps_is_empty(allowed)) {
        allowed = gst_caps_fixate(allowed);
        const gchar* name = gst_structure_get_string(gst_caps_get_structure(allowed, 0), "format");
        if (name != nullptr) chosen = gst_video_format_from_string(name);
    }
    if (allowed) gst_caps_unref(allowed);
    *videoFormat = chosen;
    switch (chosen) {
        case GST_VIDEO_FORMAT_YUY2:
            return PictureFormat::Yuy2;
        case GST_VIDEO_FORMAT_BGR:
            return PictureFormat::Bgr24;
        case GST_VIDEO_FORMAT_BGRx:
            return PictureFormat::Bgrx32;
        default:
            *videoFormat = GST_VIDEO_FORMAT_UYVY;
            return PictureFormat::Uyvy;
    }
}

gboolean Rq43DecSetFormat(GstVideoDecoder* dec, GstVideoCodecState* state) {
    Rq43Dec* self = RQ43_DEC(dec);
    StreamSize size;
    const GstStructure* s = gst_caps_get_structure(state->caps, 0);
    if (!ReadSize(s, "width", "height", "framerate", &size) &&
        !FindUpstreamSize(GST_VIDEO_DECODER_SINK_PAD(dec), 0, &size)) {
        GST_ELEMENT_ERROR(dec, STREAM, FORMAT, ("The RQ43 stream's picture size is unknown."),
                          ("no size in the caps and none upstream: play the file through decodebin, "
                           "playbin or playbin3, whose type finding supplies it"));
        return FALSE;
    }
    if (size.rateN == 0 && state->info.fps_n > 0) {
        size.rateN = state->info.fps_n;
        size.rateD = state->info.fps_d;
    }
    GstVideoFormat videoFormat;
    PictureFormat format = ChooseFormat(dec, &videoFormat);
    if (!self->decoder->IsOpen() || format != self->format || size.width != self->width ||
        size.height != self->height) {
        std::string error;
        if (!self->decoder->Open(size.width, size.height, format, &error)) {
            GST_ELEMENT_ERROR(dec, LIBRARY, INIT, ("%s", error.c_str()), (nullptr));
            return FALSE;
        }
        self->format = format;
        self->width = size.width;
        self->height = size.height;
    }
    GST_DEBUG_OBJECT(dec, "%dx%d at %d/%d, output %s", size.width, size.height, size.rateN, size.rateD,
                     gst_video_format_to_string(videoFormat));
    GstVideoCodecState* out = gst_video_decoder_set_output_state(
        dec, videoFormat, static_cast<guint>(size.width), static_cast<guint>(size.height), state);
    out->info.fps_n = size.rateN;
    out->info.fps_d = size.rateD;
    gst_video_codec_state_unref(out);
    return gst_video_decoder_negotiate(dec);
}

GstFlowReturn Rq43DecHandleFrame(GstVideoDecoder* dec, GstVideoCodecFrame* frame) {
    Rq43Dec* self = RQ43_DEC(dec);
    if (!self->decoder->IsOpen()) {
        gst_video_decoder_drop_frame(dec, frame);
        GST_ELEMENT_ERROR(dec, CORE, NEGOTIATION, ("The RQ43 decoder has no stream format."), (nullptr));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    GstMapInfo in;
    if (!gst_buffer_map(frame->input_buffer, &in, GST_MAP_READ)) {
        gst_video_decoder_drop_frame(dec, frame);
        return GST_FLOW_ERROR;
    }
    GstFlowReturn ret = gst_video_decoder_allocate_output_frame(dec, frame);
    if (ret != GST_FLOW_OK) {
        gst_buffer_unmap(frame->input_buffer, &in);
        gst_video_decoder_drop_frame(dec, frame);
        return ret;
    }
    GstVideoCodecState* state = gst_video_decoder_get_output_state(dec);
    GstVideoFrame picture;
    DecodeResult result = DecodeResult::Damaged;
    if (gst_video_frame_map(&picture, &state->info, frame->output_buffer, GST_MAP_WRITE)) {
        const size_t row = rq43::players::PictureBytes(self->format, self->width, 1);
        const gint stride = GST_VIDEO_FRAME_PLANE_STRIDE(&picture, 0);
        auto* pixels = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&picture, 0));
        if (static_cast<size_t>(stride) == row) {
            result = self->decoder->Decode(in.data, in.size, pixels);
        } else {
            // A padded layout downstream: decode whole, then copy row by row.
            self->scratch->resize(row * static_cast<size_t>(self->height));
            result = self->decoder->Decode(in.data, in.size, self->scratch->data());
            if (result == DecodeResult::Picture)
                for (int y = 0; y < self->height; ++y)
                    std::memcpy(pixels + static_cast<ptrdiff_t>(y) * stride,
                                self->scratch->data() + static_cast<size_t>(y) * row, row);
        }
        gst_video_frame_unmap(&picture);
    }
    gst_video_codec_state_unref(state);
    const gsize bytes = in.size;
    gst_buffer_unmap(frame->input_buffer, &in);

    switch (result) {
        case DecodeResult::Picture:
            return gst_video_decoder_finish_frame(dec, frame);
        case DecodeResult::Damaged:
            GST_VIDEO_DECODER_ERROR(
                dec, 1, STREAM, DECODE, ("Damaged RQ43 frame."),
                ("frame %u (%" G_GSIZE_FORMAT " bytes) refused by the codec; pictures resume "
                 "at the next key frame",
                 frame->system_frame_number, bytes),
                ret);
            gst_video_decoder_drop_frame(dec, frame);
            return ret;
        case DecodeResult::WaitingKey:
            GST_DEBUG_OBJECT(dec, "frame %u: delta frame without a reference, dropped",
                             frame->system_frame_number);
            return gst_video_decoder_drop_frame(dec, frame);
        case DecodeResult::NullFrame:
            return gst_video_decoder_drop_frame(dec, frame);
    }
    return GST_FLOW_ERROR;
}

gboolean Rq43DecFlush(GstVideoDecoder* dec) {
    RQ43_DEC(dec)->decoder->WaitForKeyFrame();
    return TRUE;
}

gboolean Rq43DecStop(GstVideoDecoder* dec) {
    RQ43_DEC(dec)->decoder->Close();
    return TRUE;
}

void Rq43DecFinalize(GObject* object) {
    Rq43Dec* self = RQ43_DEC(object);
    delete self->decoder;
    delete self->scratch;
    G_OBJECT_CLASS(rq43_dec_parent_class)->finalize(object);
}

void rq43_dec_init(Rq43Dec* self) {
    self->decoder = new StreamDecoder();
    self->scratch = new std::vector<uint8_t>();
    self->format = PictureFormat::Uyvy;
    self->width = self->height = 0;
    auto* dec = GST_VIDEO_DECODER(self);
    gst_video_decoder_set_packetized(dec, TRUE);
    gst_video_decoder_set_needs_sync_point(dec, TRUE);
}

void rq43_dec_class_init(Rq43DecClass* klass) {
    auto* objectClass = G_OBJECT_CLASS(klass);
    auto* elementClass = GST_ELEMENT_CLASS(klass);
    auto* decoderClass = GST_VIDEO_DECODER_CLASS(klass);
    objectClass->finalize = Rq43DecFinalize;
    gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
    gst_element_class_set_static_metadata(elementClass, "RQ43 video decoder", "Codec/Decoder/Video",
                                          "Decodes RQ43 video through the codec module's DriverProc",
                                          "RQ43 developers");
    decoderClass->set_format = Rq43DecSetFormat;
    decoderClass->handle_frame = Rq43DecHandleFrame;
    decoderClass->flush = Rq43DecFlush;
    decoderClass->stop = Rq43DecStop;
}

gboolean PluginInit(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(rq43dec_debug, "rq43dec", 0, "RQ43 decoder");
    // Above the AVI type finder, which would otherwise claim the file first without the stream's size.
    GstCaps* caps = gst_caps_new_empty_simple("video/x-msvideo");
    gboolean ok = gst_type_find_register(plugin, "rq43-avi", GST_RANK_PRIMARY + 1, FindRq43Avi, "avi", caps,
                                         nullptr, nullptr);
    gst_caps_unref(caps);
    return ok && gst_element_register(plugin, "rq43dec", GST_RANK_PRIMARY, rq43_dec_get_type());
}

}  // namespace

#define PACKAGE "rq43"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, rq43, "RQ43 video: decoder and AVI type finder",
                  PluginInit, RQ43_VERSION, "Proprietary", "rq43", "local")
