// GStreamer plugin "rq43": the decoder element rq43dec and a type finder for AVI files whose first video
// stream is RQ43. The AVI demuxer gives an unknown fourcc's stream neither size nor rate, so the type
// finder puts both into the file's caps and the decoder reads them from upstream, which works for a
// stream on a pipe as well as for a file.
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstring>
#include <string>

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

struct OutputFormat {
    PictureFormat picture;
    GstVideoFormat video;
};
constexpr OutputFormat kOutputFormats[] = {{PictureFormat::Uyvy, GST_VIDEO_FORMAT_UYVY},
                                           {PictureFormat::Yuy2, GST_VIDEO_FORMAT_YUY2},
                                           {PictureFormat::Bgr24, GST_VIDEO_FORMAT_BGR},
                                           {PictureFormat::Bgrx32, GST_VIDEO_FORMAT_BGRx}};

struct Rq43Dec {
    GstVideoDecoder parent;
    StreamDecoder* decoder;
    OutputFormat format;
    int width, height, rateN, rateD;
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

bool Allows(GstCaps* allowed, GstVideoFormat format) {
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                                        gst_video_format_to_string(format), nullptr);
    bool ok = gst_caps_can_intersect(allowed, caps);
    gst_caps_unref(caps);
    return ok;
}

// What downstream takes: the present format while it still does (a change costs the pictures up to the
// next key frame), else downstream's first preference.
OutputFormat ChooseFormat(GstVideoDecoder* dec, const OutputFormat* present) {
    GstCaps* allowed = gst_pad_get_allowed_caps(GST_VIDEO_DECODER_SRC_PAD(dec));
    OutputFormat chosen = present ? *present : kOutputFormats[0];
    if (allowed != nullptr && !gst_caps_is_empty(allowed) && !(present && Allows(allowed, present->video))) {
        allowed = gst_caps_fixate(allowed);
        const gchar* name = gst_structure_get_string(gst_caps_get_structure(allowed, 0), "format");
        GstVideoFormat wanted = name ? gst_video_format_from_string(name) : GST_VIDEO_FORMAT_UNKNOWN;
        for (const OutputFormat& f : kOutputFormats)
            if (f.video == wanted) chosen = f;
    }
    if (allowed) gst_caps_unref(allowed);
    return chosen;
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
    if (size.width != self->width || size.height != self->height) self->decoder->Close();
    self->width = size.width;
    self->height = size.height;
    self->rateN = size.rateN;
    self->rateD = size.rateD;
    if (self->inputState) gst_video_codec_state_unref(self->inputState);
    self->inputState = gst_video_codec_state_ref(state);
    return gst_video_decoder_negotiate(dec);
}

// Called at the stream's start and whenever downstream changes: under decodebin the first caps are
// chosen before downstream is linked.
gboolean Rq43DecNegotiate(GstVideoDecoder* dec) {
    Rq43Dec* self = RQ43_DEC(dec);
    if (self->inputState == nullptr) return FALSE;
    const bool open = self->decoder->IsOpen();
    OutputFormat format = ChooseFormat(dec, open ? &self->format : nullptr);
    if (!open || format.picture != self->format.picture) {
        std::string error;
        if (!self->decoder->Open(self->width, self->height, format.picture, &error)) {
            GST_ELEMENT_ERROR(dec, LIBRARY, INIT, ("%s", error.c_str()), (nullptr));
            return FALSE;
        }
        self->format = format;
    }
    GST_DEBUG_OBJECT(dec, "%dx%d at %d/%d, output %s", self->width, self->height, self->rateN, self->rateD,
                     gst_video_format_to_string(format.video));
    GstVideoCodecState* out =
        gst_video_decoder_set_output_state(dec, format.video, static_cast<guint>(self->width),
                                           static_cast<guint>(self->height), self->inputState);
    out->info.fps_n = self->rateN;
    out->info.fps_d = self->rateD;
    gst_video_codec_state_unref(out);
    return GST_VIDEO_DECODER_CLASS(rq43_dec_parent_class)->negotiate(dec);
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
        result = self->decoder->Decode(in.data, in.size,
                                       static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&picture, 0)),
                                       static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&picture, 0)));
        gst_video_frame_unmap(&picture);
    }
    gst_video_codec_state_unref(state);
    const gsize bytes = in.size;
    gst_buffer_unmap(frame->input_buffer, &in);

    switch (result) {
        case DecodeResult::Picture:
            return gst_video_decoder_finish_frame(dec, frame);
        case DecodeResult::Damaged:
            // A warning the application sees; the base class counts it against max-errors.
            GST_ELEMENT_WARNING(
                dec, STREAM, DECODE, ("Damaged RQ43 frame."),
                ("the frame at %" GST_TIME_FORMAT " (%" G_GSIZE_FORMAT " bytes) is refused by the codec; "
                 "pictures resume at the next key frame",
                 GST_TIME_ARGS(frame->pts), bytes));
            GST_VIDEO_DECODER_ERROR(dec, 1, STREAM, DECODE, ("Damaged RQ43 frame."), (nullptr), ret);
            gst_video_decoder_drop_frame(dec, frame);
            return ret;
        case DecodeResult::WaitingKey:
            GST_DEBUG_OBJECT(dec, "delta frame at %" GST_TIME_FORMAT " without a reference, dropped",
                             GST_TIME_ARGS(frame->pts));
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
    Rq43Dec* self = RQ43_DEC(dec);
    self->decoder->Close();
    self->width = self->height = 0;
    if (self->inputState) gst_video_codec_state_unref(self->inputState);
    self->inputState = nullptr;
    return TRUE;
}

void Rq43DecFinalize(GObject* object) {
    Rq43Dec* self = RQ43_DEC(object);
    delete self->decoder;
    if (self->inputState) gst_video_codec_state_unref(self->inputState);
    G_OBJECT_CLASS(rq43_dec_parent_class)->finalize(object);
}

void rq43_dec_init(Rq43Dec* self) {
    self->decoder = new StreamDecoder();
    self->width = self->height = self->rateN = 0;
    self->rateD = 1;
    self->inputState = nullptr;
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
    decoderClass->negotiate = Rq43DecNegotiate;
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
