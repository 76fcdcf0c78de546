// SPDX-License-Identifier: MIT
#pragma once

// The private desktop's sound server: PulseAudio, or PipeWire with its pulse server, each
// with a null sink as its only (and default) sink, so that what a program plays can be
// recorded from the sink's monitor. Both speak the PulseAudio protocol, so the program and
// the test tools (pactl, parec) reach either the same way, on the desktop's XDG_RUNTIME_DIR.

#include <QProcessEnvironment>
#include <QString>
#include <memory>
#include <vector>

namespace e2e {

class Process;

class SoundServer {
public:
    enum class Kind { PulseAudio, PipeWire };

    // From TANDREL_SOUND_SERVER ("pulseaudio" or "pipewire") when set; else PulseAudio where
    // it is installed, PipeWire where only PipeWire is.
    static Kind fromEnvironment();
    static QString name(Kind kind);

    // Starts the server on `env`'s XDG_RUNTIME_DIR and HOME; `env` gains what its clients
    // need (PipeWire's session bus). The sink runs at `rate` Hz.
    SoundServer(Kind kind, QProcessEnvironment& env, const QString& sink, int rate);
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // Empty when the server answers with the null sink as its default; else what failed.
    const QString& error() const { return error_; }

private:
    QString startPulseAudio(const QProcessEnvironment& env, const QString& sink, int rate);
    QString startPipeWire(QProcessEnvironment& env, const QString& sink, int rate);
    QString waitForDefaultSink(const QProcessEnvironment& env, const QString& sink);

    // Stopped in reverse order: the pulse server before PipeWire before the bus.
    std::vector<std::unique_ptr<Process>> processes_;
    QString error_;
};

} // namespace e2e
