// SPDX-License-Identifier: MIT
#pragma once

#include "media/MediaEngine.h"

#include <QString>
#include <memory>

namespace media {

// The seven modes of a media device, in the device layer's order.
enum class TMPModes { mpNotReady, mpStopped, mpPlaying, mpRecording, mpSeeking, mpPaused, mpOpen };

// A media device holding at most one open file. Only FileName is set by the program; the
// rest keep their defaults. Times are milliseconds.
//
// Raises EMCIDeviceError in three cases only: Length, Play, Pause and the seek on a player
// with nothing open ("No MCI device open"), a failed Open, and a Play of a file that was
// written over since it opened (the engine's playError()). Every other failure is kept as
// the last error and reported nowhere.
class TMediaPlayer {
public:
    explicit TMediaPlayer(std::unique_ptr<MediaEngine> engine);
    ~TMediaPlayer();
    TMediaPlayer(const TMediaPlayer&) = delete;
    TMediaPlayer& operator=(const TMediaPlayer&) = delete;

    QString FileName;
    bool AutoRewind = true;

    // Closes what is open, then opens FileName and waits; the player is then stopped at 0.
    void Open();
    // Closes the open file, waiting; with nothing open does nothing.
    void Close();
    bool isOpen() const;

    int Length();
    // Reads the position without checking that a file is open (0 then).
    int Position();
    // Seeks there and waits; the player is then stopped at the new position.
    void setPosition(int ms);
    // Does not check that a file is open (mpNotReady then).
    TMPModes Mode();

    // Plays from the current position and returns at once; from the end, starts again at 0
    // when AutoRewind is on.
    void Play();
    // A toggle: pauses a playing player, resumes a paused one (playing instead when resuming
    // fails); any other mode is left alone.
    void Pause();

    // The last failure that was not raised, empty when the last command succeeded.
    const QString& lastError() const { return lastError_; }

private:
    void requireOpen() const;
    void record(bool ok, const char* what);

    std::unique_ptr<MediaEngine> engine_;
    bool paused_ = false;
    QString lastError_;
};

} // namespace media
