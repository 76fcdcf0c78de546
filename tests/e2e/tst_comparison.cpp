// SPDX-License-Identifier: MIT
// A whole comparison as a user makes it, driven only from outside the real program: two
// files dragged from another window, played, the bar clicked, slots switched, the loser sent
// to the trash, the window moved and closed. What the program did is read back from what
// reached the sound server and from screenshots, never from its internals.
#include "Branding.h"
#include "Desktop.h"
#include "Signal.h"
#include "skin/Skin.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTest>
#include <cmath>

using e2e::Desktop;

namespace {

constexpr int kRate = Desktop::kRate;
constexpr double kSeconds = 20;

// Where the controls are on the window, from its top-left corner.
const QPoint kTopX(370, 45), kTopPlay(370, 75), kTopPause(406, 75);
const QPoint kBottomPlay(370, 135), kBottomPause(406, 135), kBottomFolder(406, 165);
const QPoint kQuestionMark(8, 11), kDot(478, 11);
const QPoint kPanelArea(30, 105), kLink(222, 166); // the panel's own area lies over the bar
const int kBarRow = 105;
const QRect kLabels(24, 40, 325, 126); // the two file names and folders

QByteArray Hash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "(unreadable)";
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

// The first column of the bar's row, from the left, where the screen no longer shows the
// skin's trough: the left edge of the cover.
int CoverLeft(const QImage& shot, QPoint window)
{
    const QImage background = skin::background();
    for (int x = 24; x < 421; ++x) {
        if (shot.pixel(window + QPoint(x, kBarRow)) != background.pixel(x, kBarRow))
            return x;
    }
    return 421;
}

double Ms(std::int64_t samples)
{
    return double(samples) * 1000.0 / kRate;
}

} // namespace

class TestComparison : public QObject {
    Q_OBJECT
    std::unique_ptr<Desktop> desktop;
    std::unique_ptr<e2e::Recorder> recorder;
    std::unique_ptr<e2e::Process> program;
    std::unique_ptr<e2e::Process> probe;
    std::unique_ptr<e2e::Locator> topSound, bottomSound;
    QString top, bottom, browserLog, window;
    QByteArray topHash, bottomHash;
    QPoint origin; // the window's top-left corner on the screen
    QStringList report;

    QPoint at(QPoint local) const { return origin + local; }
    QImage shot(const QString& name) const
    {
        return desktop->screenshot(QDir(SCREENSHOT_DIR).filePath(name + ".png"));
    }
    void dropFiles(const QStringList& files)
    {
        const QString failed = desktop->dropFiles(DRAG_SOURCE, files, at({200, 185}));
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }
    // Plays from a click and returns where the sound that followed began in `sound`.
    e2e::Segment playedAfter(std::int64_t mark, std::int64_t anchorDelay, const e2e::Locator& sound)
    {
        const std::vector<float> samples = recorder->samples();
        const std::int64_t onset = e2e::Onset(samples, mark);
        if (onset < 0)
            return {};
        return e2e::SegmentAround(samples, onset + anchorDelay, sound);
    }

private slots:
    void initTestCase()
    {
        desktop = std::make_unique<Desktop>();
        QVERIFY2(desktop->error().isEmpty(), qPrintable(desktop->error()));
        QDir(desktop->home()).mkpath("Music/Takes");
        top = desktop->home() + QString::fromUtf8("/Music/Takes/Take 1 – mix A.wav");
        bottom = desktop->home() + QString::fromUtf8("/Music/Takes/Take 1 – mix ß 100%.wav");
        const auto topSamples = e2e::MusicLike(kSeconds, 1, kRate);
        const auto bottomSamples = e2e::MusicLike(kSeconds, 2, kRate);
        QVERIFY(e2e::WriteWav(top, topSamples, kRate));
        QVERIFY(e2e::WriteWav(bottom, bottomSamples, kRate));
        topSound = std::make_unique<e2e::Locator>(topSamples);
        bottomSound = std::make_unique<e2e::Locator>(bottomSamples);
        topHash = Hash(top);
        bottomHash = Hash(bottom);

        // A window behind the program, to see where a click through its corners lands.
        probe = desktop->start(DRAG_SOURCE, {"--probe"});
        QVERIFY(!desktop->waitForWindow("probe", true).isEmpty());

        browserLog = desktop->path("browser.log");
        const QString browser = desktop->path("browser");
        QFile script(browser);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$1\" >> '" + browserLog.toUtf8() + "'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment extra;
        extra.insert("BROWSER", browser);

        recorder = desktop->record(desktop->path("sink.raw"));
        QVERIFY2(recorder->started(), "parec did not start");
        program = desktop->start(TANDREL_BINARY, {}, extra);
        window = desktop->waitForWindow("tandrel");
        QVERIFY2(!window.isEmpty(), "the window never showed");
        QTest::qWait(700);
        origin = desktop->windowPosition(window);
        QCOMPARE(origin, QPoint(0, 0));
    }

