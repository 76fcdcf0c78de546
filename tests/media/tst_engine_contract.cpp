// SPDX-License-Identifier: MIT
// The media engine's contract, as MediaEngine.h writes it, held to by every engine alike:
// the ideal fake that the form's logic tests stand on, and GStreamer on real files. A
// promise the fake keeps and GStreamer breaks (or the other way round) fails here, by name.
#include "FakeMediaEngine.h"
#include "MediaFiles.h"
#include "media/GstEngine.h"

#include <QElapsedTimer>
#include <QtTest>
#include <functional>

using media::EngineState;
using media::MediaEngine;

namespace {

constexpr int kEndTimeoutMs = 8000;

// A missing file has the same name for every engine.
const QString kMissing = QStringLiteral("/nonexistent/tandrel-contract.wav");

using Factory = std::function<std::unique_ptr<MediaEngine>()>;

// The fake knows the test files by their lengths, as the real engine learns them.
std::unique_ptr<MediaEngine> makeFake()
{
    auto media = std::make_shared<testsupport::FakeMedia>();
    media->realTime = true;
    const testmedia::MediaSet& set = testmedia::mediaSet();
    media->lengths.insert(set.shortWav.path, set.shortWav.minMs);
    media->lengths.insert(set.format("wav").path, set.format("wav").minMs);
    return std::make_unique<testsupport::FakeMediaEngine>(media);
}

std::unique_ptr<MediaEngine> makeGst()
{
    return std::make_unique<media::GstEngine>(QStringLiteral("fakesink sync=true"));
}

void addEngines()
{
    QTest::addColumn<Factory>("make");
    QTest::newRow("fake") << Factory(makeFake);
    QTest::newRow("gstreamer") << Factory(makeGst);
}

// Waits until the engine leaves Playing by itself; false when it never does.
bool waitForIdle(MediaEngine& engine, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (engine.state() == EngineState::Playing) {
        if (waited.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

} // namespace

Q_DECLARE_METATYPE(Factory)

class TestEngineContract : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(
            testmedia::mediaSet().error().isEmpty(), qPrintable(testmedia::mediaSet().error()));
    }

    // Nothing open: every question has its closed answer, every command fails, close is a
    // no-op, and a failed open leaves it that way.
    void closedEngine_data() { addEngines(); }
    void closedEngine()
    {
        QFETCH(Factory, make);
        auto engine = make();
        for (const bool afterFailedOpen : {false, true}) {
            if (afterFailedOpen) {
                const std::optional<QString> error = engine->open(kMissing);
                QVERIFY2(error && !error->isEmpty(), "a missing file opened, or said nothing");
            }
            engine->close();
            QVERIFY(!engine->isOpen());
            QCOMPARE(engine->state(), EngineState::Closed);
            QCOMPARE(engine->length(), 0);
            QCOMPARE(engine->position(), 0);
            QVERIFY(!engine->seek(100));
            QVERIFY(!engine->play());
            QCOMPARE(engine->state(), EngineState::Closed);
        }
    }

    // An open waits until the file is ready and leaves it idle at 0 with its length; a
    // second open replaces the first file; close lets go of it.
    void openIdlesAtTheStart_data() { addEngines(); }
    void openIdlesAtTheStart()
    {
        QFETCH(Factory, make);
        const testmedia::MediaSet& set = testmedia::mediaSet();
        auto engine = make();
        for (const testmedia::MediaFile* file : {&set.format("wav"), &set.shortWav}) {
            QCOMPARE(engine->open(file->path), std::nullopt);
            QVERIFY(engine->isOpen());
            QCOMPARE(engine->state(), EngineState::Idle);
            QCOMPARE(engine->position(), 0);
            QCOMPARE(engine->length(), file->minMs);
        }
        engine->close();
        QCOMPARE(engine->state(), EngineState::Closed);
        QCOMPARE(engine->length(), 0);
    }

    // A seek lands exactly on the millisecond, clamped to the file, idle there whatever the
    // engine was doing.
    void seekLandsAndIdles_data()
    {
        QTest::addColumn<Factory>("make");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("landed"); // -1: the length
        for (const auto& [name, make] :
            {std::pair {"fake", Factory(makeFake)}, std::pair {"gstreamer", Factory(makeGst)}}) {
            QTest::addRow("%s idle, inside", name) << make << false << 2345 << 2345;
            QTest::addRow("%s playing, inside", name) << make << true << 1777 << 1777;
            QTest::addRow("%s idle, before the start", name) << make << false << -50 << 0;
            QTest::addRow("%s playing, past the end", name) << make << true << 999999 << -1;
        }
    }
    void seekLandsAndIdles()
    {
        QFETCH(Factory, make);
        QFETCH(bool, playing);
        QFETCH(int, to);
        QFETCH(int, landed);
        auto engine = make();
        QCOMPARE(engine->open(testmedia::mediaSet().format("wav").path), std::nullopt);
        if (playing) {
            QVERIFY(engine->play());
            QTest::qWait(150);
        }
        QVERIFY(engine->seek(to));
        QCOMPARE(engine->state(), EngineState::Idle);
        QCOMPARE(engine->position(), landed < 0 ? engine->length() : landed);
        // Idle means still: the position does not creep on its own.
        QTest::qWait(100);
        QCOMPARE(engine->position(), landed < 0 ? engine->length() : landed);
    }

    // Play returns at once and the position runs; a second play plays on; pause waits and
    // holds the position still; a pause of an idle engine does nothing.
    void playRunsAndPauseHolds_data() { addEngines(); }
    void playRunsAndPauseHolds()
    {
        QFETCH(Factory, make);
        auto engine = make();
        QCOMPARE(engine->open(testmedia::mediaSet().format("wav").path), std::nullopt);
        QVERIFY(engine->pause());
        QCOMPARE(engine->state(), EngineState::Idle);
        QVERIFY(engine->seek(1000));
        QVERIFY(engine->play());
        QCOMPARE(engine->state(), EngineState::Playing);
        QTRY_VERIFY_WITH_TIMEOUT(engine->position() >= 1200, 3000);
        QVERIFY(engine->play());
        QCOMPARE(engine->state(), EngineState::Playing);
        QVERIFY(engine->pause());
        QCOMPARE(engine->state(), EngineState::Idle);
        const int held = engine->position();
        QVERIFY2(held >= 1200 && held < engine->length(), qPrintable(QString::number(held)));
        QTest::qWait(200);
        QCOMPARE(engine->position(), held);
    }

    // At the end of the stream the engine becomes idle by itself, exactly at the length;
    // a play from there ends again rather than hanging in Playing.
    void endIdlesAtTheLength_data() { addEngines(); }
    void endIdlesAtTheLength()
    {
        QFETCH(Factory, make);
        auto engine = make();
        QCOMPARE(engine->open(testmedia::mediaSet().shortWav.path), std::nullopt);
        const int length = engine->length();
        QVERIFY(engine->seek(length - 300));
        QVERIFY(engine->play());
        QVERIFY2(waitForIdle(*engine, kEndTimeoutMs), "the end never came");
        QCOMPARE(engine->position(), length);
        QVERIFY(engine->play());
        QVERIFY2(waitForIdle(*engine, kEndTimeoutMs), "a play from the end hangs in Playing");
        QCOMPARE(engine->position(), length);
    }
};

QTEST_GUILESS_MAIN(TestEngineContract)
#include "tst_engine_contract.moc"
