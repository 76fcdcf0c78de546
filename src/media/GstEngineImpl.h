// SPDX-License-Identifier: MIT
#pragma once

// The GStreamer engine's inside, shared by its two halves: opening a file
// (GstEngineOpen.cpp) and sounding it (GstEngine.cpp).

#include "media/BusWatch.h"
#include "media/GstEngine.h"
#include "media/GstHandles.h"
#include "media/OpenFailure.h"
#include "media/OpenedFile.h"
#include "media/SoundServerLink.h"

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
    // A play after a stretch of sitting prerolled goes through READY again first; these are
    // the steps on the way, driven by the pipeline's ASYNC_DONE messages.
    enum class Rearm { None, Prerolling, Seeking };

    Impl(QString sink);

    // Opening and closing (GstEngineOpen.cpp).
    std::optional<QString> makePipeline();
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
    Settled settle(GstStateChangeReturn change, std::chrono::milliseconds timeout = kSettleTimeout);
    void drain();
    void handle(GstMessage* message);
    void onError(GstMessage* message);
    void onEnd();

    gint64 toStream(gint64 ns) const { return ns + leadNs; }
    gint64 fromStream(gint64 ns) const;
    int lengthMs() const { return gst::nsToMs(durationNs); }
    void hold(gint64 ns) { heldNs = ns; }
    void holdCurrent() { heldNs = readPosition(); }

    QString sinkDescription;
    // Sounding through the server sink, which ramps every start and stop itself; a start
    // then begins that ramp's length before the position.
    bool rampsAtServer = false;
    // Shared with every engine that sounds through the sound server, while any lives.
    std::shared_ptr<SoundServerLink> serverLink;
    gst::PipelinePtr playbin; // made on the first open, reused for every file after
    std::unique_ptr<BusWatch> bus;
    gst::QueryPtr positionQuery;

    bool opened = false;
    gint64 durationNs = 0; // the file's length; 0 when unknown
    gint64 leadNs = 0; // where the file's first sample stands in the stream
    bool playing = false; // asked to sound, and neither the end nor an error seen since
    Rearm rearm = Rearm::None;
    // The exact position whenever the engine is idle, which a play seeks to, so a pause and
    // its resume meet on the very sample; empty while sounding, when the pipeline is asked.
    std::optional<gint64> heldNs;
    gint64 lastNs = 0; // the last position the pipeline gave
    QString firstError;
    bool errorSeen = false;
    // Paused with the sink corked and its data kept: the next play goes on from there.
    bool pausedInPlace = false;
    OpenedFile file; // the file as it opened, held while it is open
    bool playingHeld = false; // the pipeline reads the held file, its name having gone
    std::optional<QString> playError; // why the last play did not start, when it was refused
    OpenFailure failure; // what the pipeline said about a file it could not open
    unsigned openCount = 0; // tells a later open from the one a deferred step was meant for
};

} // namespace media
