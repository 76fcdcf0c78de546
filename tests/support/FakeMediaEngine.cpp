// SPDX-License-Identifier: MIT
#include "FakeMediaEngine.h"

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

std::optional<QString> FakeMediaEngine::open(const QString& path)
{
    close();
    note(QStringLiteral("open ") + path);
    if (media_->errors.contains(path))
        return media_->errors.value(path);
    const auto it = media_->lengths.constFind(path);
    if (it == media_->lengths.constEnd())
        return QStringLiteral("Resource not found.");
    open_ = true;
    length_ = *it;
    position_ = 0;
    return std::nullopt;
}

void FakeMediaEngine::close()
{
    if (!open_)
        return;
    note(QStringLiteral("close"));
    open_ = playing_ = false;
    length_ = position_ = 0;
}

int FakeMediaEngine::length()
{
    note(QStringLiteral("length"));
    return length_;
}

int FakeMediaEngine::position()
{
    return position_;
}

bool FakeMediaEngine::seek(int ms)
{
    note(QStringLiteral("seek %1").arg(ms));
    if (!open_)
        return false;
    playing_ = false;
    position_ = std::clamp(ms, 0, length_);
    return true;
}

bool FakeMediaEngine::play()
{
    note(QStringLiteral("play"));
    playing_ = open_;
    return open_;
}

bool FakeMediaEngine::pause()
{
    note(QStringLiteral("pause"));
    playing_ = false;
    return open_;
}

media::EngineState FakeMediaEngine::state()
{
    if (!open_)
        return media::EngineState::Closed;
    return playing_ ? media::EngineState::Playing : media::EngineState::Idle;
}

void FakeMediaEngine::reachEnd()
{
    playing_ = false;
    position_ = length_;
}

} // namespace testsupport
