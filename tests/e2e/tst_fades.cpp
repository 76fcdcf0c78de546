// SPDX-License-Identifier: MIT
// No start or stop of the sound is heard as a click. A steady tone is played, paused,
// resumed, sought while playing and played to its end through the real program into a null
// sink, and the recording is searched for a step from one sample to the next steeper than
// the tone itself ever takes: a cut between silence and the tone jumps by up to its whole
// amplitude in one sample, where a ramp of a few milliseconds stays within the tone's slope.
#include "Desktop.h"
#include "RecordingShell.h"
#include "Signal.h"
#include "Unit1.h"
#include "app/TApplication.h"
#include "controls/TImage.h"
#include "media/GstEngine.h"
#include "media/ServerOutput.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>
#include <cmath>
#include <numbers>

using e2e::Desktop;

namespace {

constexpr int kRate = Desktop::kRate;
constexpr double kTone = 1000; // Hz
constexpr double kAmplitude = 0.5;
// Every whole millisecond falls on the same phase of a 1 kHz tone; at a third of a turn a cut
// there jumps by 0.87 of the amplitude, far over the slope, where a start at a zero crossing
// would hide it.
constexpr double kPhase = std::numbers::pi / 3;
constexpr double kSeconds = 4;
constexpr double kSilence = 1.5 / 32768; // the null sink gives exact zeros while idle
// The steepest a tone of peak `amplitude` goes from one sample to the next, plus two steps of
// the 16-bit recording and 2 % for the sound server's rounding on the way.
double Slope(double amplitude)
{
    return 2 * amplitude * std::sin(std::numbers::pi * kTone / kRate) * 1.02 + 2.0 / 32768;
}

// The tone's peak as recorded: PipeWire's monitor brings the mono file back 3 dB louder than
// PulseAudio's does (0.707 for 0.5, measured).
double Peak(const std::vector<float>& samples)
{
    double peak = 0;
    for (const float sample : samples)
        peak = std::max(peak, double(std::abs(sample)));
    return peak;
}
// A silence at least this long (2 ms) counts as one: within the tone, no two samples in a
// row are that quiet.
constexpr std::int64_t kShortestSilence = kRate / 500;

std::vector<float> Tone()
{
    std::vector<float> samples(std::size_t(kSeconds * kRate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(
            kAmplitude * std::sin(2 * std::numbers::pi * kTone * double(i) / kRate + kPhase));
    return samples;
}

// The places where the recording turns from silence to sound or back.
std::vector<std::int64_t> Edges(const std::vector<float>& samples)
{
    std::vector<std::int64_t> edges;
    bool sounding = false;
    std::int64_t quiet = kShortestSilence; // the recording starts in silence
    for (std::size_t i = 0; i < samples.size(); ++i) {
        quiet = std::abs(samples[i]) < kSilence ? quiet + 1 : 0;
        if (!sounding && quiet == 0) {
            sounding = true;
            edges.push_back(std::int64_t(i));
        } else if (sounding && quiet == kShortestSilence) {
            sounding = false;
            edges.push_back(std::int64_t(i) + 1 - kShortestSilence);
        }
    }
    return edges;
}

// The steepest step from one sample to the next, and where it is.
std::pair<double, std::int64_t> SteepestStep(const std::vector<float>& samples)
{
    std::pair<double, std::int64_t> steepest {0, -1};
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const double step = std::abs(double(samples[i]) - samples[i - 1]);
        if (step > steepest.first)
            steepest = {step, std::int64_t(i)};
    }
    return steepest;
}

enum class Step { Play, Pause, ClickBar, WaitForTheEnd };

} // namespace

Q_DECLARE_METATYPE(std::vector<Step>)

class TestFades : public QObject {
    Q_OBJECT
    std::unique_ptr<Desktop> desktop;
    std::unique_ptr<e2e::Recorder> recorder;
    testsupport::RecordingShell shell;
    QString folder;
    QStringList report;

private slots:
    void initTestCase()
    {
        desktop = std::make_unique<Desktop>();
        QVERIFY2(desktop->error().isEmpty(), qPrintable(desktop->error()));
        desktop->soundHere();
        folder = desktop->path("media");
        QDir().mkpath(folder);
        QVERIFY(e2e::WriteWav(folder + "/tone.wav", Tone(), kRate));
        QVERIFY(QFile::copy(folder + "/tone.wav", folder + "/tone2.wav"));
        recorder = desktop->record(desktop->path("sink.raw"));
        QVERIFY(recorder->started());
    }

    void cleanupTestCase()
    {
        qInfo().noquote() << QString("on %1, a tone at %2 steps by %3 at most")
                                 .arg(e2e::SoundServer::name(desktop->soundServer()))
                                 .arg(kAmplitude)
                                 .arg(Slope(kAmplitude), 0, 'f', 4);
        for (const QString& line : report)
            qInfo().noquote() << line;
        recorder.reset();
        desktop.reset();
    }

