// SPDX-License-Identifier: MIT
// The kinds of file a studio brings, made at test time from one 96 kHz, 24-bit source with
// sox, ffmpeg and wavpack, opened through TMediaPlayer on the GStreamer engine: each opens
// with its exact length and seeks, or says what it is and that it cannot be played here.
#include "MediaFiles.h"
#include "media/EMCIDeviceError.h"
#include "media/FormatWorkarounds.h"
#include "media/GstEngine.h"
#include "media/OpenFailure.h"
#include "media/ParsedLength.h"
#include "media/TMediaPlayer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <map>

using media::EMCIDeviceError;
using media::TMediaPlayer;
using media::TMPModes;

using testmedia::makePlayer;
using testmedia::openError;

namespace {

constexpr int kRate = 96000;
// 2500.385 ms: rounding and truncating give different milliseconds.
constexpr qint64 kSamples = 240037;

// How a kind is made from the source, and what its length may be: lossless kinds give the
// source's length exactly; lossy ones add the encoder's delay and fill their last frame, at
// most `paddingFrames` frames of `frameSamples` at `rate`.
struct Kind {
    const char* name;
    const char* file;
    const char* tool;
    QStringList arguments; // "{in}" and "{out}" stand for the source and the file
    int rate = kRate;
    int frameSamples = 0; // 0: lossless
    int paddingFrames = 2;
};

const Kind kPlayable[] = {
    {"aiff-24", "a24.aiff", "sox", {"{in}", "-b", "24", "{out}"}},
    {"aiff-32", "a32.aiff", "sox", {"{in}", "-b", "32", "{out}"}},
    {"aiff-c-24", "c24.aifc", "sox", {"{in}", "-b", "24", "-t", "aifc", "{out}"}},
    {"aiff-c-float", "float.aiff", "ffmpeg", {"-i", "{in}", "-c:a", "pcm_f32be", "{out}"}},
    {"wave64", "sox.w64", "sox", {"{in}", "{out}"}},
    {"wave64-ffmpeg", "ffmpeg.w64", "ffmpeg", {"-i", "{in}", "-c:a", "pcm_s24le", "{out}"}},
    {"wavpack", "wavpack.wv", "wavpack", {"-q", "{in}", "-o", "{out}"}},
    // ffmpeg writes blocks of about 160 KB at this rate and depth, and an APE tag.
    {"wavpack-ffmpeg", "ffmpeg.wv", "ffmpeg", {"-i", "{in}", "-c:a", "wavpack", "{out}"}},
    {"aac-adts", "x.aac", "ffmpeg", {"-i", "{in}", "-c:a", "aac", "{out}"}, kRate, 1024},
    {"ac3", "x.ac3", "ffmpeg", {"-i", "{in}", "-ar", "48000", "-c:a", "ac3", "{out}"}, 48000, 1536},
    {"eac3", "x.eac3", "ffmpeg", {"-i", "{in}", "-ar", "48000", "-c:a", "eac3", "{out}"}, 48000,
        1536},
    {"dts", "x.dts", "ffmpeg",
        {"-i", "{in}", "-ar", "48000", "-strict", "-2", "-c:a", "dca", "{out}"}, 48000, 512},
    {"mp2", "x.mp2", "ffmpeg", {"-i", "{in}", "-ar", "48000", "-c:a", "mp2", "{out}"}, 48000, 1152},
};

const Kind kUnplayable[] = {
    {"caf-pcm", "pcm.caf", "ffmpeg", {"-i", "{in}", "-c:a", "pcm_s24le", "{out}"}},
    {"caf-alac", "alac.caf", "ffmpeg", {"-i", "{in}", "-c:a", "alac", "{out}"}},
};

QString outside(int value, int low, int high)
{
    return QStringLiteral("%1 is outside %2..%3").arg(value).arg(low).arg(high);
}

QByteArray wavPackHeader(quint32 blockSize, quint16 version)
{
    QByteArray head(32, '\0');
    head.replace(0, 4, "wvpk");
    qToLittleEndian(blockSize, head.data() + 4);
    qToLittleEndian(version, head.data() + 8);
    return head;
}

} // namespace

class TestGstEngineKinds : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void opensWithItsLength_data();
    void opensWithItsLength();
    void seekLands_data();
    void seekLands();
    void unplayableKindSaysWhatItIs_data();
    void unplayableKindSaysWhatItIs();
    void damagedFileSaysWhatItIs_data();
    void damagedFileSaysWhatItIs();
    void fileOfNoSamplesOpens_data();
    void fileOfNoSamplesOpens();
    void failureReadsTheKindFromTheFile_data();
    void failureReadsTheKindFromTheFile();
    void deepWave64KeepsEveryBit();
    void wave64SeekReadsTheSampleAskedFor();
    void pullModeReadersNeverHang_data();
    void pullModeReadersNeverHang();
    void parsePassNeedsNoDurationOnly_data();
    void parsePassNeedsNoDurationOnly();
    void bigWavPackBlocksAreFound_data();
    void bigWavPackBlocksAreFound();

