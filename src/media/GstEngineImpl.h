// SPDX-License-Identifier: MIT
#pragma once

// The GStreamer engine's inside, shared by its two halves: opening a file
// (GstEngineOpen.cpp) and sounding it (GstEngine.cpp).

#include "media/BusWatch.h"
#include "media/GstEngine.h"
#include "media/GstHandles.h"
#include "media/OpenFailure.h"
#include "media/OpenedFile.h"

#include <chrono>
#include <memory>
#include <optional>

namespace media {

using namespace std::chrono_literals;

// A file that is not ready by then counts as broken rather than hanging the program.
inline constexpr auto kSettleTimeout = 10s;

// Time is kept in the file's nanoseconds throughout, measured from the file's own first
// sample; milliseconds are only made where the device layer reports them. The stream the
// pipeline plays may start a fixed lead-in earlier (see decoderLeadIn), so the pipeline is
// told and asked stream time, and the two meet only in toStream and fromStream.
struct GstEngine::Impl {
    enum class Settled { Done, Failed, TimedOut };

    // Where the engine stands, and what moves it on:
    //   Closed        -> Idle           open() prerolled the file: it rests at 0
    //   Idle          -> Prerolling     play(): the pipeline goes from READY to PAUSED
    //   Prerolling    -> Seeking        the preroll's ASYNC_DONE: the seek to restNs is sent
    //   Prerolling    -> Playing        the preroll's ASYNC_DONE, when no seek could be sent
    //   Seeking       -> Playing        the seek's ASYNC_DONE: the pipeline goes to PLAYING
    //   PausedInPlace -> Playing        play(): the corked sink plays on
    //   Playing       -> PausedInPlace  pause() settled in PAUSED: it rests where it stopped
    //   Prerolling, Seeking, Playing -> Idle
    //                                   pause() before the sound started or failed, seek(),
    //                                   the end (rests at the length), an error (rests where
    //                                   the pipeline stood), a refused state change
    //   PausedInPlace -> Idle           seek(), an error, the open's deferred step to READY
    //   any           -> Closed         reset(): a new open, a failed one, close()
    // Prerolling, Seeking and Playing are what the device calls playing.
    enum class Phase { Closed, Idle, Prerolling, Seeking, Playing, PausedInPlace };

    Impl(QString sink);

    // Opening and closing (GstEngineOpen.cpp).
    std::optional<QString> makePipeline();
    void soundThroughServer();
    std::optional<QString> open(const QString& path);
    void reset();
    gint64 readLength(const QByteArray& encodedPath);
    gint64 readPosition();

    // Sounding (GstEngine.cpp).
    bool seek(gint64 ns);
    bool play();
    bool pause();
    bool startRearm();
    bool playsTheOpenedFile();
    void advanceRearm();
    bool startPlaying();
    bool goIdle();
    void enter(Phase next);
    Settled settle(GstStateChangeReturn change, std::chrono::milliseconds timeout = kSettleTimeout);
    void drain();
    void handle(GstMessage* message);
    void onError(GstMessage* message);
    void onEnd();

    gint64 toStream(gint64 ns) const { return ns + leadNs; }
    gint64 fromStream(gint64 ns) const;
    int lengthMs() const { return gst::nsToMs(durationNs); }
    bool opened() const { return phase != Phase::Closed; }
    // Asked to sound, and neither the end nor an error seen since.
    bool playAsked() const
    {
        return phase == Phase::Prerolling || phase == Phase::Seeking || phase == Phase::Playing;
    }
    void restHere() { restNs = readPosition(); }

    QString sinkDescription;
    // Sounding through the server sink, which ramps every start and stop itself; a start
    // then begins that ramp's length before the position. Until an open finds a server
    // answering, playbin's default output sounds, without the ramps.
    bool rampsAtServer = false;
    gst::PipelinePtr playbin; // made on the first open, reused for every file after
    std::unique_ptr<BusWatch> bus;
    gst::QueryPtr positionQuery;

    Phase phase = Phase::Closed;
    gint64 durationNs = 0; // the file's length; 0 when unknown
    gint64 leadNs = 0; // where the file's first sample stands in the stream
    // The position the engine rests at in every phase but Playing, which a play seeks to, so
    // a pause and its resume meet on the very sample; while Playing the pipeline is asked.
    gint64 restNs = 0;
    gint64 lastNs = 0; // the last position the pipeline gave
    QString firstError;
    bool errorSeen = false; // an error came since the last open, play or pause
    OpenedFile file; // the file as it opened, held while it is open
    QString path; // the name it opened by, for the log
    bool playingHeld = false; // the pipeline reads the held file, its name having gone
    std::optional<QString> playError; // why the last play did not start, when it was refused
    OpenFailure failure; // what the pipeline said about a file it could not open
    unsigned openCount = 0; // tells a later open from the one a deferred step was meant for
};

} // namespace media
