// SPDX-License-Identifier: MIT
// Opening real files through TMediaPlayer on the GStreamer engine: lengths, the library's
// error texts, awkward names, and what a closed player refuses.
#include "MediaFiles.h"
#include "media/EMCIDeviceError.h"
#include "media/GstEngine.h"
#include "media/TMediaPlayer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QtTest>
#include <gst/gst.h>
#include <sys/stat.h>

using media::EMCIDeviceError;
using media::TMediaPlayer;
using media::TMPModes;

using testmedia::makePlayer;
using testmedia::openError;

namespace {

// Whether this process holds `path` open, as /proc sees it.
bool holdsOpen(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const auto filter = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;
    for (const QFileInfo& fd : fds.entryInfoList(filter)) {
        if (fd.symLinkTarget() == target)
            return true;
    }
    return false;
}

QString lengthMismatch(int length, const testmedia::MediaFile& file)
{
    return QStringLiteral("%1: Length %2, expected %3..%4")
        .arg(file.format)
        .arg(length)
        .arg(file.minMs)
        .arg(file.maxMs);
}

} // namespace

class TestGstEngineOpen : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void lengthOfEachFormat_data();
    void lengthOfEachFormat();
    void openFailsWithTheLibrarysText_data();
    void openFailsWithTheLibrarysText();
    void fifoIsRefusedWithoutBlocking();
    void failedOpenLeavesNothingOpen();
    void awkwardNamesOpen_data();
    void awkwardNamesOpen();
    void closedPlayerRaisesOnlyWhereItShould_data();
    void closedPlayerRaisesOnlyWhereItShould();
    void openClosesThePreviousFile();
    void deepAiffOpens();
    void hugeClaimedLengthIsClamped();

private:
    QTemporaryDir scratch_;
};

void TestGstEngineOpen::initTestCase()
{
    QVERIFY2(testmedia::mediaSet().error().isEmpty(), qPrintable(testmedia::mediaSet().error()));
    QVERIFY(scratch_.isValid());
}

void TestGstEngineOpen::lengthOfEachFormat_data()
{
    QTest::addColumn<QString>("format");
    for (const auto& file : testmedia::mediaSet().formats())
        QTest::newRow(qPrintable(file.format)) << file.format;
}

// Length is exact for lossless files and within a millisecond of the truth for the others.
void TestGstEngineOpen::lengthOfEachFormat()
{
    QFETCH(QString, format);
    const auto& file = testmedia::mediaSet().format(format);
    auto player = makePlayer();
    QCOMPARE(openError(*player, file.path), QString());
    const int length = player->Length();
    if (file.minMs == file.maxMs)
        QCOMPARE(length, file.minMs);
    else
        QVERIFY2(
            length >= file.minMs && length <= file.maxMs, qPrintable(lengthMismatch(length, file)));
    QCOMPARE(player->Mode(), TMPModes::mpStopped);
    QCOMPARE(player->Position(), 0);
}

void TestGstEngineOpen::openFailsWithTheLibrarysText_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    const QString dir = scratch_.path();
    const QString folder = dir + "/a folder";
    QDir().mkpath(folder);
    QFile text(dir + "/notes.mp3");
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("These are notes about a song, not the song itself.\n");
    text.close();
    QFile empty(dir + "/empty.wav");
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();

    const QString silentFilm = dir + "/silent.ogv";
    QCOMPARE(testmedia::runTool("gst-launch-1.0",
                 {"-q", "videotestsrc", "num-buffers=25", "!", "theoraenc", "!", "oggmux", "!",
                     "filesink", "location=" + silentFilm}),
        QString());

    QTest::newRow("missing") << dir + "/not-there.wav" << "Resource not found.";
    QTest::newRow("folder") << folder << "\"" + folder + "\" is a directory.";
    QTest::newRow("text named .mp3") << text.fileName() << "Could not determine type of stream.";
    QTest::newRow("zero bytes") << empty.fileName() << "Stream contains no data.";
    QTest::newRow("empty name") << QString() << "No file name given.";
    QTest::newRow("film without sound") << silentFilm << "The file has no sound to play.";
    // A Windows path out of a shortcut names nothing here, even when a file of that very name
    // sits in the working folder: a name that is not absolute is never looked up there.
    QVERIFY(QDir::setCurrent(dir));
    QVERIFY(QFile::copy(testmedia::mediaSet().format("wav").path, dir + "/C:\\x.wav")
        || QFile::exists(dir + "/C:\\x.wav"));
    QTest::newRow("windows path") << "C:\\x.wav"
                                  << "Resource not found.";
    QTest::newRow("relative name") << "C:\\x.wav/../C:\\x.wav"
                                   << "Resource not found.";
}

