// SPDX-License-Identifier: MIT
#include "media/GstEngine.h"

#include "media/Fade.h"
#include "media/FormatWorkarounds.h"
#include "media/GstHandles.h"
#include "media/OpenFailure.h"
#include "media/OpenedFile.h"
#include "media/ParsedLength.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <mutex>
#include <sys/stat.h>

namespace media {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// playbin's "flags" bit for decoding the sound. Video, subtitles and visualisations stay
// off, so a film's sound plays and no window ever opens. Soft volume stays off too: this
// program never changes the volume, and in GStreamer 1.22 every open with it on leaks a
// volume element.
constexpr guint kPlayFlagAudio = 1u << 1;

// A file that is not ready by then counts as broken rather than hanging the program.
constexpr auto kSettleTimeout = 10s;
// While waiting, errors on the bus are looked for this often, so a broken file fails at
// once instead of at the timeout.
constexpr auto kBusCheck = 50ms;

const QString kNoSound = QStringLiteral("The file has no sound to play.");
const QString kChanged
    = QStringLiteral("The file has changed since it was opened. Open it again to play it");
// Walking the frames of a ten-minute file takes a fraction of a second; this only bounds
// a pathological file.
constexpr auto kParseTimeout = 30s;

GstClockTime toClockTime(std::chrono::milliseconds ms)
{
    return GstClockTime(ms.count()) * GST_MSECOND;
}

void initGStreamerOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        gst_init(nullptr, nullptr);
        installFormatWorkarounds();
        // MP3 through mpg123 rather than FFmpeg's decoder, which ranks the same and wins on
        // its name: an MP3 then does not load FFmpeg's libraries, some 30 MB of them.
        if (GstPluginFeature* mpg123
            = gst_registry_lookup_feature(gst_registry_get(), "mpg123audiodec")) {
            gst_plugin_feature_set_rank(mpg123, GST_RANK_PRIMARY);
            gst_object_unref(mpg123);
        }
    });
}

// Opening a pipe, socket or device would block filesrc's thread (a FIFO until someone
// writes to it), so those are refused before GStreamer sees them. Missing files and
// folders go through, so the user reads GStreamer's own words for them.
std::optional<QString> refuseNonFile(const QString& path, const QByteArray& encoded)
{
    if (path.isEmpty())
        return QStringLiteral("No file name given.");
    struct stat info { };
    if (::stat(encoded.constData(), &info) != 0 || S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))
        return std::nullopt;
    const char* kind = S_ISFIFO(info.st_mode) ? "a named pipe"
        : S_ISSOCK(info.st_mode)              ? "a socket"
                                              : "a device";
    return QStringLiteral("\"%1\" is %2, not a file.").arg(path, QLatin1String(kind));
}

QString errorText(GstMessage* message)
{
    GError* raw = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_error(message, &raw, &rawDebug);
    gst::ErrorPtr error(raw);
    gst::GCharPtr debug(rawDebug);
    return error && error->message ? QString::fromUtf8(error->message) : QString();
}

// Whether an element made by `factory` sits anywhere inside `bin`.
bool containsFactory(GstElement* bin, const char* factory)
{
    gst::IteratorPtr items(gst_bin_iterate_recurse(GST_BIN(bin)));
    gst::ScopedValue item;
    for (;;) {
        switch (gst_iterator_next(items.get(), &item.value)) {
        case GST_ITERATOR_OK: {
            GstElementFactory* made
                = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item.value)));
            const bool found = made && g_strcmp0(GST_OBJECT_NAME(made), factory) == 0;
            g_value_reset(&item.value);
            if (found)
                return true;
            break;
        }
        case GST_ITERATOR_RESYNC:
            gst_iterator_resync(items.get());
            break;
        default:
            return false;
        }
    }
}

// An idle player lets go of its sound output, and with the last one PulseAudio's sink drops
// the program's connection to the server; making it again costs the next play 10 to 20 ms.
// One PulseAudio sink kept open for the life of the program holds the connection, which every
// player's sink shares.
void keepSoundServerConnection()
{
    static GstElement* keeper = [] {
        GstElement* sink = gst_element_factory_make("pulsesink", "tandrel-connection");
        if (!sink)
            return sink;
        gst_object_ref_sink(sink);
        if (gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_SUCCESS) {
            gst_element_set_state(sink, GST_STATE_NULL);
            gst_object_unref(sink);
            return static_cast<GstElement*>(nullptr);
        }
        return sink;
    }();
    (void)keeper;
}

} // namespace

