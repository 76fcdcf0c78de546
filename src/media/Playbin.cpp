// SPDX-License-Identifier: MIT
#include "media/Playbin.h"

#include "media/FormatWorkarounds.h"

#include <cstring>
#include <mutex>
#include <sys/stat.h>

namespace media {

namespace {

// playbin's "flags" bit for decoding the sound. Video, subtitles and visualisations stay
// off, so a film's sound plays and no window ever opens. Soft volume stays off too: this
// program never changes the volume, and in GStreamer 1.22 every open with it on leaks a
// volume element (measured with tst_gstengine_leaks).
constexpr guint kPlayFlagAudio = 1u << 1;

// The decoder's own delay, in samples, of the codecs whose bare frames are played: AAC-LC
// frames overlap by 1024 samples and AC-3 blocks by 256, so the first output of any stream
// is that much lead-in before the encoder's first input sample (ffmpeg's encoders add
// nothing to it: measured against the source, 1024 and 256 samples).
struct LeadIn {
    const char* parser;
    int samples;
};
constexpr LeadIn kLeadIns[] = {{"aacparse", 1024}, {"ac3parse", 256}};

} // namespace

void initGStreamerOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        gst_init(nullptr, nullptr);
        installFormatWorkarounds();
        // MP3 through mpg123 rather than FFmpeg's decoder, which ranks the same and wins on
        // its name: an MP3 then does not load FFmpeg's libraries, some 30 MB of them.
        const gst::FeaturePtr mpg123(
            gst_registry_lookup_feature(gst_registry_get(), "mpg123audiodec"));
        if (mpg123)
            gst_plugin_feature_set_rank(mpg123.get(), GST_RANK_PRIMARY);
    });
}

MadePlaybin makePlaybin(const QString& sinkDescription)
{
    MadePlaybin made;
    gst::PipelinePtr bin = gst::adoptPipeline(gst_element_factory_make("playbin", nullptr));
    if (!bin) {
        made.error = QStringLiteral("GStreamer's playbin element is missing.");
        return made;
    }
    g_object_set(bin.get(), "flags", kPlayFlagAudio, nullptr);
    mendPullModeReaders(bin.get());
    // Belt and braces with the flags: should a video stream ever be rendered, it goes nowhere.
    gst::ElementPtr noVideo = gst::adoptElement(gst_element_factory_make("fakesink", nullptr));
    g_object_set(bin.get(), "video-sink", noVideo.get(), nullptr);
    if (!sinkDescription.isEmpty()) {
        GError* raw = nullptr;
        gst::ElementPtr sink = gst::adoptElement(
            gst_parse_bin_from_description(sinkDescription.toUtf8().constData(), TRUE, &raw));
        gst::ErrorPtr error(raw);
        if (!sink || error) {
            made.error = error ? QString::fromUtf8(error->message) : QString();
            return made;
        }
        g_object_set(bin.get(), "audio-sink", sink.get(), nullptr);
    }
    made.playbin = std::move(bin);
    return made;
}

std::optional<QString> refuseNonFile(const QString& path, const QByteArray& encoded)
{
    if (path.isEmpty())
        return QStringLiteral("No file name given.");
    // Opening a pipe, socket or device would block filesrc's thread (a FIFO until someone
    // writes to it).
    struct stat info {};
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

bool hasVideoOnly(GstElement* playbin)
{
    gint audio = 0, video = 0;
    g_object_get(playbin, "n-audio", &audio, "n-video", &video, nullptr);
    return audio == 0 && video > 0;
}

GstClockTime decoderLeadIn(GstElement* playbin, const char* lengthParser)
{
    if (!lengthParser)
        return 0;
    for (const LeadIn& lead : kLeadIns) {
        if (std::strcmp(lead.parser, lengthParser) != 0)
            continue;
        // The decoded rate, as the sink is fed: the delay is counted in its samples.
        GstPad* rawPad = nullptr;
        g_signal_emit_by_name(playbin, "get-audio-pad", 0, &rawPad);
        gst::PadPtr pad(rawPad);
        gst::CapsPtr caps(pad ? gst_pad_get_current_caps(pad.get()) : nullptr);
        gint rate = 0;
        if (!caps || gst_caps_get_size(caps.get()) == 0
            || !gst_structure_get_int(gst_caps_get_structure(caps.get(), 0), "rate", &rate)
            || rate <= 0)
            return 0;
        return gst_util_uint64_scale_int(GstClockTime(lead.samples), GST_SECOND, rate);
    }
    return 0;
}

} // namespace media
