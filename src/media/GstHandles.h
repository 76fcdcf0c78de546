// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <gst/gst.h>
#include <limits>
#include <memory>

// Owners for the GStreamer and GLib handles the media code holds, so that every reference
// is dropped exactly once on every path, early returns included.
namespace media::gst {

struct ObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
struct MessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
struct QueryUnref {
    void operator()(GstQuery* query) const { gst_query_unref(query); }
};
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct GFree {
    void operator()(gchar* text) const { g_free(text); }
};
// A pipeline must be stopped before its last reference goes, or its threads outlive it.
struct PipelineStop {
    void operator()(GstElement* pipeline) const
    {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
};
struct CapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
struct IteratorFree {
    void operator()(GstIterator* iterator) const { gst_iterator_free(iterator); }
};

using ElementPtr = std::unique_ptr<GstElement, ObjectUnref>;
using PipelinePtr = std::unique_ptr<GstElement, PipelineStop>;
using BusPtr = std::unique_ptr<GstBus, ObjectUnref>;
using PadPtr = std::unique_ptr<GstPad, ObjectUnref>;
using CapsPtr = std::unique_ptr<GstCaps, CapsUnref>;
using FeaturePtr = std::unique_ptr<GstPluginFeature, ObjectUnref>;
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;
using QueryPtr = std::unique_ptr<GstQuery, QueryUnref>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using GCharPtr = std::unique_ptr<gchar, GFree>;
using IteratorPtr = std::unique_ptr<GstIterator, IteratorFree>;

// A GValue that unsets itself, for the items an iterator hands out.
struct ScopedValue {
    ScopedValue() = default;
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;
    ~ScopedValue()
    {
        if (G_IS_VALUE(&value))
            g_value_unset(&value);
    }
    GValue value = G_VALUE_INIT;
};

// Takes ownership of a newly made element. Factories hand out floating references; sinking
// turns that into one we own, so handing the element to a bin later adds the bin's own
// reference instead of silently taking ours.
inline ElementPtr adoptElement(GstElement* element)
{
    return ElementPtr(element ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr);
}

inline PipelinePtr adoptPipeline(GstElement* pipeline)
{
    return PipelinePtr(pipeline ? GST_ELEMENT(gst_object_ref_sink(pipeline)) : nullptr);
}

// GStreamer's nanoseconds as whole milliseconds, rounded to the nearest, and within what the
// program's 32-bit milliseconds hold: a header may claim any length, and a length past
// 24.8 days must not wrap to a negative one.
inline int nsToMs(gint64 ns)
{
    constexpr gint64 kMaxNs = gint64(std::numeric_limits<int>::max()) * GST_MSECOND;
    return static_cast<int>((std::clamp<gint64>(ns, 0, kMaxNs) + GST_MSECOND / 2) / GST_MSECOND);
}

} // namespace media::gst