struct GstEngine::Impl {
    enum class Settled { Done, Failed, TimedOut };
    // A play after a stretch of sitting prerolled goes through READY again first; these are
    // the steps on the way, driven by the pipeline's ASYNC_DONE messages.
    enum class Rearm { None, Prerolling, Seeking };

    Impl(QString sink, bool withRamps)
        : sinkDescription(std::move(sink))
        , ramps(withRamps)
    {
    }

    std::optional<QString> makePipeline();
    std::optional<QString> open(const QString& path);
    void reset();
    int readLength(const QByteArray& encodedPath);
    int readPosition();
    bool seek(int ms);
    bool play();
    bool pause();
    bool startRearm();
    bool resumeInPlace();
    bool playsTheOpenedFile();
    bool cancelRearm();
    void advanceRearm();
    bool startPlaying();
    bool goIdle();
    Settled settle(GstStateChangeReturn change, std::chrono::milliseconds timeout = kSettleTimeout);
    bool hasVideoOnly() const;
    void drain();
    void handle(GstMessage* message);
    void onError(GstMessage* message);
    void onEnd();
    void hold(int ms, gint64 ns);
    void holdCurrent();
    bool fadeToSilence();

    QString sinkDescription;
    bool ramps;
    Fade fade; // outlives the pipeline, which calls into it while streaming
    gst::PipelinePtr playbin; // made on the first open, reused for every file after
    gst::BusPtr bus;
    gst::QueryPtr positionQuery;
    std::unique_ptr<QSocketNotifier> busNotifier;

