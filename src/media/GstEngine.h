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
    // Whether every start and stop ramps the gain over a few milliseconds (see Fade) instead
    // of cutting in and out. Off in the program for now: a stop's ramp has to be heard before
    // the sound can stop, which holds every pause and bar click for the sink's buffer and
    // PipeWire's late ear (pause 72 to 151 ms, bar click to sound 115 ms instead of 11 ms,
    // measured), and a start's ramp reaches full gain only 3 ms after the sample the position
    // names.
    enum class Ramps { Off, On };

    // `audioSink` is a gst-launch description of the sink to sound through ("fakesink
    // sync=true" plays silently in real time); empty means the system's default output.
    explicit GstEngine(QString audioSink = {}, Ramps ramps = Ramps::Off);
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
