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
// What an engine holds: from a successful open until close(), the file itself (an open
// handle, so a rename or delete of the name does not take the sound away). Before its first
// play it holds no audio output stream (a connection to the sound server may stay); from then
// on the GStreamer engine keeps one stream on the sound server, corked whenever it is not
// playing, which leaves the server free to suspend its device. After a
// pause that stream still holds what follows, so that the resume goes on from the very next
// sample; a seek or the end lets that go.
class MediaEngine {
public:
    virtual ~MediaEngine() = default;

    // Closes what is open, then opens the local file `path` and waits until it is ready to
    // play, idle at position 0. Must NOT start playback. The file is held until close():
    // every play sounds the file that opened, whatever becomes of its name. Returns std::nullopt on
    // success, else the first error text the media library gave (an empty string when it gave
    // none); the engine is then closed. Waits a bounded time: a file that never becomes ready is an
    // error, not a hang.
    virtual std::optional<QString> open(const QString& path) = 0;

    // Closes the open file and releases the audio output; waits. Nothing open: does nothing.
    virtual void close() = 0;

    virtual bool isOpen() const = 0;

    // Length of the open file in whole milliseconds, rounded to the nearest; 0 when closed.
    virtual int length() = 0;

    // Current position in milliseconds, within 0..length(); exactly length() once the end of
    // the stream has been reached; 0 when closed.
    virtual int position() = 0;

    // Moves to `ms`, clamped to 0..length(), and waits until the position has landed there
    // exactly; the engine is then idle at that position whatever it was doing.
    // Returns false on failure (also when closed).
    virtual bool seek(int ms) = 0;

    // Starts sounding from the current position and returns at once; playing on when already
    // playing. At the end of the stream the engine becomes idle with position() == length().
    // Returns false on failure (also when closed).
    virtual bool play() = 0;

    // Stops sounding and stays at the current position; waits. Returns false on failure.
    virtual bool pause() = 0;

    // Why the last play() refused to start, where that is the user's to know: the open file
    // was written over since it opened, so its length no longer describes it. Empty when the
    // play started, or failed for a reason the device keeps to itself.
    virtual std::optional<QString> playError() const { return std::nullopt; }

    // Playing until the end of the stream or an error during playback is seen, which makes
    // the engine idle. Errors during playback are never raised.
    virtual EngineState state() = 0;
};

} // namespace media