    bool opened = false;
    int lengthMs = 0;
    gint64 durationNs = 0;
    bool playing = false; // asked to sound, and neither the end nor an error seen since
    Rearm rearm = Rearm::None;
    // The exact position whenever the engine is idle; empty while sounding, when the
    // pipeline is asked instead.
    std::optional<int> heldMs;
    // The held position to the nanosecond, which a play seeks to: a pause and its resume
    // meet on the very sample rather than on the millisecond.
    gint64 heldNs = 0;
    int lastMs = 0;
    gint64 lastNs = 0;
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

std::optional<QString> GstEngine::Impl::makePipeline()
{
    if (sinkDescription.isEmpty() || sinkDescription.startsWith(QLatin1String("pulsesink")))
        keepSoundServerConnection();
    gst::PipelinePtr bin = gst::adoptPipeline(gst_element_factory_make("playbin", nullptr));
    if (!bin)
        return QStringLiteral("GStreamer's playbin element is missing.");
    g_object_set(bin.get(), "flags", kPlayFlagAudio, nullptr);
    mendPullModeReaders(bin.get());
    // Belt and braces with the flags: should a video stream ever be rendered, it goes nowhere.
    gst::ElementPtr noVideo = gst::adoptElement(gst_element_factory_make("fakesink", nullptr));
    g_object_set(bin.get(), "video-sink", noVideo.get(), nullptr);
    gst::ElementPtr sink;
    if (!sinkDescription.isEmpty()) {
        GError* raw = nullptr;
        sink = gst::adoptElement(
            gst_parse_bin_from_description(sinkDescription.toUtf8().constData(), TRUE, &raw));
        gst::ErrorPtr error(raw);
        if (!sink || error)
            return error ? QString::fromUtf8(error->message) : QString();
    } else if (ramps) {
        // The output playbin would pick by itself, made here so that the ramps sit before it.
        sink = gst::adoptElement(gst_element_factory_make("autoaudiosink", nullptr));
    }
    if (sink) {
        if (ramps)
            sink = fade.before(std::move(sink));
        g_object_set(bin.get(), "audio-sink", sink.get(), nullptr);
    }
    bus.reset(gst_element_get_bus(bin.get()));
    if (QAbstractEventDispatcher::instance()) {
        GPollFD fd {};
        gst_bus_get_pollfd(bus.get(), &fd);
        busNotifier = std::make_unique<QSocketNotifier>(fd.fd, QSocketNotifier::Read);
        QObject::connect(busNotifier.get(), &QSocketNotifier::activated, [this] { drain(); });
    }
    playbin = std::move(bin);
    return std::nullopt;
}

std::optional<QString> GstEngine::Impl::open(const QString& path)
{
    reset();
    // A name that is not absolute (a Windows path out of a shortcut, say) names nothing here;
    // looking it up in the working folder would open a file the user never named.
    if (!path.isEmpty() && !QDir::isAbsolutePath(path))
        return QStringLiteral("Resource not found.");
    const QByteArray encoded = QFile::encodeName(path);
    if (auto refused = refuseNonFile(path, encoded))
        return refused;
    if (!playbin) {
        if (auto failed = makePipeline())
            return failed;
    }
    // Held before GStreamer reads it, so what is held is what opened. A file that cannot be
    // held goes on, for GStreamer to say what is wrong with it.
    file.hold(encoded);
    GError* rawError = nullptr;
    gst::GCharPtr uri(gst_filename_to_uri(encoded.constData(), &rawError));
    gst::ErrorPtr uriError(rawError);
    if (!uri)
        return uriError ? QString::fromUtf8(uriError->message) : QString();
    g_object_set(playbin.get(), "uri", uri.get(), nullptr);

    firstError.clear();
    errorSeen = false;
    failure.clear();
    const Settled settled = settle(gst_element_set_state(playbin.get(), GST_STATE_PAUSED));
    if (settled != Settled::Done) {
        if (firstError.isEmpty()) {
            // A failed state change posts its reason just before or after it returns.
            gst::MessagePtr late(
                gst_bus_timed_pop_filtered(bus.get(), toClockTime(200ms), GST_MESSAGE_ERROR));
            if (late)
                handle(late.get());
        }
        QString text = failure.explain(playbin.get(), firstError);
        // A film without sound fails inside the demuxer when its only stream has nowhere
        // to go; say what the user needs to know rather than the demuxer's generic text.
        if (hasVideoOnly())
            text = kNoSound;
        if (text.isEmpty() && settled == Settled::TimedOut)
            text = QStringLiteral("The file did not get ready to play within %1 seconds.")
                       .arg(std::chrono::seconds(kSettleTimeout).count());
        reset();
        return text;
    }
    gint audioStreams = 0;
    g_object_get(playbin.get(), "n-audio", &audioStreams, nullptr);
    if (audioStreams == 0) {
        // A film without sound or a picture prerolls fine, yet there is nothing to hear.
        reset();
        return kNoSound;
    }
    lengthMs = readLength(encoded);
    opened = true;
    hold(0, 0);
    // The open needed the preroll to learn the file; the first play starts from READY anyway,
    // so go there once the caller is done, and that play starts sooner.
    if (busNotifier) {
        QTimer::singleShot(0, busNotifier.get(), [this, file = ++openCount] {
            if (opened && openCount == file && !playing && rearm == Rearm::None)
                goIdle();
        });
    }
    return std::nullopt;
}

// Back to nothing open: the pipeline releases the file and the audio output, and whatever
// it said about the old file is dropped from the bus so it cannot be taken for news.
void GstEngine::Impl::reset()
{
    if (playbin) {
        gst_element_set_state(playbin.get(), GST_STATE_NULL);
        gst_bus_set_flushing(bus.get(), TRUE);
        gst_bus_set_flushing(bus.get(), FALSE);
    }
    opened = false;
    file.release();
    playingHeld = false;
    playError.reset();
    lengthMs = 0;
    durationNs = 0;
    playing = false;
    pausedInPlace = false;
    rearm = Rearm::None;
    heldMs.reset();
    heldNs = 0;
    lastMs = 0;
    lastNs = 0;
}

int GstEngine::Impl::readLength(const QByteArray& encodedPath)
{
    gint64 ns = 0;
    if (!gst_element_query_duration(playbin.get(), GST_FORMAT_TIME, &ns) || ns < 0)
        ns = 0;
    // Plain MP3 frames carry no count, so GStreamer can only estimate from the bit rate, and
    // bare ADTS, AC-3 and DTS streams give no length at all; walking the frames gives the
    // exact length for such files only.
    for (const char* parser : kLengthParsers) {
        if (containsFactory(playbin.get(), parser) && needsParsePass(parser, encodedPath, ns)) {
            if (auto exact = lengthByParsing(encodedPath, parser, kParseTimeout))
                ns = *exact;
            break;
        }
    }
    durationNs = ns;
    return gst::nsToMs(ns);
}

int GstEngine::Impl::readPosition()
{
    // One query, made once and asked again: the tick reads the position every second and
    // need not allocate for it.
    if (!positionQuery)
        positionQuery.reset(gst_query_new_position(GST_FORMAT_TIME));
    gst_query_set_position(positionQuery.get(), GST_FORMAT_TIME, -1);
    gint64 ns = -1;
    if (gst_element_query(playbin.get(), positionQuery.get())) {
        GstFormat format = GST_FORMAT_UNDEFINED;
        gst_query_parse_position(positionQuery.get(), &format, &ns);
        if (format != GST_FORMAT_TIME)
            ns = -1;
    }
    if (ns >= 0) {
        const int ms = gst::nsToMs(ns);
        lastMs = lengthMs > 0 ? std::min(ms, lengthMs) : ms;
        lastNs = durationNs > 0 ? std::min(ns, durationNs) : ns;
    }
    return lastMs;
}

void GstEngine::Impl::hold(int ms, gint64 ns)
{
    heldMs = ms;
    heldNs = ns;
}

void GstEngine::Impl::holdCurrent()
{
    const int ms = readPosition();
    hold(ms, lastNs);
}

bool GstEngine::Impl::hasVideoOnly() const
{
    gint audio = 0, video = 0;
    g_object_get(playbin.get(), "n-audio", &audio, "n-video", &video, nullptr);
    return audio == 0 && video > 0;
}

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
    if (!bus)
        return;
    while (gst::MessagePtr message {gst_bus_pop(bus.get())})
        handle(message.get());
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
        if (opened && lengthMs == 0)
            lengthMs = readLength({});
        break;
    case GST_MESSAGE_ELEMENT:
        failure.note(message);
        break;
    case GST_MESSAGE_ASYNC_DONE:
        if (rearm != Rearm::None && GST_MESSAGE_SRC(message) == GST_OBJECT(playbin.get()))
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
    if (firstError.isEmpty())
        firstError = errorText(message);
    errorSeen = true;
    // A paused pipeline that failed has nothing left to go on with; the next play rebuilds.
    pausedInPlace = false;
    if (!opened || !playing)
        return;
    holdCurrent();
    playing = false;
    rearm = Rearm::None;
    // The streaming threads have stopped; the next play rebuilds them from READY.
}

