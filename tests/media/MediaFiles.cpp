// SPDX-License-Identifier: MIT
#include "MediaFiles.h"

#include "media/EMCIDeviceError.h"
#include "media/GstEngine.h"
#include "media/TMediaPlayer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <cmath>
#include <stdexcept>

namespace testmedia {

namespace {

// Generous: encoding a few seconds takes a fraction of this even on a loaded machine.
constexpr int kToolTimeoutMs = 60000;

// Runs a tool and hands back what it printed; throws with its complaint on failure.
QByteArray capture(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(kToolTimeoutMs) || tool.exitStatus() != QProcess::NormalExit
        || tool.exitCode() != 0)
        throw std::runtime_error(QStringLiteral("%1 %2 failed: %3 %4")
                .arg(program, arguments.join(' '), tool.errorString(),
                    QString::fromLocal8Bit(tool.readAllStandardError()))
                .toStdString());
    return tool.readAllStandardOutput();
}

// The length a full decode of the file comes to; GStreamer keeps the decoder's rate.
int decodedMs(const QString& path, int rate)
{
    const QString raw = path + QStringLiteral(".raw");
    capture(QStringLiteral("gst-launch-1.0"),
        {"-q", "filesrc", "location=" + path, "!", "decodebin", "!", "audioconvert", "!",
            "audio/x-raw,format=S16LE,channels=1", "!", "filesink", "location=" + raw});
    const qint64 samples = QFileInfo(raw).size() / 2;
    QFile::remove(raw);
    return roundedMs(samples, rate);
}

// The length sox's own MP3 reader gives, from the frame count in a Xing header.
double soxSeconds(const QString& path)
{
    return capture(QStringLiteral("soxi"), {"-D", path}).trimmed().toDouble();
}

} // namespace

std::unique_ptr<media::TMediaPlayer> makePlayer()
{
    return std::make_unique<media::TMediaPlayer>(
        std::make_unique<media::GstEngine>(QStringLiteral("fakesink sync=true")));
}

QString openError(media::TMediaPlayer& player, const QString& path)
{
    player.FileName = path;
    try {
        player.Open();
        return {};
    } catch (const media::EMCIDeviceError& e) {
        return QString::fromStdString(e.what());
    }
}

QString playsOnFrom(media::TMediaPlayer& player, int target)
{
    constexpr int kSlackMs = 400;
    QElapsedTimer clock;
    clock.start();
    player.Play();
    QTest::qWait(200);
    player.Pause();
    const int last = target + int(clock.elapsed()) + kSlackMs;
    const int position = player.Position();
    if (position >= target && position <= last)
        return {};
    return QStringLiteral("%1 is outside %2..%3").arg(position).arg(target).arg(last);
}

QString runTool(const QString& program, const QStringList& arguments)
{
    try {
        capture(program, arguments);
        return {};
    } catch (const std::exception& e) {
        return QString::fromStdString(e.what());
    }
}

int roundedMs(qint64 samples, int rate)
{
    return int((samples * 1000 * 2 + rate) / (2 * qint64(rate)));
}

MediaSet::MediaSet()
{
    try {
        if (!dir_.isValid())
            throw std::runtime_error("no temporary folder");
        makeAll();
    } catch (const std::exception& e) {
        error_ = QString::fromStdString(e.what());
    }
}

const MediaFile& MediaSet::format(const QString& name) const
{
    for (const MediaFile& file : formats_) {
        if (file.format == name)
            return file;
    }
    throw std::out_of_range(name.toStdString());
}

QString MediaSet::makeSoxTone(const QString& name, int rate, int channels, qint64 samples)
{
    const QString path = dir_.filePath(name);
    // The rate and channels go before -n so that the sample count is counted at that rate.
    capture(QStringLiteral("sox"),
        {"-r", QString::number(rate), "-c", QString::number(channels), "-n", "-b", "16", path,
            "synth", QString::number(samples) + "s", "sine", "440", "vol", "0.5"});
    return path;
}

QString MediaSet::encode(const QString& source, const QString& encoder, const QString& name)
{
    const QString path = dir_.filePath(name);
    QStringList arguments {
        "-q", "filesrc", "location=" + source, "!", "wavparse", "!", "audioconvert", "!"};
    arguments += encoder.split(' ');
    arguments += {"!", "filesink", "location=" + path};
    capture(QStringLiteral("gst-launch-1.0"), arguments);
    return path;
}

