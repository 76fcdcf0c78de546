// SPDX-License-Identifier: MIT
#include "media/Fade.h"

#include "media/GstHandles.h"

#include <cmath>
#include <gst/controller/gstdirectcontrolbinding.h>
#include <gst/controller/gstinterpolationcontrolsource.h>
#include <mutex>
#include <numbers>
#include <thread>

namespace media {

using namespace std::chrono_literals;

namespace {

// Points laid along each raised-cosine ramp; the control source joins them with straight
// lines, which stay within 0.1 % of the curve.
constexpr int kSteps = 24;

struct ControlSourceUnref {
    void operator()(GstControlSource* source) const { gst_object_unref(source); }
};
using ControlSourcePtr = std::unique_ptr<GstControlSource, ControlSourceUnref>;

// What an audio sink may hold ahead of the ear. A stop is heard only once the ramp laid after
// all of it has played, so this is what every pause and every bar click while playing waits:
// at pulsesink's own 200 ms a pause took 190 to 255 ms, at 50 ms 55 to 87 ms (measured).
constexpr gint64 kSinkBufferUs = 50000;

// Sets the buffer of `element` where it is an audio sink that has one.
void shortenBuffer(GstElement* element)
{
    if (GST_OBJECT_FLAG_IS_SET(element, GST_ELEMENT_FLAG_SINK)
        && g_object_class_find_property(G_OBJECT_GET_CLASS(element), "buffer-time"))
        g_object_set(element, "buffer-time", kSinkBufferUs, nullptr);
}

void onElementAdded(GstBin*, GstBin*, GstElement* element, gpointer)
{
    shortenBuffer(element);
}

} // namespace

struct Fade::Impl {
    static GstPadProbeReturn onData(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    bool make();
    void rampAt(GstClockTime at, bool rising);
    GstTimedValueControlSource* curve() const
    {
        return GST_TIMED_VALUE_CONTROL_SOURCE(source.get());
    }

    gst::ElementPtr volume;
    ControlSourcePtr source;

    // Written by the streaming thread as each buffer enters the element, read by stopSoon():
    // the lock makes "not yet processed" hold from the moment it is read until the ramp
    // is laid.
    std::mutex lock;
    GstSegment segment {};
    std::optional<GstClockTime> processedEnd; // stream time just past the last buffer taken
    GstClockTime riseEnd = 0; // where the last start reached full gain
    GstClockTime fallStart = GST_CLOCK_TIME_NONE; // where the end of the file begins to fade
};

GstPadProbeReturn Fade::Impl::onData(GstPad*, GstPadProbeInfo* info, gpointer self)
{
    auto* d = static_cast<Impl*>(self);
    const std::lock_guard guard(d->lock);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (!GST_BUFFER_PTS_IS_VALID(buffer))
            return GST_PAD_PROBE_OK;
        // Without a duration the whole of the next tenth of a second counts as taken, so
        // that the ramp never lands inside a buffer already on its way.
        const GstClockTime end = GST_BUFFER_PTS(buffer)
            + (GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer)
                                                    : 100 * GST_MSECOND);
        guint64 stream = 0;
        if (d->segment.format == GST_FORMAT_TIME
            && gst_segment_to_stream_time_full(&d->segment, GST_FORMAT_TIME, end, &stream) > 0)
            d->processedEnd = std::max(stream, d->processedEnd.value_or(0));
        return GST_PAD_PROBE_OK;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT)
        gst_event_copy_segment(event, &d->segment);
    else if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP)
        d->processedEnd.reset();
    return GST_PAD_PROBE_OK;
}

// One raised-cosine ramp over kLength from `at`, up or down.
void Fade::Impl::rampAt(GstClockTime at, bool rising)
{
    for (int i = 0; i <= kSteps; ++i) {
        const double gain = (1 - std::cos(std::numbers::pi * i / kSteps)) / 2;
        gst_timed_value_control_source_set(
            curve(), at + kLength * GstClockTime(i) / kSteps, rising ? gain : 1 - gain);
    }
}

Fade::Fade()
    : d(std::make_unique<Impl>())
{
    gst_segment_init(&d->segment, GST_FORMAT_UNDEFINED);
}