void GstEngine::Impl::onEnd()
{
    // An end seen while idle is an old one from before a pause or seek.
    if (!opened || !playing)
        return;
    hold(lengthMs, durationNs);
    // Leaving PLAYING means a later play posts the end again instead of hanging in PLAYING.
    // Not at once: PipeWire posts the end while its last 50 to 100 ms are still to be heard,
    // and READY drops them, cutting the file's end short with a click (measured).
    if (!busNotifier) {
        goIdle();
        return;
    }
    playing = false;
    const auto heard = std::chrono::milliseconds(Fade::kHeardMargin / GST_MSECOND);
    QTimer::singleShot(heard, busNotifier.get(), [this, file = openCount] {
        if (opened && openCount == file && !playing && !pausedInPlace && rearm == Rearm::None)
            goIdle();
    });
}

// An idle player holds its position itself; an end, or a seek while sounding or paused,
// leaves the pipeline in READY, with the file and the sound output let go, and the next play
// prerolls afresh and seeks to the held position. So a seek costs nothing but stopping the
// sound, and the pipeline never prerolls twice for one play (a bar click seeks every slot,
// then plays one). Only a pause keeps the pipeline, paused in place, for its resume.
bool GstEngine::Impl::goIdle()
{
    playing = false;
    pausedInPlace = false;
    rearm = Rearm::None;
    return gst_element_set_state(playbin.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
}

bool GstEngine::Impl::seek(int ms)
{
    drain();
    if (!opened)
        return false;
    ms = std::clamp(ms, 0, lengthMs);
    // Only a sounding or paused pipeline has anything to let go; an idle one waits for its
    // next play.
    if (playing)
        (void)fadeToSilence();
    const bool ok = (!playing && !pausedInPlace) || goIdle();
    hold(ms, std::min(gint64(ms) * gint64(GST_MSECOND), durationNs));
    lastMs = ms;
    lastNs = heldNs;
    return ok;
}

bool GstEngine::Impl::play()
{
    drain();
    if (!opened)
        return false;
    if (playing)
        return true;
    playError.reset();
    if (!playsTheOpenedFile())
        return false;
    playing = true;
    errorSeen = false;
    return pausedInPlace ? resumeInPlace() : startRearm();
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
    if (!playingHeld && !pausedInPlace) {
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

// Without a fade to stop on (see pause), the sink was corked with what it had not yet played,
// so uncorking plays on from the very next sample: 0 samples repeated or skipped at the sound
// server's monitor, on PulseAudio and on PipeWire, after pauses of 0.2 s and 3 s (measured). Going
// through READY instead loses what the sink held, and the position the sink reports at a pause is
// off by what the server had buffered: on PulseAudio 97 to 542 samples were heard twice, on
// PipeWire up to 1499 skipped (measured).
bool GstEngine::Impl::resumeInPlace()
{
    pausedInPlace = false;
    return startPlaying();
}

// A play other than a resume starts the sink afresh from READY, prerolls and seeks to where
// the slot stands. Through PulseAudio a pipeline that sat prerolled for a while before its
// first play starts sounding late by about as long as it sat. From READY both slots begin
// on the very sample they stand at.
bool GstEngine::Impl::startRearm()
{
    gst_element_set_state(playbin.get(), GST_STATE_READY);
    // Laid while nothing flows: the preroll after the seek below is the first data to pass.
    fade.startAt(GstClockTime(heldMs ? heldNs : 0), GstClockTime(durationNs));
    rearm = Rearm::Prerolling;
    const GstStateChangeReturn change = gst_element_set_state(playbin.get(), GST_STATE_PAUSED);
    if (change == GST_STATE_CHANGE_FAILURE) {
        rearm = Rearm::None;
        playing = false;
        return false;
    }
    if (change != GST_STATE_CHANGE_ASYNC)
        advanceRearm();
    return true;
}

// The seek is made for a play from the very start too: without it, a play from 0 through
// PipeWire began one sample late in 2 plays of 56 (measured), while one after
// a seek always began on its sample.
void GstEngine::Impl::advanceRearm()
{
    const gint64 target = heldMs ? heldNs : 0;
    if (rearm == Rearm::Prerolling) {
        rearm = Rearm::Seeking;
        if (gst_element_seek_simple(playbin.get(), GST_FORMAT_TIME,
                GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), target))
            return;
    }
    startPlaying();
}

bool GstEngine::Impl::startPlaying()
{
    rearm = Rearm::None;
    if (heldMs) {
        lastMs = *heldMs;
        lastNs = heldNs;
    }
    heldMs.reset();
    if (gst_element_set_state(playbin.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        playing = false;
        hold(lastMs, heldNs);
        return false;
    }
    return true;
}

bool GstEngine::Impl::pause()
{
    drain();
    if (!opened)
        return false;
    if (!playing)
        return true;
    errorSeen = false;
    if (rearm != Rearm::None)
        return cancelRearm();
    if (fadeToSilence()) {
        // Faded out and silent: the pipeline has nothing left worth keeping (what the sink
        // holds is past the ramp, silenced), and the resume starts from READY on the very
        // sample where the silence began. An end reached meanwhile holds the length instead.
        if (!playing)
            return true;
        return goIdle();
    }
    // Still "playing" while the pause settles: an end that comes meanwhile is honoured and
    // holds the position at the length. The position is read once the sound has stopped,
    // for the time shown while paused; the resume itself goes on from where the sink stood.
    const bool ok = settle(gst_element_set_state(playbin.get(), GST_STATE_PAUSED)) == Settled::Done;
    if (!heldMs)
        holdCurrent();
    if (!ok || !playing)
        return goIdle() && ok;
    playing = false;
    pausedInPlace = true;
    return true;
}

// Fades the sound out and waits until the silence is heard, holding the first sample that
// was not: the stop is heard as a ramp, not a cut. False when there was nothing to fade (the
// fade element is missing, or nothing has passed it yet). The wait is what the sink had
// taken ahead of the ear, plus the ramp; an end of the file reached meanwhile is honoured.
bool GstEngine::Impl::fadeToSilence()
{
    const std::optional<GstClockTime> silentFrom = fade.stopSoon();
    if (!silentFrom)
        return false;
    Fade::waitUntilHeard(playbin.get(), *silentFrom, 1s);
    drain();
    if (playing) {
        const gint64 ns = std::min(gint64(*silentFrom), durationNs > 0 ? durationNs : G_MAXINT64);
        hold(gst::nsToMs(ns), ns);
    }
    return true;
}

// A pause before the sound ever started: idle where the play would have started.
bool GstEngine::Impl::cancelRearm()
{
    if (!heldMs)
        hold(0, 0);
    return goIdle();
}

GstEngine::GstEngine(QString audioSink, Ramps ramps)
    : d(std::make_unique<Impl>(std::move(audioSink), ramps == Ramps::On))
{
    initGStreamerOnce();
}

GstEngine::~GstEngine()
{
    d->reset();
}

std::optional<QString> GstEngine::open(const QString& path)
{
    return d->open(path);
}

void GstEngine::close()
{
    if (d->opened)
        d->reset();
}

bool GstEngine::isOpen() const
{
    return d->opened;
}

int GstEngine::length()
{
    d->drain();
    return d->opened ? d->lengthMs : 0;
}

int GstEngine::position()
{
    d->drain();
    if (!d->opened)
        return 0;
    return d->heldMs ? *d->heldMs : d->readPosition();
}

bool GstEngine::seek(int ms)
{
    return d->seek(ms);
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
    if (!d->opened)
        return EngineState::Closed;
    return d->playing ? EngineState::Playing : EngineState::Idle;
}

} // namespace media
