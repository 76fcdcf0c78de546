// SPDX-License-Identifier: MIT
#include "media/ParsedLength.h"

#include "media/GstHandles.h"

#include <QFile>
#include <algorithm>
#include <atomic>
#include <iterator>

namespace media {

namespace {

// How far past the tag we look for the first frame: encoders and taggers leave a little
// padding, never kilobytes of it.
constexpr qint64 kFrameSearchWindow = 4096;

struct FrameHeader {
    bool mpeg1 = false;
    bool layer3 = false;
    bool mono = false;
    bool crc = false;
};

// A four-byte MPEG audio frame header, or nothing when these bytes cannot be one.
std::optional<FrameHeader> frameHeaderAt(const uchar* p)
{
    const int version = (p[1] >> 3) & 3;
    const int layer = (p[1] >> 1) & 3;
    const int bitrate = p[2] >> 4;
    const int rate = (p[2] >> 2) & 3;
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0 || version == 1 || layer == 0 || bitrate == 15
        || rate == 3)
        return std::nullopt;
    return FrameHeader {version == 3, layer == 1, (p[3] >> 6) == 3, (p[1] & 1) == 0};
}

quint32 bigEndian32(const uchar* p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
}

bool hasTagAt(const QByteArray& bytes, qsizetype at, const char* tag)
{
    return at >= 0 && at + 8 <= bytes.size() && bytes.mid(at, 4) == tag;
}

// Xing and Info tags sit right after the side information, whose size depends on the
// version and the channel count; some writers count the CRC in, so both places are tried.
bool hasFrameCountTag(const QByteArray& bytes, qsizetype frame, const FrameHeader& header)
{
    const int sideInfo = header.mpeg1 ? (header.mono ? 17 : 32) : (header.mono ? 9 : 17);
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    for (int extra : {0, 2}) {
        const qsizetype at = frame + 4 + sideInfo + (header.crc ? extra : 0);
        if (hasTagAt(bytes, at, "Xing") || hasTagAt(bytes, at, "Info"))
            return (bigEndian32(data + at + 4) & 1) != 0; // the frame count is present
    }
    // VBRI always sits 32 bytes after the header and always counts the frames.
    return hasTagAt(bytes, frame + 4 + 32, "VBRI");
}

// Size of an ID3v2 tag at the start of `head` (its 10 header bytes), 0 when there is none.
qint64 id3v2Size(const QByteArray& head)
{
    if (head.size() < 10 || !head.startsWith("ID3"))
        return 0;
    const auto* p = reinterpret_cast<const uchar*>(head.constData());
    if ((p[6] | p[7] | p[8] | p[9]) & 0x80)
        return 0; // not a syncsafe size: not a tag
    const qint64 body = (qint64(p[6]) << 21) | (p[7] << 14) | (p[8] << 7) | p[9];
    const bool footer = (p[5] & 0x10) != 0;
    return 10 + body + (footer ? 10 : 0);
}

} // namespace

MpegLengthHint mpegLengthHintAt(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    for (qsizetype at = 0; at + 4 <= bytes.size(); ++at) {
        const auto header = frameHeaderAt(data + at);
        if (!header)
            continue;
        if (!header->layer3)
            return MpegLengthHint::None; // layers I and II never carry these tags
        return hasFrameCountTag(bytes, at, *header) ? MpegLengthHint::FrameCount
                                                    : MpegLengthHint::None;
    }
    return MpegLengthHint::NotMpegAudio;
}

MpegLengthHint mpegLengthHint(const QByteArray& path)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return MpegLengthHint::NotMpegAudio;
    const qint64 tag = id3v2Size(file.read(10));
    if (!file.seek(tag))
        return MpegLengthHint::NotMpegAudio;
    return mpegLengthHintAt(file.read(kFrameSearchWindow));
}

namespace {

// Where the last frame seen ends. Written by the streaming thread; read only after the
// end-of-stream message, which the bus hands over under its lock.
struct FrameWalk {
    std::atomic<gint64> end {0};
};

GstPadProbeReturn onFrame(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (GST_BUFFER_PTS_IS_VALID(buffer) && GST_BUFFER_DURATION_IS_VALID(buffer)) {
        auto* walk = static_cast<FrameWalk*>(data);
        const auto end = gint64(GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer));
        walk->end.store(std::max(walk->end.load(), end));
    }
    return GST_PAD_PROBE_OK;
}

} // namespace

bool needsParsePass(const char* parser, const QByteArray& path, std::int64_t reportedNs)
{
    if (path.isEmpty())
        return false;
    if (g_strcmp0(parser, "mpegaudioparse") == 0)
        return mpegLengthHint(path) == MpegLengthHint::None;
    return reportedNs <= 0;
}

std::optional<std::int64_t> lengthByParsing(
    const QByteArray& path, const char* parser, std::chrono::milliseconds timeout)
{
    if (std::find_if(std::begin(kLengthParsers), std::end(kLengthParsers),
            [parser](const char* known) { return g_strcmp0(known, parser) == 0; })
        == std::end(kLengthParsers))
        return std::nullopt;
    // id3demux drops tags at either end so that no tag byte can pass for a frame, and passes
    // untagged files through; the parser then timestamps each frame by counting samples,
    // which is exact.
    const QByteArray description = QByteArray("filesrc name=src blocksize=65536 ! id3demux ! ")
        + parser + " ! fakesink name=sink sync=false enable-last-sample=false";
    GError* rawError = nullptr;
    FrameWalk walk;
    gst::PipelinePtr pipeline
        = gst::adoptPipeline(gst_parse_launch(description.constData(), &rawError));
    gst::ErrorPtr error(rawError);
    if (!pipeline || error)
        return std::nullopt;

    gst::ElementPtr src(gst_bin_get_by_name(GST_BIN(pipeline.get()), "src"));
    gst::ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    g_object_set(src.get(), "location", path.constData(), nullptr);
    gst::PadPtr sinkPad(gst_element_get_static_pad(sink.get(), "sink"));
    gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_BUFFER, onFrame, &walk, nullptr);

    gst::BusPtr bus(gst_element_get_bus(pipeline.get()));
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return std::nullopt;
    const auto waitNs = GstClockTime(timeout.count()) * GST_MSECOND;
    gst::MessagePtr done(gst_bus_timed_pop_filtered(
        bus.get(), waitNs, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    if (!done || GST_MESSAGE_TYPE(done.get()) != GST_MESSAGE_EOS || walk.end.load() <= 0)
        return std::nullopt;
    return walk.end.load();
}

} // namespace media
