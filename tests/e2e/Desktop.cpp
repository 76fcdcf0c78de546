// SPDX-License-Identifier: MIT
#include "Desktop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <csignal>
#include <sys/prctl.h>

namespace e2e {

namespace {

constexpr auto kSink = "tandrel_e2e";

void Pause(int ms)
{
    QThread::msleep(ms);
}

} // namespace

Process::Process(const QString& program, const QStringList& args, const QProcessEnvironment& env,
    const QString& outputFile, const QString& errorFile)
{
    process_.setProcessEnvironment(env);
    if (outputFile.isEmpty() && errorFile.isEmpty())
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!outputFile.isEmpty())
        process_.setStandardOutputFile(outputFile);
    if (!errorFile.isEmpty())
        process_.setStandardErrorFile(errorFile);
    // Should the test program die, its children go with it instead of haunting the machine.
    process_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_.start(program, args);
    process_.waitForStarted(10000);
}

Process::~Process()
{
    stop();
}

bool Process::waitForExit(int ms)
{
    return process_.state() == QProcess::NotRunning || process_.waitForFinished(ms);
}

void Process::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

RunResult Run(const QString& program, const QStringList& args, const QProcessEnvironment& env,
    int timeoutMs, const QByteArray& input)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    RunResult result;
    result.finished = p.waitForFinished(timeoutMs);
    if (!result.finished) {
        p.kill();
        p.waitForFinished(3000);
    }
    result.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    result.out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    result.err = QString::fromUtf8(p.readAllStandardError()).trimmed();
    return result;
}

// The recorder asks for 50 ms, about what the player's own stream asks for, so that it does
// not set the pace of the sound server. On PipeWire the smallest latency a stream asks for
// sets the graph's quantum: at 10 ms the recorder forced 256 samples, and there, without
// realtime scheduling, PipeWire 0.3.65 replayed one quantum at about one uncork in fifteen
// (a resume 256 samples early in 2 runs of 8, 4 pauses each; 0 in 10 runs at 50 ms).
Recorder::Recorder(const QString& path, const QString& monitor, const QProcessEnvironment& env)
    : path_(path)
    , process_("parec",
          {"--device=" + monitor, "--raw", "--format=s16le",
              QStringLiteral("--rate=%1").arg(Desktop::kRate), "--channels=1", "--latency-msec=50"},
          env, path)
{
}

qint64 Recorder::samplesNow() const
{
    return QFileInfo(path_).size() / 2;
}

std::vector<float> Recorder::samples(qint64 from) const
{
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from * 2))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<float> out(std::size_t(bytes.size() / 2));
    const auto* raw = reinterpret_cast<const unsigned char*>(bytes.constData());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = float(std::int16_t(raw[2 * i] | (raw[2 * i + 1] << 8))) / 32768.0f;
    return out;
}

Desktop::Desktop(QSize screen, bool whiteRoot)
{
    error_ = startAll(screen, whiteRoot);
}

Desktop::~Desktop()
{
    // The program under test talks to all three: stop them in the reverse order.
    sound_.reset();
    wm_.reset();
    xvfb_.reset();
}

QString Desktop::startAll(QSize screen, bool whiteRoot)
{
    if (!root_.isValid())
        return QStringLiteral("no temporary folder");
    QDir root(root_.path());
    for (const char* dir : {"home/.local/share", "home/.config", "run"})
        root.mkpath(dir);
    QFile::setPermissions(
        path("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    env_ = QProcessEnvironment::systemEnvironment();
    // GStreamer keeps its plugin list under HOME; share the user's rather than build a new
    // one in every private HOME, which takes seconds on a busy machine.
    if (!env_.contains("GST_REGISTRY_1_0") && env_.contains("HOME"))
        env_.insert(
            "GST_REGISTRY_1_0", env_.value("HOME") + "/.cache/gstreamer-1.0/registry.x86_64.bin");
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_DATA_HOME",
             "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "DBUS_SESSION_BUS_ADDRESS", "PULSE_SERVER",
             "PULSE_SINK", "BROWSER", "QT_SCALE_FACTOR"})
        env_.remove(name);
    env_.insert("HOME", home());
    env_.insert("XDG_RUNTIME_DIR", path("run"));
    env_.insert("QT_QPA_PLATFORM", "xcb");

    // Xvfb picks a free display and tells it through a pipe.
    xvfb_ = std::make_unique<Process>("Xvfb",
        QStringList {"-displayfd", "1", "-screen", "0",
            QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
            whiteRoot ? "-wr" : "-br", "-nolisten", "tcp"},
        env_);
    auto& x = xvfb_->process();
    x.setReadChannel(QProcess::StandardOutput);
    if (!x.waitForReadyRead(15000))
        return QStringLiteral("Xvfb did not start");
    env_.insert("DISPLAY", ":" + QString::fromUtf8(x.readLine()).trimmed());

    wm_ = std::make_unique<Process>("openbox", QStringList {}, env_);
    QElapsedTimer clock;
    clock.start();
    // openbox is ready when it has claimed the root window as its own.
    for (;;) {
        const RunResult claim = Run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}, env_);
        if (claim.out.contains("window id"))
            break;
        if (!wm_->running())
            return QStringLiteral("openbox ended at start, exit code %1")
                .arg(wm_->process().exitCode());
        // What the root window last said, so that a slow or stuck X server tells itself
        // apart from a window manager that never claimed it.
        if (clock.hasExpired(30000))
            return QStringLiteral(
                "openbox did not take the screen in 30 s (xprop: %1, exit %2, %3)")
                .arg(claim.finished ? "finished" : "timed out")
                .arg(claim.exitCode)
                .arg(claim.out + claim.err);
        Pause(50);
    }

    sound_ = std::make_unique<SoundServer>(soundKind_, env_, kSink, kRate);
    if (!sound_->error().isEmpty())
        return SoundServer::name(soundKind_) + ": " + sound_->error();
    qInfo("private desktop %s, sound on %s", qPrintable(env_.value("DISPLAY")),
        qPrintable(SoundServer::name(soundKind_)));
    return {};
}

