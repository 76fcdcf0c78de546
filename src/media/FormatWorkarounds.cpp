// SPDX-License-Identifier: MIT
#include "media/FormatWorkarounds.h"

#include "media/GstHandles.h"

#include <cstring>
#include <gst/audio/audio.h>
#include <mutex>

namespace media {

namespace {

// GStreamer 1.22's WavPack type finder refuses blocks over 128 KiB, which current encoders
// write (ffmpeg at 96 kHz, 24-bit: 163 KB); fixed for 1.26, after
// https://gitlab.freedesktop.org/gstreamer/gstreamer/-/issues/3440. Its parser and decoder
// take such blocks; only the finding fails.
constexpr guint32 kBuiltInBlockLimit = 131072;
// A block this big is no WavPack block but bytes that happen to start with its mark.
constexpr guint32 kBlockLimit = 16u << 20;
constexpr guint16 kOldestStreamVersion = 0x402;
constexpr guint16 kNewestStreamVersion = 0x410;

void findBigWavPack(GstTypeFind* find, gpointer)
{
    const guint8* head = gst_type_find_peek(find, 0, 32);
    if (!head)
        return;
    const guint32 blockSize = GST_READ_UINT32_LE(head + 4);
    const guint8* next = nullptr;
    if (blockSize > kBuiltInBlockLimit && blockSize < kBlockLimit)
        next = gst_type_find_peek(find, 8 + gint64(blockSize), 4);
    if (const int probability = bigWavPackProbability(head, next)) {
        const gst::CapsPtr caps(gst_caps_from_string("audio/x-wavpack, framed=(boolean)false"));
        gst_type_find_suggest(find, guint(probability), caps.get());
    }
}

// How long a pull-mode reader's first buffer waits, at most, for decodebin to expose its pad;
// exposing takes well under a millisecond (measured), so this only bounds a pipeline that
// is being torn down meanwhile.
constexpr gulong kLinkWaitStepUs = 500;
constexpr int kLinkWaitSteps = 4000;

// Whether data pushed on `pad` reaches a pad that is not a bin's unlinked edge. Decodebin's
// pads are ghost pads: a push goes through a ghost's inner pad to the ghost and on to its peer.
bool reachesElement(GstPad* pad)
{
    gst::PadPtr at(GST_PAD(gst_object_ref(pad)));
    for (int depth = 0; depth < 16; ++depth) {
        gst::PadPtr peer(gst_pad_get_peer(at.get()));
        if (!peer)
            return false;
        if (!GST_IS_PROXY_PAD(peer.get()) || GST_IS_GHOST_PAD(peer.get()))
            return true;
        // The inner pad of a source ghost pad: go on from the ghost itself.
        gst::PadPtr ghost(GST_PAD(gst_proxy_pad_get_internal(GST_PROXY_PAD(peer.get()))));
        if (!ghost)
            return false;
        at = std::move(ghost);
    }
    return true;
}

GstPadProbeReturn waitForLink(GstPad* pad, GstPadProbeInfo*, gpointer)
{
    for (int step = 0; step < kLinkWaitSteps && !reachesElement(pad); ++step)
        g_usleep(kLinkWaitStepUs);
    return GST_PAD_PROBE_REMOVE;
}

// sfdec reads every file as 16-bit samples whenever downstream takes them, so a 24-bit
// Wave64 would lose its low 8 bits (gstsfdec.c fixates the format to S16 before anything
// else; its debug log says "fixated caps ... S16LE" for such a file). Answering its question
// with 32-bit formats only makes it read through libsndfile's int or float reader, which
// keep every bit of 16-, 24- and 32-bit files.
GstPadProbeReturn offerWideSamples(GstPad*, GstPadProbeInfo* info, gpointer)
{
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (!(GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_PULL) || !query
        || GST_QUERY_TYPE(query) != GST_QUERY_CAPS)
        return GST_PAD_PROBE_OK;
    GstCaps* answer = nullptr;
    gst_query_parse_caps_result(query, &answer);
    if (!answer)
        return GST_PAD_PROBE_OK;
    const gst::CapsPtr wide(gst_caps_from_string(
        "audio/x-raw, format=(string){ " GST_AUDIO_NE(S32) ", " GST_AUDIO_NE(F32) " }"));
    const gst::CapsPtr kept(gst_caps_intersect_full(answer, wide.get(), GST_CAPS_INTERSECT_FIRST));
    if (!gst_caps_is_empty(kept.get()))
        gst_query_set_caps_result(query, kept.get());
    return GST_PAD_PROBE_OK;
}

// sfdec's seeks (gstsfdec.c, gst_sf_dec_do_seek; 1.22, unchanged upstream since) fail
// twice: it refuses any seek that names an end, even "none", which every seek of playbin
// does, and when it does seek it announces a segment from 0 and goes on counting timestamps
// from where it stood, as it stores `sf_seek(...) == -1` as the new position and never resets
// its frame count. A seek to 1777 ms in a Wave64 read back 190 ms after 200 ms of play
// (measured). The seek goes to it without an end, its target noted on the way; the segment
// and the timestamps that follow are restated from the frame libsndfile really went to.
struct SfSeek {
    std::mutex lock;
    gint64 target = -1; // the last seek's target, until its segment has gone by
    GstClockTime next = GST_CLOCK_TIME_NONE; // the next buffer's timestamp, once restated
    gint rate = 0;
    gint frameBytes = 0;
};

// Returns the seek to pass on in place of `event`.
GstEvent* noteSeek(SfSeek& seek, GstEvent* event)
{
    gdouble rate = 1;
    GstFormat format = GST_FORMAT_UNDEFINED;
    GstSeekFlags flags = GST_SEEK_FLAG_NONE;
    GstSeekType startType = GST_SEEK_TYPE_NONE, stopType = GST_SEEK_TYPE_NONE;
    gint64 start = -1, stop = -1;
    gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
    if (format != GST_FORMAT_TIME || startType != GST_SEEK_TYPE_SET || start < 0)
        return event;
    seek.target = start;
    if (stopType == GST_SEEK_TYPE_NONE || GST_CLOCK_TIME_IS_VALID(stop))
        return event;
    GstEvent* open = gst_event_new_seek(
        rate, format, flags, startType, start, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
    gst_event_set_seqnum(open, gst_event_get_seqnum(event));
    // The probe's reference to the seek goes with it: the open one takes its place.
    gst_event_unref(event);
    return open;
}

// Returns the event to pass on in place of `event`.
GstEvent* restateEvent(SfSeek& seek, GstEvent* event)
{
    if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        GstAudioInfo audio;
        if (caps && gst_audio_info_from_caps(&audio, caps)) {
            seek.rate = GST_AUDIO_INFO_RATE(&audio);
            seek.frameBytes = GST_AUDIO_INFO_BPF(&audio);
        }
        return event;
    }
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT || seek.target < 0 || seek.rate <= 0)
        return event;
    // The frame sfdec went to, worked out as it does, and that frame's time.
    const guint64 frame = gst_util_uint64_scale_int(seek.target, seek.rate, GST_SECOND);
    const GstClockTime at = gst_util_uint64_scale_int(frame, GST_SECOND, seek.rate);
    const GstSegment* announced = nullptr;
    gst_event_parse_segment(event, &announced);
    GstSegment segment;
    gst_segment_copy_into(announced, &segment);
    segment.start = at;
    segment.time = at;
    segment.position = at;
    GstEvent* restated = gst_event_new_segment(&segment);
    gst_event_set_seqnum(restated, gst_event_get_seqnum(event));
    // The probe's reference to the segment goes with it: the restated one takes its place.
    gst_event_unref(event);
    seek.next = at;
    seek.target = -1;
    return restated;
}

// sfdec moves libsndfile's read position for a seek before it stops its own thread, which
// may be reading at that moment: the read then ends 1024 frames past the target, or elsewhere
// (measured: 1 seek in 5 in tst_gstengine_kinds read the wrong samples). So its thread is
// stopped first: a flush sends its push back, and its stream lock tells when its read is over.
void quietSfDecoder(GstPad* src, GstEvent* seek)
{
    GstFormat format = GST_FORMAT_UNDEFINED;
    GstSeekFlags flags = GST_SEEK_FLAG_NONE;
    GstSeekType startType = GST_SEEK_TYPE_NONE;
    gst_event_parse_seek(seek, nullptr, &format, &flags, &startType, nullptr, nullptr, nullptr);
    if (format != GST_FORMAT_TIME || startType != GST_SEEK_TYPE_SET
        || !(flags & GST_SEEK_FLAG_FLUSH))
        return;
    gst::ElementPtr decoder(gst_pad_get_parent_element(src));
    gst::PadPtr sink(decoder ? gst_element_get_static_pad(decoder.get(), "sink") : nullptr);
    if (!sink)
        return;
    gst_pad_push_event(src, gst_event_new_flush_start());
    GST_PAD_STREAM_LOCK(sink.get());
    GST_PAD_STREAM_UNLOCK(sink.get());
    gst_pad_push_event(src, gst_event_new_flush_stop(TRUE));
}

GstPadProbeReturn restateSfSeek(GstPad* pad, GstPadProbeInfo* info, gpointer data)
{
    auto& seek = *static_cast<SfSeek*>(data);
    const GstPadProbeType type = GST_PAD_PROBE_INFO_TYPE(info);
    if ((type & GST_PAD_PROBE_TYPE_EVENT_UPSTREAM)
        && GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_SEEK)
        quietSfDecoder(pad, GST_PAD_PROBE_INFO_EVENT(info));
    std::lock_guard<std::mutex> hold(seek.lock);
    if (type & GST_PAD_PROBE_TYPE_EVENT_UPSTREAM) {
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_SEEK)
            GST_PAD_PROBE_INFO_DATA(info) = noteSeek(seek, GST_PAD_PROBE_INFO_EVENT(info));
    } else if (type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GST_PAD_PROBE_INFO_DATA(info) = restateEvent(seek, GST_PAD_PROBE_INFO_EVENT(info));
    } else if ((type & GST_PAD_PROBE_TYPE_BUFFER) && GST_CLOCK_TIME_IS_VALID(seek.next)
        && seek.frameBytes > 0) {
        GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
        const guint64 frames = gst_buffer_get_size(buffer) / guint(seek.frameBytes);
        const GstClockTime end
            = seek.next + gst_util_uint64_scale_int(frames, GST_SECOND, seek.rate);
        GST_BUFFER_PTS(buffer) = seek.next;
        GST_BUFFER_DURATION(buffer) = end - seek.next;
        seek.next = end;
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    return GST_PAD_PROBE_OK;
}

// sfdec never lets go of a seek event it is given (gstsfdec.c, gst_sf_dec_src_event, since
// its seeking was written in 2013, and still upstream): every seek leaked the event that
// noteSeek made. GStreamer 1.22 took events from GLib's slices, where LeakSanitizer cannot see
// them; 1.24 and later allocate them with malloc. So sfdec's event function is wrapped: it
// gets a copy of each seek that only it and the wrapper hold, and the wrapper drops the
// reference sfdec kept once it has returned. An sfdec that lets go of its events leaves only
// the wrapper's.
constexpr char kSfEvents[] = "tandrel-sfdec-events";

struct SfEvents {
    GstPadEventFunction handle;
};

gboolean releaseSfSeek(GstPad* pad, GstObject* parent, GstEvent* event)
{
    const auto* events = static_cast<SfEvents*>(g_object_get_data(G_OBJECT(pad), kSfEvents));
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEEK)
        return events->handle(pad, parent, event);
    // Counted by hand rather than owned: what matters is how many references sfdec left.
    GstEvent* own = gst_event_copy(event);
    gst_event_unref(event);
    gst_event_ref(own);
    const gboolean done = events->handle(pad, parent, own);
    if (GST_MINI_OBJECT_REFCOUNT_VALUE(own) > 1)
        gst_event_unref(own);
    gst_event_unref(own);
    return done;
}

