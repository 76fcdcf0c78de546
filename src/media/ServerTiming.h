// SPDX-License-Identifier: MIT
#pragma once

#include "media/ServerCycle.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <pulse/context.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

namespace media {

// What the sound server says of one stream's timing, and what follows from it: where the
// server reads, where the listener is, the first frame a write sent now still reaches, and
// when the last frame written is heard.
//
// Threads: every call is made with the link's loop locked, from a thread other than the
// loop's own; requested() is called from the stream's request callback, on the loop's
// thread. update() unlocks the loop while it waits for the server's answer.
class ServerTiming {
public:
    ServerTiming(pa_threaded_mainloop* loop, pa_context* context, bool pipeWire)
        : loop_(loop)
        , context_(context)
        , pipeWire_(pipeWire)
    {
    }

    // The stream asked about from now on; nullptr when it is closed.
    void attach(pa_stream* stream, const pa_sample_spec& spec);

    // Asks the server where it reads and, for a write on PulseAudio, how much its sink takes
    // at once; waits for the answer. False when the server gave none.
    bool update(bool forWrite = false);

    std::int64_t readFrame() const; // as last reported
    std::int64_t heardFrame() const; // the frame heard now, interpolated from the report
    std::int64_t reachableFrame(bool corked) const;
    // When frame `end` is heard at the latest, in pa_rtclock microseconds, once a report
    // says the server has read up to it; empty before.
    std::optional<std::int64_t> lastFrameHeardBy(std::int64_t end) const;
    pa_usec_t sinkLatency() const;
    pa_usec_t sinkTakes() const { return sinkTakesUs_; } // as last asked (update(true))
    std::int64_t frames(pa_usec_t usec) const;
    pa_usec_t usec(std::int64_t frames) const;

    // The server asked for more at `atUs` (the stream plays), or was just uncorked.
    void requested(std::int64_t atUs) { cycle_.requested(atUs); }
    void forgetCycle() { cycle_.forget(); }

    // For tests: every output in the process acts on each report of where the server reads
    // this long after it came, as on a busy machine.
    static void delayReportsForTesting(std::chrono::microseconds time);

private:
    std::optional<ServerCycle::Estimate> serverCycle(std::int64_t nowUs) const;
    std::int64_t blocksBeforeWrite(
        const ServerCycle::Estimate& cycle, const pa_timing_info& timing, std::int64_t nowUs) const;

    pa_threaded_mainloop* const loop_;
    pa_context* const context_;
    const bool pipeWire_;
    pa_stream* stream_ = nullptr;
    pa_sample_spec spec_ {};
    pa_usec_t sinkTakesUs_ = 0; // how much a PulseAudio sink takes of the stream at once
    ServerCycle cycle_; // when PipeWire takes its next block of the stream

    static std::atomic<std::int64_t> testDelayUs_;
};

} // namespace media
