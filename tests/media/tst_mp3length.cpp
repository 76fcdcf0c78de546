// SPDX-License-Identifier: MIT
// The MP3 length helpers: telling a counted (Xing/Info/VBRI) file from plain frames, and
// the exact walk over plain frames, tags or not.
#include "MediaFiles.h"
#include "media/GstEngine.h"
#include "media/ParsedLength.h"
#include "media/TMediaPlayer.h"

#include <QFile>
#include <QtTest>
#include <gst/gst.h>

using media::MpegLengthHint;

Q_DECLARE_METATYPE(MpegLengthHint)

namespace {

// A first frame: four header bytes, then zeros, with `tag` written `at` bytes in and a
// big-endian flags word after it.
QByteArray frame(QByteArray header, const char* tag = nullptr, int at = 0, quint32 flags = 1)
{
    QByteArray bytes = header.leftJustified(417, '\0');
    if (tag) {
        bytes.replace(at, 4, tag);
        for (int i = 0; i < 4; ++i)
            bytes[at + 4 + i] = char(flags >> (24 - 8 * i));
    }
    return bytes;
}

// ID3v2.4 header for a tag body of `size` bytes (syncsafe), followed by that much padding.
QByteArray id3v2(int size)
{
    QByteArray tag("ID3\x04\x00\x00", 6);
    for (int shift : {21, 14, 7, 0})
        tag += char((size >> shift) & 0x7f);
    return tag + QByteArray(size, '\0');
}

const QByteArray kMpeg1Stereo("\xff\xfb\x90\x00", 4);
const QByteArray kMpeg1Mono("\xff\xfb\x90\xc0", 4);
const QByteArray kMpeg2Stereo("\xff\xf3\x90\x00", 4);
const QByteArray kMpeg1Layer2("\xff\xfd\x90\x00", 4);

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestMp3Length : public QObject {
    Q_OBJECT

private slots:
    void hintFromFirstFrame_data();
    void hintFromFirstFrame();
    void hintLooksPastAnId3v2Tag();
    void walkIgnoresTags();
    void taggedPlainMp3OpensWithItsExactLength();
};

void TestMp3Length::hintFromFirstFrame_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<MpegLengthHint>("expected");
    QTest::newRow("xing, mpeg1 stereo")
        << frame(kMpeg1Stereo, "Xing", 36) << MpegLengthHint::FrameCount;
    QTest::newRow("info, mpeg1 mono")
        << frame(kMpeg1Mono, "Info", 21) << MpegLengthHint::FrameCount;
    QTest::newRow("xing, mpeg2 stereo")
        << frame(kMpeg2Stereo, "Xing", 21) << MpegLengthHint::FrameCount;
    QTest::newRow("vbri") << frame(kMpeg1Stereo, "VBRI", 36) << MpegLengthHint::FrameCount;
    QTest::newRow("xing without a count")
        << frame(kMpeg1Stereo, "Xing", 36, 6) << MpegLengthHint::None;
    QTest::newRow("xing in the wrong place")
        << frame(kMpeg1Stereo, "Xing", 21) << MpegLengthHint::None;
    QTest::newRow("plain frame") << frame(kMpeg1Stereo) << MpegLengthHint::None;
    QTest::newRow("layer II") << frame(kMpeg1Layer2) << MpegLengthHint::None;
    QTest::newRow("after junk") << QByteArray(7, 'x') + frame(kMpeg1Stereo, "Info", 36)
                                << MpegLengthHint::FrameCount;
    QTest::newRow("text") << QByteArray("just some words, no frames")
                          << MpegLengthHint::NotMpegAudio;
    QTest::newRow("reserved version")
        << frame(QByteArray("\xff\xeb\x90\x00", 4)) << MpegLengthHint::NotMpegAudio;
    QTest::newRow("empty") << QByteArray() << MpegLengthHint::NotMpegAudio;
}

// Only a frame count in the first frame spares the walk over every frame.
void TestMp3Length::hintFromFirstFrame()
{
    QFETCH(QByteArray, bytes);
    QFETCH(MpegLengthHint, expected);
    QCOMPARE(media::mpegLengthHintAt(bytes), expected);
}

// A leading ID3v2 tag (cover art can make it megabytes) is skipped, not read as frames.
void TestMp3Length::hintLooksPastAnId3v2Tag()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("tagged.mp3");
    QVERIFY(writeFile(path, id3v2(300000) + frame(kMpeg1Stereo, "Xing", 36)));
    QCOMPARE(media::mpegLengthHint(QFile::encodeName(path)), MpegLengthHint::FrameCount);
}

// Tags at either end of a plain MP3 add nothing to the walked length.
void TestMp3Length::walkIgnoresTags()
{
    QVERIFY2(testmedia::mediaSet().error().isEmpty(), qPrintable(testmedia::mediaSet().error()));
    const QString plain = testmedia::mediaSet().format("mp3-vbr").path;
    QFile in(plain);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray frames = in.readAll();
    const QString tagged = testmedia::mediaSet().dir() + "/walk-tagged.mp3";
    QByteArray id3v1("TAG");
    id3v1 = id3v1.leftJustified(128, ' ');
    QVERIFY(writeFile(tagged, id3v2(4096) + frames + id3v1));

    gst_init(nullptr, nullptr);
    const auto bare
        = media::mpegLengthByParsing(QFile::encodeName(plain), std::chrono::seconds(20));
    const auto withTags
        = media::mpegLengthByParsing(QFile::encodeName(tagged), std::chrono::seconds(20));
    QVERIFY(bare.has_value());
    QVERIFY(withTags.has_value());
    QCOMPARE(*withTags, *bare);
}

// The whole path: a tagged plain MP3 opens with the same exact length as the bare one.
void TestMp3Length::taggedPlainMp3OpensWithItsExactLength()
{
    const auto& plain = testmedia::mediaSet().format("mp3-cbr");
    QFile in(plain.path);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QString tagged = testmedia::mediaSet().dir() + "/open-tagged.mp3";
    QVERIFY(writeFile(tagged, id3v2(20000) + in.readAll()));
    media::TMediaPlayer player(std::make_unique<media::GstEngine>("fakesink sync=true"));
    player.FileName = tagged;
    player.Open();
    const int length = player.Length();
    QVERIFY2(length >= plain.minMs && length <= plain.maxMs,
        qPrintable(
            QStringLiteral("%1 not in %2..%3").arg(length).arg(plain.minMs).arg(plain.maxMs)));
}

QTEST_GUILESS_MAIN(TestMp3Length)
#include "tst_mp3length.moc"
