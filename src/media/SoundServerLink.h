// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <pulse/context.h>
#include <pulse/thread-mainloop.h>

namespace media {

// The program's connection to the sound server (PulseAudio, or PipeWire's pulse server),
// kept while any output that sounds through it lives, with the thread that serves it. Every
// output's stream is made on it; the connection itself holds no stream, so the server
// still suspends its device when nothing sounds (measured with module-suspend-on-idle: the
// sink suspends with both slots open, paused or stopped). Making it again for each play
// cost 10 to 20 ms (measured).
class SoundServerLink {
public:
    // The program's current link, made on first use and let go with its last holder. When
    // the current one has failed (its server went away), a new one is made at once for the
    // caller, and the failed one lives on only as long as its holders (an output that has not
    // noticed yet). Empty when no server answers.
    static std::shared_ptr<SoundServerLink> shared();

    ~SoundServerLink();
    SoundServerLink(const SoundServerLink&) = delete;
    SoundServerLink& operator=(const SoundServerLink&) = delete;

    // The serving thread's loop: everything done with the context or a stream on it is done
    // with this locked (pa_threaded_mainloop_lock), from any thread but the loop's own.
    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }

    // Whether the connection still stands; a server that went away leaves it failed for good.
    bool connected() const;

    // Whether the server is PipeWire's pulse server, which hands a stream's sound to its
    // graph a whole quantum at a time rather than as it plays.
    bool pipeWire() const { return pipeWire_; }

private:
    SoundServerLink() = default;
    bool connect();
    bool askServerName();
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool pipeWire_ = false;
};

// Holds the link's loop locked for a scope.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop)
        : loop_(loop)
    {
        pa_threaded_mainloop_lock(loop_);
    }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

} // namespace media