// A reader that fails before it knows the stream's format (a damaged header) ends its stream
// with EOS from its own thread, and decodebin's probe on that EOS takes a lock the pipeline's
// state change holds while it waits for that thread: the open hung in 6 of 20 runs
// (measured, Debian 13's GStreamer 1.26.2, an AIFF-C claiming no channels; 0 of 20 with
// this). Its error is on the bus already, and an EOS before any caps can end nothing that
// downstream has begun: it is dropped. A file of no samples still sends its caps first.
GstPadProbeReturn dropFormatlessEnd(GstPad*, GstPadProbeInfo* info, gpointer knowsFormat)
{
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (!event)
        return GST_PAD_PROBE_OK;
    if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS)
        *static_cast<bool*>(knowsFormat) = true;
    if (GST_EVENT_TYPE(event) == GST_EVENT_EOS && !*static_cast<bool*>(knowsFormat))
        return GST_PAD_PROBE_DROP;
    return GST_PAD_PROBE_OK;
}

// The thread that added a reader, which is decodebin's own: it reads the file's start itself
// while plugging, and must not wait for its own plugging to end.
constexpr char kPluggedBy[] = "tandrel-plugged-by";

// Decodebin keeps an element's state locked while it plugs it, and drops the element's errors
// until it unlocks it, so the reader's own thread waits for that before its first read.
GstPadProbeReturn waitForPlugging(GstPad* pad, GstPadProbeInfo*, gpointer)
{
    gst::ElementPtr element(gst_pad_get_parent_element(pad));
    if (!element)
        return GST_PAD_PROBE_REMOVE;
    if (g_object_get_data(G_OBJECT(element.get()), kPluggedBy) == g_thread_self())
        return GST_PAD_PROBE_OK;
    for (int step = 0; step < kLinkWaitSteps && gst_element_is_locked_state(element.get()); ++step)
        g_usleep(kLinkWaitStepUs);
    return GST_PAD_PROBE_REMOVE;
}

