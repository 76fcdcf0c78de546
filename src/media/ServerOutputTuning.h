// SPDX-License-Identifier: MIT
#pragma once

// The server output's sizes and times, shared by the output, its stream and its timing.

#include <cstdint>
#include <pulse/sample.h>
#include <pulse/thread-mainloop.h>

namespace media::output {

// What the server holds ahead of the ear. A stop no longer waits for it, so it is sized for
// playing on undisturbed while the machine is busy.
inline constexpr pa_usec_t kQueueUs = 100'000;
inline constexpr pa_usec_t kRequestUs = 10'000;
inline constexpr pa_usec_t kPrebufUs = 10'000;
// PipeWire's pulse server asks for more after each block it takes once the least request is
// reached; asked for less than it allows, it keeps its own least (256 frames at 48 kHz), so
// that it asks after every block of 512 frames or more and its requests keep its cycle (see
// ServerCycle). The queue is shortened with it: the server asks its graph for a latency of
// (queue - 2 requests) / 2, which at 100 ms let the quantum grow from 1024 frames to 2048
// (measured); at 90 ms it stays at 1024.
inline constexpr pa_usec_t kPipeWireQueueUs = 90'000;
inline constexpr pa_usec_t kPipeWireRequestUs = 1'000;
// A start is let out once this much is queued, so that it does not run dry at once (and on
// PulseAudio no less than the sink takes at once: see uncorkWhenReady).
inline constexpr pa_usec_t kStartUs = 20'000;
// How far past the server's read point a stop's ramp is written: the time the write takes to
// reach the server, with room to spare. At 1 ms the ramp landed on the very frame asked for,
// on PulseAudio and PipeWire alike (measured), unless the server took its next block of the
// stream meanwhile (see reachableFrame).
inline constexpr pa_usec_t kLeadUs = 3'000;
// PipeWire's pulse server hands a stream's sound to its graph a whole quantum at a time
// (its read index moved in steps of 1024 frames at 48 kHz, measured), and the next quantum
// may be taken before a write arrives: about one stop in fifty then cut hard. When its
// requests do not tell its cycle (see reachableFrame), a write there goes past the quantum
// that may be taken first as well. This stream's latency request keeps the quantum at 1024
// frames at most: 21.3 ms at 48 kHz, 23.2 ms at 44.1 kHz.
inline constexpr pa_usec_t kQuantumUs = 23'220;
// When its requests tell PipeWire's cycle (see ServerCycle), a write goes past only the blocks
// the server may take before it arrives: those after the report, from a little before it (the
// pulse server takes a block on its data thread and counts it in its reports a moment later),
// up to a little after the write is sent (its way to the server, as kLeadUs, and the delay of
// the request that told the cycle: 0.1 to 0.3 ms measured on an idle machine).
inline constexpr std::int64_t kUnreportedUs = 2'000;
inline constexpr std::int64_t kCycleLeadUs = 5'000;
// A stopped stream is corked once its ramp has been heard. PipeWire's monitor hears a stream
// up to 60 ms after the stream says it played (measured); the cork waits that out.
inline constexpr pa_usec_t kCorkAfterUs = 80'000;
// The end asks the server where it reads when the last frame is due by its last report, and
// no sooner than this, no later than that: nothing else says when to ask.
inline constexpr std::int64_t kEndAskLeastUs = 1'000;
inline constexpr std::int64_t kEndAskMostUs = 50'000;

inline void signalLoop(pa_threaded_mainloop* loop)
{
    pa_threaded_mainloop_signal(loop, 0);
}

} // namespace media::output