// A failed Open raises GStreamer's own first complaint, not the echo that follows it.
void TestGstEngineOpen::openFailsWithTheLibrarysText()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    auto player = makePlayer();
    QCOMPARE(openError(*player, path), expected);
}

// A FIFO would block the reading thread until a writer came; Open refuses it at once.
void TestGstEngineOpen::fifoIsRefusedWithoutBlocking()
{
    const QString fifo = scratch_.filePath("pipe.wav");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    auto player = makePlayer();
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(openError(*player, fifo), "\"" + fifo + "\" is a named pipe, not a file.");
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
}

// After a failed Open nothing is open, even when a file was open before it.
void TestGstEngineOpen::failedOpenLeavesNothingOpen()
{
    auto player = makePlayer();
    QCOMPARE(openError(*player, testmedia::mediaSet().format("wav").path), QString());
    QVERIFY(!openError(*player, scratch_.filePath("not-there.wav")).isEmpty());
    QVERIFY(!player->isOpen());
    QCOMPARE(player->Mode(), TMPModes::mpNotReady);
    QVERIFY_THROWS_EXCEPTION(EMCIDeviceError, player->Length());
}

void TestGstEngineOpen::awkwardNamesOpen_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("spaces") << "two  spaces here.wav";
    QTest::newRow("percent amp hash") << "100% & #1 ?.wav";
    QTest::newRow("newline") << "line\nbreak.wav";
    QTest::newRow("emoji") << "🎧 mix.wav";
    QTest::newRow("accents") << "ünïcödé façade.wav";
    QTest::newRow("uri lookalike") << "file:%2F%2Fx.wav";
    // Far past 255 bytes in all: nested folders, each name just under the limit.
    QString deep;
    for (int i = 0; i < 5; ++i)
        deep += QString(200, QChar('a' + i)) + '/';
    QTest::newRow("long path") << deep + "end.wav";
}

// Any name the file system allows opens: spaces, URI characters, newlines, emoji, length.
void TestGstEngineOpen::awkwardNamesOpen()
{
    QFETCH(QString, name);
    const auto& wav = testmedia::mediaSet().format("wav");
    const QString path = scratch_.filePath(name);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QVERIFY(QFile::copy(wav.path, path));
    auto player = makePlayer();
    QCOMPARE(openError(*player, path), QString());
    QCOMPARE(player->Length(), wav.minMs);
}

void TestGstEngineOpen::closedPlayerRaisesOnlyWhereItShould_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<bool>("raises");
    QTest::addColumn<bool>("wasOpen");
    for (bool wasOpen : {false, true}) {
        const char* when = wasOpen ? "after close" : "never opened";
        QTest::addRow("Length, %s", when) << "Length" << true << wasOpen;
        QTest::addRow("Play, %s", when) << "Play" << true << wasOpen;
        QTest::addRow("Pause, %s", when) << "Pause" << true << wasOpen;
        QTest::addRow("seek, %s", when) << "seek" << true << wasOpen;
        QTest::addRow("Close, %s", when) << "Close" << false << wasOpen;
        QTest::addRow("Mode, %s", when) << "Mode" << false << wasOpen;
        QTest::addRow("Position, %s", when) << "Position" << false << wasOpen;
    }
}

