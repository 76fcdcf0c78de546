// SPDX-License-Identifier: MIT
#pragma once

#include "media/GstHandles.h"

#include <chrono>
#include <gst/gst.h>
#include <memory>
#include <optional>

namespace media {

// The gain ramps at every start and stop of the sound, so that neither is heard as a click:
// a `volume` element right before the audio sink, whose gain follows a control curve set in
// the file's own time (stream time, the position's clock), sample by sample.
//
// The position names a sample boundary, and the ramps sit on the sound's side of it: a start
// at P sounds P first (at the foot of the ramp) and reaches full gain kLength later; a stop
// at X fades over the kLength before X and X is the first sample no longer heard. A pause
// that stops at X and its resume that starts at X therefore meet on the very sample: nothing
// is heard twice and nothing is left out, and the ramps only shape the gain on either side.
class Fade {
public:
    // 3 ms: at 48 kHz, 144 samples, long enough that a 1 kHz tone at full scale rises by less
    // per sample than the tone itself moves, short enough not to blur the moment compared.
    static constexpr GstClockTime kLength = 3 * GST_MSECOND;

    Fade();
    ~Fade();
    Fade(const Fade&) = delete;
    Fade& operator=(const Fade&) = delete;

    // `sink` with the fade in front of it, as one bin for playbin's "audio-sink"; `sink`
    // itself when GStreamer's volume element is missing, and the sound then starts and stops
    // without ramps. Not playbin's "audio-filter": that sits before playbin's own queue, and
    // a ramp laid there reached the ear 1.2 s later (measured).
    gst::ElementPtr before(gst::ElementPtr sink);

    // Before a start from `from`, with no data flowing (the pipeline in READY): silent before
    // `from`, rising to full gain over kLength, and falling to nothing over the kLength before
    // `end` (the file's length; 0 when unknown) so that the end of the file is no cut either.
    void startAt(GstClockTime from, GstClockTime end);

    // While sounding: the ramp down is laid on the first sample the element has not yet
    // processed, since what it has processed is already on its way to the sound server and
    // can no longer change. Returns X, the first sample no longer heard; empty when no data
    // has gone through since the start (nothing heard yet, nothing to fade).
    std::optional<GstClockTime> stopSoon();

    // Waits until `pipeline` has sounded past `at`, by its own position, or `timeout` has
    // passed; false when the position cannot be asked or did not get there. The position
    // stands kHeardMargin ahead of what the monitor has heard on PipeWire (a resume from it
    // skipped up to 1499 samples, measured), so the wait goes that far beyond.
    static bool waitUntilHeard(
        GstElement* pipeline, GstClockTime at, std::chrono::milliseconds timeout);
    static constexpr GstClockTime kHeardMargin = 60 * GST_MSECOND;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace media
