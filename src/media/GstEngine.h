// SPDX-License-Identifier: MIT
#pragma once

#include "media/MediaEngine.h"

#include <QString>
#include <memory>

namespace media {

// The program's engine: one GStreamer playbin that plays the sound of one local file.
//
// Everything runs on the thread that owns the engine; GStreamer's messages are taken off the
// pipeline's bus there, both when the bus's descriptor wakes the Qt event loop and whenever
// the engine is asked anything, so no GLib main loop is needed.
class GstEngine final : public MediaEngine {
public:
    // `audioSink` is a gst-launch description of the sink to sound through ("fakesink
    // sync=true" plays silently in real time); empty means the program's own output to the
    // sound server (see ServerSink), which ramps every start and stop, or the system's
    // default output where no sound server answers.
    explicit GstEngine(QString audioSink = {});
    ~GstEngine() override;
    GstEngine(const GstEngine&) = delete;
    GstEngine& operator=(const GstEngine&) = delete;

    std::optional<QString> open(const QString& path) override;
    void close() override;
    bool isOpen() const override;
    int length() override;
    int position() override;
    bool seek(int ms) override;
    bool play() override;
    bool pause() override;
    std::optional<QString> playError() const override;
    EngineState state() override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace media