private:
    QString make(const Kind& kind);
    void addKindRows(bool playable);

    QTemporaryDir dir_;
    QString source_;
    QString error_;
    std::map<QString, QString> made_; // kind name -> path, or the tool's complaint
};

QString TestGstEngineKinds::make(const Kind& kind)
{
    const QString out = dir_.filePath(kind.file);
    QStringList arguments;
    if (QString(kind.tool) == "ffmpeg")
        arguments << "-loglevel"
                  << "error"
                  << "-y";
    for (QString argument : kind.arguments)
        arguments << argument.replace("{in}", source_).replace("{out}", out);
    const QString complaint = testmedia::runTool(kind.tool, arguments);
    return complaint.isEmpty() ? out : complaint;
}

void TestGstEngineKinds::initTestCase()
{
    QVERIFY(dir_.isValid());
    gst_init(nullptr, nullptr);
    // Two tones, as a master would have more than one; the second one makes WavPack's
    // blocks bigger.
    source_ = dir_.filePath("source.wav");
    QCOMPARE(testmedia::runTool("sox",
                 {"-r", QString::number(kRate), "-c", "2", "-n", "-b", "24", source_, "synth",
                     QString::number(kSamples) + "s", "sine", "440", "sine", "660", "vol", "0.5"}),
        QString());
}

void TestGstEngineKinds::addKindRows(bool playable)
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");
    const int sourceMs = testmedia::roundedMs(kSamples, kRate);
    auto add = [&](const Kind& kind) {
        if (!made_.count(kind.name))
            made_[kind.name] = make(kind);
        const int padding = kind.frameSamples
            ? testmedia::roundedMs(qint64(kind.frameSamples) * kind.paddingFrames, kind.rate)
            : 0;
        QTest::newRow(kind.name) << made_[kind.name] << sourceMs << sourceMs + padding;
    };
    if (playable) {
        for (const Kind& kind : kPlayable)
            add(kind);
    } else {
        for (const Kind& kind : kUnplayable)
            add(kind);
    }
}

void TestGstEngineKinds::opensWithItsLength_data()
{
    addKindRows(true);
}

void TestGstEngineKinds::opensWithItsLength()
{
    QFETCH(QString, path);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    QVERIFY2(QFile::exists(path), qPrintable(path)); // else the tool's complaint
    auto player = makePlayer();
    QCOMPARE(openError(*player, path), QString());
    const int length = player->Length();
    QVERIFY2(length >= minMs && length <= maxMs, qPrintable(outside(length, minMs, maxMs)));
}

void TestGstEngineKinds::seekLands_data()
{
    addKindRows(true);
}

// The position after a seek is the millisecond asked for, and playing goes on from there.
void TestGstEngineKinds::seekLands()
{
    QFETCH(QString, path);
    QVERIFY2(QFile::exists(path), qPrintable(path));
    auto player = makePlayer();
    QCOMPARE(openError(*player, path), QString());
    // Forward, then back, on the same player: the second seek must not inherit the first's.
    for (const int target : {1777, 555}) {
        player->setPosition(target);
        QCOMPARE(player->Position(), target);
        const QString missed = testmedia::playsOnFrom(*player, target);
        QVERIFY2(missed.isEmpty(), qPrintable(missed));
        QCOMPARE(player->lastError(), QString());
    }
}

void TestGstEngineKinds::unplayableKindSaysWhatItIs_data()
{
    addKindRows(false);
}

// No plugin on Debian 12 reads CAF (libsndfile does, but GStreamer's sfdec leaves CAF out).
// The message says what the file is; GStreamer's own text only says a plugin is missing.
void TestGstEngineKinds::unplayableKindSaysWhatItIs()
{
    QFETCH(QString, path);
    QVERIFY2(QFile::exists(path), qPrintable(path));
    auto player = makePlayer();
    const QString error = openError(*player, path);
    QVERIFY2(error.contains("Apple Core Audio Format") && error.contains("cannot be played here"),
        qPrintable(error));
    QCOMPARE(error, media::unplayableText(QStringLiteral("Apple Core Audio Format")));
    QCOMPARE(player->Mode(), TMPModes::mpNotReady);
}