// "No MCI device open" comes from Length, Play, Pause and the seek, and from nothing else.
void TestGstEngineOpen::closedPlayerRaisesOnlyWhereItShould()
{
    QFETCH(QString, call);
    QFETCH(bool, raises);
    QFETCH(bool, wasOpen);
    auto player = makePlayer();
    if (wasOpen) {
        QCOMPARE(openError(*player, testmedia::mediaSet().format("wav").path), QString());
        player->Close();
    }
    QString raised;
    try {
        if (call == "Length")
            player->Length();
        else if (call == "Play")
            player->Play();
        else if (call == "Pause")
            player->Pause();
        else if (call == "seek")
            player->setPosition(100);
        else if (call == "Close")
            player->Close();
        else if (call == "Mode")
            QCOMPARE(player->Mode(), TMPModes::mpNotReady);
        else if (call == "Position")
            QCOMPARE(player->Position(), 0);
    } catch (const EMCIDeviceError& e) {
        raised = QString::fromStdString(e.what());
    }
    QCOMPARE(raised, raises ? QString(media::kNoDeviceOpen) : QString());
}

// Open lets go of the previous file (no handle left on it) and reports the new one.
void TestGstEngineOpen::openClosesThePreviousFile()
{
    const auto& first = testmedia::mediaSet().format("wav");
    const auto& second = testmedia::mediaSet().format("flac");
    auto player = makePlayer();
    QCOMPARE(openError(*player, first.path), QString());
    QVERIFY(holdsOpen(first.path));
    player->setPosition(1234);
    QCOMPARE(openError(*player, second.path), QString());
    QVERIFY(!holdsOpen(first.path));
    QCOMPARE(player->Length(), second.minMs);
    QCOMPARE(player->Position(), 0);
    QCOMPARE(player->Mode(), TMPModes::mpStopped);
    player->Close();
    QVERIFY(!holdsOpen(second.path));
}

// 24-bit AIFF is the usual studio export; it needs GStreamer's aiffparse, which ships
// in gstreamer1.0-plugins-bad (libav's AIFF reader only handles 16-bit).
void TestGstEngineOpen::deepAiffOpens()
{
    const QString path = scratch_.filePath("deep.aiff");
    QCOMPARE(
        testmedia::runTool("sox",
            {"-r", "44100", "-c", "2", "-n", "-b", "24", path, "synth", "88200s", "sine", "440"}),
        QString());
    auto player = makePlayer();
    QCOMPARE(openError(*player, path), QString());
    QCOMPARE(player->Length(), 2000);
}

// A header may claim any length. This one says 49.7 days (2 GiB of 8-bit mono at 500 Hz, a
// sparse file, so it takes no room), past what 32-bit milliseconds hold: the length is the
// largest they hold, never a negative one, and the bar's seeks stay within it.
void TestGstEngineOpen::hugeClaimedLengthIsClamped()
{
    const QString path = scratch_.filePath("huge.wav");
    // The data runs to the end of the file: GStreamer's WAV reader clips a larger size to
    // 2 GiB and would then walk the zeros after it as empty chunks.
    const quint32 dataBytes = 0x7FFFFF00u;
    QByteArray header;
    const auto u32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            header.append(char((v >> (8 * i)) & 0xFF));
    };
    const auto u16 = [&](quint16 v) { header.append(char(v & 0xFF)).append(char(v >> 8)); };
    header.append("RIFF");
    u32(dataBytes + 36);
    header.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(500); // samples per second
    u32(500); // bytes per second
    u16(1); // block align
    u16(8); // bits per sample
    header.append("data");
    u32(dataBytes);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(header);
    for (int i = 0; i < 2000; ++i) // four seconds of a square wave
        file.write(i % 20 < 10 ? "\x40" : "\xC0", 1);
    QVERIFY(file.resize(header.size() + qint64(dataBytes)));
    file.close();

    auto player = makePlayer();
    QCOMPARE(openError(*player, path), QString());
    QCOMPARE(player->Length(), std::numeric_limits<int>::max());
    player->setPosition(std::numeric_limits<int>::max() / 2);
    QCOMPARE(player->Position(), std::numeric_limits<int>::max() / 2);
    player->setPosition(-5);
    QCOMPARE(player->Position(), 0);
}

QTEST_GUILESS_MAIN(TestGstEngineOpen)
#include "tst_gstengine_open.moc"
