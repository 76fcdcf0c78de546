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

// The release a table was measured on: its system, and the GStreamer and FFmpeg that decide
// how each kind reads (FFmpeg makes most of the files and, through gst-libav, decodes many).
struct Release {
    QString system; // "Debian 12.11"
    QString gstreamer; // "1.22.0"
    QString ffmpeg; // "5.1.7-0+deb12u1", as `ffmpeg -version` says it
};

// Whether two releases decode alike: the same major and minor GStreamer and FFmpeg, which a
// Debian release keeps for its life, taking only their fixes. False when either version is
// not known.
bool sameStack(const Release& one, const Release& other);

// The release this machine runs: /etc/debian_version (or the system's name elsewhere), the
// GStreamer library the player loads, and the FFmpeg that `ffmpeg -version` names.
Release thisRelease();

// Makes nothing: measures `kind`'s file, already made in `folder`.
Row measure(const Kind& kind, const QString& folder);

// How a length difference reads in the table.
QString lengthText(int lengthMs, int referenceMs);

// What a cell says, without the milliseconds by which a length or a lossy seek misses: those
// follow the source's length (padding to a whole codec frame) and, for some decoders, the
// moment (a WMA seek lands one or two frames early from run to run). "+23 ms" reads "+… ms".
QString shape(const QString& text);

// Whether a cell measured here says what the table's cell says. On the stack that measured
// the table (sameStack) they read alike by shape. On another, the padding a lossy kind's
// decoder keeps or trims, and where its seek lands, are that stack's: a lossy cell that reads
// exact, within 1 ms or by some milliseconds may read any other of these. There any cell may
// also read "exact" where the table's does not, as a lossless seek that a newer decoder puts
// on the sample. Nothing else passes: a kind that lost its length or its seek fails anywhere.
bool agrees(const QString& measured, const QString& said, bool lossless, bool sameStack);

// Whether the message of a kind that does not open says what the table's says. On another
// stack the name GStreamer gives the kind, quoted in the program's own sentence, may be that
// stack's; the sentence may not change.
bool sameMessage(const QString& measured, const QString& said, bool sameStack);

} // namespace formats