    void cleanupTestCase()
    {
        for (const QString& line : report)
            qInfo().noquote() << line;
        program.reset();
        recorder.reset();
        probe.reset();
        desktop.reset();
    }

    // Two files dragged from another window: the first into the top slot, the second below.
    void dropTwoFiles()
    {
        const QImage before = shot("0-start");
        dropFiles({top, bottom});
        QTest::qWait(500);
        const QImage after = shot("1-dropped");
        QVERIFY2(before.copy(kLabels) != after.copy(kLabels), "the file names did not show");
        QCOMPARE(desktop->windows("tandrel").size(), 1); // no message box
    }

    // The top file sounds from its start; its play glyph stays lit and the bar fills.
    void playTop()
    {
        // A user presses play a while after the drop: the first sound must still come at once.
        QTest::qWait(2000);
        const std::int64_t mark = recorder->samplesNow();
        QVERIFY(desktop->click(at(kTopPlay)));
        QTest::qWait(1600);
        const QImage screen = shot("2-playing");
        const e2e::Segment played = playedAfter(mark, kRate / 10, *topSound);
        QVERIFY2(played.score > 0.9, qPrintable(QString("top match %1").arg(played.score)));
        report << QString("top from its start: %1 ms").arg(Ms(played.sourceStart), 0, 'f', 2);
        QVERIFY2(std::abs(Ms(played.sourceStart)) <= 50, qPrintable(report.last()));
        // The click takes 200 ms of pauses between its steps; the sound follows the release.
        report << QString("first sound %1 ms after the click began")
                      .arg(Ms(played.start - mark), 0, 'f', 1);
        QVERIFY2(Ms(played.start - mark) < 450, qPrintable(report.last()));

        QCOMPARE(QColor(screen.pixel(at({356 + 12, 65 + 9}))), skin::kAccentColour);
        QCOMPARE(QColor(screen.pixel(at({392 + 12, 65 + 9}))), skin::kNormalColour);
        const int cover = CoverLeft(screen, origin);
        QVERIFY2(cover > 30 && cover < 80, qPrintable(QString("cover at %1").arg(cover)));
    }

    // A click half way along the bar: the top file plays on from its middle, and the covers
    // stand at the clicked column.
    void clickTheBar()
    {
        const std::int64_t mark = recorder->samplesNow();
        QVERIFY(desktop->click(at({23 + 199, kBarRow})));
        const QImage screen = shot("3-bar-clicked");
        const int cover = CoverLeft(screen, origin);
        QVERIFY2(cover >= 222 && cover <= 232, qPrintable(QString("cover at %1").arg(cover)));
        QTest::qWait(1200);
        const std::vector<float> samples = recorder->samples();
        // Well after the jump, then back to where the new stretch began.
        const e2e::Segment played = e2e::SegmentAround(samples, mark + kRate * 6 / 10, *topSound);
        QVERIFY2(played.score > 0.9, qPrintable(QString("top match %1").arg(played.score)));
        QVERIFY(played.start >= mark - kRate / 20);
        const double error = Ms(played.sourceStart) - 10000;
        report << QString("top after the bar click: %1 ms from 10000 ms").arg(error, 0, 'f', 2);
        QVERIFY2(std::abs(error) <= 50, qPrintable(report.last()));
    }

    // Pause the top and play the bottom: the bottom sounds from the clicked moment, alone.
    void switchSlots()
    {
        QVERIFY(desktop->click(at(kTopPause)));
        // The pause is heard up to a PipeWire quantum (21 ms) after its click, and PipeWire's
        // monitor hears it up to 60 ms after that.
        QTest::qWait(150);
        const std::int64_t paused = recorder->samplesNow();
        QTest::qWait(250);
        const std::int64_t mark = recorder->samplesNow();
        QVERIFY(desktop->click(at(kBottomPlay)));
        QTest::qWait(1200);
        const std::vector<float> samples = recorder->samples();
        QCOMPARE(
            e2e::Onset(std::vector<float>(samples.begin() + paused, samples.begin() + mark), 0),
            -1);
        const e2e::Segment played = playedAfter(mark, kRate / 10, *bottomSound);
        QVERIFY2(played.score > 0.9, qPrintable(QString("bottom match %1").arg(played.score)));
        const double error = Ms(played.sourceStart) - 10000;
        report << QString("bottom after switching: %1 ms from 10000 ms").arg(error, 0, 'f', 2);
        QVERIFY2(std::abs(error) <= 50, qPrintable(report.last()));
        // The top is silent: what sounds is the bottom alone, so it matches it exactly.
        const e2e::Segment alone
            = e2e::SegmentAround(samples, played.start + kRate / 2, *bottomSound);
        QVERIFY(alone.score > 0.98);
        QVERIFY(e2e::SegmentAround(samples, played.start + kRate / 2, *topSound).score < 0.5);
        QTest::qWait(300);
        QVERIFY(desktop->click(at(kBottomPause)));
    }

