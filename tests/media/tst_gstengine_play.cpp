// SPDX-License-Identifier: MIT
// Playing real files through TMediaPlayer on the GStreamer engine, into a silent sink that
// keeps real time: seeks, the running position, pause as a toggle, the end of the file.
#include "MediaFiles.h"
#include "media/EMCIDeviceError.h"
#include "media/GstEngine.h"
#include "media/TMediaPlayer.h"

#include <QElapsedTimer>
#include <QtTest>

using media::TMediaPlayer;
using media::TMPModes;

namespace {

// Timing bounds are wide on purpose: a loaded machine may start late, never early.
constexpr int kSlackMs = 400;
constexpr int kEndTimeoutMs = 8000;

std::unique_ptr<TMediaPlayer> openPlayer(const QString& path)
{
    auto player
        = std::make_unique<TMediaPlayer>(std::make_unique<media::GstEngine>("fakesink sync=true"));
    player->FileName = path;
    player->Open();
    return player;
}

QString outside(int value, int low, int high)
{
    return QStringLiteral("%1 not in %2..%3").arg(value).arg(low).arg(high);
}

} // namespace

class TestGstEnginePlay : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void seekHoldsAndPlaysOn_data();
    void seekHoldsAndPlaysOn();
    void seekClampsToTheFile_data();
    void seekClampsToTheFile();
    void positionRunsInRealTime();
    void pauseTogglesAndHolds();
    void pauseBeforeTheSoundStartsStaysPut();
    void seekWhilePlayingStops();
    void autoRewindStartsOver();
    void withoutAutoRewindPlayStaysAtTheEnd();
    void truncatedFlacPlaysToTheCut();
    void filmPlaysItsSound();
};

void TestGstEnginePlay::initTestCase()
{
    QVERIFY2(testmedia::mediaSet().error().isEmpty(), qPrintable(testmedia::mediaSet().error()));
}

void TestGstEnginePlay::seekHoldsAndPlaysOn_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("target");
    for (const char* format :
        {"wav", "flac", "mp3-cbr", "mp3-vbr", "mp3-vbr-xing", "vorbis", "opus", "m4a"}) {
        for (int target : {1, 777, 1500, 2345})
            QTest::addRow("%s at %d", format, target) << QString(format) << target;
    }
}

// The position after a seek is the millisecond asked for, and playing goes on from there
// as the pipeline reports it. Which sample the sound then begins with is heard, not read
// back: tst_alignment finds it in a recording of the sound server.
void TestGstEnginePlay::seekHoldsAndPlaysOn()
{
    QFETCH(QString, format);
    QFETCH(int, target);
    auto player = openPlayer(testmedia::mediaSet().format(format).path);
    // Played once first, so that the seek alone has to move the stream.
    player->Play();
    QTest::qWait(100);
    player->Pause();
    player->setPosition(target);
    QCOMPARE(player->Position(), target);
    QCOMPARE(player->Mode(), TMPModes::mpStopped);
    QCOMPARE(player->lastError(), QString());

    const QString missed = testmedia::playsOnFrom(*player, target);
    QVERIFY2(missed.isEmpty(), qPrintable(missed));
}

void TestGstEnginePlay::seekClampsToTheFile_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("asked");
    QTest::addColumn<bool>("toEnd");
    for (const char* format : {"wav", "mp3-vbr", "opus", "m4a"}) {
        QTest::addRow("%s before the start", format) << QString(format) << -500 << false;
        QTest::addRow("%s at the end", format) << QString(format) << 0 << true;
        QTest::addRow("%s past the end", format) << QString(format) << 10'000'000 << true;
    }
}

// Seeks outside the file land on its ends; the end itself is exactly Length.
void TestGstEnginePlay::seekClampsToTheFile()
{
    QFETCH(QString, format);
    QFETCH(int, asked);
    QFETCH(bool, toEnd);
    auto player = openPlayer(testmedia::mediaSet().format(format).path);
    const int length = player->Length();
    player->setPosition(toEnd && asked == 0 ? length : asked);
    QCOMPARE(player->Position(), toEnd ? length : 0);
    QCOMPARE(player->lastError(), QString());
    QCOMPARE(player->Mode(), TMPModes::mpStopped);
}

// While playing, the position moves at the rate of the clock on the wall.
void TestGstEnginePlay::positionRunsInRealTime()
{
    auto player = openPlayer(testmedia::mediaSet().format("wav").path);
    player->Play();
    QTRY_VERIFY_WITH_TIMEOUT(player->Position() > 0, 3000);
    const int start = player->Position();
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(1000);
    const int moved = player->Position() - start;
    const int elapsed = int(clock.elapsed());
    QVERIFY2(moved >= elapsed - 250 && moved <= elapsed + 250,
        qPrintable(outside(moved, elapsed - 250, elapsed + 250)));
    QCOMPARE(player->Mode(), TMPModes::mpPlaying);
}

