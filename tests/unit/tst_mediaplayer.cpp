// SPDX-License-Identifier: MIT
// The media device's rules, on an ideal fake engine: which calls need an open file, the
// errors of a failed open, the modes, pause as a toggle, and the rewind at the end.
#include "FakeMediaEngine.h"
#include "media/EMCIDeviceError.h"
#include "media/TMediaPlayer.h"

#include <QElapsedTimer>
#include <QTest>
#include <functional>

using media::EMCIDeviceError;
using media::TMediaPlayer;
using media::TMPModes;
using testsupport::FakeMedia;
using testsupport::FakeMediaEngine;

Q_DECLARE_METATYPE(std::function<void(TMediaPlayer&)>)
Q_DECLARE_METATYPE(media::TMPModes)

namespace {

struct Rig {
    std::shared_ptr<FakeMedia> media = std::make_shared<FakeMedia>();
    FakeMediaEngine* engine;
    std::unique_ptr<TMediaPlayer> player;

    Rig()
    {
        media->lengths.insert(QStringLiteral("/a.wav"), 10000);
        media->lengths.insert(QStringLiteral("/b.flac"), 20000);
        auto owned = std::make_unique<FakeMediaEngine>(media);
        engine = owned.get();
        player = std::make_unique<TMediaPlayer>(std::move(owned));
    }
    void open(const QString& path)
    {
        player->FileName = path;
        player->Open();
    }
};

QString ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EMCIDeviceError& e) {
        return QString::fromUtf8(e.what());
    }
    return QStringLiteral("(nothing raised)");
}

} // namespace

Q_DECLARE_METATYPE(std::function<void(Rig&)>)

class TestMediaPlayer : public QObject {
    Q_OBJECT
private slots:
    // Length, Play, Pause and the seek need an open file; Close, Mode and Position do not.
    void closedPlayer_data()
    {
        using Op = std::function<void(TMediaPlayer&)>;
        QTest::addColumn<Op>("op");
        QTest::addColumn<QString>("error");
        const QString none = QStringLiteral("No MCI device open");
        const QString nothing = QStringLiteral("(nothing raised)");
        QTest::newRow("Length") << Op([](TMediaPlayer& p) { p.Length(); }) << none;
        QTest::newRow("Play") << Op([](TMediaPlayer& p) { p.Play(); }) << none;
        QTest::newRow("Pause") << Op([](TMediaPlayer& p) { p.Pause(); }) << none;
        QTest::newRow("seek") << Op([](TMediaPlayer& p) { p.setPosition(5); }) << none;
        QTest::newRow("Close") << Op([](TMediaPlayer& p) { p.Close(); }) << nothing;
        QTest::newRow("Mode") << Op([](TMediaPlayer& p) { p.Mode(); }) << nothing;
        QTest::newRow("Position") << Op([](TMediaPlayer& p) { p.Position(); }) << nothing;
    }
    void closedPlayer()
    {
        QFETCH(std::function<void(TMediaPlayer&)>, op);
        QFETCH(QString, error);
        Rig never;
        QCOMPARE(ErrorOf([&] { op(*never.player); }), error);
        Rig closedAfterUse;
        closedAfterUse.open(QStringLiteral("/a.wav"));
        closedAfterUse.player->Close();
        QCOMPARE(ErrorOf([&] { op(*closedAfterUse.player); }), error);
    }

