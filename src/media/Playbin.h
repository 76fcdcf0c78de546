// SPDX-License-Identifier: MIT
#pragma once

#include "media/GstHandles.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace media {

// GStreamer made ready for the program, once per process: its plugins, and the choices
// among them that the program makes.
void initGStreamerOnce();

// A playbin that plays the sound of a file and nothing else, sounding through the sink
// `sinkDescription` names (a gst-launch description; empty: the system's default output,
// until the caller sets playbin's "audio-sink"). Empty, with the reason, when it cannot be
// made.
struct MadePlaybin {
    gst::PipelinePtr playbin;
    QString error;
};
MadePlaybin makePlaybin(const QString& sinkDescription);

// Why `path` (and `encoded`, its local name) is refused before GStreamer sees it: a pipe,
// socket or device, or no name at all. Empty for a file, a folder or a missing name, so that
// the user reads GStreamer's own words for those.
std::optional<QString> refuseNonFile(const QString& path, const QByteArray& encoded);

// The text of an ERROR message; empty when it has none.
QString errorText(GstMessage* message);

// Whether an element made by `factory` sits anywhere inside `bin`.
bool containsFactory(GstElement* bin, const char* factory);

// Whether the file `playbin` opened has pictures and no sound.
bool hasVideoOnly(GstElement* playbin);

// How far into its stream the file's own first sample comes, for kinds whose stream
// starts with the decoder's fixed delay and records nothing to trim it with (bare AAC and
// AC-3 frames); 0 for every other kind. `lengthParser` is the parser whose walk gave the
// file's length, or null when the container gave it.
GstClockTime decoderLeadIn(GstElement* playbin, const char* lengthParser);

} // namespace media