void TestGstEngineKinds::damagedFileSaysWhatItIs_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("convert"); // sox arguments after the source and before the file
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<int>("channelsAt"); // from the chunk's mark
    QTest::addColumn<QString>("kind");
    QTest::newRow("wav") << "no-channels.wav" << QStringList {"-b", "24"} << QByteArray("fmt ")
                         << 10 << "WAV";
    QTest::newRow("aiff-c") << "no-channels.aifc" << QStringList {"-b", "24", "-t", "aifc"}
                            << QByteArray("COMM") << 8 << "Audio Interchange File Format (AIFF)";
}

// A file whose reader fails with GStreamer's "Internal data stream error." says what kind of
// file it is instead: here files whose header claims no channels. aiffparse's error used to
// fall in decodebin's window where it ignores the reader's errors, and the open hung; opened
// after a good file again and again, each must fail at once.
void TestGstEngineKinds::damagedFileSaysWhatItIs()
{
    QFETCH(QString, file);
    QFETCH(QStringList, convert);
    QFETCH(QByteArray, chunk);
    QFETCH(int, channelsAt);
    QFETCH(QString, kind);
    const QString good = dir_.filePath("good-" + file);
    const QString path = dir_.filePath(file);
    QCOMPARE(
        testmedia::runTool("sox", QStringList {source_} + convert + QStringList {good}), QString());
    QVERIFY(QFile::copy(good, path));
    QFile damaged(path);
    QVERIFY(damaged.open(QIODevice::ReadWrite));
    const qsizetype at = damaged.read(4096).indexOf(chunk);
    QVERIFY(at > 0);
    QVERIFY(damaged.seek(at + channelsAt));
    QCOMPARE(damaged.write(QByteArray(2, '\0')), 2);
    damaged.close();

    auto player = makePlayer();
    for (int round = 0; round < 10; ++round) {
        QCOMPARE(openError(*player, good), QString());
        QElapsedTimer clock;
        clock.start();
        const QString error = openError(*player, path);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(error.contains(kind) && error.contains("could not be read"), qPrintable(error));
        QCOMPARE(error, media::unreadableText(kind));
        QVERIFY(!player->isOpen());
    }
}

void TestGstEngineKinds::fileOfNoSamplesOpens_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("convert"); // sox arguments after the source and before the file
    QTest::newRow("aiff") << "empty.aiff" << QStringList {"-b", "24"};
    QTest::newRow("aiff-c") << "empty.aifc" << QStringList {"-b", "24", "-t", "aifc"};
}

// A file whose header is whole but holds no samples ends its stream at once, after saying
// its format: it opens, 0:00 long, however the readers' failures before a format are handled.
void TestGstEngineKinds::fileOfNoSamplesOpens()
{
    QFETCH(QString, file);
    QFETCH(QStringList, convert);
    const QString path = dir_.filePath(file);
    QCOMPARE(testmedia::runTool(
                 "sox", QStringList {source_} + convert + QStringList {path, "trim", "0", "0"}),
        QString());
    auto player = makePlayer();
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(openError(*player, path), QString());
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(player->Length(), 0);
}

void TestGstEngineKinds::failureReadsTheKindFromTheFile_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("expected");
    const QString generic = "Internal data stream error.";
    QFile wav(source_);
    QVERIFY(wav.open(QIODevice::ReadOnly));
    const QByteArray wavHead = wav.read(64 * 1024);
    QTest::newRow("a WAV, a generic error") << wavHead << generic << media::unreadableText("WAV");
    QTest::newRow("a WAV, an error that says something")
        << wavHead << "Could not open resource for reading."
        << "Could not open resource for reading.";
    QByteArray noise(4096, '\0');
    quint32 state = 12345; // noise from a fixed seed, which no type finder takes for a kind
    for (char& byte : noise) {
        state = state * 1103515245 + 12345;
        byte = char(state >> 24);
    }
    QTest::newRow("no kind at all") << noise << generic << generic;
    QTest::newRow("an empty file") << QByteArray() << generic << generic;
}

// When the pipeline no longer holds the kind it found (here a pipeline that never ran), a
// failed open still says what kind of file it was, from the file itself; a file of no kind
// keeps GStreamer's words.
void TestGstEngineKinds::failureReadsTheKindFromTheFile()
{
    QFETCH(QByteArray, head);
    QFETCH(QString, error);
    QFETCH(QString, expected);
    const QString path = dir_.filePath("head.bin");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(head), head.size());
    file.close();
    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    QVERIFY(playbin);
    const QString text = media::OpenFailure().explain(playbin, error, QFile::encodeName(path));
    gst_object_unref(playbin);
    QCOMPARE(text, expected);
}

