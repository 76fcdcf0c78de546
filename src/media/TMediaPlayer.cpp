// SPDX-License-Identifier: MIT
#include "media/TMediaPlayer.h"

#include "media/EMCIDeviceError.h"

#include <algorithm>

namespace media {

TMediaPlayer::TMediaPlayer(std::unique_ptr<MediaEngine> engine)
    : engine_(std::move(engine))
{
}

// Destroying a player closes its file, so no file stays held after the window is gone.
TMediaPlayer::~TMediaPlayer()
{
    Close();
}

void TMediaPlayer::Open()
{
    Close();
    if (auto error = engine_->open(FileName))
        throw EMCIDeviceError(error->isEmpty() ? kUnknownError : error->toStdString());
    lastError_.clear();
}

void TMediaPlayer::Close()
{
    engine_->close();
    paused_ = false;
}

bool TMediaPlayer::isOpen() const
{
    return engine_->isOpen();
}

void TMediaPlayer::requireOpen() const
{
    if (!engine_->isOpen())
        throw EMCIDeviceError(kNoDeviceOpen);
}

void TMediaPlayer::record(bool ok, const char* what)
{
    if (ok)
        lastError_.clear();
    else
        lastError_ = QString::fromLatin1(what);
}

int TMediaPlayer::Length()
{
    requireOpen();
    return engine_->length();
}

int TMediaPlayer::Position()
{
    return engine_->position();
}

void TMediaPlayer::setPosition(int ms)
{
    requireOpen();
    // A seek leaves the device stopped, whatever it was doing before.
    paused_ = false;
    record(engine_->seek(std::clamp(ms, 0, engine_->length())), "seek failed");
}

TMPModes TMediaPlayer::Mode()
{
    switch (engine_->state()) {
    case EngineState::Closed:
        return TMPModes::mpNotReady;
    case EngineState::Playing:
        return TMPModes::mpPlaying;
    case EngineState::Idle:
        break;
    }
    return paused_ ? TMPModes::mpPaused : TMPModes::mpStopped;
}

void TMediaPlayer::Play()
{
    requireOpen();
    // From the end, start again at the beginning so a second play is not silent.
    if (AutoRewind && engine_->state() != EngineState::Playing
        && engine_->position() == engine_->length())
        record(engine_->seek(0), "seek failed");
    paused_ = false;
    const bool played = engine_->play();
    record(played, "play failed");
    if (!played) {
        if (const std::optional<QString> refused = engine_->playError())
            throw EMCIDeviceError(refused->toStdString());
    }
}

void TMediaPlayer::Pause()
{
    requireOpen();
    switch (Mode()) {
    case TMPModes::mpPlaying:
        paused_ = engine_->pause();
        record(paused_, "pause failed");
        break;
    case TMPModes::mpPaused:
        paused_ = false;
        if (!engine_->play())
            Play();
        else
            lastError_.clear();
        break;
    default:
        break;
    }
}

} // namespace media
