// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace media {

// The ramp at every start and stop, in nanoseconds.
inline constexpr std::uint64_t kRampNs = 3'000'000;

// The output's books, with no server and no GStreamer in them: the sound the sink was given
// (the "content"), where each piece of it was written in the server's stream, the ramps'
// gains, and what a stop, a resume, the end and a rewrite write. The server output
// (ServerOutput.h) asks the server where it reads and hands the answers in.
//
// Content is counted in frames from its last fresh start, numbered from 0. The server's
// stream is counted in its own frames from the stream's creation; a run says which content
// lies at which server frames. A copy of the content is kept from the oldest frame that a
// stop's ramp or the end's ramp may still have to write again.
//
// Not thread-safe: its owner guards it.
class OutputTimeline {
public:
    // What to write into the server's stream, and where.
    struct Write {
        std::int64_t frame = 0;
        std::vector<float> samples; // interleaved
    };
    struct Run {
        std::int64_t frame;
        std::int64_t content;
        std::int64_t length;
        bool operator==(const Run&) const = default;
    };
    // Where a stop finds the server: the first frame a write can still reach, the frame the
    // server reads, and where what it was last given ends.
    struct Server {
        std::int64_t reachable = 0;
        std::int64_t read = 0;
        std::int64_t writeIndex = 0;
        bool sounding = true; // false while corked: nothing queued is heard
        std::int64_t tailFrames = 0; // silence a stop's ramp is followed by
    };

    // A new format forgets everything, as restart() does.
    void setFormat(int channels, int rate, std::int64_t rampFrames);

    // Forgets the content: what comes next is a fresh start, ramping up over its first
    // ramp; no position before the ramp's end is reported.
    void restart();
    // A new server stream, its frames counted from 0 again, that nothing has been written to;
    // the content is kept, and what was not yet heard goes out on it.
    void newStream();

    // `frames` more frames, the first of them at `streamTimeNs` when that is the first.
    void append(const float* data, std::int64_t frames, std::optional<std::uint64_t> streamTimeNs);

    // The end has come: the last ramp's worth ramps down, and what is queued may go at once.
    // What was already sent of the ramp's frames is written again, when the server has not
    // reached it (its first frame at or past `reachable`).
    std::optional<Write> finish(std::int64_t reachable);
    bool finishing() const { return finishing_; }

    // Whether content waits to be sent. The last ramp's worth waits for what follows it or for
    // the end, so that the end's ramp down is written before the server can have taken it.
    bool hasPending() const { return sent_ < sendable(); }
    bool placed() const { return placed_; }
    // Where the next content goes: after the last stop's ramp, and never before `reachable`.
    void place(std::int64_t reachable);
    // The next piece to send, at most the room the server has past `writeIndex` and what lies
    // between the next frame and that index (written over); nothing when nothing fits.
    std::optional<Write> takeNext(std::int64_t roomFrames, std::int64_t writeIndex);

    // Sounding on after a stop: ramps up from the first frame the stop's ramp left out.
    void resume();
    // Ramps down from the first frame the server can still reach, and silences what follows
    // up to the write index; nothing to write when nothing was sent. `server` empty: there is
    // no stream, and what was not sent is simply kept.
    std::optional<Write> stop(const std::optional<Server>& server);
    // The first server frame after the last stop's ramp.
    std::int64_t silentFrom() const { return silentFrom_; }
    // Where the sent content ends in the server's stream; empty before any was sent.
    std::optional<std::int64_t> endFrame() const;
    bool sentAny() const { return !runs_.empty(); }

    // What the server has read (up to `readFrame`) needs no copy, except what a stop may
    // still ramp down.
    void trim(std::int64_t readFrame);

    // The stream time heard at server frame `heardFrame` (`playing`), or where a stop left
    // off; empty before any content.
    std::optional<std::uint64_t> position(std::int64_t heardFrame, bool playing) const;

    // For tests and logs.
    const std::vector<Run>& runs() const { return runs_; }
    std::int64_t sent() const { return sent_; }
    std::optional<std::int64_t> stoppedAt() const { return stoppedAt_; }

private:
    std::int64_t sendable() const;
    std::optional<std::int64_t> contentAt(std::int64_t frame) const;
    float gainOf(std::int64_t content) const;
    // `count` frames of content from `from`, at their gains (and ramping down over them when
    // `rampingDown`), followed by silence up to `length` frames.
    std::vector<float> shaped(std::int64_t from, std::int64_t count, std::int64_t length = 0,
        bool rampingDown = false) const;

    int channels_ = 1;
    int rate_ = 48'000;
    std::int64_t rampFrames_ = 1;

    // The content.
    std::vector<float> history_; // from content historyStart_ to contentEnd_
    std::int64_t historyStart_ = 0;
    std::int64_t contentEnd_ = 0;
    std::int64_t sent_ = 0; // content before this is in the server's stream
    std::optional<std::uint64_t> origin_; // stream time of content 0
    std::optional<std::int64_t> rampUpFrom_; // content where the current ramp up begins
    std::optional<std::int64_t> rampDownFrom_; // content where the end's ramp down begins
    std::int64_t floor_ = 0; // no position before this content is reported
    std::optional<std::int64_t> stoppedAt_; // the content a stop left off at
    bool finishing_ = false;

    // The server's stream.
    std::vector<Run> runs_;
    std::int64_t silentFrom_ = 0; // the first frame after the last stop's ramp
    std::int64_t nextFrame_ = 0; // where the next content goes, once placed
    bool placed_ = false;
};

// The raised cosine, rising from 0 to 1 over `n` frames; centred on each frame, so that
// neither end is exactly 0 or 1 and a ramp down is the same curve read backwards.
double rising(std::int64_t i, std::int64_t n);

} // namespace media
