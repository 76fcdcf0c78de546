// SPDX-License-Identifier: MIT
#include "FormatKinds.h"

#include <QFile>
#include <QProcess>

namespace formats {

namespace {

// Encoding a minute of audio at 192 kHz takes seconds; this only bounds a tool that hangs.
constexpr int kToolTimeoutMs = 120000;

// Added to the source's whole seconds; see sourceCommands.
constexpr int kOddSamples = 77;

Kind made(const char* name, const char* command, const char* reference, bool lossless)
{
    const QString text = QString::fromUtf8(command);
    return {QString::fromUtf8(name), text, text.section(' ', -1), QString::fromUtf8(reference),
        lossless, {}};
}

Kind none(const char* name, const char* why)
{
    return {QString::fromUtf8(name), {}, {}, {}, false, QString::fromUtf8(why)};
}

} // namespace

// The source is 24-bit stereo at 48 kHz; lossy encoders get its 16-bit copy (w16.wav), as
// most of them are fed in practice. Kinds whose file sox can read are their own reference;
// the others decode to what they were made from.
const std::vector<Kind>& kinds()
{
    static const std::vector<Kind> all = {
        made("WAV PCM 8-bit", "sox src.wav -b 8 w8.wav", "w8.wav", true),
        made("WAV PCM 16-bit", "sox src.wav -b 16 w16.wav", "w16.wav", true),
        made("WAV PCM 24-bit", "sox src.wav -b 24 w24.wav", "src.wav", true),
        made("WAV PCM 32-bit", "sox src.wav -b 32 w32.wav", "w32.wav", true),
        made("WAV 32-bit float", "sox src.wav -e float -b 32 wf32.wav", "src.wav", true),
        made("WAV 64-bit float", "sox src.wav -e float -b 64 wf64.wav", "src.wav", true),
        made("WAV extensible, 6 channels", "sox -M src.wav src.wav src.wav w6.wav", "w6.wav", true),
        made("BWF (bext chunk)", "ffmpeg -i src.wav -c:a pcm_s24le -write_bext 1 bwf.wav",
            "src.wav", true),
        made("RF64", "ffmpeg -i src.wav -c:a pcm_s24le -rf64 always rf64.wav", "src.wav", true),
        made("AIFF 16-bit", "sox src.wav -b 16 a16.aiff", "a16.aiff", true),
        made("AIFF 24-bit", "sox src.wav -b 24 a24.aiff", "src.wav", true),
        made("AIFF 32-bit", "sox src.wav -b 32 a32.aiff", "a32.aiff", true),
        made("AIFF-C 16-bit", "sox src.wav -b 16 c16.aifc", "c16.aifc", true),
        made("AIFF-C 24-bit", "sox src.wav -b 24 c24.aifc", "src.wav", true),
        made("AIFF-C 32-bit", "sox src.wav -b 32 c32.aifc", "c32.aifc", true),
        made("AIFF-C 32-bit float", "ffmpeg -i src.wav -c:a pcm_f32be cf32.aifc", "src.wav", true),
        made("AIFF-C 64-bit float", "ffmpeg -i src.wav -c:a pcm_f64be cf64.aifc", "src.wav", true),
        made("Wave64", "sox src.wav w64.w64", "src.wav", true),
        made("CAF, PCM", "ffmpeg -i src.wav -c:a pcm_s24be pcm.caf", "src.wav", true),
        made("CAF, ALAC", "ffmpeg -i src.wav -c:a alac alac.caf", "src.wav", true),
        made("FLAC 16-bit", "flac -s w16.wav -o f16.flac", "w16.wav", true),
        made("FLAC 24-bit", "flac -s src.wav -o f24.flac", "src.wav", true),
        made("FLAC 24-bit 96 kHz", "sox src.wav -r 96000 f96.flac", "f96.flac", true),
        made("FLAC 24-bit 192 kHz", "sox src.wav -r 192000 f192.flac", "f192.flac", true),
        made("Ogg FLAC", "flac -s --ogg src.wav -o f.oga", "src.wav", true),
        made("ALAC in M4A", "ffmpeg -i src.wav -c:a alac alac.m4a", "src.wav", true),
        made("WavPack (wavpack)", "wavpack -q src.wav -o wp.wv", "src.wav", true),
        made("WavPack (ffmpeg)", "ffmpeg -i src.wav -c:a wavpack ff.wv", "src.wav", true),
        none("Monkey's Audio",
            "no encoder program in Debian 12 (ffmpeg only decodes it; libjmac-java is a "
            "library)"),
        made("TTA", "ffmpeg -i src.wav -c:a tta t.tta", "src.wav", true),
        none("DSD in DSF", "no encoder in Debian 12 (neither sox nor ffmpeg writes DSD)"),
        made("MP3 CBR 320k", "lame --quiet -b 320 w16.wav cbr.mp3", "w16.wav", false),
        made("MP3 VBR", "lame --quiet -V 2 w16.wav vbr.mp3", "w16.wav", false),
        made("MP3 VBR, no header", "lame --quiet -t -V 2 w16.wav bare.mp3", "w16.wav", false),
        made("MP3 MPEG-2, 22.05 kHz", "lame --quiet s22.wav m22.mp3", "s22.wav", false),
        made("MP3 MPEG-2.5, 8 kHz", "lame --quiet s8.wav m8.mp3", "s8.wav", false),
        made("MP2", "ffmpeg -i w16.wav -c:a mp2 -b:a 256k a.mp2", "w16.wav", false),
        made("AAC in M4A", "ffmpeg -i w16.wav -c:a aac -b:a 192k aac.m4a", "w16.wav", false),
        made("AAC, raw ADTS", "ffmpeg -i w16.wav -c:a aac -b:a 192k adts.aac", "w16.wav", false),
        none("HE-AAC",
            "no encoder in Debian 12 (ffmpeg's AAC encoder makes LC only; fdk-aac is not in "
            "Debian)"),
        made("Opus in Ogg", "opusenc --quiet w16.wav o.opus", "w16.wav", false),
        made("Opus in Matroska", "ffmpeg -i w16.wav -c:a libopus o.mka", "w16.wav", false),
        made("Opus in WebM", "ffmpeg -i w16.wav -c:a libopus o.webm", "w16.wav", false),
        made("Vorbis", "oggenc -Q w16.wav -o v.ogg", "w16.wav", false),
        made("AC-3", "ffmpeg -i w16.wav -c:a ac3 a.ac3", "w16.wav", false),
        made("E-AC-3", "ffmpeg -i w16.wav -c:a eac3 a.eac3", "w16.wav", false),
        made("DTS", "ffmpeg -i w16.wav -strict -2 -c:a dca a.dts", "w16.wav", false),
        made("WMA", "ffmpeg -i w16.wav -c:a wmav2 a.wma", "w16.wav", false),
        // The picture is drawn from the sound itself, so that both streams last as long.
        made("Music video (H.264 + AAC in MP4)",
            "ffmpeg -i w16.wav -filter_complex \"[0:a]showwaves=s=160x120[v]\" -map \"[v]\" "
            "-map 0:a -c:v libx264 -c:a aac v.mp4",
            "w16.wav", false),
    };
    return all;
}

// Pink noise, different in each channel and never repeating, so that a few thousand samples
// of it say where in the source they came from. Its sample count, and that of its copies at
// 22.05 and 8 kHz, is odd, so that no lossy codec's frames (all of an even size) fill it
// exactly: every source length then pads the last frame alike, and a short source measures
// the README's lengths. A whole number of seconds would not (20 s is 625 AC-3 frames).
std::vector<QString> sourceCommands(int seconds)
{
    return {
        QStringLiteral("sox -n -r 48000 -b 24 -c 2 src.wav synth %1s pinknoise vol 0.5")
            .arg(qint64(seconds) * 48000 + kOddSamples),
        QStringLiteral("sox src.wav -b 16 -r 22050 s22.wav"),
        QStringLiteral("sox src.wav -b 16 -r 8000 s8.wav"),
    };
}

QString runCommand(const QString& command, const QString& folder)
{
    QString full = command;
    if (full.startsWith(QLatin1String("sox ")))
        full.insert(4, QLatin1String("-R "));
    else if (full.startsWith(QLatin1String("ffmpeg ")))
        full.insert(7, QLatin1String("-nostdin -v error -y "));
    QProcess tool;
    tool.setWorkingDirectory(folder);
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), full});
    if (!tool.waitForFinished(kToolTimeoutMs)) {
        tool.kill();
        tool.waitForFinished();
        return QStringLiteral("%1: did not finish").arg(command);
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return QStringLiteral("%1: %2").arg(
            command, QString::fromLocal8Bit(tool.readAll()).trimmed());
    return {};
}

QString makeKind(const Kind& kind, const QString& folder)
{
    if (kind.command.isEmpty())
        return {};
    QFile::remove(folder + '/' + kind.file);
    return runCommand(kind.command, folder);
}

} // namespace formats