// sfdec on its own reads a 24-bit Wave64 as 16-bit samples; through the engine's playbin it
// must hand on a format that holds all 24 bits.
void TestGstEngineKinds::deepWave64KeepsEveryBit()
{
    const QString path = dir_.filePath("deep.w64");
    QCOMPARE(testmedia::runTool("sox", {source_, "-b", "24", path}), QString());
    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    QVERIFY(playbin);
    gst_object_ref_sink(playbin);
    media::mendPullModeReaders(playbin);
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    gchar* uri = gst_filename_to_uri(QFile::encodeName(path).constData(), nullptr);
    g_object_set(playbin, "uri", uri, "audio-sink", sink, nullptr);
    g_free(uri);
    gst_element_set_state(playbin, GST_STATE_PAUSED);
    const GstStateChangeReturn settled
        = gst_element_get_state(playbin, nullptr, nullptr, 10 * GST_SECOND);

    QString format;
    GstIterator* items = gst_bin_iterate_recurse(GST_BIN(playbin));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(items, &item) == GST_ITERATOR_OK) {
        GstElement* element = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* factory = gst_element_get_factory(element);
        if (factory && QByteArray(GST_OBJECT_NAME(factory)) == "sfdec") {
            GstPad* src = gst_element_get_static_pad(element, "src");
            if (GstCaps* caps = gst_pad_get_current_caps(src)) {
                format = gst_structure_get_string(gst_caps_get_structure(caps, 0), "format");
                gst_caps_unref(caps);
            }
            gst_object_unref(src);
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(items);
    gst_element_set_state(playbin, GST_STATE_NULL);
    gst_object_unref(playbin);

    QCOMPARE(settled, GST_STATE_CHANGE_SUCCESS);
    QVERIFY2(format == GST_AUDIO_NE(S32) || format == GST_AUDIO_NE(F32), qPrintable(format));
}

namespace {

struct FirstBuffer {
    QByteArray bytes;
    GstClockTime pts = GST_CLOCK_TIME_NONE;
};

void keepFirstAfterSeek(GstElement*, GstBuffer* buffer, GstPad*, gpointer data)
{
    auto* first = static_cast<FirstBuffer*>(data);
    if (!first->bytes.isEmpty())
        return;
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        first->bytes = QByteArray(reinterpret_cast<const char*>(map.data), int(map.size));
        first->pts = GST_BUFFER_PTS(buffer);
        gst_buffer_unmap(buffer, &map);
    }
}

} // namespace

// Where a seek in a Wave64 lands is told by the samples, not only by the position: the
// first buffer after a seek to 1777 ms holds the source's samples from frame 170592 on.
void TestGstEngineKinds::wave64SeekReadsTheSampleAskedFor()
{
    const QString path = dir_.filePath("seek.w64");
    QCOMPARE(testmedia::runTool("sox", {source_, "-b", "24", path}), QString());
    QFile source(source_);
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray wav = source.readAll();
    const qsizetype data = wav.indexOf("data") + 8;
    QVERIFY(data > 8);
    const qint64 frame = 170592; // 1777 ms at 96 kHz
    const int channels = 2;

    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    QVERIFY(playbin);
    gst_object_ref_sink(playbin);
    media::mendPullModeReaders(playbin);
    GError* error = nullptr;
    GstElement* sink = gst_parse_bin_from_description(
        "audioconvert ! audio/x-raw,format=S32LE ! fakesink name=out signal-handoffs=true", TRUE,
        &error);
    QVERIFY(sink && !error);
    FirstBuffer first;
    GstElement* out = gst_bin_get_by_name(GST_BIN(sink), "out");
    gchar* uri = gst_filename_to_uri(QFile::encodeName(path).constData(), nullptr);
    g_object_set(playbin, "uri", uri, "audio-sink", sink, nullptr);
    g_free(uri);
    gst_element_set_state(playbin, GST_STATE_PAUSED);
    gst_element_get_state(playbin, nullptr, nullptr, 10 * GST_SECOND);
    g_signal_connect(out, "preroll-handoff", G_CALLBACK(keepFirstAfterSeek), &first);
    const bool sought = gst_element_seek_simple(playbin, GST_FORMAT_TIME,
        GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), 1777 * GST_MSECOND);
    gst_element_get_state(playbin, nullptr, nullptr, 10 * GST_SECOND);
    gst_element_set_state(playbin, GST_STATE_NULL);
    gst_object_unref(out);
    gst_object_unref(playbin);

    QVERIFY(sought);
    QCOMPARE(first.pts, GstClockTime(1777 * GST_MSECOND));
    QVERIFY(first.bytes.size() >= 16 * channels * 4);
    for (int i = 0; i < 16 * channels; ++i) {
        const auto* in
            = reinterpret_cast<const uchar*>(wav.constData() + data) + (frame * channels + i) * 3;
        const qint32 expected = qint32(quint32(in[0] << 8 | in[1] << 16 | in[2] << 24)) >> 8;
        const qint32 played = qFromLittleEndian<qint32>(first.bytes.constData() + i * 4) >> 8;
        QCOMPARE(played, expected);
    }
}