    // Each row starts and ends in silence; `edges` is how many times the sound starts or
    // stops, which the recording must show, so that a row that never sounded cannot pass.
    // A bar click while playing ramps down and straight up again from the new place, often
    // with no silence between to count, so that row counts from its first start and last
    // stop (2) up to a silence at each click (6).
    //
    // The rows "held up" keep the program waiting 10 ms between each report of where the
    // server reads and the write that follows, as a busy machine may: the server takes its
    // next block meanwhile (PipeWire a 21 ms quantum, the null sink 40 ms), and a ramp that
    // does not allow for that is cut off.
    void noClick_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<std::vector<Step>>("steps");
        QTest::addColumn<int>("fewestEdges");
        QTest::addColumn<int>("edges");
        QTest::addColumn<int>("heldUpMs");
        using enum Step;
        const std::vector pauses {Play, Pause, Play, Pause, Play, Pause};
        const std::vector clicks {Play, ClickBar, ClickBar, Pause};
        QTest::newRow("play and pause") << 100 << std::vector {Play, Pause} << 2 << 2 << 0;
        QTest::newRow("pause and resume") << 60 << pauses << 6 << 6 << 0;
        QTest::newRow("bar click while playing") << 40 << clicks << 2 << 6 << 0;
        QTest::newRow("play to the end") << 395 << std::vector {Play, WaitForTheEnd} << 2 << 2 << 0;
        QTest::newRow("from the very start") << 0 << std::vector {Play, Pause} << 2 << 2 << 0;
        QTest::newRow("pause and resume, held up") << 60 << pauses << 6 << 6 << 10;
        QTest::newRow("bar click while playing, held up") << 40 << clicks << 2 << 6 << 10;
    }

    void noClick()
    {
        QFETCH(int, column);
        QFETCH(std::vector<Step>, steps);
        QFETCH(int, fewestEdges);
        QFETCH(int, edges);
        QFETCH(int, heldUpMs);
        media::ServerOutput::holdUpForTesting(std::chrono::milliseconds(heldUpMs));
        const auto release = qScopeGuard(
            [] { media::ServerOutput::holdUpForTesting(std::chrono::milliseconds(0)); });
        TForm1 form([] { return std::make_unique<media::GstEngine>(); }, shell);
        form.show();
        form.AcceptFiles({folder + "/tone.wav", folder + "/tone2.wav"});
        QCOMPARE(form.PG1->Max, int(kSeconds * 1000));
        QTest::mouseClick(form.PGClick, Qt::LeftButton, {}, QPoint(column, 9));
        // Let whatever came before fall silent, so that this row's recording starts silent.
        QTest::qWait(200);
        const std::int64_t mark = recorder->samplesNow();
        int clicks = 0;
        QStringList pauses; // how long each pause took to return, its sound faded out
        for (const Step step : steps) {
            switch (step) {
            case Step::Play:
                form.Image2Click();
                QTest::qWait(300);
                break;
            case Step::Pause: {
                QElapsedTimer clock;
                clock.start();
                form.Image3Click();
                pauses << QString::number(double(clock.nsecsElapsed()) / 1e6, 'f', 1);
                QTest::qWait(300);
                break;
            }
            case Step::ClickBar:
                // Each click lands somewhere else, so the sound really jumps.
                QTest::mouseClick(
                    form.PGClick, Qt::LeftButton, {}, QPoint(column + 90 * ++clicks, 9));
                QTest::qWait(300);
                break;
            case Step::WaitForTheEnd:
                QTRY_VERIFY_WITH_TIMEOUT(form.MP1->Mode() != media::TMPModes::mpPlaying, 5000);
                QTest::qWait(300);
                break;
            }
        }
        // What was played has reached the recording by now: the recorder lags by ~50 ms.
        QTest::qWait(200);
        const std::vector<float> samples = recorder->samples(mark);
        const std::vector<std::int64_t> found = Edges(samples);
        QStringList at;
        for (const std::int64_t edge : found)
            at << QString::number(double(edge) * 1000 / kRate, 'f', 1);
        QVERIFY2(
            int(found.size()) >= fewestEdges && int(found.size()) <= edges && found.size() % 2 == 0,
            qPrintable(QString("%1 starts and stops expected, %2 heard (at %3 ms)")
                    .arg(fewestEdges == edges ? QString::number(edges)
                                              : QString("%1 to %2").arg(fewestEdges).arg(edges))
                    .arg(found.size())
                    .arg(at.join(", "))));
        const auto [steepest, where] = SteepestStep(samples);
        const double peak = Peak(samples);
        // Never above the file's peak by more than PipeWire's 3 dB, so a bound taken from a
        // recording that is all cuts and spikes cannot excuse them.
        QVERIFY2(
            peak <= kAmplitude * std::sqrt(2.0) * 1.02, qPrintable(QString("peak %1").arg(peak)));
        const double slope = Slope(peak);
        report << QString("%1: steepest step %2 (tone's own %3) at %4 ms; edges at %5 ms; "
                          "pauses took %6 ms")
                      .arg(QTest::currentDataTag())
                      .arg(steepest, 0, 'f', 4)
                      .arg(slope, 0, 'f', 4)
                      .arg(double(where) * 1000 / kRate, 0, 'f', 1)
                      .arg(at.join(", "))
                      .arg(pauses.isEmpty() ? QStringLiteral("-") : pauses.join(", "));
        QVERIFY2(steepest <= slope,
            qPrintable(QString("a step of %1 at %2 ms, steeper than the tone's %3 (edges at %4 ms)")
                    .arg(steepest)
                    .arg(double(where) * 1000 / kRate, 0, 'f', 1)
                    .arg(slope)
                    .arg(at.join(", "))));
    }
};

int main(int argc, char** argv)
{
    app::TApplication application(argc, argv);
    TestFades test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fades.moc"
