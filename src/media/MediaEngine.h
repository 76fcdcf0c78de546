// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <optional>

namespace media {

// What an engine is doing. Paused and stopped look the same to an engine: the player above
// it tells them apart.
enum class EngineState {
    Closed, // nothing open
    Idle, // open, not sounding (stopped, paused, or at the end after playing through)
    Playing, // sounding, or about to: play() was called and the end has not been reached
};

// One open media file and the machinery that sounds it. TMediaPlayer holds one engine and
// builds the device's behaviour (modes, auto-rewind, pause as a toggle, its errors) on these
// primitives. All calls come from the program's thread; none throws: a failure is a return
// value, and an error while sounding only makes the engine idle.
//
// Each call below says what it waits for. The GStreamer engine moves on between calls as it
// reads its pipeline's messages: from the event loop, and whenever it is asked its state,
// position or length or told to seek, play or pause; a caller without an event loop sees a
// play start, the end come or an error land only when it asks again.
//
// What an engine holds: from a successful open until close(), the file itself (an open
// handle, so a rename or delete of the name does not take the sound away). The GStreamer
// engine's output (ServerSink.h) makes its stream on the sound server at the open that first
// reached the server, when the file prerolls, and keeps it, with its connection, for the
// engine's life: corked whenever it is not playing, which leaves the server free to suspend
// its device, and still there after close(); a file of another format gets a new one. After
// a pause that stream still holds what follows, so that the resume goes on from the very
// next sample; a seek or the end lets that go.
class MediaEngine {
public:
    virtual ~MediaEngine() = default;

    // Closes what is open, then opens the local file `path` and waits until it is ready to
    // play, idle at position 0. Must NOT start playback. The file is held until close():
    // every play sounds the file that opened, whatever becomes of its name. Returns std::nullopt on
    // success, else the first error text the media library gave (an empty string when it gave
    // none); the engine is then closed. Waits a bounded time: a file that never becomes ready is an
    // error, not a hang.
    // The GStreamer engine waits for the old pipeline's threads to stop, for the sound server
    // to answer while it sounds through none yet, for the file to preroll (at most
    // kSettleTimeout, 10 s, and a few hundred ms more on a failure, for its reason) and, for a
    // kind that records no length (plain MP3, bare AAC, AC-3, DTS), for a walk over the file's
    // frames (at most 30 s). It leaves the pipeline prerolled; it drops to READY from the
    // event loop once the caller is done, not before open() returns.
    virtual std::optional<QString> open(const QString& path) = 0;

    // Closes the open file and lets go of it; waits until the pipeline's threads have
    // stopped. Nothing open: does nothing.
    virtual void close() = 0;

    virtual bool isOpen() const = 0;

    // Length of the open file in whole milliseconds, rounded to the nearest; 0 when closed.
    // Waits for nothing: the length was learnt at the open.
    virtual int length() = 0;

    // Current position in milliseconds, within 0..length(); exactly length() once the end of
    // the stream has been reached; 0 when closed. Waits for nothing: while sounding the
    // GStreamer engine asks its pipeline, else it gives the position it rests at.
    virtual int position() = 0;

    // Moves to `ms`, clamped to 0..length(); the engine is then idle at that position
    // whatever it was doing, and position() says `ms` at once. Returns false on failure (also
    // when closed).
    // The GStreamer engine only keeps the position: it seeks the pipeline at the next play,
    // which prerolls afresh and lands there exactly. When it was sounding or paused it stops
    // the sound first, waiting for the pipeline's threads to stop (down to READY); idle, it
    // waits for nothing.
    virtual bool seek(int ms) = 0;

    // Starts sounding from the current position and returns at once; playing on when already
    // playing. At the end of the stream the engine becomes idle with position() == length().
    // Returns false on failure (also when closed).
    // The GStreamer engine waits for no sound. From idle it starts a preroll from READY (first
    // waiting for the threads to stop of a pipeline still prerolled from the open, or of one
    // whose file's name now leads elsewhere), and the seek to the position and the start
    // follow as the pipeline reports each step done; after a pause it uncorks the paused
    // sink. A failure on the way (the sound server refusing the stream, a damaged file) makes
    // the engine idle.
    virtual bool play() = 0;

    // Stops sounding and stays at the current position. Returns false on failure; not
    // playing: does nothing.
    // The GStreamer engine, sounding, waits until the pipeline has settled in PAUSED (at most
    // kSettleTimeout) and reads where the sink stopped; the resume goes on from the next
    // sample. A play that has not sounded yet is let go instead, waiting for the pipeline's
    // threads to stop, and the engine stays where the play would have started.
    virtual bool pause() = 0;

    // Why the last play() refused to start, where that is the user's to know: the open file
    // was written over since it opened, so its length no longer describes it. Empty when the
    // play started, or failed for a reason the device keeps to itself.
    virtual std::optional<QString> playError() const { return std::nullopt; }

    // Playing until the end of the stream or an error during playback is seen, which makes
    // the engine idle. Errors during playback are never raised. Waits for nothing: an end or
    // error is seen once the pipeline has posted it.
    virtual EngineState state() = 0;
};

} // namespace media