void TestGstEngineKinds::pullModeReadersNeverHang_data()
{
    QTest::addColumn<QString>("path");
    for (const char* name : {"aiff-24", "aiff-32", "wave64"}) {
        for (const Kind& kind : kPlayable) {
            if (QString(kind.name) == name) {
                if (!made_.count(name))
                    made_[name] = make(kind);
                QTest::newRow(name) << made_[name];
            }
        }
    }
}

// aiffparse and sfdec used to lose a race with decodebin and hang the open until its
// timeout, 2 to 14 times in 20 opens in a row; each open here must be prompt.
void TestGstEngineKinds::pullModeReadersNeverHang()
{
    QFETCH(QString, path);
    auto player = makePlayer();
    for (int open = 0; open < 40; ++open) {
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(openError(*player, path), QString());
        QVERIFY2(clock.elapsed() < 3000,
            qPrintable(QString("open %1 took %2 ms").arg(open).arg(clock.elapsed())));
    }
}

void TestGstEngineKinds::parsePassNeedsNoDurationOnly_data()
{
    QTest::addColumn<QString>("parser");
    QTest::addColumn<qint64>("reportedNs");
    QTest::addColumn<bool>("walks");
    for (const char* parser : {"aacparse", "ac3parse", "dcaparse"}) {
        QTest::addRow("%s, no length", parser) << QString(parser) << qint64(0) << true;
        QTest::addRow("%s, unknown", parser) << QString(parser) << qint64(-1) << true;
        QTest::addRow("%s, a container's length", parser)
            << QString(parser) << qint64(2500000000) << false;
    }
}

// Outside MPEG audio, a reported length is a container's and exact; only none is walked.
void TestGstEngineKinds::parsePassNeedsNoDurationOnly()
{
    QFETCH(QString, parser);
    QFETCH(qint64, reportedNs);
    QFETCH(bool, walks);
    QCOMPARE(media::needsParsePass(
                 parser.toLatin1().constData(), QFile::encodeName(source_), reportedNs),
        walks);
}

void TestGstEngineKinds::bigWavPackBlocksAreFound_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("next");
    QTest::addColumn<int>("probability");
    const QByteArray sync("wvpk");
    QTest::newRow("163 KB block, second block follows")
        << wavPackHeader(163428, 0x410) << sync << int(GST_TYPE_FIND_LIKELY);
    QTest::newRow("163 KB block, single block")
        << wavPackHeader(163428, 0x410) << QByteArray() << int(GST_TYPE_FIND_POSSIBLE);
    QTest::newRow("oldest stream version")
        << wavPackHeader(200000, 0x402) << sync << int(GST_TYPE_FIND_LIKELY);
    // GStreamer's own finder takes these; a second verdict would only compete with it.
    QTest::newRow("100 KB block") << wavPackHeader(100000, 0x410) << sync << 0;
    QTest::newRow("128 KiB block") << wavPackHeader(131072, 0x410) << sync << 0;
    QTest::newRow("absurd size") << wavPackHeader(64u << 20, 0x410) << sync << 0;
    QTest::newRow("unknown version") << wavPackHeader(163428, 0x420) << sync << 0;
    QByteArray notWavPack = wavPackHeader(163428, 0x410);
    notWavPack[0] = 'W';
    QTest::newRow("no mark") << notWavPack << sync << 0;
    QTest::newRow("second mark wrong")
        << wavPackHeader(163428, 0x410) << QByteArray("wvpx") << int(GST_TYPE_FIND_POSSIBLE);
}

void TestGstEngineKinds::bigWavPackBlocksAreFound()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, next);
    QFETCH(int, probability);
    const auto* nextBytes
        = next.isEmpty() ? nullptr : reinterpret_cast<const guint8*>(next.constData());
    QCOMPARE(
        media::bigWavPackProbability(reinterpret_cast<const guint8*>(head.constData()), nextBytes),
        probability);
}

QTEST_GUILESS_MAIN(TestGstEngineKinds)
#include "tst_gstengine_kinds.moc"
