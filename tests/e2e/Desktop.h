// SPDX-License-Identifier: MIT
#pragma once

// A private desktop for end-to-end tests: an X server (Xvfb), a window manager (openbox) and
// a sound server (PulseAudio or PipeWire, see SoundServer.h) whose only sink is a null sink,
// all on a private HOME and
// XDG_RUNTIME_DIR. Every process is started here and stopped here by its PID, also when a
// test fails half way; each also gets SIGTERM if the test program itself dies.

#include "SoundServer.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace e2e {

class Process {
public:
    // Standard output goes to `outputFile` and standard error to `errorFile` where given;
    // else output is read through process() and errors go to the test's own.
    Process(const QString& program, const QStringList& args, const QProcessEnvironment& env,
        const QString& outputFile = {}, const QString& errorFile = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    QProcess& process() { return process_; }
    bool running() const { return process_.state() != QProcess::NotRunning; }
    // Waits for the process to end by itself; false if it is still running.
    bool waitForExit(int ms);
    void stop();

private:
    QProcess process_;
};

struct RunResult {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs a tool to completion (killed after `timeoutMs`).
RunResult Run(const QString& program, const QStringList& args, const QProcessEnvironment& env,
    int timeoutMs = 20000, const QByteArray& input = {});

// The null sink's monitor, recorded as 48 kHz mono 16-bit samples.
class Recorder {
public:
    Recorder(const QString& path, const QString& monitor, const QProcessEnvironment& env);
    bool started() const { return process_.running(); }
    // Samples written so far: a marker for "from here on" in the recording.
    qint64 samplesNow() const;
    // The samples recorded so far from sample `from` on, scaled to -1..1.
    std::vector<float> samples(qint64 from = 0) const;

private:
    QString path_;
    Process process_;
};

class Desktop {
public:
    static constexpr int kRate = 48000;

    // The screen behind the windows is black, or white if `whiteRoot`.
    explicit Desktop(QSize screen = {800, 480}, bool whiteRoot = false);
    ~Desktop();

    // Empty when everything runs; else what failed to start.
    const QString& error() const { return error_; }
    const QProcessEnvironment& env() const { return env_; }
    SoundServer::Kind soundServer() const { return soundKind_; }
    QString home() const { return root_.filePath("home"); }
    QString path(const QString& name) const { return root_.filePath(name); }
    // Makes this process's own players sound through the desktop's sound server, as the
    // program started on the desktop does.
    void soundHere() const;

    RunResult run(const QString& program, const QStringList& args, int timeoutMs = 20000,
        const QByteArray& input = {}) const;
    std::unique_ptr<Process> start(const QString& program, const QStringList& args,
        const QProcessEnvironment& extra = {}) const;
    // xdotool with short pauses between the steps of a gesture, as X needs them.
    bool xdotool(const QStringList& args) const;
    bool click(QPoint at) const;
    bool drag(QPoint from, QPoint to, int button = 1) const;
    // Drags `files` from the test suite's drag source program onto `target`, as a file
    // manager would, with the source's `options` (see drag_source.cpp); returns what went
    // wrong, or nothing. The drop must be taken as a copy.
    QString dropFiles(const QString& dragSource, const QStringList& files, QPoint target,
        const QStringList& options = {}) const;
    // Visible windows whose class, or else whose title, is exactly `name`.
    QStringList windows(const QString& name, bool byTitle = false) const;
    QString waitForWindow(const QString& name, bool byTitle = false, int ms = 60000) const;
    QPoint windowPosition(const QString& window) const;
    QImage screenshot(const QString& saveAs = {}) const;
    std::unique_ptr<Recorder> record(const QString& path) const;

private:
    QString startAll(QSize screen, bool whiteRoot);

    QTemporaryDir root_;
    QProcessEnvironment env_;
    QString error_;
    SoundServer::Kind soundKind_ = SoundServer::fromEnvironment();
    std::unique_ptr<Process> xvfb_;
    std::unique_ptr<Process> wm_;
    std::unique_ptr<SoundServer> sound_;
};

} // namespace e2e
