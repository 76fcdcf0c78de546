// SPDX-License-Identifier: MIT
// The output when the server lets it down, on a real server: a write the server refuses, the
// server restarting while a slot is paused, and the end of a file, which must wait on the
// server's own reports rather than ask it over and over.
#include "Desktop.h"
#include "Signal.h"
#include "SoundServer.h"
#include "app/TApplication.h"
#include "media/GstEngine.h"
#include "media/ServerOutput.h"
#include "media/TMediaPlayer.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr int kRate = 48000;

// The output's log lines, kept while a test listens.
QMutex logGuard;
QStringList logLines;
QtMessageHandler previousHandler = nullptr;

void keepOutputLines(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (context.category && QByteArray(context.category) == "tandrel.media.output") {
        QMutexLocker lock(&logGuard);
        logLines << text;
        return;
    }
    previousHandler(type, context, text);
}

double Rms(const float* samples, std::size_t n)
{
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += double(samples[i]) * samples[i];
    return n ? std::sqrt(sum / double(n)) : 0;
}

} // namespace

class TestOutputFaults : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
    e2e::SoundServer::Kind kind_ = e2e::SoundServer::fromEnvironment();
    std::unique_ptr<e2e::SoundServer> server_;
    std::vector<float> music_ = e2e::MusicLike(5, 11, kRate);
    QString path_;

    void startServer()
    {
        server_ = std::make_unique<e2e::SoundServer>(kind_, env_, "faults", kRate);
        QVERIFY2(server_->error().isEmpty(), qPrintable(server_->error()));
        qputenv("DBUS_SESSION_BUS_ADDRESS", env_.value("DBUS_SESSION_BUS_ADDRESS").toUtf8());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        const QString runtime = dir_.filePath("run");
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        env_.insert("XDG_RUNTIME_DIR", runtime);
        env_.insert("HOME", dir_.path());
        env_.remove("PULSE_SERVER");
        startServer();
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR"})
            qputenv(name, env_.value(QLatin1String(name)).toUtf8());
        qunsetenv("PULSE_SERVER");
        path_ = dir_.filePath("music.wav");
        QVERIFY(e2e::WriteWav(path_, music_, kRate));
    }

    // A refused write stops the slot, like any failure while sounding: no hang, nothing
    // raised, and the next play sounds again.
    void refusedWriteStopsTheSlot()
    {
        media::TMediaPlayer player(std::make_unique<media::GstEngine>());
        player.FileName = path_;
        player.Open();
        media::ServerOutput::refuseWritesForTesting(3);
        auto knob = qScopeGuard([] { media::ServerOutput::refuseWritesForTesting(-1); });
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(player.Mode(), media::TMPModes::mpStopped, 3000);
        const int stoppedAt = player.Position();
        QVERIFY2(stoppedAt < 2000, qPrintable(QString::number(stoppedAt)));
        media::ServerOutput::refuseWritesForTesting(-1);
        player.Play();
        QCOMPARE(player.Mode(), media::TMPModes::mpPlaying);
        QTRY_VERIFY_WITH_TIMEOUT(player.Position() >= stoppedAt + 300, 5000);
        player.Pause();
    }

    // The server goes away while a slot is paused and another answers: the first play goes
    // on, on the new server, from the very sample the pause left off at, ramping up.
    void restartWhilePausedResumes()
    {
        media::TMediaPlayer player(std::make_unique<media::GstEngine>());
        player.FileName = path_;
        player.Open();
        player.Play();
        QTRY_VERIFY_WITH_TIMEOUT(player.Position() >= 700, 5000);
        player.Pause();
        const int pausedMs = player.Position();

        server_.reset();
        startServer();
        e2e::Recorder recorder(dir_.filePath("resume.raw"), "faults.monitor", env_);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.samplesNow() > kRate / 10, 5000);

        player.Play();
        QCOMPARE(player.Mode(), media::TMPModes::mpPlaying);
        QTRY_VERIFY_WITH_TIMEOUT(player.Position() >= pausedMs + 500, 5000);
        player.Pause();
        QTest::qWait(300);

        const std::vector<float> heard = recorder.samples();
        // The monitor is digital silence until the resume's first sample.
        const auto first = std::find_if(
            heard.begin(), heard.end(), [](float sample) { return std::abs(sample) > 1e-4f; });
        QVERIFY2(first != heard.end(), "nothing was heard after the restart");
        const auto start = std::int64_t(first - heard.begin());
        const e2e::Locator source(music_);
        const e2e::Segment segment = e2e::SegmentAround(heard, start + kRate / 10, source);
        QVERIFY2(segment.score > 0.9, qPrintable(QString::number(segment.score)));
        // The position at a pause is whole milliseconds; the sample it names is within one.
        const std::int64_t resumed = segment.sourceStart + (start - segment.start);
        const std::int64_t expected = std::int64_t(pausedMs) * kRate / 1000;
        QVERIFY2(std::abs(resumed - expected) <= kRate / 1000 + 2,
            qPrintable(QString("went on from sample %1, paused at %2").arg(resumed).arg(expected)));
        // The first millisecond is the ramp's rise: well under the source's own level there.
        const std::size_t ms = kRate / 1000;
        const double rampLevel = Rms(heard.data() + start, ms);
        const double sourceLevel = Rms(music_.data() + resumed, ms);
        QVERIFY2(rampLevel < 0.5 * sourceLevel,
            qPrintable(
                QString("first ms at %1 of the source's %2").arg(rampLevel).arg(sourceLevel)));
    }

    // The end asks the server where it reads once, and again only when the last frame is due
    // by the last answer: a handful of questions, where asking every few milliseconds made
    // dozens.
    void endWaitsOnTheServer()
    {
        QLoggingCategory::setFilterRules("tandrel.media.output.debug=true");
        previousHandler = qInstallMessageHandler(keepOutputLines);
        auto restore = qScopeGuard([] {
            qInstallMessageHandler(previousHandler);
            QLoggingCategory::setFilterRules("tandrel.media.output.debug=false");
        });
        media::TMediaPlayer player(std::make_unique<media::GstEngine>());
        player.FileName = path_;
        player.Open();
        player.setPosition(player.Length() - 400);
        player.Play();
        QTRY_COMPARE_WITH_TIMEOUT(player.Mode(), media::TMPModes::mpStopped, 5000);
        QCOMPARE(player.Position(), player.Length());

        QMutexLocker lock(&logGuard);
        const auto end = std::find_if(logLines.begin(), logLines.end(),
            [](const QString& line) { return line.startsWith("end: "); });
        QVERIFY2(end != logLines.end(), qPrintable(logLines.join('\n')));
        const QStringList waiting(end, logLines.end());
        const auto questions
            = std::count_if(waiting.begin(), waiting.end(), [](const QString& line) {
                  return line.startsWith("timing") || line.startsWith("end: asked");
              });
        QVERIFY2(questions >= 1 && questions <= 6,
            qPrintable(QString("%1 questions:\n").arg(questions) + waiting.join('\n')));
    }
};

int main(int argc, char** argv)
{
    app::TApplication application(argc, argv);
    TestOutputFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_output_faults.moc"
