// SPDX-License-Identifier: MIT
#pragma once

#include "media/OutputTimeline.h"
#include "media/ServerStream.h"
#include "media/SoundServerLink.h"

#include <chrono>
#include <cstdint>
#include <gst/audio/audio.h>
#include <memory>
#include <optional>
#include <string>

namespace media {

// The inside of the server sink (see ServerSink.h): one output on one connection to the sound
// server. It keeps the books of what was written where (OutputTimeline), writes through a
// stream on the server (ServerStream) and acts on the server's timing (ServerTiming).
//
// Threads and locks
// -----------------
// Three threads meet here:
// - the streaming thread (GStreamer's, through the sink): setFormat, write, finish;
// - the application thread (state changes, seeks and queries): play, stop, restart,
//   interrupt, resume, position; also adopt, on an output no other thread has yet;
// - the link's loop thread (libpulse's threaded mainloop): the stream's callbacks and timers,
//   which only keep the request times, cork, ask for reports and wake the loop.
// Every public call takes the link's loop lock for its whole run; write and finish wait on it
// (pa_threaded_mainloop_wait), which lets it go meanwhile, and the loop thread's signals,
// interrupt() and play() wake them. Nothing here calls back into GStreamer.
//
// The link, and so the loop and its lock, is fixed for an output's life. When the server went
// away and came back, the sink makes a new output on a new link and lets it adopt this one's
// books; this one is then retired, and a write or finish still inside it returns at once.
class ServerOutput {
public:
    explicit ServerOutput(std::shared_ptr<SoundServerLink> link);
    ~ServerOutput();
    ServerOutput(const ServerOutput&) = delete;
    ServerOutput& operator=(const ServerOutput&) = delete;

    // Whether the connection to the server still stands.
    bool linked() const { return link_->connected(); }

    // The format of what comes next; makes a new stream when it differs or the last one
    // failed. False, with `error` set, when the server refused it.
    bool setFormat(const GstAudioInfo& info, std::string& error);

    // Takes over `old`'s books and format, on a stream of its own, as `old`'s server went
    // away: what `old` stopped at goes out here after the next play(). `old` is retired.
    // False, with `error` set, when the server refused the stream.
    bool adopt(ServerOutput& old, std::string& error);

    enum class Wrote {
        All,
        Interrupted, // interrupt() was called: what was not written goes out after play()
        Failed, // the stream failed or the server refused a write: error() says why
        Retired, // a new output adopted this one before the call: make it there
    };
    // Takes `frames` interleaved float frames whose first one stands at `streamTime` and
    // writes them as the server makes room.
    Wrote write(const float* data, std::int64_t frames, GstClockTime streamTime);
    // The end of the stream: ramps its last frames down and waits until they are heard, by
    // the server's own reports. Interrupted as write() is, and then to be called again after
    // the next play().
    Wrote finish();
    std::string error() const;

    // A blocked write() or finish() returns Interrupted at once; until resume(), they do not
    // wait.
    void interrupt();
    void resume();

    void play(); // sounds from where the last stop left off, ramping up
    void stop(); // ramps down a few ms past the read point; silent after that
    void restart(); // forgets the content: what comes next is a fresh start

    // Where the listener is, in the stream's time; empty before any content.
    std::optional<GstClockTime> position();

    // For tests: each report of where the server reads is acted on this long after it came,
    // as on a busy machine (ServerTiming); each write after the next `writes` is refused
    // (ServerStream).
    static void holdUpForTesting(std::chrono::microseconds time);
    static void refuseWritesForTesting(int writes);

private:
    void stopLocked();
    bool sendPending();
    bool writeOut(const OutputTimeline::Write& write);
    std::optional<Wrote> mustReturn() const;
    void uncorkWhenReady();
    void corkLater();
    void reopenIfLost();

    // Immutable.
    const std::shared_ptr<SoundServerLink> link_;
    pa_threaded_mainloop* const loop_;

    // --- protected by the link's loop lock
    ServerStream stream_;
    OutputTimeline timeline_;
    GstAudioInfo info_ {};
    bool haveFormat_ = false;
    bool playing_ = false; // between play() and stop()
    bool interrupted_ = false; // between interrupt() and resume()
    bool retired_ = false; // adopted by a new output
    std::string error_; // why the stream failed
    std::optional<GstClockTime> lastPosition_; // the last the stream said, kept once it failed
};

} // namespace media