void MediaSet::makeAll()
{
    addLossless();
    addEncoded();
    addSpecial();
}

// Sample counts chosen so that rounding and truncating give different milliseconds.
void MediaSet::addLossless()
{
    struct Tone {
        const char* format;
        const char* name;
        int rate;
        int channels;
        qint64 samples;
    };
    const Tone tones[] = {
        {"wav", "tone.wav", 44100, 2, 220547}, // 5001.07 ms
        {"flac", "tone.flac", 48000, 2, 160025}, // 3333.85 ms
        {"aiff", "tone.aiff", 22050, 1, 88211}, // 4000.50 ms, just under the half
    };
    for (const Tone& t : tones) {
        const int ms = roundedMs(t.samples, t.rate);
        formats_.push_back({t.format, makeSoxTone(t.name, t.rate, t.channels, t.samples), ms, ms});
    }
}

void MediaSet::addEncoded()
{
    const qint64 samples44 = 200000; // 4535.15 ms
    const QString src44 = makeSoxTone("src44.wav", 44100, 2, samples44);
    const QString src48 = makeSoxTone("src48.wav", 48000, 2, 144000); // 3000 ms
    const int nominal44 = roundedMs(samples44, 44100);
    formats_.push_back(
        {"vorbis", encode(src44, "vorbisenc ! oggmux", "tone.ogg"), nominal44 - 1, nominal44 + 1});
    formats_.push_back({"opus", encode(src48, "opusenc ! oggmux", "tone.opus"), 2999, 3001});

    // Plain frames: the exact length is the frames a full decode comes to.
    const QString cbr = dir_.filePath("cbr.mp3");
    capture(QStringLiteral("sox"), {src44, cbr});
    const QString vbr = encode(src44, "lamemp3enc target=quality quality=4", "vbr.mp3");
    for (const auto& [format, path] : {std::pair {"mp3-cbr", cbr}, {"mp3-vbr", vbr}}) {
        const int ms = decodedMs(path, 44100);
        formats_.push_back({format, path, ms - 1, ms + 1});
    }
    // A Xing header counts the frames; sox reads that count on its own.
    const QString xing
        = encode(src44, "lamemp3enc target=quality quality=2 ! xingmux", "vbr-xing.mp3");
    const int xingMs = int(std::lround(soxSeconds(xing) * 1000));
    formats_.push_back({"mp3-vbr-xing", xing, xingMs - 1, xingMs + 1});

    // AAC starts with priming samples that mp4mux records no edit for, so the file plays
    // longer than its source; two AAC frames (46 ms) bound that.
    formats_.push_back({"m4a", encode(src44, "avenc_aac ! mp4mux", "tone.m4a"), nominal44,
        nominal44 + roundedMs(2048, 44100)});
}

void MediaSet::addSpecial()
{
    shortWav = {"short-wav", makeSoxTone("short.wav", 44100, 2, 44100), 1000, 1000};

    const qint64 flacSamples = 4 * 44100;
    const QString full = makeSoxTone("full.flac", 44100, 2, flacSamples);
    QFile in(full);
    QFile out(dir_.filePath("truncated.flac"));
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot copy the FLAC file");
    out.write(in.read(in.size() / 5)); // keeps the header and under a second of sound
    const int fullMs = roundedMs(flacSamples, 44100);
    truncatedFlac = {"truncated-flac", out.fileName(), fullMs, fullMs};

    const QString video = dir_.filePath("film.mp4");
    capture(QStringLiteral("gst-launch-1.0"),
        {"-q", "videotestsrc", "num-buffers=75", "!",
            "video/x-raw,format=I420,framerate=25/1,width=160,height=120", "!", "x264enc",
            "speed-preset=ultrafast", "!", "mp4mux", "name=mux", "!", "filesink",
            "location=" + video, "audiotestsrc", "num-buffers=30", "samplesperbuffer=4410", "!",
            "audio/x-raw,rate=44100", "!", "avenc_aac", "!", "mux."});
    const int audioMs = roundedMs(30 * 4410, 44100);
    withVideo = {"film", video, audioMs, audioMs + roundedMs(2048, 44100)};
}

const MediaSet& mediaSet()
{
    static const MediaSet set;
    return set;
}

} // namespace testmedia
