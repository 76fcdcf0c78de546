// SPDX-License-Identifier: MIT
#pragma once

#include "media/ServerTiming.h"

#include <cstdint>
#include <gst/audio/audio.h>
#include <optional>
#include <pulse/stream.h>
#include <string>
#include <vector>

namespace media {

class SoundServerLink;

// The life of one playback stream on the sound server: made for a format, written into at
// any frame the server has not read, started, corked once nothing is to be heard, and closed.
// Its timing (ServerTiming) is what the server reports about it.
//
// Threads: every call is made with the link's loop locked (LoopLock), from a thread other
// than the loop's own. The callbacks run on the loop's thread, with the loop locked as the
// library holds it there: they keep the request times, cork on the cork timer, ask for a
// report on the report timer, and wake whoever waits on the loop.
class ServerStream {
public:
    // `link` outlives the stream.
    explicit ServerStream(SoundServerLink& link);
    ~ServerStream();
    ServerStream(const ServerStream&) = delete;
    ServerStream& operator=(const ServerStream&) = delete;

    // Makes the stream (corked), after closing any other; waits until the server has made
    // it. False, with `error` set, when the server refused it.
    bool open(const GstAudioInfo& info, std::string& error);
    void close();
    bool isOpen() const { return stream_ != nullptr; }
    // Made, and not failed since.
    bool good() const;
    bool sameFormat(const GstAudioInfo& info) const;

    // Writes `samples` (interleaved float frames) at server frame `frame`. False when the
    // library refused it; nothing is counted then, and `error` says why.
    bool write(std::int64_t frame, const std::vector<float>& samples, std::string& error);
    std::int64_t writeIndex() const { return writeIndex_; }
    // How many frames the server has room for past the write index; empty when it cannot say.
    std::optional<std::int64_t> writableFrames() const;

    bool corked() const { return corked_; }
    void uncork();
    // Corks it after `delay`, unless uncorked or corked again meanwhile.
    void corkAfter(pa_usec_t delay);
    void cancelCork();
    // Plays what is queued however short.
    void trigger();
    // Asks for a report of the stream's timing at pa_rtclock time `atUs`, and wakes the loop
    // when it comes; one such time is kept, the last asked for.
    void askTimingAt(std::int64_t atUs);

    ServerTiming& timing() { return timing_; }
    const ServerTiming& timing() const { return timing_; }

    // For tests: each write after the next `writes` is refused, as a server may refuse it.
    static void refuseWritesForTesting(int writes);

private:
    static void onRequest(pa_stream*, std::size_t bytes, void* self);
    static void onCorkTime(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void onAskTime(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);

    SoundServerLink& link_;
    pa_stream* stream_ = nullptr;
    pa_sample_spec spec_ {};
    std::int64_t writeIndex_ = 0; // where the server will put what is written next
    bool corked_ = true;
    pa_time_event* corkTimer_ = nullptr;
    pa_time_event* askTimer_ = nullptr;
    ServerTiming timing_;
};

} // namespace media
