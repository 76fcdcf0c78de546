// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

// Real media files made at test time with sox and gst-launch-1.0, once per test program,
// with the length each must open with, worked out independently of the engine: from the
// sample count the file was made with, from a full decode, or from sox's reading of it.
namespace media {
class TMediaPlayer;
}

namespace testmedia {

// A player on the GStreamer engine that plays in real time into a silent sink.
std::unique_ptr<media::TMediaPlayer> makePlayer();

// What opening `path` in `player` raised; empty when it opened.
QString openError(media::TMediaPlayer& player, const QString& path);

// Plays `player`, standing at `target` ms, for about 200 ms and pauses it. Empty when the
// position then lies between the target and the time played plus what a loaded machine may
// overrun; else where it was.
QString playsOnFrom(media::TMediaPlayer& player, int target);

struct MediaFile {
    QString format; // a short name for test rows: "wav", "mp3-vbr-xing", ...
    QString path;
    int minMs = 0; // the engine's Length must lie in minMs..maxMs
    int maxMs = 0;
};

// Runs a tool to completion; returns its complaint (empty on success).
QString runTool(const QString& program, const QStringList& arguments);

// Whole milliseconds of `samples` at `rate`, rounded to the nearest.
int roundedMs(qint64 samples, int rate);

class MediaSet {
public:
    // Makes every file; error() says what failed.
    MediaSet();

    const QString& error() const { return error_; }
    const std::vector<MediaFile>& formats() const { return formats_; }
    const MediaFile& format(const QString& name) const;
    QString dir() const { return dir_.path(); }

    MediaFile shortWav; // one second, for running off the end
    MediaFile truncatedFlac; // its header promises more than the bytes hold
    MediaFile withVideo; // an MP4 with a picture stream and a sound stream

private:
    QString makeSoxTone(const QString& name, int rate, int channels, qint64 samples);
    QString encode(const QString& source, const QString& encoder, const QString& name);
    void makeAll();
    void addLossless();
    void addEncoded();
    void addSpecial();

    QTemporaryDir dir_;
    QString error_;
    std::vector<MediaFile> formats_;
};

// The one set of the test program, made on first use.
const MediaSet& mediaSet();

} // namespace testmedia