// Pause pauses a playing player and resumes a paused one; a paused position stands still.
void TestGstEnginePlay::pauseTogglesAndHolds()
{
    auto player = openPlayer(testmedia::mediaSet().format("flac").path);
    player->Play();
    QCOMPARE(player->Mode(), TMPModes::mpPlaying);
    QTest::qWait(300);
    player->Pause();
    QCOMPARE(player->Mode(), TMPModes::mpPaused);
    const int held = player->Position();
    QVERIFY2(held > 0, qPrintable(QString::number(held)));
    QTest::qWait(300);
    QCOMPARE(player->Position(), held);
    player->Pause();
    QCOMPARE(player->Mode(), TMPModes::mpPlaying);
    QTRY_VERIFY_WITH_TIMEOUT(player->Position() > held + 100, 3000);
    QCOMPARE(player->lastError(), QString());
}

// A pause straight after the first Play (before any sound) keeps the position.
void TestGstEnginePlay::pauseBeforeTheSoundStartsStaysPut()
{
    auto player = openPlayer(testmedia::mediaSet().format("mp3-vbr").path);
    player->setPosition(1234);
    player->Play();
    player->Pause();
    QCOMPARE(player->Mode(), TMPModes::mpPaused);
    const int held = player->Position();
    QVERIFY2(held >= 1234 && held <= 1234 + kSlackMs, qPrintable(outside(held, 1234, 1634)));
    QTest::qWait(200);
    QCOMPARE(player->Position(), held);
    player->Pause();
    QTRY_VERIFY_WITH_TIMEOUT(player->Position() > held + 100, 3000);
}

// A seek while playing stops the player at the new place.
void TestGstEnginePlay::seekWhilePlayingStops()
{
    auto player = openPlayer(testmedia::mediaSet().format("opus").path);
    player->Play();
    QTest::qWait(200);
    player->setPosition(2000);
    QCOMPARE(player->Mode(), TMPModes::mpStopped);
    QTest::qWait(200);
    QCOMPARE(player->Position(), 2000);
}

// Played to the end, the player stops with Position == Length, and Play starts over.
void TestGstEnginePlay::autoRewindStartsOver()
{
    auto player = openPlayer(testmedia::mediaSet().shortWav.path);
    player->Play();
    QTRY_COMPARE_WITH_TIMEOUT(player->Mode(), TMPModes::mpStopped, kEndTimeoutMs);
    QCOMPARE(player->Position(), player->Length());
    player->Play();
    QCOMPARE(player->Mode(), TMPModes::mpPlaying);
    QVERIFY2(player->Position() < kSlackMs, qPrintable(QString::number(player->Position())));
    QTRY_COMPARE_WITH_TIMEOUT(player->Mode(), TMPModes::mpStopped, kEndTimeoutMs);
    QCOMPARE(player->Position(), player->Length());
}

// Without AutoRewind, Play at the end finds the end again at once.
void TestGstEnginePlay::withoutAutoRewindPlayStaysAtTheEnd()
{
    auto player = openPlayer(testmedia::mediaSet().shortWav.path);
    player->AutoRewind = false;
    player->Play();
    QTRY_COMPARE_WITH_TIMEOUT(player->Mode(), TMPModes::mpStopped, kEndTimeoutMs);
    player->Play();
    QTRY_COMPARE_WITH_TIMEOUT(player->Mode(), TMPModes::mpStopped, 2000);
    QCOMPARE(player->Position(), player->Length());
}

// A cut-off FLAC opens with its header's length and ends at the cut without an error.
void TestGstEnginePlay::truncatedFlacPlaysToTheCut()
{
    const auto& file = testmedia::mediaSet().truncatedFlac;
    auto player = openPlayer(file.path);
    QCOMPARE(player->Length(), file.minMs);
    player->Play();
    QTRY_COMPARE_WITH_TIMEOUT(player->Mode(), TMPModes::mpStopped, kEndTimeoutMs);
    QCOMPARE(player->Position(), player->Length());
    QCOMPARE(player->lastError(), QString());
}

// A film's sound plays; its picture is never rendered (with no display, trying would fail).
void TestGstEnginePlay::filmPlaysItsSound()
{
    const auto& film = testmedia::mediaSet().withVideo;
    auto player = openPlayer(film.path);
    const int length = player->Length();
    QVERIFY2(length >= film.minMs && length <= film.maxMs,
        qPrintable(outside(length, film.minMs, film.maxMs)));
    player->Play();
    QTRY_VERIFY_WITH_TIMEOUT(player->Position() > 300, 3000);
    QCOMPARE(player->Mode(), TMPModes::mpPlaying);
    QCOMPARE(player->lastError(), QString());
}

QTEST_GUILESS_MAIN(TestGstEnginePlay)
#include "tst_gstengine_play.moc"