    // A failed open raises the library's text, or a fixed text when it gave none, and
    // leaves the player closed even when a file was open before.
    void failedOpen_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("error");
        QTest::newRow("library text") << "/missing.wav"
                                      << "Resource not found.";
        QTest::newRow("no text") << "/silent-failure"
                                 << "Unknown error code";
    }
    void failedOpen()
    {
        QFETCH(QString, path);
        QFETCH(QString, error);
        Rig rig;
        rig.media->errors.insert(QStringLiteral("/silent-failure"), QString());
        rig.open(QStringLiteral("/a.wav"));
        QCOMPARE(ErrorOf([&] { rig.open(path); }), error);
        QVERIFY(!rig.player->isOpen());
        QCOMPARE(rig.player->Mode(), TMPModes::mpNotReady);
        QCOMPARE(rig.player->FileName, path);
    }

    // Opening closes the file that was open, and leaves the new one stopped at the start.
    void openClosesPrevious()
    {
        Rig rig;
        rig.open(QStringLiteral("/a.wav"));
        rig.player->Play();
        rig.open(QStringLiteral("/b.flac"));
        QCOMPARE(rig.media->log.mid(rig.media->log.indexOf("1:play") + 1),
            QStringList({"1:close", "1:open /b.flac"}));
        QCOMPARE(rig.player->Mode(), TMPModes::mpStopped);
        QCOMPARE(rig.player->Length(), 20000);
        QCOMPARE(rig.player->Position(), 0);
    }

    // Pause toggles between playing and paused, and does nothing to a stopped player.
    void pauseToggles()
    {
        Rig rig;
        rig.open(QStringLiteral("/a.wav"));
        rig.player->Pause();
        QCOMPARE(rig.player->Mode(), TMPModes::mpStopped);
        rig.player->Play();
        QCOMPARE(rig.player->Mode(), TMPModes::mpPlaying);
        rig.player->Pause();
        QCOMPARE(rig.player->Mode(), TMPModes::mpPaused);
        rig.player->Pause();
        QCOMPARE(rig.player->Mode(), TMPModes::mpPlaying);
    }

    // A seek stops the player there, whatever it was doing, clamped to the file.
    void seekStops_data()
    {
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("landed");
        QTest::newRow("stopped") << false << false << 4000 << 4000;
        QTest::newRow("playing") << true << false << 4000 << 4000;
        QTest::newRow("paused") << true << true << 4000 << 4000;
        QTest::newRow("before the start") << false << false << -20 << 0;
        QTest::newRow("past the end") << true << false << 99999 << 10000;
    }
    void seekStops()
    {
        QFETCH(bool, playing);
        QFETCH(bool, paused);
        QFETCH(int, to);
        QFETCH(int, landed);
        Rig rig;
        rig.open(QStringLiteral("/a.wav"));
        if (playing)
            rig.player->Play();
        if (paused)
            rig.player->Pause();
        rig.player->setPosition(to);
        QCOMPARE(rig.player->Mode(), TMPModes::mpStopped);
        QCOMPARE(rig.player->Position(), landed);
    }

    // At the end the player stops there; the next Play starts again from the beginning,
    // unless AutoRewind is off.
    void autoRewind_data()
    {
        QTest::addColumn<bool>("autoRewind");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("on") << true << QStringList({"1:seek 0", "1:play"});
        QTest::newRow("off") << false << QStringList({"1:play"});
    }
    void autoRewind()
    {
        QFETCH(bool, autoRewind);
        QFETCH(QStringList, calls);
        Rig rig;
        rig.player->AutoRewind = autoRewind;
        rig.open(QStringLiteral("/a.wav"));
        rig.player->Play();
        rig.engine->reachEnd();
        QCOMPARE(rig.player->Mode(), TMPModes::mpStopped);
        QCOMPARE(rig.player->Position(), rig.player->Length());
        rig.media->log.clear();
        rig.player->Play();
        rig.media->log.removeAll("1:length");
        QCOMPARE(rig.media->log, calls);
        QCOMPARE(rig.player->Mode(), TMPModes::mpPlaying);
    }

    // Play on a playing player plays on from where it is; it does not rewind.
    void playWhilePlaying()
    {
        Rig rig;
        rig.open(QStringLiteral("/a.wav"));
        rig.player->Play();
        rig.engine->advanceTo(3000);
        rig.player->Play();
        QCOMPARE(rig.player->Position(), 3000);
        QCOMPARE(rig.player->Mode(), TMPModes::mpPlaying);
    }

    // What the device does when the engine under it fails: a failed play is kept, not
    // raised; a refused play is raised with its reason; an error while playing stops the
    // device where it was, and the next play goes on from there; a stream that runs out
    // without its end being signalled still gives way to a seek and a new play.
    void engineFaults_data()
    {
        using Fault = std::function<void(Rig&)>;
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("raised");
        QTest::addColumn<TMPModes>("mode");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("lastError");
        const QString nothing = QStringLiteral("(nothing raised)");
        QTest::newRow("play fails") << Fault([](Rig& r) {
            r.media->playFailures.insert(QStringLiteral("/a.wav"));
            r.player->Play();
        }) << nothing << TMPModes::mpStopped
                                    << 2000 << "play failed";
        QTest::newRow("play refused") << Fault([](Rig& r) {
            r.media->playRefusals.insert(QStringLiteral("/a.wav"), QStringLiteral("Changed"));
            r.player->Play();
        }) << "Changed" << TMPModes::mpStopped
                                      << 2000 << "play failed";
        QTest::newRow("error while playing") << Fault([](Rig& r) {
            r.player->Play();
            r.engine->advanceTo(2500);
            r.engine->failWhilePlaying();
        }) << nothing << TMPModes::mpStopped << 2500
                                             << "";
        QTest::newRow("error while playing, then play") << Fault([](Rig& r) {
            r.player->Play();
            r.engine->advanceTo(2500);
            r.engine->failWhilePlaying();
            r.player->Play();
        }) << nothing << TMPModes::mpPlaying << 2500 << "";
        QTest::newRow("no end signalled") << Fault([](Rig& r) {
            r.player->Play();
            r.engine->runOutWithoutEnd();
        }) << nothing << TMPModes::mpPlaying
                                          << 10000 << "";
        QTest::newRow("no end signalled, then seek and play") << Fault([](Rig& r) {
            r.player->Play();
            r.engine->runOutWithoutEnd();
            r.player->setPosition(1000);
            r.player->Play();
        }) << nothing << TMPModes::mpPlaying << 1000 << "";
    }
    void engineFaults()
    {
        QFETCH(std::function<void(Rig&)>, fault);
        QFETCH(QString, raised);
        QFETCH(TMPModes, mode);
        QFETCH(int, position);
        QFETCH(QString, lastError);
        Rig rig;
        rig.open(QStringLiteral("/a.wav"));
        rig.player->setPosition(2000);
        QCOMPARE(ErrorOf([&] { fault(rig); }), raised);
        QCOMPARE(rig.player->Mode(), mode);
        QCOMPARE(rig.player->Position(), position);
        QCOMPARE(rig.player->lastError(), lastError);
    }

    // An open takes as long as the device does, and a slow one still opens.
    void slowOpenWaits()
    {
        Rig rig;
        rig.media->openDelaysMs.insert(QStringLiteral("/b.flac"), 300);
        QElapsedTimer took;
        took.start();
        rig.open(QStringLiteral("/b.flac"));
        QVERIFY2(took.elapsed() >= 300, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(rig.player->Mode(), TMPModes::mpStopped);
        QCOMPARE(rig.player->Length(), 20000);
    }
};

QTEST_GUILESS_MAIN(TestMediaPlayer)
#include "tst_mediaplayer.moc"
