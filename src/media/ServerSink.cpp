// SPDX-License-Identifier: MIT
// The server sink as a GStreamer element: the base sink's calls handed to its output.
//
// Threads: set_caps, render and wait_event come on the streaming thread; change_state,
// event (flushes), unlock and unlock_stop on the application thread; query on either.
// Each takes the current output under `guard`, and calls it with the guard let go.
#include "media/ServerSink.h"

#include "media/Log.h"
#include "media/ServerOutput.h"

#include <gst/audio/audio.h>
#include <gst/base/gstbasesink.h>
#include <mutex>

namespace {

using media::ServerOutput;
using OutputPtr = std::shared_ptr<ServerOutput>;

struct Outputs {
    std::mutex guard;
    OutputPtr current; // guarded; replaced when its connection to the server is gone
};

struct TandrelServerSink {
    GstBaseSink parent;
    Outputs* outputs;
    GstAudioInfo info; // streaming thread, and the application thread while it is paused
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

OutputPtr output(gpointer sink)
{
    Outputs* outputs = self(sink)->outputs;
    std::lock_guard lock(outputs->guard);
    return outputs->current;
}

// The output after `stale`, when `stale` is still the current one but its server went away
// (restarted, say) and another answers now: a new output on a new connection, which takes
// over `stale`'s books when `carryOn`, so that a resume goes on from the very sample the
// stop left off at. `stale` itself when no server answers.
OutputPtr relinked(gpointer sink, const OutputPtr& stale, bool carryOn)
{
    if (stale->linked())
        return stale;
    auto link = media::SoundServerLink::shared();
    if (!link)
        return stale;
    auto fresh = std::make_shared<ServerOutput>(std::move(link));
    Outputs* outputs = self(sink)->outputs;
    // Adopted before it is published, under the guard: a thread that asks for the output
    // meanwhile waits, and then finds the books where they went. No loop lock is ever held
    // while the guard is taken.
    std::string error;
    bool refused = false;
    {
        std::lock_guard lock(outputs->guard);
        if (outputs->current != stale)
            return outputs->current;
        refused = carryOn && !fresh->adopt(*stale, error);
        outputs->current = fresh;
    }
    if (refused)
        GST_ELEMENT_WARNING(GST_ELEMENT(sink), RESOURCE, OPEN_WRITE,
            ("The sound server refused to play: %s", error.c_str()), (nullptr));
    qCDebug(media::lcOutput, "relinked: the connection to the server was lost%s",
        carryOn ? ", the stop's place carried over" : "");
    return fresh;
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
    if (!relinked(sink, output(sink), false)->setFormat(s->info, error)) {
        GST_ELEMENT_ERROR(sink, RESOURCE, OPEN_WRITE,
            ("The sound server refused to play: %s", error.c_str()), (nullptr));
        return FALSE;
    }
    return TRUE;
}

GstFlowReturn failed(GstBaseSink* sink, const OutputPtr& out)
{
    const std::string error = out->error();
    if (error.empty())
        GST_ELEMENT_ERROR(
            sink, RESOURCE, WRITE, ("The sound server is no longer there."), (nullptr));
    else
        GST_ELEMENT_ERROR(sink, RESOURCE, WRITE,
            ("The sound server refused the sound: %s", error.c_str()), (nullptr));
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
    OutputPtr out = output(sink);
    auto wrote = out->write(
        reinterpret_cast<const float*>(map.data), std::int64_t(map.size) / frameBytes, at);
    if (wrote == ServerOutput::Wrote::Retired) {
        out = output(sink);
        wrote = out->write(
            reinterpret_cast<const float*>(map.data), std::int64_t(map.size) / frameBytes, at);
    }
    gst_buffer_unmap(clipped, &map);
    gst_buffer_unref(clipped);
    switch (wrote) {
    case ServerOutput::Wrote::All:
        return GST_FLOW_OK;
    case ServerOutput::Wrote::Interrupted:
    case ServerOutput::Wrote::Retired:
        // Paused or flushing: what is left goes out after the next play.
        return gst_base_sink_wait_preroll(sink);
    case ServerOutput::Wrote::Failed:
        break;
    }
    return failed(sink, out);
}

// The end is told once it has been heard, not once it has been handed over.
GstFlowReturn waitEvent(GstBaseSink* sink, GstEvent* event)
{
    GstFlowReturn ret = parentClass()->wait_event(sink, event);
    if (ret != GST_FLOW_OK || GST_EVENT_TYPE(event) != GST_EVENT_EOS)
        return ret;
    for (;;) {
        const OutputPtr out = output(sink);
        switch (out->finish()) {
        case ServerOutput::Wrote::All:
            return GST_FLOW_OK;
        case ServerOutput::Wrote::Retired:
            continue;
        case ServerOutput::Wrote::Interrupted:
            ret = gst_base_sink_wait_preroll(sink);
            if (ret != GST_FLOW_OK)
                return ret;
            continue;
        case ServerOutput::Wrote::Failed:
            return failed(sink, out);
        }
    }
}

gboolean event(GstBaseSink* sink, GstEvent* event)
{
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_FLUSH_START:
        output(sink)->stop();
        break;
    case GST_EVENT_FLUSH_STOP:
        output(sink)->restart();
        break;
    default:
        break;
    }
    return parentClass()->event(sink, event);
}

gboolean unlock(GstBaseSink* sink)
{
    output(sink)->interrupt();
    return TRUE;
}

gboolean unlockStop(GstBaseSink* sink)
{
    output(sink)->resume();
    return TRUE;
}

// Where the listener is, as the server says it has played. The pipeline asks the element
// and a peer asks its pad, so both are answered here.
bool answerPosition(gpointer sink, GstQuery* query)
{
    if (GST_QUERY_TYPE(query) != GST_QUERY_POSITION)
        return false;
    GstFormat format;
    gst_query_parse_position(query, &format, nullptr);
    if (format != GST_FORMAT_TIME)
        return false;
    const auto at = output(sink)->position();
    if (!at)
        return false;
    gst_query_set_position(query, GST_FORMAT_TIME, gint64(*at));
    return true;
}

gboolean query(GstBaseSink* sink, GstQuery* query)
{
    return answerPosition(sink, query) || parentClass()->query(sink, query);
}

gboolean elementQuery(GstElement* element, GstQuery* query)
{
    return answerPosition(element, query)
        || GST_ELEMENT_CLASS(tandrel_server_sink_parent_class)->query(element, query);
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition)
{
    switch (transition) {
    case GST_STATE_CHANGE_READY_TO_PAUSED:
        output(element)->restart();
        break;
    case GST_STATE_CHANGE_PAUSED_TO_PLAYING:
        // A server that went away while paused took the stream and what it held; the play
        // goes on from the stop's place on the server that answers now.
        relinked(element, output(element), true)->play();
        break;
    default:
        break;
    }
    const GstStateChangeReturn ret
        = GST_ELEMENT_CLASS(tandrel_server_sink_parent_class)->change_state(element, transition);
    switch (transition) {
    case GST_STATE_CHANGE_PLAYING_TO_PAUSED:
        output(element)->stop();
        break;
    case GST_STATE_CHANGE_PAUSED_TO_READY:
        output(element)->restart();
        break;
    default:
        break;
    }
    return ret;
}

void finalize(GObject* object)
{
    delete self(object)->outputs;
    G_OBJECT_CLASS(tandrel_server_sink_parent_class)->finalize(object);
}

void tandrel_server_sink_class_init(TandrelServerSinkClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = finalize;
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    element->change_state = changeState;
    element->query = elementQuery;
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
    sink->outputs = new Outputs;
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
    self(sink.get())->outputs->current = std::make_shared<ServerOutput>(std::move(link));
    return sink;
}

} // namespace media
