// SPDX-License-Identifier: MIT
// The GStreamer engine's second half: playing, pausing and seeking the open file, and what
// the pipeline says while it sounds. Opening is in GstEngineOpen.cpp.
#include "media/GstEngine.h"

#include "media/GstEngineImpl.h"
#include "media/Log.h"
#include "media/Playbin.h"
#include "media/ServerSink.h"

#include <algorithm>

namespace media {

using Clock = std::chrono::steady_clock;

namespace {

// While waiting, errors on the bus are looked for this often, so a broken file fails at
// once instead of at the timeout.
constexpr auto kBusCheck = 50ms;

// PipeWire posts the end while its last 50 to 100 ms are still to be heard (measured), and
// the monitor hears a stream up to 60 ms after the stream says it played.
constexpr auto kEndHeard = 60ms;

const QString kChanged
    = QStringLiteral("The file has changed since it was opened. Open it again to play it");

GstClockTime toClockTime(std::chrono::milliseconds ms)
{
    return GstClockTime(ms.count()) * GST_MSECOND;
}

} // namespace

// Waits until the pipeline has finished changing state, looking at the bus meanwhile.
GstEngine::Impl::Settled GstEngine::Impl::settle(
    GstStateChangeReturn change, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (change == GST_STATE_CHANGE_ASYNC) {
        change = gst_element_get_state(playbin.get(), nullptr, nullptr, toClockTime(kBusCheck));
        drain();
        if (errorSeen)
            return Settled::Failed;
        if (change == GST_STATE_CHANGE_ASYNC && Clock::now() > deadline)
            return Settled::TimedOut;
    }
    drain();
    return change == GST_STATE_CHANGE_FAILURE || errorSeen ? Settled::Failed : Settled::Done;
}

void GstEngine::Impl::drain()
{
    if (bus)
        bus->drain();
}

void GstEngine::Impl::handle(GstMessage* message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
        onError(message);
        break;
    case GST_MESSAGE_EOS:
        onEnd();
        break;
    case GST_MESSAGE_DURATION_CHANGED:
        // Only a file that gave no length at the open learns it later; a known length
        // stays put, so the bar never rescales under the user.
        if (opened() && durationNs == 0)
            durationNs = readLength({});
        break;
    case GST_MESSAGE_ELEMENT:
        failure.note(message);
        break;
    case GST_MESSAGE_ASYNC_DONE:
        if ((phase == Phase::Prerolling || phase == Phase::Seeking)
            && GST_MESSAGE_SRC(message) == GST_OBJECT(playbin.get()))
            advanceRearm();
        break;
    default:
        break;
    }
}

// Only the first error counts: the ones after it ("Internal data stream error") are its
// echoes from further down the pipeline.
void GstEngine::Impl::onError(GstMessage* message)
{
    const QString text = errorText(message);
    qCDebug(lcEngine) << "error from" << GST_MESSAGE_SRC_NAME(message) << text << "in" << path;
    if (firstError.isEmpty())
        firstError = text;
    errorSeen = true;
    // A paused pipeline that failed has nothing left to go on with; the next play rebuilds.
    if (phase == Phase::PausedInPlace)
        enter(Phase::Idle);
    if (!playAsked())
        return;
    restHere();
    // The streaming threads have stopped; the next play rebuilds them from READY.
    enter(Phase::Idle);
}

void GstEngine::Impl::onEnd()
{
    // An end seen while idle is an old one from before a pause or seek.
    if (!playAsked())
        return;
    restNs = durationNs;
    enter(Phase::Idle);
    // Leaving PLAYING means a later play posts the end again instead of hanging in PLAYING.
    // Not at once: PipeWire posts the end while its last 50 to 100 ms are still to be heard,
    // and READY drops them, cutting the file's end short with a click (measured).
    const bool deferred = bus->later(kEndHeard, [this, file = openCount] {
        if (openCount == file && phase == Phase::Idle)
            goIdle();
    });
    if (!deferred)
        goIdle();
}

