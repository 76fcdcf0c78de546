// SPDX-License-Identifier: MIT
// The GStreamer engine's first half: making its pipeline, opening a file, learning its
// length, and reading where it stands.
#include "media/GstEngineImpl.h"
#include "media/Log.h"
#include "media/ParsedLength.h"
#include "media/Playbin.h"
#include "media/ServerSink.h"
#include "media/SoundServerLink.h"

#include <QDir>
#include <QFile>
#include <algorithm>

namespace media {

namespace {

const QString kNoSound = QStringLiteral("The file has no sound to play.");
// Walking the frames of a ten-minute file takes a fraction of a second; this only bounds
// a pathological file.
constexpr auto kParseTimeout = 30s;

} // namespace

GstEngine::Impl::Impl(QString sink)
    : sinkDescription(std::move(sink))
{
}

std::optional<QString> GstEngine::Impl::makePipeline()
{
    MadePlaybin made = makePlaybin(sinkDescription);
    if (!made.playbin)
        return made.error;
    bus = std::make_unique<BusWatch>(made.playbin.get(), [this](GstMessage* m) { handle(m); });
    playbin = std::move(made.playbin);
    return std::nullopt;
}

// Sounds through the program's own output once a sound server answers; until then playbin
// picks the system's default output. Asked at every open, so a server that started after
// the program (a desktop session still coming up) gets the ramps from the next file on. The
// sink keeps the link it writes through, so a link that died with its server goes once the
// sink has moved on to the next.
void GstEngine::Impl::soundThroughServer()
{
    gst::ElementPtr output = makeServerSink(SoundServerLink::shared());
    if (!output) {
        qCDebug(lcEngine) << "no sound server answers: playbin's default output";
        return;
    }
    // playbin takes the new sink at its next preroll; the pipeline is in NULL here.
    g_object_set(playbin.get(), "audio-sink", output.get(), nullptr);
    rampsAtServer = true;
    qCDebug(lcEngine) << "sounding through the sound server";
}

std::optional<QString> GstEngine::Impl::open(const QString& path)
{
    reset();
    this->path = path;
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
    if (sinkDescription.isEmpty() && !rampsAtServer)
        soundThroughServer();
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
        // A failed state change posts its reason just before or after it returns.
        if (firstError.isEmpty())
            bus->waitFor(GST_MESSAGE_ERROR, 200ms);
        QString text
            = failure.explain(playbin.get(), firstError, file.isHeld() ? file.heldName() : encoded);
        // A film without sound fails inside the demuxer when its only stream has nowhere
        // to go; say what the user needs to know rather than the demuxer's generic text.
        if (hasVideoOnly(playbin.get()))
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
    durationNs = readLength(encoded);
    restNs = 0;
    enter(Phase::Idle);
    qCDebug(lcEngine) << "opened" << path << "length" << durationNs << "ns, lead-in" << leadNs
                      << "ns";
    // The open needed the preroll to learn the file; the first play starts from READY anyway,
    // so go there once the caller is done, and that play starts sooner.
    bus->later(0ms, [this, file = ++openCount] {
        if (openCount == file && (phase == Phase::Idle || phase == Phase::PausedInPlace))
            goIdle();
    });
    return std::nullopt;
}

// Back to nothing open: the pipeline releases the file and the audio output, and whatever
// it said about the old file is dropped from the bus so it cannot be taken for news.
void GstEngine::Impl::reset()
{
    if (playbin) {
        gst_element_set_state(playbin.get(), GST_STATE_NULL);
        bus->forget();
    }
    enter(Phase::Closed);
    file.release();
    path.clear();
    playingHeld = false;
    playError.reset();
    durationNs = 0;
    leadNs = 0;
    restNs = 0;
    lastNs = 0;
}

// The file's length, and where its first sample stands in the stream. Plain MP3 frames carry
// no count, so GStreamer can only estimate from the bit rate, and bare ADTS, AC-3 and DTS
// streams give no length at all; walking the frames gives the exact length for such files
// only. An empty path (a length learnt later) walks nothing.
gint64 GstEngine::Impl::readLength(const QByteArray& encodedPath)
{
    gint64 ns = 0;
    if (!gst_element_query_duration(playbin.get(), GST_FORMAT_TIME, &ns) || ns < 0)
        ns = 0;
    const char* walked = nullptr;
    for (const char* parser : kLengthParsers) {
        if (!encodedPath.isEmpty() && containsFactory(playbin.get(), parser)
            && needsParsePass(parser, encodedPath, ns)) {
            if (auto exact = lengthByParsing(encodedPath, parser, kParseTimeout)) {
                ns = *exact;
                walked = parser;
            }
            break;
        }
    }
    leadNs = gint64(decoderLeadIn(playbin.get(), walked));
    return std::max<gint64>(ns - leadNs, 0);
}

gint64 GstEngine::Impl::fromStream(gint64 ns) const
{
    const gint64 file = std::max<gint64>(ns - leadNs, 0);
    return durationNs > 0 ? std::min(file, durationNs) : file;
}

gint64 GstEngine::Impl::readPosition()
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
    if (ns >= 0)
        lastNs = fromStream(ns);
    return lastNs;
}

GstEngine::GstEngine(QString audioSink)
    : d(std::make_unique<Impl>(std::move(audioSink)))
{
    initGStreamerOnce();
}

GstEngine::~GstEngine()
{
    d->reset();
}

std::optional<QString> GstEngine::open(const QString& path)
{
    std::optional<QString> failed = d->open(path);
    if (failed)
        qCDebug(lcEngine) << "open" << path << "failed:" << *failed;
    return failed;
}

void GstEngine::close()
{
    if (d->opened())
        d->reset();
}

bool GstEngine::isOpen() const
{
    return d->opened();
}

int GstEngine::length()
{
    d->drain();
    return d->opened() ? d->lengthMs() : 0;
}

int GstEngine::position()
{
    d->drain();
    if (!d->opened())
        return 0;
    return gst::nsToMs(d->phase == Impl::Phase::Playing ? d->readPosition() : d->restNs);
}

} // namespace media
