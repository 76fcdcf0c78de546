// SPDX-License-Identifier: MIT
// The server output's second half: starting, stopping, where the server reads and where the
// listener is. Writing is in ServerOutput.cpp.
#include "media/ServerOutput.h"
#include "media/ServerOutputTuning.h"

#include <algorithm>
#include <cmath>
#include <pulse/introspect.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>

namespace media {

using namespace output;

void ServerOutput::play()
{
    LoopLock lock(loop_);
    cancelCork();
    if (playing_)
        return;
    playing_ = true;
    placed_ = false;
    if (stoppedAt_) {
        // A resume ramps up from the first sample the stop's ramp left out; nothing is heard
        // twice.
        rampUpFrom_ = *stoppedAt_;
        stoppedAt_.reset();
    }
    sendPending();
    signalLoop(loop_);
}

void ServerOutput::stop()
{
    LoopLock lock(loop_);
    stopLocked();
}

void ServerOutput::stopLocked()
{
    if (!playing_)
        return;
    playing_ = false;
    placed_ = false;
    if (!stream_ || runs_.empty()) {
        stoppedAt_ = sent_ = std::min(sent_, contentEnd_);
        return;
    }
    waitForTiming(true);
    // Corked, nothing reads: what is queued goes unheard and is simply silenced.
    std::int64_t from = reachableFrame();
    // A queue shorter than the lead (just after a start) still ends in a ramp, written right
    // after it, unless the server has already run through it.
    if (from > writeIndex_ && readFrame() <= writeIndex_)
        from = writeIndex_;
    std::int64_t leftOff = contentAt(from).value_or(sent_);
    std::int64_t rampFrames = 0;
    // A ramp may go on from the very end of a run: it continues that run's sound.
    const bool sounding = !corked_ && leftOff >= historyStart_
        && std::any_of(runs_.begin(), runs_.end(),
            [&](const Run& run) { return run.frame <= from && from <= run.frame + run.length; });
    if (sounding)
        rampFrames = std::min(rampFrames_, contentEnd_ - leftOff);
    // PipeWire plays a stream's last quantum only once it is whole (what is left short stays
    // queued and unheard until more comes), so the ramp is followed by a quantum of silence
    // at least, or its tail would be cut off.
    const std::int64_t length
        = std::max(writeIndex_ - from, rampFrames > 0 ? rampFrames + frames(kQuantumUs) : 0);
    if (length > 0)
        writeAt(from, shaped(leftOff, rampFrames, length, true));
    // The runs now end where the ramp does.
    std::erase_if(runs_, [&](const Run& run) { return run.frame >= from; });
    if (!runs_.empty() && runs_.back().frame + runs_.back().length > from)
        runs_.back().length = from - runs_.back().frame;
    if (rampFrames > 0)
        runs_.push_back({from, leftOff, rampFrames});
    leftOff += rampFrames;
    silentFrom_ = std::max(from + rampFrames, silentFrom_);
    stoppedAt_ = sent_ = leftOff;
    rampDownFrom_.reset();
    corkLater();
}

void ServerOutput::corkLater()
{
    cancelCork();
    if (corked_ || !stream_)
        return;
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    const pa_usec_t sink = timing ? timing->sink_usec : 0;
    const std::int64_t ahead = std::max<std::int64_t>(0, silentFrom_ - readFrame());
    const pa_usec_t delay = gst_util_uint64_scale(std::uint64_t(ahead), PA_USEC_PER_SEC, spec_.rate)
        + sink + kCorkAfterUs;
    corkTimer_
        = pa_context_rttime_new(link_->context(), pa_rtclock_now() + delay, &onCorkTime, this);
}

void ServerOutput::onCorkTime(
    pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data)
{
    auto* self = static_cast<ServerOutput*>(data);
    api->time_free(event);
    self->corkTimer_ = nullptr;
    if (self->playing_ || self->corked_ || !self->stream_)
        return;
    if (pa_operation* operation = pa_stream_cork(self->stream_, 1, nullptr, nullptr))
        pa_operation_unref(operation);
    self->corked_ = true;
}

void ServerOutput::cancelCork()
{
    if (!corkTimer_)
        return;
    pa_threaded_mainloop_get_api(loop_)->time_free(corkTimer_);
    corkTimer_ = nullptr;
}

void ServerOutput::restart()
{
    LoopLock lock(loop_);
    restartLocked();
}

void ServerOutput::restartLocked()
{
    stopLocked();
    history_.clear();
    historyStart_ = contentEnd_ = sent_ = 0;
    origin_.reset();
    rampUpFrom_.reset();
    rampDownFrom_.reset();
    floor_ = 0;
    stoppedAt_.reset();
    finishing_ = false;
    runs_.clear();
    placed_ = false;
}

void ServerOutput::interrupt()
{
    LoopLock lock(loop_);
    interrupted_ = true;
    signalLoop(loop_);
}

void ServerOutput::resume()
{
    LoopLock lock(loop_);
    interrupted_ = false;
}

// Why a waiting write() or finish() must return now, if it must.
std::optional<ServerOutput::Wrote> ServerOutput::heldUp() const
{
    if (!stream_ || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
        return Wrote::Failed;
    if (interrupted_)
        return Wrote::Interrupted;
    return std::nullopt;
}

// Asks the server where it reads and, for a write on PulseAudio, how much its sink takes at
// once (its configured latency, which the recording of its monitor or another stream can
// lower); the two questions go out together.
bool ServerOutput::waitForTiming(bool forWrite)
{
    if (!stream_)
        return false;
    struct Wait {
        ServerOutput* self;
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
    if (forWrite && !link_->pipeWire()) {
        sink = pa_context_get_sink_info_by_index(
            link_->context(), pa_stream_get_device_index(stream_),
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
    if (const std::int64_t us = heldUpUs_.load(); us > 0) {
        pa_threaded_mainloop_unlock(loop_);
        g_usleep(gulong(us));
        pa_threaded_mainloop_lock(loop_);
    }
    return wait.timed;
}

std::atomic<std::int64_t> ServerOutput::heldUpUs_ {0};

void ServerOutput::holdUpForTesting(std::chrono::microseconds time)
{
    heldUpUs_.store(time.count());
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
std::int64_t ServerOutput::reachableFrame() const
{
    const pa_timing_info* timing = stream_ ? pa_stream_get_timing_info(stream_) : nullptr;
    if (!timing || corked_)
        return readFrame();
    pa_usec_t lead = (timing->playing ? pa_timeval_age(&timing->timestamp) : 0) + kLeadUs;
    if (link_->pipeWire()) {
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
std::optional<ServerCycle::Estimate> ServerOutput::serverCycle(std::int64_t nowUs) const
{
    const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream_);
    if (!attr)
        return std::nullopt;
    return cycle_.estimate(nowUs, std::int64_t(pa_bytes_to_usec(attr->minreq, &spec_)));
}

// The frames of the blocks PipeWire may take after its report and before a write sent now
// arrives. Nothing moves its read point between two blocks, so a write that arrives before
// the next one still reaches the frame reported.
std::int64_t ServerOutput::blocksBeforeWrite(
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
std::optional<std::int64_t> ServerOutput::lastFrameHeardBy(std::int64_t end) const
{
    const pa_timing_info* timing = stream_ ? pa_stream_get_timing_info(stream_) : nullptr;
    if (!timing || timing->read_index_corrupt || readFrame() < end)
        return std::nullopt;
    return std::int64_t(pa_rtclock_now()) - std::int64_t(pa_timeval_age(&timing->timestamp))
        + std::int64_t(timing->sink_usec + timing->transport_usec);
}

std::optional<GstClockTime> ServerOutput::position()
{
    LoopLock lock(loop_);
    if (!origin_)
        return std::nullopt;
    std::int64_t content = 0;
    if (stoppedAt_)
        content = *stoppedAt_;
    else if (playing_)
        content = contentAt(heardFrame()).value_or(0);
    return timeOf(std::max(content, floor_));
}

} // namespace media
