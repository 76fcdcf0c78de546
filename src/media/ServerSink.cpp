// SPDX-License-Identifier: MIT
// The server sink as a GStreamer element: the base sink's calls handed to ServerOutput.
#include "media/ServerSink.h"

#include "media/ServerOutput.h"

#include <gst/audio/audio.h>
#include <gst/base/gstbasesink.h>

namespace {

struct TandrelServerSink {
    GstBaseSink parent;
    media::ServerOutput* output;
    GstAudioInfo info;
};

struct TandrelServerSinkClass {
    GstBaseSinkClass parent_class;
};

GType tandrel_server_sink_get_type();
G_DEFINE_TYPE(TandrelServerSink, tandrel_server_sink, GST_TYPE_BASE_SINK)

TandrelServerSink* self(gpointer sink)
{
    return reinterpret_cast<TandrelServerSink*>(sink);
}

GstBaseSinkClass* parentClass()
{
    return GST_BASE_SINK_CLASS(tandrel_server_sink_parent_class);
}

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) F32LE, layout = (string) interleaved, "
                    "rate = (int) [ 1, 384000 ], channels = (int) [ 1, 32 ]"));

gboolean setCaps(GstBaseSink* sink, GstCaps* caps)
{
    TandrelServerSink* s = self(sink);
    if (!gst_audio_info_from_caps(&s->info, caps))
        return FALSE;
    std::string error;
    if (!s->output->setFormat(s->info, error)) {
        GST_ELEMENT_ERROR(sink, RESOURCE, OPEN_WRITE,
            ("The sound server refused to play: %s", error.c_str()), (nullptr));
        return FALSE;
    }
    return TRUE;
}

GstFlowReturn failed(GstBaseSink* sink)
{
    GST_ELEMENT_ERROR(sink, RESOURCE, WRITE, ("The sound server is no longer there."), (nullptr));
    return GST_FLOW_ERROR;
}

GstFlowReturn render(GstBaseSink* sink, GstBuffer* buffer)
{
    TandrelServerSink* s = self(sink);
    const int rate = GST_AUDIO_INFO_RATE(&s->info);
    const int frameBytes = GST_AUDIO_INFO_BPF(&s->info);
    if (rate <= 0 || frameBytes <= 0)
        return GST_FLOW_NOT_NEGOTIATED;
    // Only what lies inside the segment sounds: an accurate seek starts on its very sample.
    GstBuffer* clipped
        = gst_audio_buffer_clip(gst_buffer_ref(buffer), &sink->segment, rate, frameBytes);
    if (!clipped)
        return GST_FLOW_OK;
    GstMapInfo map;
    if (!gst_buffer_map(clipped, &map, GST_MAP_READ)) {
        gst_buffer_unref(clipped);
        return GST_FLOW_ERROR;
    }
    const GstClockTime at = GST_BUFFER_PTS_IS_VALID(clipped)
        ? gst_segment_to_stream_time(&sink->segment, GST_FORMAT_TIME, GST_BUFFER_PTS(clipped))
        : GST_CLOCK_TIME_NONE;
    const auto wrote = s->output->write(
        reinterpret_cast<const float*>(map.data), std::int64_t(map.size) / frameBytes, at);
    gst_buffer_unmap(clipped, &map);
    gst_buffer_unref(clipped);
    switch (wrote) {
    case media::ServerOutput::Wrote::All:
        return GST_FLOW_OK;
    case media::ServerOutput::Wrote::Interrupted:
        // Paused or flushing: what is left goes out after the next play.
        return gst_base_sink_wait_preroll(sink);
    case media::ServerOutput::Wrote::Failed:
        break;
    }
    return failed(sink);
}

