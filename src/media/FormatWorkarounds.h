// SPDX-License-Identifier: MIT
#pragma once

#include <gst/gst.h>

namespace media {

// Faults of GStreamer 1.22's own elements on particular kinds of file, and what the engine
// does about each. Everything here goes when Debian ships a GStreamer that has the fix.

// Registers, once, what must be in place before the first pipeline is made: a WavPack
// type finder for files whose first block is over 128 KiB.
void installFormatWorkarounds();

// Mends the pull-mode readers that `playbin` may plug (aiffparse for AIFF, sfdec for
// Wave64): their first read waits until decodebin has plugged them, their first buffer until
// the way to the sink exists; sfdec hands on every bit of a 24- or 32-bit file, its seeks
// land where they were asked to, and their events are let go of.
void mendPullModeReaders(GstElement* playbin);

// The WavPack type finder's verdict, given a file's first 32 bytes and the 4 bytes where a
// second block would start (null when the file ends before). 0 when it is not a WavPack
// block that GStreamer's own finder refuses for its size, else a GstTypeFindProbability.
int bigWavPackProbability(const guint8* head, const guint8* next);

} // namespace media
