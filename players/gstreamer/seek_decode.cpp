// rq43_gst_seek FILE.avi FRAME OUT.yuv: plays FILE through decodebin from an accurate seek to FRAME and
// writes every picture from there on to OUT.yuv as I420.
#include <gst/gst.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool WaitFor(GstBus* bus, GstMessageType type) {
    for (;;) {
        GstMessage* message =
            gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND, GstMessageType(type | GST_MESSAGE_ERROR));
        if (message == nullptr) {
            std::fprintf(stderr, "rq43_gst_seek: timed out\n");
            return false;
        }
        bool error = GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR;
        if (error) {
            GError* e = nullptr;
            gst_message_parse_error(message, &e, nullptr);
            std::fprintf(stderr, "rq43_gst_seek: %s\n", e->message);
            g_error_free(e);
        }
        gst_message_unref(message);
        return !error;
    }
}

}  // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: rq43_gst_seek FILE.avi FRAME OUT.yuv\n");
        return 2;
    }
    const long frame = std::strtol(argv[2], nullptr, 10);
    std::string description = std::string("filesrc location=\"") + argv[1] +
                              "\" ! decodebin name=d d. ! videoconvert ! video/x-raw,format=I420 ! "
                              "filesink name=out location=\"" +
                              argv[3] + "\"";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (pipeline == nullptr) {
        std::fprintf(stderr, "rq43_gst_seek: %s\n", error->message);
        return 1;
    }
    GstBus* bus = gst_element_get_bus(pipeline);
    bool ok = gst_element_set_state(pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE &&
              WaitFor(bus, GST_MESSAGE_ASYNC_DONE);
    if (ok) {
        // The picture rate from the negotiated caps, so that FRAME lands on its own timestamp.
        GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        GstCaps* caps = gst_pad_get_current_caps(pad);
        gint n = 0, d = 1;
        ok =
            caps && gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &n, &d) && n > 0;
        if (caps) gst_caps_unref(caps);
        gst_object_unref(pad);
        gst_object_unref(sink);
        if (!ok) std::fprintf(stderr, "rq43_gst_seek: no frame rate negotiated\n");
        // Half a frame past the frame's start: clear of rounding either way.
        gint64 position = gst_util_uint64_scale(GST_SECOND, static_cast<guint64>(2 * frame + 1) * guint64(d),
                                                static_cast<guint64>(2 * n));
        ok = ok &&
             gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
                                     GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), position) &&
             WaitFor(bus, GST_MESSAGE_ASYNC_DONE) &&
             gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE &&
             WaitFor(bus, GST_MESSAGE_EOS);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(pipeline);
    return ok ? 0 : 1;
}