// The end is told once it has been heard, not once it has been handed over.
GstFlowReturn waitEvent(GstBaseSink* sink, GstEvent* event)
{
    GstFlowReturn ret = parentClass()->wait_event(sink, event);
    if (ret != GST_FLOW_OK || GST_EVENT_TYPE(event) != GST_EVENT_EOS)
        return ret;
    for (;;) {
        switch (self(sink)->output->finish()) {
        case media::ServerOutput::Wrote::All:
            return GST_FLOW_OK;
        case media::ServerOutput::Wrote::Interrupted:
            ret = gst_base_sink_wait_preroll(sink);
            if (ret != GST_FLOW_OK)
                return ret;
            continue;
        case media::ServerOutput::Wrote::Failed:
            return failed(sink);
        }
    }
}

gboolean event(GstBaseSink* sink, GstEvent* event)
{
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_FLUSH_START:
        self(sink)->output->stop();
        break;
    case GST_EVENT_FLUSH_STOP:
        self(sink)->output->restart();
        break;
    default:
        break;
    }
    return parentClass()->event(sink, event);
}

gboolean unlock(GstBaseSink* sink)
{
    self(sink)->output->interrupt();
    return TRUE;
}

gboolean unlockStop(GstBaseSink* sink)
{
    self(sink)->output->resume();
    return TRUE;
}

gboolean query(GstBaseSink* sink, GstQuery* query)
{
    if (GST_QUERY_TYPE(query) == GST_QUERY_POSITION) {
        GstFormat format;
        gst_query_parse_position(query, &format, nullptr);
        if (format == GST_FORMAT_TIME) {
            if (const auto at = self(sink)->output->position()) {
                gst_query_set_position(query, GST_FORMAT_TIME, gint64(*at));
                return TRUE;
            }
        }
    }
    return parentClass()->query(sink, query);
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition)
{
    media::ServerOutput* output = self(element)->output;
    switch (transition) {
    case GST_STATE_CHANGE_READY_TO_PAUSED:
        output->restart();
        break;
    case GST_STATE_CHANGE_PAUSED_TO_PLAYING:
        output->play();
        break;
    default:
        break;
    }
    const GstStateChangeReturn ret
        = GST_ELEMENT_CLASS(tandrel_server_sink_parent_class)->change_state(element, transition);
    switch (transition) {
    case GST_STATE_CHANGE_PLAYING_TO_PAUSED:
        output->stop();
        break;
    case GST_STATE_CHANGE_PAUSED_TO_READY:
        output->restart();
        break;
    default:
        break;
    }
    return ret;
}

void finalize(GObject* object)
{
    delete self(object)->output;
    G_OBJECT_CLASS(tandrel_server_sink_parent_class)->finalize(object);
}

void tandrel_server_sink_class_init(TandrelServerSinkClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = finalize;
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    element->change_state = changeState;
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    gst_element_class_set_static_metadata(element, "Tandrel sound server output", "Sink/Audio",
        "Plays through the sound server with a ramp at every start and stop", "Tandrel");
    GstBaseSinkClass* base = GST_BASE_SINK_CLASS(klass);
    base->set_caps = setCaps;
    base->render = render;
    base->wait_event = waitEvent;
    base->event = event;
    base->unlock = unlock;
    base->unlock_stop = unlockStop;
    base->query = query;
}

void tandrel_server_sink_init(TandrelServerSink* sink)
{
    sink->output = nullptr;
    gst_audio_info_init(&sink->info);
    // The server keeps the time; the sink hands the sound over as fast as it is taken.
    gst_base_sink_set_sync(GST_BASE_SINK(sink), FALSE);
    gst_base_sink_set_last_sample_enabled(GST_BASE_SINK(sink), FALSE);
}

} // namespace

namespace media {

gst::ElementPtr makeServerSink(std::shared_ptr<SoundServerLink> link)
{
    if (!link)
        return nullptr;
    gst::ElementPtr sink = gst::adoptElement(GST_ELEMENT(
        g_object_new(tandrel_server_sink_get_type(), "name", "tandrel-output", nullptr)));
    self(sink.get())->output = new ServerOutput(std::move(link));
    return sink;
}

} // namespace media