// aiffparse (AIFF, AIFF-C) and sfdec (Wave64 and others through libsndfile) read in pull
// mode: their thread starts when decodebin sets them to PAUSED, before decodebin has
// exposed their source pad. When the first buffer wins that race its push fails as not
// linked, the reader ends the stream and the preroll never completes: 2 to 14 opens of 20
// in a row hung until the timeout (measured, GStreamer 1.22 playbin, 24-bit AIFF and W64).
// Holding that first buffer until the pad leads somewhere removes the race: 0 hangs in 200.
// Their thread's first read waits too, until decodebin has plugged them: a damaged file's
// error otherwise falls in decodebin's window between starting them and listening to their
// errors, and the open hung in 2 of 10 (measured, an AIFF-C claiming no channels).
void onElementAdded(GstBin*, GstBin*, GstElement* element, gpointer)
{
    GstElementFactory* factory = gst_element_get_factory(element);
    const char* name = factory ? GST_OBJECT_NAME(factory) : nullptr;
    if (g_strcmp0(name, "aiffparse") != 0 && g_strcmp0(name, "sfdec") != 0)
        return;
    gst::PadPtr src(gst_element_get_static_pad(element, "src"));
    if (src) {
        gst_pad_add_probe(src.get(), GST_PAD_PROBE_TYPE_BUFFER, waitForLink, nullptr, nullptr);
        gst_pad_add_probe(src.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, dropFormatlessEnd,
            new bool(false), [](gpointer knows) { delete static_cast<bool*>(knows); });
    }
    if (src && g_strcmp0(name, "sfdec") == 0) {
        gst_pad_add_probe(
            src.get(), GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, offerWideSamples, nullptr, nullptr);
        gst_pad_add_probe(src.get(),
            GstPadProbeType(GST_PAD_PROBE_TYPE_EVENT_BOTH | GST_PAD_PROBE_TYPE_BUFFER),
            restateSfSeek, new SfSeek, [](gpointer seek) { delete static_cast<SfSeek*>(seek); });
        if (GstPadEventFunction handle = GST_PAD_EVENTFUNC(src.get())) {
            g_object_set_data_full(G_OBJECT(src.get()), kSfEvents, new SfEvents {handle},
                [](gpointer events) { delete static_cast<SfEvents*>(events); });
            gst_pad_set_event_function(src.get(), releaseSfSeek);
        }
    }
    g_object_set_data(G_OBJECT(element), kPluggedBy, g_thread_self());
    gst::PadPtr sink(gst_element_get_static_pad(element, "sink"));
    if (sink)
        gst_pad_add_probe(sink.get(), GST_PAD_PROBE_TYPE_PULL, waitForPlugging, nullptr, nullptr);
}

} // namespace

int bigWavPackProbability(const guint8* head, const guint8* next)
{
    if (std::memcmp(head, "wvpk", 4) != 0)
        return 0;
    const guint32 blockSize = GST_READ_UINT32_LE(head + 4);
    const guint16 version = GST_READ_UINT16_LE(head + 8);
    if (blockSize <= kBuiltInBlockLimit || blockSize >= kBlockLimit
        || version < kOldestStreamVersion || version > kNewestStreamVersion)
        return 0;
    // A second block right where the first says it ends is as sure as GStreamer's own finder
    // gets; a file of one block is only possible.
    return next && std::memcmp(next, "wvpk", 4) == 0 ? GST_TYPE_FIND_LIKELY
                                                     : GST_TYPE_FIND_POSSIBLE;
}

void installFormatWorkarounds()
{
    static std::once_flag once;
    std::call_once(once, [] {
        gst_type_find_register(nullptr, "tandrel-wavpack-big-blocks", GST_RANK_SECONDARY,
            findBigWavPack, "wv", nullptr, nullptr, nullptr);
    });
}

void mendPullModeReaders(GstElement* playbin)
{
    g_signal_connect(playbin, "deep-element-added", G_CALLBACK(onElementAdded), nullptr);
}

} // namespace media