// An idle player keeps its position itself; an end, or a seek while sounding or paused,
// leaves the pipeline in READY, with the file and the sound output let go, and the next play
// prerolls afresh and seeks to the position the engine rests at. So a seek costs nothing but
// stopping the sound, and the pipeline never prerolls twice for one play (a bar click seeks
// every slot, then plays one). Only a pause keeps the pipeline, paused in place, for its
// resume.
bool GstEngine::Impl::goIdle()
{
    enter(Phase::Idle);
    return gst_element_set_state(playbin.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
}

void GstEngine::Impl::enter(Phase next)
{
    static constexpr const char* kNames[]
        = {"Closed", "Idle", "Prerolling", "Seeking", "Playing", "PausedInPlace"};
    // A close names no position: the one kept is stale when it closes from Playing.
    if (next == Phase::Closed && phase != next)
        qCDebug(lcEngine) << kNames[int(phase)] << "-> Closed in" << path;
    else if (next != phase)
        qCDebug(lcEngine) << kNames[int(phase)] << "->" << kNames[int(next)] << "at"
                          << (next == Phase::Playing ? lastNs : restNs) << "ns in" << path;
    phase = next;
}

bool GstEngine::Impl::seek(gint64 ns)
{
    drain();
    if (!opened())
        return false;
    restNs = std::clamp<gint64>(ns, 0, durationNs);
    lastNs = restNs;
    // Only a sounding or paused pipeline has anything to let go; an idle one waits for its
    // next play.
    return phase == Phase::Idle || goIdle();
}

bool GstEngine::Impl::play()
{
    drain();
    if (!opened())
        return false;
    if (playAsked())
        return true;
    playError.reset();
    if (!playsTheOpenedFile())
        return false;
    errorSeen = false;
    if (phase != Phase::PausedInPlace)
        return startRearm();
    // The sink was corked with what it had not yet played, so uncorking plays on from the
    // very next sample: 0 samples repeated or skipped at the sound server's monitor, on
    // PulseAudio and on PipeWire, after pauses of 0.2 s and 3 s (measured). Going through
    // READY instead loses what the sink kept, and the position the sink reports at a pause
    // is off by what the server had buffered: on PulseAudio 97 to 542 samples were heard
    // twice, on PipeWire up to 1499 skipped (measured).
    return startPlaying();
}

// A slot plays the file it opened until it is closed. Renamed over, deleted or moved away,
// that file is still held and plays on under its old name; written over in place, it is no
// longer what opened, and its length and bar would lie about it, so it does not play.
bool GstEngine::Impl::playsTheOpenedFile()
{
    switch (file.check()) {
    case OpenedFile::Now::Same:
        return true;
    case OpenedFile::Now::Changed:
        playError = kChanged;
        return false;
    case OpenedFile::Now::Elsewhere:
        break;
    }
    // A pipeline paused in place still reads its own handle on the file; the others read
    // the held one from their next start on.
    if (!playingHeld && phase != Phase::PausedInPlace) {
        gst::GCharPtr uri(gst_filename_to_uri(file.heldName().constData(), nullptr));
        if (!uri)
            return false;
        // playbin takes a new address only from READY: a pipeline still prerolled from the
        // open would start its source on the old name again.
        gst_element_set_state(playbin.get(), GST_STATE_READY);
        g_object_set(playbin.get(), "uri", uri.get(), nullptr);
        playingHeld = true;
    }
    return true;
}

// A play other than a resume starts the sink afresh from READY, prerolls and seeks to where
// the slot stands. Through PulseAudio a pipeline that sat prerolled for a while before its
// first play starts sounding late by about as long as it sat. From READY both slots begin
// on the very sample they stand at.
bool GstEngine::Impl::startRearm()
{
    gst_element_set_state(playbin.get(), GST_STATE_READY);
    enter(Phase::Prerolling);
    const GstStateChangeReturn change = gst_element_set_state(playbin.get(), GST_STATE_PAUSED);
    if (change == GST_STATE_CHANGE_FAILURE) {
        enter(Phase::Idle);
        return false;
    }
    if (change != GST_STATE_CHANGE_ASYNC)
        advanceRearm();
    return true;
}

// The seek is made for a play from the very start too: without it, a play from 0 through
// PipeWire began one sample late in 2 plays of 56 (measured), while one after a seek always
// began on its sample. It also steps over a stream's lead-in.
void GstEngine::Impl::advanceRearm()
{
    if (phase == Phase::Prerolling) {
        enter(Phase::Seeking);
        // The ramp up ends on the sample the engine rests at: it is the first heard at full
        // gain.
        const gint64 rampNs = rampsAtServer ? gint64(kRampLength) : 0;
        if (gst_element_seek_simple(playbin.get(), GST_FORMAT_TIME,
                GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                toStream(std::max<gint64>(0, restNs - rampNs))))
            return;
    }
    startPlaying();
}

bool GstEngine::Impl::startPlaying()
{
    lastNs = restNs;
    enter(Phase::Playing);
    if (gst_element_set_state(playbin.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        restNs = lastNs;
        enter(Phase::Idle);
        return false;
    }
    return true;
}

bool GstEngine::Impl::pause()
{
    drain();
    if (!opened())
        return false;
    if (!playAsked())
        return true;
    errorSeen = false;
    // A pause before the sound ever started: idle where the play would have started.
    if (phase != Phase::Playing)
        return goIdle();
    // Still Playing while the pause settles: an end that comes meanwhile is honoured and
    // rests the engine at the length. The position is read once the sound has stopped, for
    // the time shown while paused; the resume itself goes on from where the sink stood.
    const bool ok = settle(gst_element_set_state(playbin.get(), GST_STATE_PAUSED)) == Settled::Done;
    if (phase != Phase::Playing || !ok) {
        if (phase == Phase::Playing)
            restHere();
        return goIdle() && ok;
    }
    restHere();
    enter(Phase::PausedInPlace);
    return true;
}

bool GstEngine::seek(int ms)
{
    return d->seek(gint64(ms) * GST_MSECOND);
}

bool GstEngine::play()
{
    return d->play();
}

bool GstEngine::pause()
{
    return d->pause();
}

std::optional<QString> GstEngine::playError() const
{
    return d->playError;
}

EngineState GstEngine::state()
{
    d->drain();
    if (!d->opened())
        return EngineState::Closed;
    return d->playAsked() ? EngineState::Playing : EngineState::Idle;
}

} // namespace media
