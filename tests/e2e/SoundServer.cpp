// SPDX-License-Identifier: MIT
#include "SoundServer.h"

#include "Desktop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

namespace e2e {

namespace {

constexpr int kStartMs = 30000;

// The last lines a server wrote, to say why it did not start.
QString Tail(const QString& log)
{
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(file.readAll()).trimmed().split('\n');
    return lines.mid(std::max<qsizetype>(0, lines.size() - 5)).join(" | ");
}

// A private session manager must not take the machine's own sound card, Bluetooth headset
// or cameras away from the user's desktop: it manages the null sink and nothing else.
void WriteWirePlumberConfig(const QString& configHome)
{
    const QDir config(configHome + "/wireplumber");
    const std::pair<const char*, const char*> files[] = {
        {"main.lua.d/51-tandrel-no-devices.lua",
            "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\n"
            "libcamera_monitor.enabled = false\n"},
        {"bluetooth.lua.d/51-tandrel-no-devices.lua", "bluez_monitor.enabled = false\n"},
        // WirePlumber 0.5 (Debian 13) reads no Lua configuration: its profile's features say
        // which monitors start, and this fragment is merged into the packaged profile.
        {"wireplumber.conf.d/51-tandrel-no-devices.conf",
            "wireplumber.profiles = {\n  main = {\n    hardware.audio = disabled\n"
            "    hardware.bluetooth = disabled\n    hardware.video-capture = disabled\n  }\n}\n"},
    };
    for (const auto& [name, text] : files) {
        const QString path = config.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(text);
    }
}

} // namespace

SoundServer::Kind SoundServer::fromEnvironment()
{
    const QString wanted = qEnvironmentVariable("TANDREL_SOUND_SERVER");
    if (wanted == QLatin1String("pipewire"))
        return Kind::PipeWire;
    if (wanted == QLatin1String("pulseaudio"))
        return Kind::PulseAudio;
    const bool pulseAudio = !QStandardPaths::findExecutable("pulseaudio").isEmpty();
    const bool pipeWire = !QStandardPaths::findExecutable("pipewire-pulse").isEmpty();
    return pipeWire && !pulseAudio ? Kind::PipeWire : Kind::PulseAudio;
}

QString SoundServer::name(Kind kind)
{
    return kind == Kind::PipeWire ? QStringLiteral("PipeWire") : QStringLiteral("PulseAudio");
}

SoundServer::SoundServer(Kind kind, QProcessEnvironment& env, const QString& sink, int rate)
{
    error_ = kind == Kind::PipeWire ? startPipeWire(env, sink, rate)
                                    : startPulseAudio(env, sink, rate);
    if (error_.isEmpty())
        error_ = waitForDefaultSink(env, sink);
}

SoundServer::~SoundServer()
{
    while (!processes_.empty())
        processes_.pop_back();
}

QString SoundServer::startPulseAudio(const QProcessEnvironment& env, const QString& sink, int rate)
{
    // Only the modules named here: no hardware, no other sink. Without norewinds=1 the null
    // sink stalls playback for about 2 s after every rewind (measured).
    processes_.push_back(std::make_unique<Process>("pulseaudio",
        QStringList {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
            "--system=false", "--use-pid-file=no", "--log-target=stderr", "--log-level=error", "-L",
            "module-native-protocol-unix", "-L",
            QStringLiteral("module-null-sink sink_name=%1 rate=%2 channels=2 norewinds=1")
                .arg(sink)
                .arg(rate)},
        env));
    return {};
}

QString SoundServer::startPipeWire(QProcessEnvironment& env, const QString& sink, int rate)
{
    const QString runtime = env.value("XDG_RUNTIME_DIR");
    // The servers keep their configuration and their state (WirePlumber remembers every
    // stream's volume and the default sink) in folders of their own, so that the home
    // folder holds only what the programs under test write.
    QProcessEnvironment serverEnv = env;
    serverEnv.insert("XDG_CONFIG_HOME", runtime + "/sound/config");
    serverEnv.insert("XDG_STATE_HOME", runtime + "/sound/state");
    WriteWirePlumberConfig(serverEnv.value("XDG_CONFIG_HOME"));

    // WirePlumber ends at once without a session bus, and without it nothing links a stream
    // to the sink or keeps a default sink: a stream then waits for ever (measured). A bus of
    // the desktop's own, so that nothing reaches the user's session.
    const QString bus = QStringLiteral("unix:path=%1/bus").arg(runtime);
    auto& daemon = *processes_.emplace_back(std::make_unique<Process>("dbus-daemon",
        QStringList {"--session", "--nofork", "--print-address=1", "--address=" + bus}, env));
    daemon.process().setReadChannel(QProcess::StandardOutput);
    if (!daemon.process().waitForReadyRead(10000))
        return QStringLiteral("dbus-daemon did not start");
    env.insert(
        "DBUS_SESSION_BUS_ADDRESS", QString::fromUtf8(daemon.process().readLine()).trimmed());
    serverEnv.insert("DBUS_SESSION_BUS_ADDRESS", env.value("DBUS_SESSION_BUS_ADDRESS"));

    // PipeWire's pulse server gives up ("mkdir() …/pulse failed: File exists") when a
    // client, such as the pactl that waits for it below, makes its folder in the same moment
    // (measured: 1 start in 6); made beforehand, the folder is there for both.
    const QString pulseFolder = runtime + "/pulse";
    if (!QDir().mkpath(pulseFolder)
        || !QFile::setPermissions(
            pulseFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return QStringLiteral("could not make %1").arg(pulseFolder);
    for (const char* program : {"pipewire", "wireplumber", "pipewire-pulse"}) {
        const QString log = QDir(runtime).filePath(QString(program) + ".log");
        processes_.push_back(
            std::make_unique<Process>(program, QStringList {}, serverEnv, QString(), log));
        QElapsedTimer clock;
        clock.start();
        // PipeWire's own socket before the session manager and the pulse server start.
        while (program == QLatin1String("pipewire") && !QFile::exists(runtime + "/pipewire-0")) {
            if (!processes_.back()->running() || clock.hasExpired(kStartMs))
                return QStringLiteral("pipewire did not start: ") + Tail(log);
            QThread::msleep(20);
        }
    }
    const QString pulseLog = QDir(runtime).filePath("pipewire-pulse.log");
    QElapsedTimer clock;
    clock.start();
    while (Run("pactl", {"info"}, env).exitCode != 0) {
        for (const auto& p : processes_) {
            if (!p->running())
                return QStringLiteral("%1 ended at start: %2")
                    .arg(p->process().program(),
                        Tail(QDir(runtime).filePath(p->process().program() + ".log")));
        }
        if (clock.hasExpired(kStartMs))
            return QStringLiteral("pipewire-pulse did not answer in 30 s: ") + Tail(pulseLog);
        QThread::msleep(50);
    }
    const RunResult loaded = Run("pactl",
        {"load-module", "module-null-sink", "sink_name=" + sink,
            QStringLiteral("rate=%1").arg(rate), "channels=2"},
        env);
    if (loaded.exitCode != 0)
        return QStringLiteral("PipeWire made no null sink: ") + loaded.err;
    // The default is kept by WirePlumber; it may take a moment to see the new sink.
    clock.restart();
    while (Run("pactl", {"set-default-sink", sink}, env).exitCode != 0) {
        if (clock.hasExpired(kStartMs))
            return QStringLiteral("PipeWire did not take the null sink as its default");
        QThread::msleep(50);
    }
    return {};
}

QString SoundServer::waitForDefaultSink(const QProcessEnvironment& env, const QString& sink)
{
    QElapsedTimer clock;
    clock.start();
    while (Run("pactl", {"get-default-sink"}, env).out != sink) {
        for (const auto& p : processes_) {
            if (!p->running())
                return QStringLiteral("%1 ended at start, exit code %2")
                    .arg(p->process().program())
                    .arg(p->process().exitCode());
        }
        if (clock.hasExpired(kStartMs))
            return QStringLiteral("the sound server did not answer in 30 s");
        QThread::msleep(50);
    }
    return {};
}

} // namespace e2e
