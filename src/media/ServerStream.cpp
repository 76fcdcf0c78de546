// SPDX-License-Identifier: MIT
// One playback stream on the sound server, from its making to its closing.
#include "media/ServerStream.h"

#include "media/Log.h"
#include "media/ServerOutputTuning.h"
#include "media/SoundServerLink.h"

#include <atomic>
#include <pulse/error.h>
#include <pulse/rtclock.h>
#include <utility>

namespace media {

using namespace output;

namespace {

std::atomic<int> refuseAfter {-1};

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

pa_sample_spec specOf(const GstAudioInfo& info)
{
    return {PA_SAMPLE_FLOAT32LE, std::uint32_t(GST_AUDIO_INFO_RATE(&info)),
        std::uint8_t(GST_AUDIO_INFO_CHANNELS(&info))};
}

void wake(pa_stream*, void* loop)
{
    signalLoop(static_cast<pa_threaded_mainloop*>(loop));
}

} // namespace

ServerStream::ServerStream(SoundServerLink& link)
    : link_(link)
    , timing_(link.loop(), link.context(), link.pipeWire())
{
}

ServerStream::~ServerStream()
{
    close();
}

void ServerStream::refuseWritesForTesting(int writes)
{
    refuseAfter.store(writes);
}

bool ServerStream::good() const
{
    return stream_ && PA_STREAM_IS_GOOD(pa_stream_get_state(stream_));
}

bool ServerStream::sameFormat(const GstAudioInfo& info) const
{
    const pa_sample_spec spec = specOf(info);
    return stream_ && pa_sample_spec_equal(&spec, &spec_);
}

bool ServerStream::open(const GstAudioInfo& info, std::string& error)
{
    close();
    spec_ = specOf(info);
    pa_channel_map map;
    pa_channel_map_init(&map);
    map.channels = spec_.channels;
    for (int i = 0; i < spec_.channels; ++i)
        map.map[i] = toPulse(GST_AUDIO_INFO_POSITION(&info, i), i);
    if (spec_.channels == 1)
        map.map[0] = PA_CHANNEL_POSITION_MONO;
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
    stream_ = pa_stream_new_with_proplist(link_.context(), "Playback", &spec_, &map, properties);
    pa_proplist_free(properties);
    if (!stream_) {
        error = pa_strerror(pa_context_errno(link_.context()));
        return false;
    }
    pa_stream_set_state_callback(stream_, wake, link_.loop());
    pa_stream_set_latency_update_callback(stream_, wake, link_.loop());
    pa_stream_set_write_callback(stream_, &onRequest, this);
    pa_stream_set_underflow_callback(
        stream_, [](pa_stream*, void*) { outputLog("underrun: the server ran out of sound"); },
        nullptr);
    pa_buffer_attr attr;
    attr.maxlength = std::uint32_t(-1);
    const bool pipeWire = link_.pipeWire();
    attr.tlength = std::uint32_t(pa_usec_to_bytes(pipeWire ? kPipeWireQueueUs : kQueueUs, &spec_));
    attr.prebuf = std::uint32_t(pa_usec_to_bytes(kPrebufUs, &spec_));
    attr.minreq
        = std::uint32_t(pa_usec_to_bytes(pipeWire ? kPipeWireRequestUs : kRequestUs, &spec_));
    attr.fragsize = std::uint32_t(-1);
    const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY
        | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        error = pa_strerror(pa_context_errno(link_.context()));
        close();
        return false;
    }
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        if (state == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(state)) {
            error = pa_strerror(pa_context_errno(link_.context()));
            close();
            return false;
        }
        pa_threaded_mainloop_wait(link_.loop());
    }
    writeIndex_ = 0;
    corked_ = true;
    timing_.attach(stream_, spec_);
    if (outputLogOn()) {
        const pa_buffer_attr* got = pa_stream_get_buffer_attr(stream_);
        outputLog("stream %u made: %u Hz, %u channels, queue %u bytes, request %u bytes, on %s",
            pa_stream_get_index(stream_), spec_.rate, unsigned(spec_.channels),
            got ? got->tlength : 0u, got ? got->minreq : 0u, pipeWire ? "PipeWire" : "PulseAudio");
    }
    return true;
}

