// SPDX-License-Identifier: MIT
#pragma once

#include "media/ServerCycle.h"
#include "media/SoundServerLink.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <gst/audio/audio.h>
#include <memory>
#include <optional>
#include <pulse/stream.h>
#include <vector>

namespace media {

// The inside of the server sink (see ServerSink.h): one playback stream on the sound server,
// what was written into it, and where each piece of the sound lies in it.
//
// Sound is counted in frames of the stream's "content": the samples the sink was given since
// its last fresh start, numbered from 0. The server's stream is counted in its own frames
// from the stream's creation; a run says which content lies at which server frames.
//
// Every call takes the link's loop lock itself unless it says otherwise.
class ServerOutput {
public:
    explicit ServerOutput(std::shared_ptr<SoundServerLink> link);
    ~ServerOutput();
    ServerOutput(const ServerOutput&) = delete;
    ServerOutput& operator=(const ServerOutput&) = delete;

    // The format of what comes next; makes a new stream when it differs. False, with `error`
    // set, when the server refused it.
    bool setFormat(const GstAudioInfo& info, std::string& error);

    enum class Wrote { All, Interrupted, Failed };
    // Takes `frames` interleaved float frames whose first one stands at `streamTime` and
    // writes them as the server makes room. Returns Interrupted when interrupt() was called
    // meanwhile: what was not written yet is kept, and goes out after the next play().
    Wrote write(const float* data, std::int64_t frames, GstClockTime streamTime);

    // The end of the stream: ramps its last frames down and waits until they are heard.
    // Interrupted as write() is, and then to be called again after the next play().
    Wrote finish();

    // A blocked write() or finish() returns Interrupted at once; until resume(), they do
    // not wait.
    void interrupt();
    void resume();

    void play(); // sounds from where the last stop left off, ramping up
    void stop(); // ramps down a few ms past the read point; silent after that
    void restart(); // forgets the content: what comes next is a fresh start

    // Where the listener is, in the stream's time; empty before any content.
    std::optional<GstClockTime> position();

    // For tests: every output in the process is held up this long after each report of
    // where the server reads, before it acts on it, as a busy machine may hold it up.
    static void holdUpForTesting(std::chrono::microseconds time);

private:
    struct Run {
        std::int64_t frame;
        std::int64_t content;
        std::int64_t length;
    };

    void closeStream();
    void relinkIfLost();
    void stopLocked();
    void restartLocked();
    // Asks where the server reads; `forWrite` also asks how much a PulseAudio sink takes at
    // once, which placing a write needs (see reachableFrame).
    bool waitForTiming(bool forWrite = false);
    std::int64_t readFrame() const;
    std::int64_t reachableFrame() const;
    std::optional<ServerCycle::Estimate> serverCycle(std::int64_t nowUs) const;
    std::int64_t blocksBeforeWrite(
        const ServerCycle::Estimate& cycle, const pa_timing_info& timing, std::int64_t nowUs) const;
    std::int64_t heardFrame() const;
    std::optional<std::int64_t> lastFrameHeardBy(std::int64_t end) const;
    std::int64_t frames(pa_usec_t usec) const;
    void rewriteSentFrom(std::int64_t from);
    std::optional<std::int64_t> contentAt(std::int64_t frame) const;
    void place();
    std::int64_t sendable() const;
    void sendPending();
    void writeAt(std::int64_t frame, const std::vector<float>& samples);
    // `count` frames of content from `from`, at their gains (and ramping down over them when
    // `rampingDown`), followed by silence up to `length` frames.
    std::vector<float> shaped(std::int64_t from, std::int64_t count, std::int64_t length = 0,
        bool rampingDown = false) const;
    std::optional<Wrote> heldUp() const;
    void uncorkWhenReady();
    void corkLater();
    void cancelCork();
    void trim();
    GstClockTime timeOf(std::int64_t content) const;
    float gainOf(std::int64_t content) const;
    static void onRequest(pa_stream*, std::size_t bytes, void* self);
    static void onCorkTime(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);

    std::shared_ptr<SoundServerLink> link_;
    pa_threaded_mainloop* loop_;
    pa_stream* stream_ = nullptr;
    pa_sample_spec spec_ {};
    int channels_ = 0;
    std::int64_t rampFrames_ = 0;

    // The server's stream.
    std::int64_t writeIndex_ = 0; // where the server will put what is written next
    std::int64_t silentFrom_ = 0; // the first frame after the last stop's ramp
    std::int64_t nextFrame_ = 0; // where the next content goes, once placed
    bool corked_ = true;
    pa_time_event* corkTimer_ = nullptr;
    pa_usec_t sinkTakesUs_ = 0; // how much a PulseAudio sink takes of the stream at once
    ServerCycle cycle_; // when PipeWire takes its next block of the stream

    // The content.
    std::vector<float> history_; // from content historyStart_ to contentEnd_
    std::int64_t historyStart_ = 0;
    std::int64_t contentEnd_ = 0;
    std::int64_t sent_ = 0; // content before this is in the server's stream
    std::optional<GstClockTime> origin_; // stream time of content 0
    std::optional<std::int64_t> rampUpFrom_; // content where the current ramp up begins
    std::optional<std::int64_t> rampDownFrom_; // content where the end's ramp down begins
    std::int64_t floor_ = 0; // no position before this content is reported
    std::vector<Run> runs_;

    bool playing_ = false; // between play() and stop()
    bool placed_ = false; // where the next content goes in the server's stream is known
    bool interrupted_ = false;
    bool finishing_ = false; // the end has come: what is queued may start however short
    std::optional<std::int64_t> stoppedAt_; // the content a stop left off at

    static std::atomic<std::int64_t> heldUpUs_;
};

} // namespace media
