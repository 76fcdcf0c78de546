// SPDX-License-Identifier: MIT
#include "FormatMeasure.h"

#include "Signal.h"
#include "media/EMCIDeviceError.h"
#include "media/GstEngine.h"
#include "media/TMediaPlayer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <gst/gst.h>
#include <vector>

namespace formats {

namespace {

// Decoded samples as doubles: every integer depth and both float depths convert to them
// exactly, in GStreamer's converter as in sox, so lossless files compare bit for bit.
struct Pcm {
    int rate = 0;
    int channels = 0;
    std::vector<double> samples; // interleaved
    qint64 frames() const { return channels ? qint64(samples.size()) / channels : 0; }
};

std::vector<double> readDoubles(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<double> samples(std::size_t(bytes.size()) / sizeof(double));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(double));
    return samples;
}

QString soxInfo(const QString& option, const QString& path)
{
    QProcess tool;
    tool.start(QStringLiteral("soxi"), {option, path});
    tool.waitForFinished();
    return QString::fromLatin1(tool.readAllStandardOutput()).trimmed();
}

// The reference's samples as sox reads them.
Pcm readReference(const QString& path)
{
    Pcm pcm;
    pcm.rate = soxInfo(QStringLiteral("-r"), path).toInt();
    pcm.channels = soxInfo(QStringLiteral("-c"), path).toInt();
    const QString raw = path + QStringLiteral(".f64");
    QProcess::execute(
        QStringLiteral("sox"), {path, QStringLiteral("-t"), QStringLiteral("f64"), raw});
    pcm.samples = readDoubles(raw);
    QFile::remove(raw);
    return pcm;
}

// How many frames are compared after the seek: enough to tell any stretch of pink noise from
// any other, few enough to arrive in a fraction of a second of real-time play.
constexpr qint64 kCompareFrames = 4096;
// Real-time play long enough for that many frames at the lowest rate, with room to start.
constexpr int kPlayMs = 600;
// Below this normalised correlation the excerpt is not the source.
constexpr double kMatchScore = 0.5;

struct Landing {
    qint64 lag = 0; // frames from the target where the decoded sound really began
    double score = 0;
};

// Finds the decoded excerpt's first channel anywhere in the reference's first channel.
Landing locate(const Pcm& decoded, const Pcm& reference, qint64 target)
{
    const auto firstChannel = [](const Pcm& pcm, qint64 frames) {
        std::vector<float> out(static_cast<std::size_t>(frames));
        for (qint64 i = 0; i < frames; ++i)
            out[std::size_t(i)] = float(pcm.samples[std::size_t(i * pcm.channels)]);
        return out;
    };
    const qint64 n = std::min(kCompareFrames, decoded.frames());
    const std::vector<float> excerpt = firstChannel(decoded, n);
    const e2e::Locator locator(firstChannel(reference, reference.frames()));
    const e2e::Match match = locator.find(excerpt.data(), excerpt.size());
    return {match.offset - target, match.score};
}

bool sameSamples(const Pcm& decoded, const Pcm& reference, qint64 target)
{
    const qint64 n = std::min({kCompareFrames, decoded.frames(), reference.frames() - target});
    if (n < kCompareFrames / 2 || decoded.channels != reference.channels)
        return false;
    const auto count = std::size_t(n * decoded.channels);
    return std::equal(decoded.samples.begin(), decoded.samples.begin() + std::ptrdiff_t(count),
        reference.samples.begin() + std::ptrdiff_t(target * reference.channels));
}

QString signedMs(qint64 ms)
{
    return ms > 0 ? QStringLiteral("+%1 ms").arg(ms) : QStringLiteral("−%1 ms").arg(-ms);
}

QString seekText(const Pcm& decoded, const Pcm& reference, qint64 target, bool lossless)
{
    if (decoded.frames() < kCompareFrames / 2)
        return QStringLiteral("no sound after the seek");
    if (lossless && sameSamples(decoded, reference, target))
        return QStringLiteral("exact");
    const Landing landing = locate(decoded, reference, target);
    if (landing.score < kMatchScore)
        return QStringLiteral("not the source");
    // A seek that was not made at all plays from the start.
    if (target + landing.lag == 0)
        return QStringLiteral("at the start, not at the seek");
    if (lossless) {
        if (landing.lag == 0)
            return QStringLiteral("on the sample, values differ");
        return QStringLiteral("%1 sample%2 %3")
            .arg(std::abs(landing.lag))
            .arg(std::abs(landing.lag) == 1 ? "" : "s")
            .arg(landing.lag > 0 ? "late" : "early");
    }
    if (std::abs(landing.lag) * 1000 <= reference.rate)
        return QStringLiteral("within 1 ms");
    return signedMs(std::llround(double(landing.lag) * 1000 / reference.rate));
}

// Plays from the seek into a file, through the player as the window drives it; the sink keeps
// real time as a sound card would.
Pcm playAfterSeek(
    media::TMediaPlayer& player, const QString& raw, int targetMs, const Pcm& reference)
{
    player.setPosition(targetMs);
    player.Play();
    QElapsedTimer clock;
    clock.start();
    while (!clock.hasExpired(kPlayMs * 4) && player.Position() < targetMs + kPlayMs
        && player.Mode() == media::TMPModes::mpPlaying)
        QThread::msleep(20);
    player.Pause();
    player.Close(); // the sink writes out what it holds as it closes
    Pcm decoded;
    decoded.rate = reference.rate;
    decoded.channels = reference.channels;
    decoded.samples = readDoubles(raw);
    QFile::remove(raw);
    return decoded;
}

// "1.22" of "1.22.0", "5.1" of "5.1.7-0+deb12u1"; empty when the text has no such number.
QString majorMinor(const QString& version)
{
    static const QRegularExpression number(QStringLiteral("^[^0-9]*([0-9]+\\.[0-9]+)"));
    return number.match(version).captured(1);
}

// What a lossy kind may read on any stack that decodes it: a length and a landing, by
// whatever milliseconds that stack's decoder pads or misses.
bool lossyReading(const QString& cellShape)
{
    return cellShape == QLatin1String("exact") || cellShape == QLatin1String("within 1 ms")
        || cellShape == QStringLiteral("+… ms") || cellShape == QStringLiteral("−… ms");
}

} // namespace

