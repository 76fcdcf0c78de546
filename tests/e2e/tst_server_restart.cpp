// SPDX-License-Identifier: MIT
// The sound server goes away under a running player and comes back, as PipeWire does when it
// is updated: the play after that sounds on the new server instead of failing for good.
#include "Signal.h"
#include "SoundServer.h"
#include "app/TApplication.h"
#include "media/GstEngine.h"
#include "media/TMediaPlayer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

class TestServerRestart : public QObject {
    Q_OBJECT

private slots:
    void playsAfterTheServerRestarts()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString runtime = dir.filePath("run");
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("HOME", dir.path());
        env.remove("PULSE_SERVER");
        const auto kind = e2e::SoundServer::fromEnvironment();
        auto server = std::make_unique<e2e::SoundServer>(kind, env, "restart", 48000);
        QVERIFY2(server->error().isEmpty(), qPrintable(server->error()));
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"})
            qputenv(name, env.value(QLatin1String(name)).toUtf8());
        qunsetenv("PULSE_SERVER");

        const QString path = dir.filePath("tone.wav");
        QVERIFY(e2e::WriteWav(path, std::vector<float>(48000 * 5, 0.25f), 48000));
        media::TMediaPlayer player(std::make_unique<media::GstEngine>());
        player.FileName = path;
        player.Open();
        player.Play();
        QTRY_VERIFY_WITH_TIMEOUT(player.Position() >= 300, 5000);
        player.Pause();

        server.reset();
        server = std::make_unique<e2e::SoundServer>(kind, env, "restart", 48000);
        QVERIFY2(server->error().isEmpty(), qPrintable(server->error()));
        qputenv("DBUS_SESSION_BUS_ADDRESS", env.value("DBUS_SESSION_BUS_ADDRESS").toUtf8());

        // The pause's stream went with the old server: the resume cannot go on and fails, and
        // the play after that prerolls afresh, on the new one.
        const int before = player.Position();
        for (int attempt = 0; attempt < 2 && player.Mode() != media::TMPModes::mpPlaying;
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
    }
};

int main(int argc, char** argv)
{
    app::TApplication application(argc, argv);
    TestServerRestart test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_server_restart.moc"
