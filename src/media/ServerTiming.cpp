// SPDX-License-Identifier: MIT
// The server's timing of one stream: its reports of where it reads, and the frames a write
// can still reach.
#include "media/ServerTiming.h"

#include "media/Log.h"
#include "media/ServerOutputTuning.h"

#include <cmath>
#include <gst/gst.h>
#include <pulse/introspect.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>

namespace media {

using namespace output;

std::atomic<std::int64_t> ServerTiming::testDelayUs_ {0};

void ServerTiming::delayReportsForTesting(std::chrono::microseconds time)
{
    testDelayUs_.store(time.count());
}

void ServerTiming::attach(pa_stream* stream, const pa_sample_spec& spec)
{
    stream_ = stream;
    spec_ = spec;
    cycle_.forget();
}

// The two questions go out together. How much a PulseAudio sink takes at once is its
// configured latency, which the recording of its monitor or another stream can lower.
bool ServerTiming::update(bool forWrite)
{
    if (!stream_)
        return false;
    struct Wait {
        ServerTiming* self;
        int pending = 0;
        bool timed = false;
    } wait {this};
    pa_operation* timing = pa_stream_update_timing_info(
        stream_,
        [](pa_stream*, int, void* data) {
            auto* w = static_cast<Wait*>(data);
            w->timed = true;
            --w->pending;
            signalLoop(w->self->loop_);
        },
        &wait);
    if (!timing)
        return false;
    ++wait.pending;
    pa_operation* sink = nullptr;
    if (forWrite && !pipeWire_) {
        sink = pa_context_get_sink_info_by_index(
            context_, pa_stream_get_device_index(stream_),
            [](pa_context*, const pa_sink_info* info, int last, void* data) {
                auto* w = static_cast<Wait*>(data);
                if (info)
                    w->self->sinkTakesUs_ = info->configured_latency;
                if (last) {
                    --w->pending;
                    signalLoop(w->self->loop_);
                }
            },
            &wait);
        if (sink)
            ++wait.pending;
    }
    const auto running = [](pa_operation* operation) {
        return operation && pa_operation_get_state(operation) == PA_OPERATION_RUNNING;
    };
    while (wait.pending > 0 && (running(timing) || running(sink)))
        pa_threaded_mainloop_wait(loop_);
    pa_operation_unref(timing);
    if (sink)
        pa_operation_unref(sink);
    if (const std::int64_t us = testDelayUs_.load(); us > 0) {
        pa_threaded_mainloop_unlock(loop_);
        g_usleep(gulong(us));
        pa_threaded_mainloop_lock(loop_);
    }
    if (outputLogOn()) {
        const pa_timing_info* info = pa_stream_get_timing_info(stream_);
        outputLog(
            "timing: read %lld, sink %llu us, transport %llu us, playing %d, sink takes %llu us",
            (long long)readFrame(), info ? (unsigned long long)info->sink_usec : 0ull,
            info ? (unsigned long long)info->transport_usec : 0ull, info ? info->playing : 0,
            (unsigned long long)sinkTakesUs_);
    }
    return wait.timed;
}

std::int64_t ServerTiming::readFrame() const
{
    const pa_timing_info* timing = stream_ ? pa_stream_get_timing_info(stream_) : nullptr;
    if (!timing || timing->read_index_corrupt)
        return 0;
    return timing->read_index / std::int64_t(pa_frame_size(&spec_));
}

std::int64_t ServerTiming::heardFrame() const
{
    pa_usec_t time = 0;
    if (!stream_ || pa_stream_get_time(stream_, &time) < 0)
        return 0;
    return frames(time);
}

std::int64_t ServerTiming::frames(pa_usec_t time) const
{
    return std::int64_t(gst_util_uint64_scale(time, spec_.rate, PA_USEC_PER_SEC));
}

pa_usec_t ServerTiming::usec(std::int64_t count) const
{
    return gst_util_uint64_scale(std::uint64_t(std::max<std::int64_t>(0, count)), PA_USEC_PER_SEC,
        std::max<std::uint32_t>(1, spec_.rate));
}

pa_usec_t ServerTiming::sinkLatency() const
{
    const pa_timing_info* timing = stream_ ? pa_stream_get_timing_info(stream_) : nullptr;
    return timing ? timing->sink_usec : 0;
}

// The first frame a write sent now still reaches before the server reads it: the read
// point as last reported, moved on by the time since the report when the stream is playing,
// and the write's own way to the server. The time since the report is counted in, so that a
// thread kept waiting between the report and the write does not write into the past.
//
// Servers take sound in blocks, and the next block may be taken before the write arrives;
// then the write must go past it too. PipeWire's graph takes a quantum at a time, whenever
// its clock says: when the server's requests tell when, the write goes past just the blocks
// taken before it arrives, and otherwise past one more block, as long as the time from one
// request to the next when they keep a beat, or a whole quantum. A PulseAudio sink that cannot
// rewind takes its configured latency at once, when what it took before has played out: the sink
// latency in the report says how soon. (One that can rewind gives back what a later write covers,
// and the block costs nothing but time.)
std::int64_t ServerTiming::reachableFrame(bool corked) const
{
    const pa_timing_info* timing = stream_ ? pa_stream_get_timing_info(stream_) : nullptr;
    if (!timing || corked)
        return readFrame();
    pa_usec_t lead = (timing->playing ? pa_timeval_age(&timing->timestamp) : 0) + kLeadUs;
    if (pipeWire_) {
        const auto now = std::int64_t(pa_rtclock_now());
        const auto cycle = serverCycle(now);
        if (cycle && cycle->everyBlock)
            return readFrame() + blocksBeforeWrite(*cycle, *timing, now);
        lead += cycle ? pa_usec_t(cycle->periodUs) : kQuantumUs;
    } else if (timing->sink_usec <= lead)
        lead += sinkTakesUs_;
    return readFrame() + frames(lead);
}

// PipeWire's cycle, as its requests tell it (see ServerCycle).
std::optional<ServerCycle::Estimate> ServerTiming::serverCycle(std::int64_t nowUs) const
{
    const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream_);
    if (!attr)
        return std::nullopt;
    return cycle_.estimate(nowUs, std::int64_t(pa_bytes_to_usec(attr->minreq, &spec_)));
}

