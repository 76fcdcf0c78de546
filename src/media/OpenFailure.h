// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <gst/gst.h>

namespace media {

// What a failed open tells the user. GStreamer's own words for a file that no installed
// plugin reads ("Your GStreamer installation is missing a plug-in.", "Internal data stream
// error.") say nothing about the file; the pipeline knows what kind of file it found, and
// that is said instead.
class OpenFailure {
public:
    // Forgets what the last open noted.
    void clear();
    // Notes the kind of file a "missing plugin" message from the bus names.
    void note(GstMessage* message);
    // The text for `error`, the first error of an open of the file at `encodedPath` through
    // `playbin` that failed.
    QString explain(
        GstElement* playbin, const QString& error, const QByteArray& encodedPath = {}) const;

private:
    QString missingKind_;
};

// The message for a file of `kind` (a format's name, as GStreamer's descriptions give it)
// that cannot be played here.
QString unplayableText(const QString& kind);
// The message for a file of `kind` that a plugin took on but failed to read.
QString unreadableText(const QString& kind);

} // namespace media