bool sameStack(const Release& one, const Release& other)
{
    const QString gstreamer = majorMinor(one.gstreamer);
    const QString ffmpeg = majorMinor(one.ffmpeg);
    return !gstreamer.isEmpty() && !ffmpeg.isEmpty() && gstreamer == majorMinor(other.gstreamer)
        && ffmpeg == majorMinor(other.ffmpeg);
}

Release thisRelease()
{
    Release release;
    QFile debian(QStringLiteral("/etc/debian_version"));
    const QString point
        = debian.open(QIODevice::ReadOnly) ? QString::fromLatin1(debian.readAll()).trimmed() : "";
    release.system = !point.isEmpty() && point[0].isDigit() ? QStringLiteral("Debian ") + point
                                                            : QSysInfo::prettyProductName();
    guint major = 0, minor = 0, micro = 0, nano = 0;
    gst_version(&major, &minor, &micro, &nano);
    release.gstreamer = QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(micro);
    // "ffmpeg version 5.1.7-0+deb12u1 Copyright (c) 2000-2025 the FFmpeg developers"
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-version")});
    ffmpeg.waitForFinished();
    const QString said = QString::fromLatin1(ffmpeg.readAllStandardOutput()).section('\n', 0, 0);
    release.ffmpeg = said.startsWith(QLatin1String("ffmpeg version ")) ? said.section(' ', 2, 2)
                                                                       : QStringLiteral("(none)");
    return release;
}

QString lengthText(int lengthMs, int referenceMs)
{
    if (lengthMs == 0)
        return QStringLiteral("0 (none)");
    if (lengthMs == referenceMs)
        return QStringLiteral("exact");
    return signedMs(lengthMs - referenceMs);
}

QString shape(const QString& text)
{
    static const QRegularExpression milliseconds(QStringLiteral("^([+−])[0-9]+ ms$"));
    const QRegularExpressionMatch match = milliseconds.match(text);
    return match.hasMatch() ? match.captured(1) + QStringLiteral("… ms") : text;
}

bool agrees(const QString& measured, const QString& said, bool lossless, bool sameStack)
{
    const QString here = shape(measured);
    const QString there = shape(said);
    if (here == there)
        return true;
    if (sameStack)
        return false;
    return here == QLatin1String("exact")
        || (!lossless && lossyReading(here) && lossyReading(there));
}

bool sameMessage(const QString& measured, const QString& said, bool sameStack)
{
    if (sameStack)
        return measured == said;
    static const QRegularExpression quoted(QStringLiteral("\"[^\"]*\""));
    return QString(measured).replace(quoted, QStringLiteral("\"…\""))
        == QString(said).replace(quoted, QStringLiteral("\"…\""));
}

Row measure(const Kind& kind, const QString& folder)
{
    const QString dash = QStringLiteral("—");
    if (kind.command.isEmpty())
        return {kind.name, kind.missing, dash, dash, dash, {}};
    Row row {kind.name, QStringLiteral("`%1`").arg(kind.command), dash, dash, dash, {}};
    const Pcm reference = readReference(folder + '/' + kind.reference);
    if (reference.frames() == 0) {
        row.error = QStringLiteral("sox could not read the reference %1").arg(kind.reference);
        return row;
    }
    const QString raw = folder + QStringLiteral("/played.f64");
    QFile::remove(raw);
    // The reference's rate and layout, so that nothing is resampled or mixed on the way.
    const QString sink = QStringLiteral("audioconvert ! audio/x-raw,format=F64LE,rate=%1,"
                                        "channels=%2 ! filesink sync=true location=\"%3\"")
                             .arg(reference.rate)
                             .arg(reference.channels)
                             .arg(raw);
    media::TMediaPlayer player(std::make_unique<media::GstEngine>(sink));
    player.FileName = folder + '/' + kind.file;
    try {
        player.Open();
    } catch (const media::EMCIDeviceError& e) {
        row.opens = QStringLiteral("no");
        row.error = QString::fromStdString(e.what());
        return row;
    }
    row.opens = QStringLiteral("yes");
    const int lengthMs = player.Length();
    const int referenceMs
        = int(std::llround(double(reference.frames()) * 1000 / std::max(reference.rate, 1)));
    row.length = lengthText(lengthMs, referenceMs);
    if (lengthMs == 0) {
        row.seek = QStringLiteral("— (no length to seek in)");
        return row;
    }
    const qint64 target = qint64(kSeekMs) * reference.rate / 1000;
    const Pcm decoded = playAfterSeek(player, raw, kSeekMs, reference);
    row.seek = seekText(decoded, reference, target, kind.lossless);
    return row;
}

} // namespace formats
