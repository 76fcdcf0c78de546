// SPDX-License-Identifier: MIT
#pragma once

#include "media/GstHandles.h"
#include "media/OutputTimeline.h"

#include <memory>

namespace media {

class SoundServerLink;

// The program's audio sink: it writes the sound into a stream of its own on the sound server
// and shapes every start and stop with a short raised-cosine ramp, so that neither is heard
// as a click.
//
// A stop cannot be shaped before the sound reaches the server: what a sink has handed over
// plays as it was, and waiting until a ramp laid behind it is heard held every pause and bar
// click for the server's buffer (72 to 151 ms, measured). The server lets a client write
// over what it holds but has not yet played, though, and so this sink keeps a copy of what
// it wrote: a stop writes the ramp down over the sound a few milliseconds past the point the
// server is reading, and silence after it. The sound stops as soon as a hard cut would have,
// without the cut (a clean ramp 1 ms past the read point, measured on PulseAudio and on
// PipeWire's pulse server), and a resume writes on from the first sample the ramp left out,
// with a ramp up: nothing heard twice, nothing skipped.
//
// A fresh start (after a seek or from stopped) ramps up over the first kRampLength of what
// it is given; the engine starts that much before the position, so that the first sample
// heard at full gain is the one the position names (from the file's very start, the ramp
// covers the file's first kRampLength). The end of the stream ramps down over its last
// kRampLength, and the end is told only once it has been heard.
//
// The element answers position queries itself, from what the server says it has played.
inline constexpr GstClockTime kRampLength = kRampNs;

// Empty when `link` is empty.
gst::ElementPtr makeServerSink(std::shared_ptr<SoundServerLink> link);

} // namespace media