void ServerStream::close()
{
    cancelCork();
    if (askTimer_) {
        pa_threaded_mainloop_get_api(link_.loop())->time_free(askTimer_);
        askTimer_ = nullptr;
    }
    if (!stream_)
        return;
    timing_.attach(nullptr, spec_);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

bool ServerStream::write(std::int64_t frame, const std::vector<float>& samples, std::string& error)
{
    const auto frameBytes = std::int64_t(pa_frame_size(&spec_));
    int result = -PA_ERR_BADSTATE;
    if (int left = refuseAfter.load(); left == 0)
        result = -PA_ERR_INVALID;
    else if (stream_) {
        if (left > 0)
            refuseAfter.compare_exchange_strong(left, left - 1);
        // Relative to where the server would write next, so that the server and the library
        // count what is queued alike; an absolute offset is counted as more data queued.
        result = pa_stream_write(stream_, samples.data(), samples.size() * sizeof(float), nullptr,
            (frame - writeIndex_) * frameBytes, PA_SEEK_RELATIVE);
    }
    if (result < 0) {
        // The library's checks return the error's code, negated.
        error = pa_strerror(-result);
        outputLog("write of %zu frames at %lld refused: %s", samples.size() / spec_.channels,
            (long long)frame, error.c_str());
        return false;
    }
    writeIndex_ = frame + std::int64_t(samples.size()) / spec_.channels;
    return true;
}

std::optional<std::int64_t> ServerStream::writableFrames() const
{
    const std::size_t writable = stream_ ? pa_stream_writable_size(stream_) : std::size_t(-1);
    if (writable == std::size_t(-1))
        return std::nullopt;
    return std::int64_t(writable / pa_frame_size(&spec_));
}

void ServerStream::uncork()
{
    if (!corked_ || !stream_)
        return;
    if (pa_operation* operation = pa_stream_cork(stream_, 0, nullptr, nullptr))
        pa_operation_unref(operation);
    corked_ = false;
    // The server answers an uncork with a request at once; its cycle is learnt afresh.
    timing_.forgetCycle();
}

void ServerStream::corkAfter(pa_usec_t delay)
{
    cancelCork();
    if (corked_ || !stream_)
        return;
    corkTimer_
        = pa_context_rttime_new(link_.context(), pa_rtclock_now() + delay, &onCorkTime, this);
}

void ServerStream::onCorkTime(
    pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data)
{
    auto* self = static_cast<ServerStream*>(data);
    api->time_free(event);
    self->corkTimer_ = nullptr;
    if (self->corked_ || !self->stream_)
        return;
    if (pa_operation* operation = pa_stream_cork(self->stream_, 1, nullptr, nullptr))
        pa_operation_unref(operation);
    self->corked_ = true;
    outputLog("corked: the stop's ramp has been heard");
}

void ServerStream::cancelCork()
{
    if (!corkTimer_)
        return;
    pa_threaded_mainloop_get_api(link_.loop())->time_free(corkTimer_);
    corkTimer_ = nullptr;
}

void ServerStream::trigger()
{
    if (stream_) {
        if (pa_operation* operation = pa_stream_trigger(stream_, nullptr, nullptr))
            pa_operation_unref(operation);
    }
}

void ServerStream::askTimingAt(std::int64_t atUs)
{
    if (!stream_)
        return;
    const auto at = pa_usec_t(std::max<std::int64_t>(atUs, 0));
    if (askTimer_)
        pa_context_rttime_restart(link_.context(), askTimer_, at);
    else
        askTimer_ = pa_context_rttime_new(link_.context(), at, &onAskTime, this);
}

// The report's answer calls the latency callback, which wakes the loop.
void ServerStream::onAskTime(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data)
{
    auto* self = static_cast<ServerStream*>(data);
    api->time_free(event);
    self->askTimer_ = nullptr;
    if (self->stream_) {
        outputLog("end: asked the server where it reads");
        if (pa_operation* operation = pa_stream_update_timing_info(self->stream_, nullptr, nullptr))
            pa_operation_unref(operation);
    }
}

// The server asks for more right after it takes a block; while the stream plays, the times
// of its requests keep its cycle.
void ServerStream::onRequest(pa_stream*, std::size_t, void* data)
{
    auto* self = static_cast<ServerStream*>(data);
    if (!self->corked_)
        self->timing_.requested(std::int64_t(pa_rtclock_now()));
    signalLoop(self->link_.loop());
}

} // namespace media
