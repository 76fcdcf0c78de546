// SPDX-License-Identifier: MIT
// The server output: the books, the stream and the server's timing brought together for
// every write, start, stop and end.
#include "media/ServerOutput.h"

#include "media/Log.h"
#include "media/ServerOutputTuning.h"

#include <algorithm>
#include <pulse/rtclock.h>

namespace media {

using namespace output;

ServerOutput::ServerOutput(std::shared_ptr<SoundServerLink> link)
    : link_(std::move(link))
    , loop_(link_->loop())
    , stream_(*link_)
{
    gst_audio_info_init(&info_);
}

ServerOutput::~ServerOutput()
{
    LoopLock lock(loop_);
    stream_.close();
}

void ServerOutput::holdUpForTesting(std::chrono::microseconds time)
{
    ServerTiming::delayReportsForTesting(time);
}

void ServerOutput::refuseWritesForTesting(int writes)
{
    ServerStream::refuseWritesForTesting(writes);
}

bool ServerOutput::setFormat(const GstAudioInfo& info, std::string& error)
{
    LoopLock lock(loop_);
    if (stream_.good() && stream_.sameFormat(info))
        return true;
    stream_.close();
    playing_ = false;
    info_ = info;
    haveFormat_ = true;
    const auto rate = GST_AUDIO_INFO_RATE(&info);
    timeline_.setFormat(GST_AUDIO_INFO_CHANNELS(&info), rate,
        std::int64_t(gst_util_uint64_scale_round(kRampNs, std::uint64_t(rate), GST_SECOND)));
    error_.clear();
    if (!stream_.open(info, error)) {
        error_ = error;
        return false;
    }
    return true;
}

bool ServerOutput::adopt(ServerOutput& old, std::string& error)
{
    {
        LoopLock lock(old.loop_);
        timeline_ = std::move(old.timeline_);
        old.timeline_ = OutputTimeline();
        info_ = old.info_;
        haveFormat_ = old.haveFormat_;
        interrupted_ = old.interrupted_;
        old.stream_.close();
        old.retired_ = true;
        signalLoop(old.loop_);
    }
    LoopLock lock(loop_);
    if (!haveFormat_)
        return true;
    if (!stream_.open(info_, error)) {
        error_ = error;
        return false;
    }
    timeline_.newStream();
    outputLog("relinked: a new stream on the new connection, going on from content %lld",
        (long long)timeline_.sent());
    return true;
}

// The stream went (a write refused, or killed by the server) while the connection stands:
// a new one on the same connection, going on with the books.
void ServerOutput::reopenIfLost()
{
    if (stream_.good() || !haveFormat_ || retired_)
        return;
    std::string error;
    if (!stream_.open(info_, error)) {
        error_ = error;
        return;
    }
    error_.clear();
    timeline_.newStream();
    outputLog("stream lost: made again, going on from content %lld", (long long)timeline_.sent());
}

std::string ServerOutput::error() const
{
    LoopLock lock(loop_);
    return error_;
}

// A write the server refused leaves its books out of step with the stream: the stream is
// closed, and the slot stops with the error.
bool ServerOutput::writeOut(const OutputTimeline::Write& write)
{
    std::string error;
    if (stream_.write(write.frame, write.samples, error))
        return true;
    error_ = error;
    stream_.close();
    return false;
}

bool ServerOutput::sendPending()
{
    if (!stream_.isOpen() || !playing_ || !timeline_.hasPending())
        return true;
    ServerTiming& timing = stream_.timing();
    if (!timeline_.placed()) {
        timing.update(true);
        timeline_.place(timing.reachableFrame(stream_.corked()));
    }
    // The server counts as room only what lies past its write index; what lies between the
    // next frame and that index is written over, and a write that moves the index back makes
    // more room at once, so this goes on until nothing more fits.
    while (const auto room = stream_.writableFrames()) {
        const auto write = timeline_.takeNext(*room, stream_.writeIndex());
        if (!write)
            break;
        if (!writeOut(*write))
            return false;
    }
    uncorkWhenReady();
    return true;
}

void ServerOutput::uncorkWhenReady()
{
    if (!stream_.corked() || !playing_ || !stream_.isOpen())
        return;
    const ServerTiming& timing = stream_.timing();
    // A PulseAudio sink that cannot rewind may take a whole block of the stream (its
    // configured latency) the moment it starts, and plays what it finds short as silence: a
    // gap early in the sound, which moved it by 11 to 880 samples (measured: 2 starts in 129,
    // with 1904 and 1040 frames queued for a 1920-frame block). A start waits for that much,
    // unless the server has no room for more or the end has come.
    const pa_usec_t start = std::max(kStartUs, link_->pipeWire() ? 0 : timing.sinkTakes());
    const std::int64_t queued = stream_.writeIndex() - timing.readFrame();
    if (!timeline_.finishing() && !timeline_.hasPending() && queued < timing.frames(start))
        return;
    stream_.uncork();
    outputLog("uncorked: %lld frames queued, start needs %lld%s", (long long)queued,
        (long long)timing.frames(start),
        timeline_.finishing() ? " (the end has come)"
                              : (timeline_.hasPending() ? " (the server has no room)" : ""));
}

// Why a waiting write() or finish() must return now, if it must.
std::optional<ServerOutput::Wrote> ServerOutput::mustReturn() const
{
    if (retired_)
        return Wrote::Interrupted;
    if (!stream_.good())
        return Wrote::Failed;
    if (interrupted_)
        return Wrote::Interrupted;
    return std::nullopt;
}

ServerOutput::Wrote ServerOutput::write(
    const float* data, std::int64_t count, GstClockTime streamTime)
{
    LoopLock lock(loop_);
    if (retired_)
        return Wrote::Retired;
    timeline_.append(data, count,
        GST_CLOCK_TIME_IS_VALID(streamTime) ? std::optional<std::uint64_t>(streamTime)
                                            : std::nullopt);
    for (;;) {
        if (const auto held = mustReturn())
            return *held;
        if (!sendPending())
            return Wrote::Failed;
        timeline_.trim(stream_.timing().readFrame());
        if (!timeline_.hasPending() && playing_)
            return Wrote::All;
        pa_threaded_mainloop_wait(loop_);
    }
}

// The end waits on the server's reports: once everything is written it asks for one, and
// again when the last frame is due by what the last one said (or sooner, when woken).
ServerOutput::Wrote ServerOutput::finish()
{
    LoopLock lock(loop_);
    if (retired_)
        return Wrote::Retired;
    ServerTiming& timing = stream_.timing();
    if (const auto rewrite = timeline_.finish(timing.reachableFrame(stream_.corked()));
        rewrite && stream_.good() && !writeOut(*rewrite))
        return Wrote::Failed;
    // When the last frame is heard at the latest, once the server has said it took it.
    std::optional<std::int64_t> heardByUs;
    bool asked = false;
    for (;;) {
        if (const auto held = mustReturn())
            return *held;
        if (!sendPending())
            return Wrote::Failed;
        if (!timeline_.hasPending() && playing_) {
            const auto end = timeline_.endFrame();
            if (!end)
                return Wrote::All;
            if (!asked) {
                stream_.trigger();
                timing.update();
                asked = true;
            }
            if (const auto by = timing.lastFrameHeardBy(*end))
                heardByUs = std::min(heardByUs.value_or(*by), *by);
            const auto now = std::int64_t(pa_rtclock_now());
            const std::int64_t heard = timing.heardFrame();
            if (heard >= *end || (heardByUs && now >= *heardByUs))
                return Wrote::All;
            const std::int64_t dueUs
                = heardByUs.value_or(now + std::int64_t(timing.usec(*end - heard)));
            const std::int64_t askUs = std::clamp(dueUs, now + kEndAskLeastUs, now + kEndAskMostUs);
            stream_.askTimingAt(askUs);
            outputLog("end: frame %lld, heard %lld, asking the server again in %lld us",
                (long long)*end, (long long)heard, (long long)(askUs - now));
        }
        pa_threaded_mainloop_wait(loop_);
    }
}

void ServerOutput::play()
{
    LoopLock lock(loop_);
    stream_.cancelCork();
    if (playing_)
        return;
    reopenIfLost();
    playing_ = true;
    timeline_.resume();
    outputLog("play: from content %lld", (long long)timeline_.sent());
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
    if (!stream_.good() || !timeline_.sentAny()) {
        timeline_.stop(std::nullopt);
        return;
    }
    ServerTiming& timing = stream_.timing();
    timing.update(true);
    // PipeWire plays a stream's last quantum only once it is whole (what is left short stays
    // queued and unheard until more comes), so the ramp is followed by a quantum of silence
    // at least, or its tail would be cut off (measured on PipeWire 0.3.65 and 1.4.2; reported
    // upstream as pipewire/pipewire#3365 on freedesktop.org's GitLab).
    const OutputTimeline::Server server {timing.reachableFrame(stream_.corked()),
        timing.readFrame(), stream_.writeIndex(), !stream_.corked(), timing.frames(kQuantumUs)};
    if (const auto write = timeline_.stop(server)) {
        outputLog("stop: ramp at frame %lld (read %lld, written to %lld), left off at content %lld",
            (long long)write->frame, (long long)server.read, (long long)server.writeIndex,
            (long long)timeline_.stoppedAt().value_or(0));
        if (!writeOut(*write))
            return;
    }
    corkLater();
}

// A stopped stream is corked once its ramp has been heard.
void ServerOutput::corkLater()
{
    stream_.cancelCork();
    if (stream_.corked() || !stream_.isOpen())
        return;
    const ServerTiming& timing = stream_.timing();
    const std::int64_t ahead = timeline_.silentFrom() - timing.readFrame();
    stream_.corkAfter(timing.usec(ahead) + timing.sinkLatency() + kCorkAfterUs);
}

void ServerOutput::restart()
{
    LoopLock lock(loop_);
    stopLocked();
    timeline_.restart();
    lastPosition_.reset();
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

// A stream that failed (its server went away, a write was refused) says nothing more of
// where it plays: the listener is where it last said, which a play after the failure starts
// from.
std::optional<GstClockTime> ServerOutput::position()
{
    LoopLock lock(loop_);
    if (stream_.good() || !timeline_.sentAny())
        lastPosition_ = timeline_.position(stream_.timing().heardFrame(), playing_);
    return lastPosition_;
}

} // namespace media