RunResult Desktop::run(
    const QString& program, const QStringList& args, int timeoutMs, const QByteArray& input) const
{
    return Run(program, args, env_, timeoutMs, input);
}

std::unique_ptr<Process> Desktop::start(
    const QString& program, const QStringList& args, const QProcessEnvironment& extra) const
{
    QProcessEnvironment env = env_;
    for (const QString& key : extra.keys())
        env.insert(key, extra.value(key));
    return std::make_unique<Process>(program, args, env);
}

bool Desktop::xdotool(const QStringList& args) const
{
    return run("xdotool", args).exitCode == 0;
}

bool Desktop::click(QPoint at) const
{
    const QString x = QString::number(at.x()), y = QString::number(at.y());
    return xdotool(
        {"mousemove", x, y, "sleep", "0.1", "mousedown", "1", "sleep", "0.1", "mouseup", "1"});
}

bool Desktop::drag(QPoint from, QPoint to, int button) const
{
    // Each step waits for the two programs to trade their messages: a drop let go before
    // the target has answered the last move is lost.
    const QString b = QString::number(button);
    const auto xy
        = [](QPoint p) { return QStringList {QString::number(p.x()), QString::number(p.y())}; };
    QStringList steps = QStringList {"mousemove"} + xy(from)
        + QStringList {"sleep", "0.2", "mousedown", b, "sleep", "0.2"};
    for (int i = 1; i <= 4; ++i)
        steps += QStringList {"mousemove"} + xy(from + (to - from) * i / 4)
            + QStringList {"sleep", "0.2"};
    steps += QStringList {"mousemove"} + xy(to + QPoint(1, 1)) + QStringList {"sleep", "0.2"};
    steps += QStringList {"mousemove"} + xy(to) + QStringList {"sleep", "0.3"};
    return xdotool(steps + QStringList {"mouseup", b, "sleep", "0.2"});
}

void Desktop::soundHere() const
{
    for (const char* name : {"HOME", "XDG_RUNTIME_DIR"})
        qputenv(name, env_.value(QLatin1String(name)).toUtf8());
    qunsetenv("PULSE_SERVER");
}

QString Desktop::dropFiles(const QString& dragSource, const QStringList& files, QPoint target,
    const QStringList& options) const
{
    auto source = start(dragSource, options + files);
    if (!source->process().waitForReadyRead(10000))
        return QStringLiteral("the drag source did not start");
    const QString sourceWindow = waitForWindow(QStringLiteral("drag source"), true);
    if (sourceWindow.isEmpty())
        return QStringLiteral("the drag source did not show");
    Pause(300);
    if (!drag(windowPosition(sourceWindow) + QPoint(80, 60), target))
        return QStringLiteral("xdotool failed");
    QByteArray said;
    QElapsedTimer clock;
    clock.start();
    while (!said.contains("drag ended")) {
        if (clock.hasExpired(10000))
            return QStringLiteral("the drag never ended");
        source->process().waitForReadyRead(100);
        said += source->process().readAllStandardOutput();
    }
    if (!said.contains("drag ended 1")) // a copy
        return QStringLiteral("the drop was refused: ") + QString::fromUtf8(said);
    // The source stays a while to hand over the data; let it go once it has.
    source->waitForExit(10000);
    return {};
}

QStringList Desktop::windows(const QString& name, bool byTitle) const
{
    // A window that goes away while xdotool looks at it (a dialog closing) makes it fail
    // with an X error and list nothing: it is asked again.
    RunResult r;
    for (int attempt = 0; attempt < 10; ++attempt) {
        r = run("xdotool",
            {"search", "--onlyvisible", byTitle ? "--name" : "--classname",
                QStringLiteral("^%1$").arg(name)});
        if (r.exitCode == 0 || r.err.isEmpty())
            break;
        Pause(50);
    }
    return r.out.isEmpty() ? QStringList {} : r.out.split('\n');
}

QString Desktop::waitForWindow(const QString& name, bool byTitle, int ms) const
{
    QElapsedTimer clock;
    clock.start();
    do {
        const QStringList found = windows(name, byTitle);
        if (!found.isEmpty())
            return found.first();
        Pause(50);
    } while (!clock.hasExpired(ms));
    return {};
}

QPoint Desktop::windowPosition(const QString& window) const
{
    // "X=…\nY=…\nWIDTH=…" etc.
    const RunResult r = run("xdotool", {"getwindowgeometry", "--shell", window});
    QPoint at(-1, -1);
    for (const QString& line : r.out.split('\n')) {
        if (line.startsWith("X="))
            at.setX(line.mid(2).toInt());
        else if (line.startsWith("Y="))
            at.setY(line.mid(2).toInt());
    }
    return at;
}

QImage Desktop::screenshot(const QString& saveAs) const
{
    const QString file = saveAs.isEmpty() ? path("shot.png") : saveAs;
    QFile::remove(file);
    run("import", {"-window", "root", file});
    return QImage(file).convertToFormat(QImage::Format_RGB32);
}

std::unique_ptr<Recorder> Desktop::record(const QString& file) const
{
    return std::make_unique<Recorder>(file, QStringLiteral("%1.monitor").arg(kSink), env_);
}

} // namespace e2e
