// SPDX-License-Identifier: MIT
#pragma once

#include "media/MediaEngine.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>

namespace testsupport {

// The files a fake engine can open, by path, with their lengths in ms; a path that is not
// listed fails to open with "Resource not found.". Shared by the engines of one test, with
// the faults a test asks of them.
struct FakeMedia {
    QHash<QString, int> lengths;
    // Paths that fail to open with the given text (empty: the library gave no text).
    QHash<QString, QString> errors;
    // Paths whose open takes this many milliseconds before it succeeds or fails.
    QHash<QString, int> openDelaysMs;
    // Paths whose play fails for a reason the device keeps to itself.
    QSet<QString> playFailures;
    // Paths whose play is refused with a reason the user is told (a file written over).
    QHash<QString, QString> playRefusals;
    // Playing moves the position in real time and reaches the end by itself, as a device
    // does; off, the position moves only when a test moves it.
    bool realTime = false;
    // Every call any engine made, in order, as "<engine>:<call>" (e.g. "1:open /a.wav").
    QStringList log;
    int enginesMade = 0;
};

// An ideal device: opens at once, seeks exactly, and plays until a test moves it to the end
// (or, with FakeMedia::realTime, until the end comes by the clock).
class FakeMediaEngine : public media::MediaEngine {
public:
    explicit FakeMediaEngine(std::shared_ptr<FakeMedia> media);

    std::optional<QString> open(const QString& path) override;
    void close() override;
    bool isOpen() const override { return open_; }
    int length() override;
    int position() override;
    bool seek(int ms) override;
    bool play() override;
    bool pause() override;
    std::optional<QString> playError() const override { return playError_; }
    media::EngineState state() override;

    // Test controls: move the playing position, or run to the end of the stream.
    void advanceTo(int ms) { position_ = ms; }
    void reachEnd();
    // An error while playing: the device stops where it was and says nothing.
    void failWhilePlaying();
    // The stream runs out and no end is ever signalled: the position stands at the length
    // while the device still says it is playing.
    void runOutWithoutEnd();

private:
    void note(const QString& call);
    // Brings a real-time position up to date, ending the stream at the length.
    void follow();

    std::shared_ptr<FakeMedia> media_;
    int id_;
    QString path_;
    bool open_ = false;
    bool playing_ = false;
    bool endless_ = false; // run out without an end: the clock no longer moves it
    int length_ = 0;
    int position_ = 0;
    QElapsedTimer clock_; // while playing in real time: since position_ was last brought up
    std::optional<QString> playError_;
};

} // namespace testsupport
