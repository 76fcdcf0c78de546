// SPDX-License-Identifier: MIT
// The sound server comes and goes under a running player. It goes away and comes back, as
// PipeWire does when it is updated, once while the player is paused and once while it plays:
// the play after that sounds on the new server instead of failing for good, and the connection
// to the old one is let go. It starts only after the program did, as in a desktop session still
// coming up: the next file sounds through the program's own output, with its ramps.
#include "Signal.h"
#include "SoundServer.h"
#include "app/TApplication.h"
#include "media/GstEngine.h"
#include "media/GstHandles.h"
#include "media/Playbin.h"
#include "media/TMediaPlayer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// A private desktop's runtime folder and home, for the server and for this process.
struct Session {
    Session()
    {
        runtime = dir.filePath("run");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("HOME", dir.path());
        env.remove("PULSE_SERVER");
    }
    // This process reaches the servers `env` reaches.
    void join() const
    {
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"})
            qputenv(name, env.value(QLatin1String(name)).toUtf8());
        qunsetenv("PULSE_SERVER");
    }
    QTemporaryDir dir;
    QString runtime;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

// Every thread of the process that serves a connection to the sound server: libpulse names
// its loop's thread so.
int serverThreads()
{
    int count = 0;
    const QDir tasks("/proc/self/task");
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + "/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "threaded-ml")
            ++count;
    }
    return count;
}

// The engine keeps its pipeline to itself: caught as it is made, when playbin adds its
// first element.
GstElement* madePipeline = nullptr;

gboolean catchPipeline(GSignalInvocationHint*, guint, const GValue* values, gpointer)
{
    auto* bin = static_cast<GstElement*>(g_value_get_object(&values[0]));
    if (!GST_IS_PIPELINE(bin))
        return TRUE;
    madePipeline = bin;
    return FALSE;
}

QString audioSinkName(GstElement* pipeline)
{
    GstElement* raw = nullptr;
    g_object_get(pipeline, "audio-sink", &raw, nullptr);
    const media::gst::ElementPtr sink(raw);
    return sink ? QString::fromUtf8(GST_OBJECT_NAME(sink.get())) : QString();
}

} // namespace

class TestServerRestart : public QObject {
    Q_OBJECT

private slots:
    void playsAfterTheServerRestarts_data()
    {
        QTest::addColumn<bool>("playing");
        QTest::newRow("paused") << false;
        QTest::newRow("playing") << true;
    }

    void playsAfterTheServerRestarts()
    {
        QFETCH(bool, playing);
        Session session;
        QVERIFY(session.dir.isValid());
        const auto kind = e2e::SoundServer::fromEnvironment();
        auto server = std::make_unique<e2e::SoundServer>(kind, session.env, "restart", 48000);
        QVERIFY2(server->error().isEmpty(), qPrintable(server->error()));
        session.join();

        const QString path = session.dir.filePath("tone.wav");
        QVERIFY(e2e::WriteWav(path, std::vector<float>(48000 * 5, 0.25f), 48000));
        media::TMediaPlayer player(std::make_unique<media::GstEngine>());
        player.FileName = path;
        player.Open();
        player.Play();
        QTRY_VERIFY_WITH_TIMEOUT(player.Position() >= 300, 5000);
        if (!playing)
            player.Pause();

        server.reset();
        // Playing, the output fails as its server goes, and the player stops where it was.
        if (playing)
            QTRY_VERIFY_WITH_TIMEOUT(player.Mode() != media::TMPModes::mpPlaying, 5000);
        server = std::make_unique<e2e::SoundServer>(kind, session.env, "restart", 48000);
        QVERIFY2(server->error().isEmpty(), qPrintable(server->error()));
        session.join();

        // Paused, the pause's stream went with the old server: the resume may fail, and the
        // play after it prerolls afresh, on the new one. Stopped by the failure, the player
        // prerolls afresh at its first play.
        const int before = player.Position();
        QVERIFY2(before >= 300, qPrintable(QString("stands at %1 ms").arg(before)));
        const int plays = playing ? 1 : 2;
        for (int attempt = 0; attempt < plays && player.Mode() != media::TMPModes::mpPlaying;
            ++attempt) {
            try {
                player.Play();
            } catch (const std::exception&) {
            }
            QTest::qWait(500);
        }
        QCOMPARE(player.Mode(), media::TMPModes::mpPlaying);
        QTRY_VERIFY_WITH_TIMEOUT(player.Position() >= before + 300, 5000);
        player.Pause();
        // Nothing holds on to the dead connection, with its thread.
        QTRY_COMPARE_WITH_TIMEOUT(serverThreads(), 1, 2000);
    }

    void soundsThroughAServerThatStartedLater()
    {
        Session session;
        QVERIFY(session.dir.isValid());
        session.join();
        // Named, so that nothing else answers meanwhile; the server opens it later.
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(session.runtime) + "/pulse/native");
        media::initGStreamerOnce();
        madePipeline = nullptr;
        g_signal_add_emission_hook(
            g_signal_lookup("element-added", GST_TYPE_BIN), 0, catchPipeline, nullptr, nullptr);

        const QString path = session.dir.filePath("tone.wav");
        QVERIFY(e2e::WriteWav(path, std::vector<float>(48000 * 5, 0.25f), 48000));
        media::GstEngine engine;
        // Without a server the file goes to the system's default output, or fails to open
        // where there is none: either way it is no longer the first open.
        engine.open(path);
        QVERIFY(madePipeline);

        e2e::SoundServer server(e2e::SoundServer::fromEnvironment(), session.env, "late", 48000);
        QVERIFY2(server.error().isEmpty(), qPrintable(server.error()));
        const std::optional<QString> failed = engine.open(path);
        QVERIFY2(!failed, qPrintable(failed.value_or(QString())));
        QCOMPARE(audioSinkName(madePipeline), QStringLiteral("tandrel-output"));
        QVERIFY(engine.play());
        QTRY_VERIFY_WITH_TIMEOUT(engine.position() >= 300, 5000);
        qunsetenv("PULSE_SERVER");
    }
};

int main(int argc, char** argv)
{
    app::TApplication application(argc, argv);
    TestServerRestart test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_server_restart.moc"