// Made with the pipeline rather than with us: GStreamer may not be initialised before that.
bool Fade::Impl::make()
{
    volume = gst::adoptElement(gst_element_factory_make("volume", "tandrel-fade"));
    source.reset(gst_interpolation_control_source_new());
    if (!volume || !source) {
        volume.reset();
        return false;
    }
    g_object_set(source.get(), "mode", GST_INTERPOLATION_MODE_LINEAR, nullptr);
    // Absolute: the curve's values are the gain itself, not a fraction of the 0..10 range.
    gst_object_add_control_binding(GST_OBJECT(volume.get()),
        gst_direct_control_binding_new_absolute(GST_OBJECT(volume.get()), "volume", source.get()));
    gst::PadPtr pad(gst_element_get_static_pad(volume.get(), "sink"));
    gst_pad_add_probe(pad.get(),
        GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM
            | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
        &Impl::onData, this, nullptr);
    return true;
}

// The element goes with its owner (playbin holds its own reference); the probe's data is
// ours, so the probe must not outlive us: the pipeline is stopped before we go.
Fade::~Fade() = default;

gst::ElementPtr Fade::before(gst::ElementPtr sink)
{
    if (d->volume || !d->make())
        return sink;
    gst::ElementPtr bin = gst::adoptElement(gst_bin_new("tandrel-audio-out"));
    gst_bin_add_many(GST_BIN(bin.get()), d->volume.get(), sink.get(), nullptr);
    gst::PadPtr input(gst_element_get_static_pad(d->volume.get(), "sink"));
    if (!gst_element_link(d->volume.get(), sink.get())
        || !gst_element_add_pad(bin.get(), gst_ghost_pad_new("sink", input.get()))) {
        // Taken apart again, so that the sink plays on its own.
        gst_bin_remove_many(GST_BIN(bin.get()), d->volume.get(), sink.get(), nullptr);
        d->volume.reset();
        return sink;
    }
    // The sinks inside now, and those an automatic sink picks when it starts.
    shortenBuffer(sink.get());
    if (GST_IS_BIN(sink.get())) {
        gst::IteratorPtr inside(gst_bin_iterate_recurse(GST_BIN(sink.get())));
        gst_iterator_foreach(
            inside.get(),
            [](const GValue* item, gpointer) {
                shortenBuffer(GST_ELEMENT(g_value_get_object(item)));
            },
            nullptr);
    }
    g_signal_connect(bin.get(), "deep-element-added", G_CALLBACK(onElementAdded), nullptr);
    return bin;
}

void Fade::startAt(GstClockTime from, GstClockTime end)
{
    if (!d->volume)
        return;
    const std::lock_guard guard(d->lock);
    gst_timed_value_control_source_unset_all(d->curve());
    d->processedEnd.reset();
    // Before its first point the curve gives nothing and the element falls back to full gain;
    // a point at the file's start keeps all of the file before `from` silent.
    gst_timed_value_control_source_set(d->curve(), 0, 0.0);
    d->rampAt(from, true);
    d->riseEnd = from + kLength;
    d->fallStart = GST_CLOCK_TIME_NONE;
    if (end >= d->riseEnd + kLength) {
        d->fallStart = end - kLength;
        d->rampAt(d->fallStart, false);
    }
}

std::optional<GstClockTime> Fade::stopSoon()
{
    if (!d->volume)
        return std::nullopt;
    const std::lock_guard guard(d->lock);
    if (!d->processedEnd)
        return std::nullopt;
    // Past the top of the rise, so that the rise already processed keeps its shape.
    const GstClockTime from = std::max(*d->processedEnd, d->riseEnd);
    // The end of the file is fading already, or will have before a new ramp could.
    if (GST_CLOCK_TIME_IS_VALID(d->fallStart) && from + kLength >= d->fallStart)
        return d->fallStart + kLength;
    if (GST_CLOCK_TIME_IS_VALID(d->fallStart)) {
        // Only points not yet reached go: the element may be reading the earlier ones.
        for (int i = 0; i <= kSteps; ++i)
            gst_timed_value_control_source_unset(
                d->curve(), d->fallStart + kLength * GstClockTime(i) / kSteps);
    }
    d->rampAt(from, false);
    d->fallStart = from;
    return from + kLength;
}

bool Fade::waitUntilHeard(GstElement* pipeline, GstClockTime at, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        gint64 position = -1;
        if (!gst_element_query_position(pipeline, GST_FORMAT_TIME, &position))
            return false;
        if (position >= 0 && GstClockTime(position) >= at + kHeardMargin)
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

} // namespace media
