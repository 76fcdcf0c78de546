// SPDX-License-Identifier: MIT
#include "media/ServerOutput.h"

#include "media/ServerOutputTuning.h"
#include "media/ServerSink.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <pulse/error.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>
#include <utility>

namespace media {

using namespace output;

namespace {

pa_channel_position_t toPulse(GstAudioChannelPosition position, int index)
{
    static constexpr std::pair<GstAudioChannelPosition, pa_channel_position_t> kNames[] = {
        {GST_AUDIO_CHANNEL_POSITION_MONO, PA_CHANNEL_POSITION_MONO},
        {GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_LEFT},
        {GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT, PA_CHANNEL_POSITION_FRONT_RIGHT},
        {GST_AUDIO_CHANNEL_POSITION_FRONT_CENTER, PA_CHANNEL_POSITION_FRONT_CENTER},
        {GST_AUDIO_CHANNEL_POSITION_LFE1, PA_CHANNEL_POSITION_LFE},
        {GST_AUDIO_CHANNEL_POSITION_REAR_LEFT, PA_CHANNEL_POSITION_REAR_LEFT},
        {GST_AUDIO_CHANNEL_POSITION_REAR_RIGHT, PA_CHANNEL_POSITION_REAR_RIGHT},
        {GST_AUDIO_CHANNEL_POSITION_REAR_CENTER, PA_CHANNEL_POSITION_REAR_CENTER},
        {GST_AUDIO_CHANNEL_POSITION_SIDE_LEFT, PA_CHANNEL_POSITION_SIDE_LEFT},
        {GST_AUDIO_CHANNEL_POSITION_SIDE_RIGHT, PA_CHANNEL_POSITION_SIDE_RIGHT},
        {GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER, PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER},
        {GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER,
            PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER},
    };
    for (const auto& [gst, pulse] : kNames) {
        if (gst == position)
            return pulse;
    }
    return pa_channel_position_t(PA_CHANNEL_POSITION_AUX0 + index % 32);
}

} // namespace

ServerOutput::ServerOutput(std::shared_ptr<SoundServerLink> link)
    : link_(std::move(link))
    , loop_(link_->loop())
{
}

ServerOutput::~ServerOutput()
{
    LoopLock lock(loop_);
    cancelCork();
    closeStream();
}

void ServerOutput::closeStream()
{
    if (!stream_)
        return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

// A server that went away (restarted, say) leaves the link failed for good; the next
// format asked for is made on a new one, as soon as a server answers again.
void ServerOutput::relinkIfLost()
{
    if (link_->connected())
        return;
    std::shared_ptr<SoundServerLink> fresh = SoundServerLink::shared();
    if (!fresh)
        return;
    {
        LoopLock lock(loop_);
        cancelCork();
        closeStream();
    }
    link_ = std::move(fresh);
    loop_ = link_->loop();
}

bool ServerOutput::setFormat(const GstAudioInfo& info, std::string& error)
{
    relinkIfLost();
    LoopLock lock(loop_);
    const pa_sample_spec spec {PA_SAMPLE_FLOAT32LE, std::uint32_t(GST_AUDIO_INFO_RATE(&info)),
        std::uint8_t(GST_AUDIO_INFO_CHANNELS(&info))};
    if (stream_ && pa_sample_spec_equal(&spec, &spec_)
        && PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
        return true;
    closeStream();
    restartLocked();
    spec_ = spec;
    channels_ = spec.channels;
    rampFrames_ = std::max<std::int64_t>(
        1, std::int64_t(gst_util_uint64_scale_round(kRampLength, spec.rate, GST_SECOND)));
    pa_channel_map map;
    pa_channel_map_init(&map);
    map.channels = spec.channels;
    for (int i = 0; i < channels_; ++i)
        map.map[i] = toPulse(GST_AUDIO_INFO_POSITION(&info, i), i);
    if (channels_ == 1)
        map.map[0] = PA_CHANNEL_POSITION_MONO;
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
    stream_ = pa_stream_new_with_proplist(link_->context(), "Playback", &spec_, &map, properties);
    pa_proplist_free(properties);
    if (!stream_) {
        error = pa_strerror(pa_context_errno(link_->context()));
        return false;
    }
    const auto wake
        = [](pa_stream*, void* loop) { signalLoop(static_cast<pa_threaded_mainloop*>(loop)); };
    pa_stream_set_state_callback(stream_, wake, loop_);
    pa_stream_set_write_callback(stream_, &onRequest, this);
    pa_buffer_attr attr;
    attr.maxlength = std::uint32_t(-1);
    const bool pipeWire = link_->pipeWire();
    attr.tlength = std::uint32_t(pa_usec_to_bytes(pipeWire ? kPipeWireQueueUs : kQueueUs, &spec_));
    attr.prebuf = std::uint32_t(pa_usec_to_bytes(kPrebufUs, &spec_));
    attr.minreq
        = std::uint32_t(pa_usec_to_bytes(pipeWire ? kPipeWireRequestUs : kRequestUs, &spec_));
    attr.fragsize = std::uint32_t(-1);
    const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY
        | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        error = pa_strerror(pa_context_errno(link_->context()));
        closeStream();
        return false;
    }
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        if (state == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(state)) {
            error = pa_strerror(pa_context_errno(link_->context()));
            closeStream();
            return false;
        }
        pa_threaded_mainloop_wait(loop_);
    }
    writeIndex_ = silentFrom_ = 0;
    corked_ = true;
    return true;
}

std::int64_t ServerOutput::readFrame() const
{
    const pa_timing_info* timing = stream_ ? pa_stream_get_timing_info(stream_) : nullptr;
    if (!timing || timing->read_index_corrupt)
        return 0;
    return timing->read_index / std::int64_t(pa_frame_size(&spec_));
}

std::int64_t ServerOutput::heardFrame() const
{
    pa_usec_t usec = 0;
    if (!stream_ || pa_stream_get_time(stream_, &usec) < 0)
        return 0;
    return std::int64_t(gst_util_uint64_scale(usec, spec_.rate, PA_USEC_PER_SEC));
}

std::int64_t ServerOutput::frames(pa_usec_t usec) const
{
    return std::int64_t(gst_util_uint64_scale(usec, spec_.rate, PA_USEC_PER_SEC));
}

// The content heard at `frame`, or the next to be heard when silence lies there.
std::optional<std::int64_t> ServerOutput::contentAt(std::int64_t frame) const
{
    for (auto run = runs_.rbegin(); run != runs_.rend(); ++run) {
        if (run->frame <= frame)
            return run->content + std::min(frame - run->frame, run->length);
    }
    if (runs_.empty())
        return std::nullopt;
    return runs_.front().content;
}

float ServerOutput::gainOf(std::int64_t content) const
{
    double gain = 1;
    if (rampUpFrom_ && content >= *rampUpFrom_ && content < *rampUpFrom_ + rampFrames_)
        gain *= rising(content - *rampUpFrom_, rampFrames_);
    if (rampDownFrom_ && content >= *rampDownFrom_)
        gain *= content - *rampDownFrom_ < rampFrames_
            ? rising(rampFrames_ - 1 - (content - *rampDownFrom_), rampFrames_)
            : 0;
    return float(gain);
}

GstClockTime ServerOutput::timeOf(std::int64_t content) const
{
    return origin_.value_or(0)
        + gst_util_uint64_scale(std::uint64_t(content), GST_SECOND, spec_.rate);
}

void ServerOutput::writeAt(std::int64_t frame, const std::vector<float>& samples)
{
    const auto frameBytes = std::int64_t(pa_frame_size(&spec_));
    // Relative to where the server would write next, so that the server and the library
    // count what is queued alike; an absolute offset is counted as more data queued.
    pa_stream_write(stream_, samples.data(), samples.size() * sizeof(float), nullptr,
        (frame - writeIndex_) * frameBytes, PA_SEEK_RELATIVE);
    writeIndex_ = frame + std::int64_t(samples.size()) / channels_;
}

// Where the next content goes: after the last stop's ramp, and never where the server may
// already be reading.
void ServerOutput::place()
{
    waitForTiming(true);
    nextFrame_ = std::max(silentFrom_, reachableFrame());
    placed_ = true;
}

// What may be sent so far. The last ramp's worth of content waits for what follows it or
// for the end, so that the end's ramp down is written before the server can have taken
// those frames. A sink that takes its configured latency at once (PulseAudio's null sink:
// 40 ms) may otherwise take the whole tail of a file before its ramp is written: a play of a
// file's last 30 ms then ended in a hard cut in one run of five (measured).
std::int64_t ServerOutput::sendable() const
{
    return finishing_ ? contentEnd_ : std::max(sent_, contentEnd_ - rampFrames_);
}

void ServerOutput::sendPending()
{
    const std::int64_t end = sendable();
    if (!stream_ || !playing_ || sent_ >= end)
        return;
    if (!placed_)
        place();
    // The server counts as room only what lies past its write index; what lies between the
    // next frame and that index is written over, and a write that moves the index back makes
    // more room at once, so this goes on until nothing more fits.
    while (sent_ < end) {
        const std::size_t writable = pa_stream_writable_size(stream_);
        if (writable == std::size_t(-1))
            break;
        const std::int64_t room = std::int64_t(writable / pa_frame_size(&spec_))
            + std::max<std::int64_t>(0, writeIndex_ - nextFrame_);
        const std::int64_t count = std::min(end - sent_, room);
        if (count <= 0)
            break;
        writeAt(nextFrame_, shaped(sent_, count));
        if (!runs_.empty() && runs_.back().frame + runs_.back().length == nextFrame_
            && runs_.back().content + runs_.back().length == sent_)
            runs_.back().length += count;
        else
            runs_.push_back({nextFrame_, sent_, count});
        nextFrame_ += count;
        sent_ += count;
    }
    uncorkWhenReady();
}

void ServerOutput::uncorkWhenReady()
{
    if (!corked_ || !playing_ || !stream_)
        return;
    // A PulseAudio sink that cannot rewind may take a whole block of the stream (its
    // configured latency) the moment it starts, and plays what it finds short as silence: a
    // gap early in the sound, which moved it by 11 to 880 samples (measured: 2 starts in 129,
    // with 1904 and 1040 frames queued for a 1920-frame block). A start waits for that much,
    // unless the server has no room for more or the end has come.
    const pa_usec_t start = std::max(kStartUs, link_->pipeWire() ? 0 : sinkTakesUs_);
    const bool full = sent_ < sendable();
    if (!finishing_ && !full && writeIndex_ - readFrame() < frames(start))
        return;
    pa_operation* operation = pa_stream_cork(stream_, 0, nullptr, nullptr);
    if (operation)
        pa_operation_unref(operation);
    corked_ = false;
    cycle_.forget();
}

// The server asks for more right after it takes a block; while the stream plays, the times
// of its requests keep its cycle.
void ServerOutput::onRequest(pa_stream*, std::size_t, void* data)
{
    auto* self = static_cast<ServerOutput*>(data);
    if (!self->corked_)
        self->cycle_.requested(std::int64_t(pa_rtclock_now()));
    signalLoop(self->loop_);
}

// What the server has taken no longer needs a copy, except what a stop may still ramp down.
void ServerOutput::trim()
{
    const std::int64_t keepFrom
        = std::min({sent_, contentAt(readFrame()).value_or(sent_), stoppedAt_.value_or(sent_)});
    if (keepFrom <= historyStart_)
        return;
    history_.erase(history_.begin(), history_.begin() + (keepFrom - historyStart_) * channels_);
    historyStart_ = keepFrom;
}

ServerOutput::Wrote ServerOutput::write(
    const float* data, std::int64_t count, GstClockTime streamTime)
{
    LoopLock lock(loop_);
    if (!origin_) {
        origin_ = GST_CLOCK_TIME_IS_VALID(streamTime) ? streamTime : 0;
        rampUpFrom_ = 0;
        floor_ = rampFrames_;
    }
    history_.insert(history_.end(), data, data + count * channels_);
    contentEnd_ += count;
    for (;;) {
        if (const auto held = heldUp())
            return *held;
        sendPending();
        trim();
        if (sent_ >= sendable() && playing_)
            return Wrote::All;
        pa_threaded_mainloop_wait(loop_);
    }
}

ServerOutput::Wrote ServerOutput::finish()
{
    LoopLock lock(loop_);
    finishing_ = true;
    if (!rampDownFrom_) {
        rampDownFrom_ = std::max<std::int64_t>(historyStart_, contentEnd_ - rampFrames_);
        rewriteSentFrom(*rampDownFrom_);
    }
    // When the last frame is heard at the latest, once the server has said it took it.
    std::optional<std::int64_t> heardByUs;
    for (;;) {
        if (const auto held = heldUp())
            return *held;
        sendPending();
        if (sent_ >= contentEnd_ && playing_) {
            if (pa_operation* operation = pa_stream_trigger(stream_, nullptr, nullptr))
                pa_operation_unref(operation);
            waitForTiming();
            if (runs_.empty())
                return Wrote::All;
            const std::int64_t end = runs_.back().frame + runs_.back().length;
            if (const auto by = lastFrameHeardBy(end))
                heardByUs = std::min(heardByUs.value_or(*by), *by);
            if (heardFrame() >= end || (heardByUs && std::int64_t(pa_rtclock_now()) >= *heardByUs))
                return Wrote::All;
        }
        pa_threaded_mainloop_unlock(loop_);
        g_usleep(5000);
        pa_threaded_mainloop_lock(loop_);
    }
}

// Writes again what was sent of the content from `from` on, with the gains as they now
// stand, where the server has not yet read it.
void ServerOutput::rewriteSentFrom(std::int64_t from)
{
    if (runs_.empty() || from >= sent_ || from < historyStart_)
        return;
    const Run& last = runs_.back();
    if (from < last.content)
        return;
    const std::int64_t frame = last.frame + (from - last.content);
    if (frame < reachableFrame())
        return;
    writeAt(frame, shaped(from, sent_ - from));
}

std::vector<float> ServerOutput::shaped(
    std::int64_t from, std::int64_t count, std::int64_t length, bool rampingDown) const
{
    std::vector<float> samples(std::size_t(std::max(count, length) * channels_));
    for (std::int64_t f = 0; f < count; ++f) {
        float gain = gainOf(from + f);
        if (rampingDown)
            gain *= float(rising(rampFrames_ - 1 - f, rampFrames_));
        const float* frame = history_.data() + (from + f - historyStart_) * channels_;
        for (int c = 0; c < channels_; ++c)
            samples[std::size_t(f * channels_ + c)] = frame[c] * gain;
    }
    return samples;
}

} // namespace media
