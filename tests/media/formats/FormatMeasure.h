// SPDX-License-Identifier: MIT
#pragma once

#include "FormatKinds.h"

#include <QString>

// What the program makes of one file: opened as the window opens it (TMediaPlayer over the
// GStreamer engine), its length against its reference's, and where a seek really lands,
// found from the samples the player sends to its sink.
namespace formats {

struct Row {
    QString kind;
    QString madeWith; // the command, or why there is no file
    QString opens; // "yes", "no", or "—" with no file
    QString length; // "exact", "+23 ms", "0 (none)", "—"
    QString seek; // "exact", "within 1 ms", "+21 ms", "3 samples early", ...
    QString error; // the open's message where it failed
};

// The seek goes this far into every file, whatever the source's length, so that a short
// source measures the same landing as the README's: a whole 40 ms, a whole sample at every
// rate the kinds use, and not on a whole second, where frame sizes tend to line up.
inline constexpr int kSeekMs = 2360;
// The shortest source that leaves room to play after the seek.
inline constexpr int kMinSeconds = 4;

// Makes nothing: measures `kind`'s file, already made in `folder`.
Row measure(const Kind& kind, const QString& folder);

// How a length difference reads in the table.
QString lengthText(int lengthMs, int referenceMs);

// What a cell says, without the milliseconds by which a length or a lossy seek misses: those
// follow the source's length (padding to a whole codec frame) and, for some decoders, the
// moment (a WMA seek lands one or two frames early from run to run). "+23 ms" reads "+… ms".
QString shape(const QString& text);

} // namespace formats