// The frames of the blocks PipeWire may take after its report and before a write sent now
// arrives. Nothing moves its read point between two blocks, so a write that arrives before
// the next one still reaches the frame reported.
std::int64_t ServerTiming::blocksBeforeWrite(
    const ServerCycle::Estimate& cycle, const pa_timing_info& timing, std::int64_t nowUs) const
{
    const std::int64_t reported = nowUs - std::int64_t(pa_timeval_age(&timing.timestamp));
    const std::int64_t blocks
        = ServerCycle::blocksIn(cycle, reported - kUnreportedUs, nowUs + kCycleLeadUs);
    // A block's frames as the period gives them, with a little over for the period's error:
    // a write a frame or two further on only sounds that much later.
    const auto blockFrames
        = std::int64_t(std::ceil((cycle.periodUs + 100.0) * spec_.rate / PA_USEC_PER_SEC));
    return blocks * blockFrames;
}

// A report that the server has handed frame `end` to its sink says when that frame is heard
// at the latest: the sink's latency after the report. The stream's time says it too, while the
// stream plays; but once it has run dry the sink's latency is that of the silence the sink
// plays meanwhile, which the stream's time still subtracts from its last frame. PulseAudio
// 17's null sink (Debian 13) reports 0.6 to 39 ms of latency all along after a stream ran dry,
// so the time of a stream shorter than that (a play of a file's last 30 ms) stayed short of
// its end for good (measured: 3 runs of 3; the stream's time read 0 throughout). On PulseAudio
// 16 the time went on past the last frame, as its interpolation does.
std::optional<std::int64_t> ServerTiming::lastFrameHeardBy(std::int64_t end) const
{
    const pa_timing_info* timing = stream_ ? pa_stream_get_timing_info(stream_) : nullptr;
    if (!timing || timing->read_index_corrupt || readFrame() < end)
        return std::nullopt;
    return std::int64_t(pa_rtclock_now()) - std::int64_t(pa_timeval_age(&timing->timestamp))
        + std::int64_t(timing->sink_usec + timing->transport_usec);
}

} // namespace media