    // The top X sends the bottom file to the trash, from where it comes back unchanged.
    void trashTheOther()
    {
        QVERIFY(desktop->click(at(kTopX)));
        QTest::qWait(500);
        QVERIFY(!QFile::exists(bottom));
        QCOMPARE(Hash(top), topHash);
        const e2e::RunResult listed = desktop->run("trash-list", {});
        QVERIFY2(listed.out.contains(bottom), qPrintable(listed.out + listed.err));
        desktop->run("trash-restore", {bottom}, 20000, "0\n");
        QCOMPARE(Hash(bottom), bottomHash);
        shot("4-trashed");
    }

    // A name typed into the open dialog and taken with Return opens the file, and the very
    // next click on the window works: here the bottom play button lights and plays.
    void openByTypingAName()
    {
        const QString plain = desktop->home() + "/Music/plain.wav";
        QVERIFY(QFile::copy(bottom, plain));
        QVERIFY(desktop->click(at(kBottomFolder)));
        QTRY_COMPARE_WITH_TIMEOUT(desktop->windows("tandrel").size(), 2, 10000);
        QTest::qWait(500);
        QVERIFY(desktop->xdotool({"key", "ctrl+a"}));
        QVERIFY(desktop->xdotool({"type", "--delay", "30", plain}));
        QTest::qWait(500);
        QVERIFY(desktop->xdotool({"key", "Return"}));
        QTRY_COMPARE_WITH_TIMEOUT(desktop->windows("tandrel").size(), 1, 10000);
        QTest::qWait(500);
        const std::int64_t mark = recorder->samplesNow();
        QVERIFY(desktop->click(at(kBottomPlay)));
        QTest::qWait(800);
        QCOMPARE(QColor(shot("4b-typed-and-played").pixel(at({356 + 12, 125 + 9}))),
            skin::kAccentColour);
        QVERIFY(e2e::Onset(recorder->samples(), mark) >= 0);
        QVERIFY(desktop->click(at(kBottomPause)));
    }

    // Three files are refused with a message, and both slots stay as they were.
    void dropThree()
    {
        const QImage before = shot("5-before-three");
        dropFiles({top, bottom, top});
        QTest::qWait(500);
        QCOMPARE(desktop->windows("tandrel").size(), 2);
        shot("6-three-refused");
        QVERIFY(desktop->xdotool({"key", "--clearmodifiers", "Return"}));
        QTest::qWait(500);
        QCOMPARE(desktop->windows("tandrel").size(), 1);
        const QImage after = shot("7-after-three");
        QCOMPARE(after.copy(kLabels.translated(origin)), before.copy(kLabels.translated(origin)));
    }

    // Dragged by its background, the window moves by the mouse's way; a click on a corner
    // the outline cuts away reaches the window behind.
    void moveAndClickThrough()
    {
        QVERIFY(desktop->drag(at({200, 185}), at({240, 215})));
        QTest::qWait(300);
        const QPoint moved = desktop->windowPosition(window);
        QCOMPARE(moved, origin + QPoint(40, 30));
        origin = moved;
        QVERIFY(skin::background().pixel(0, 0) == skin::kColourKey);
        probe->process().readAllStandardOutput();
        QVERIFY(desktop->click(at({0, 0})));
        QTRY_VERIFY_WITH_TIMEOUT(
            probe->process().canReadLine() || probe->process().waitForReadyRead(100), 3000);
        QCOMPARE(QString::fromUtf8(probe->process().readLine()).trimmed(),
            QString("press %1 %2").arg(origin.x()).arg(origin.y()));
        // The click raised the window behind; bring the program back on top.
        QVERIFY(desktop->xdotool({"windowraise", window}));
        QTest::qWait(300);
    }

    // The about panel opens on the question mark and hides on a click of its own; its link
    // goes to the browser.
    void aboutAndLink()
    {
        QVERIFY(desktop->click(at(kQuestionMark)));
        QTest::qWait(300);
        QCOMPARE(QColor(shot("8-about").pixel(at(kPanelArea))), skin::kPanelColour);
        QVERIFY(desktop->click(at(kLink)));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(browserLog), 10000);
        QTest::qWait(200);
        QFile log(browserLog);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(
            log.readAll().trimmed(), "https://" + QByteArray(branding::kWebsiteDomain) + "/en/");
        QCOMPARE(QColor(shot("9-link-followed").pixel(at(kPanelArea))), skin::kPanelColour);
        QVERIFY(desktop->click(at(kPanelArea)));
        QTest::qWait(300);
        QVERIFY(QColor(shot("10-about-hidden").pixel(at(kPanelArea))) != skin::kPanelColour);
    }

    // The dot closes the window and the program ends well.
    void closeByTheDot()
    {
        QVERIFY(desktop->click(at(kDot)));
        QVERIFY2(program->waitForExit(10000), "the program did not end");
        QCOMPARE(program->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(program->process().exitCode(), 0);
        QCOMPARE(Hash(top), topHash);
        QCOMPARE(Hash(bottom), bottomHash);
    }
};

QTEST_GUILESS_MAIN(TestComparison)
#include "tst_comparison.moc"
