// SPDX-License-Identifier: MIT
#pragma once

#include "media/MediaEngine.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>

namespace testsupport {

// The files a fake engine can open, by path, with their lengths in ms; a path that is not
// listed fails to open with "Resource not found.". Shared by the engines of one test.
struct FakeMedia {
    QHash<QString, int> lengths;
    // Paths that fail to open with the given text (empty: the library gave no text).
    QHash<QString, QString> errors;
    // Every call any engine made, in order, as "<engine>:<call>" (e.g. "1:open /a.wav").
    QStringList log;
    int enginesMade = 0;
};

// An ideal device: opens instantly, seeks exactly, plays until a test moves it to the end.
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
    media::EngineState state() override;

    // Test controls: move the playing position, or run to the end of the stream.
    void advanceTo(int ms) { position_ = ms; }
    void reachEnd();

private:
    void note(const QString& call);

    std::shared_ptr<FakeMedia> media_;
    int id_;
    bool open_ = false;
    bool playing_ = false;
    int length_ = 0;
    int position_ = 0;
};

} // namespace testsupport
