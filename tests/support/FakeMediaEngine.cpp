// SPDX-License-Identifier: MIT
#include "FakeMediaEngine.h"

#include <QThread>
#include <algorithm>

namespace testsupport {

FakeMediaEngine::FakeMediaEngine(std::shared_ptr<FakeMedia> media)
    : media_(std::move(media))
    , id_(++media_->enginesMade)
{
}

void FakeMediaEngine::note(const QString& call)
{
    media_->log << QStringLiteral("%1:%2").arg(id_).arg(call);
}

void FakeMediaEngine::follow()
{
    if (!media_->realTime || !playing_ || endless_)
        return;
    const qint64 ran = clock_.restart();
    position_ = int(std::min<qint64>(position_ + ran, length_));
    if (position_ == length_)
        playing_ = false;
}

std::optional<QString> FakeMediaEngine::open(const QString& path)
{
    close();
    note(QStringLiteral("open ") + path);
    if (const int delay = media_->openDelaysMs.value(path); delay > 0)
        QThread::msleep(static_cast<unsigned long>(delay));
    if (media_->errors.contains(path))
        return media_->errors.value(path);
    const auto it = media_->lengths.constFind(path);
    if (it == media_->lengths.constEnd())
        return QStringLiteral("Resource not found.");
    open_ = true;
    path_ = path;
    length_ = *it;
    position_ = 0;
    return std::nullopt;
}

void FakeMediaEngine::close()
{
    if (!open_)
        return;
    note(QStringLiteral("close"));
    open_ = playing_ = endless_ = false;
    length_ = position_ = 0;
    path_.clear();
    playError_.reset();
}

int FakeMediaEngine::length()
{
    note(QStringLiteral("length"));
    return length_;
}

int FakeMediaEngine::position()
{
    follow();
    return position_;
}

bool FakeMediaEngine::seek(int ms)
{
    note(QStringLiteral("seek %1").arg(ms));
    if (!open_)
        return false;
    playing_ = endless_ = false;
    position_ = std::clamp(ms, 0, length_);
    return true;
}

bool FakeMediaEngine::play()
{
    note(QStringLiteral("play"));
    follow();
    playError_.reset();
    if (!open_)
        return false;
    if (media_->playFailures.contains(path_))
        return false;
    if (const auto refused = media_->playRefusals.constFind(path_);
        refused != media_->playRefusals.constEnd()) {
        playError_ = *refused;
        return false;
    }
    if (!playing_)
        clock_.start();
    // A play at the very end ends at once, as a device's does, unless no end ever comes.
    playing_ = position_ < length_ || !media_->realTime || endless_;
    return true;
}

bool FakeMediaEngine::pause()
{
    note(QStringLiteral("pause"));
    follow();
    playing_ = false;
    return open_;
}

media::EngineState FakeMediaEngine::state()
{
    follow();
    if (!open_)
        return media::EngineState::Closed;
    return playing_ ? media::EngineState::Playing : media::EngineState::Idle;
}

void FakeMediaEngine::reachEnd()
{
    playing_ = false;
    position_ = length_;
}

void FakeMediaEngine::failWhilePlaying()
{
    follow();
    playing_ = false;
}

void FakeMediaEngine::runOutWithoutEnd()
{
    position_ = length_;
    endless_ = true;
}

} // namespace testsupport
