// SPDX-License-Identifier: MIT
// The output's books: what the sink was given, where it went in the server's stream, and the
// ramps that every start, stop and end write over it.
#include "media/OutputTimeline.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace media {

double rising(std::int64_t i, std::int64_t n)
{
    return (1 - std::cos(std::numbers::pi * (double(i) + 0.5) / double(n))) / 2;
}

void OutputTimeline::setFormat(int channels, int rate, std::int64_t rampFrames)
{
    channels_ = std::max(1, channels);
    rate_ = std::max(1, rate);
    rampFrames_ = std::max<std::int64_t>(1, rampFrames);
    restart();
    newStream();
}

void OutputTimeline::restart()
{
    history_.clear();
    historyStart_ = contentEnd_ = sent_ = 0;
    origin_.reset();
    rampUpFrom_.reset();
    rampDownFrom_.reset();
    floor_ = 0;
    stoppedAt_.reset();
    finishing_ = false;
    runs_.clear();
    placed_ = false;
}

void OutputTimeline::newStream()
{
    runs_.clear();
    silentFrom_ = nextFrame_ = 0;
    placed_ = false;
    // What was sent but not heard went with the old stream; a stop keeps it from stoppedAt_.
    sent_ = std::clamp(stoppedAt_.value_or(sent_), historyStart_, sent_);
}

void OutputTimeline::append(
    const float* data, std::int64_t frames, std::optional<std::uint64_t> streamTimeNs)
{
    if (!origin_) {
        origin_ = streamTimeNs.value_or(0);
        rampUpFrom_ = 0;
        floor_ = rampFrames_;
    }
    history_.insert(history_.end(), data, data + frames * channels_);
    contentEnd_ += frames;
}

std::int64_t OutputTimeline::sendable() const
{
    // A sink that takes its configured latency at once (PulseAudio's null sink: 40 ms) may
    // otherwise take the whole tail of a file before its ramp is written: a play of a file's
    // last 30 ms then ended in a hard cut in one run of five (measured).
    return finishing_ ? contentEnd_ : std::max(sent_, contentEnd_ - rampFrames_);
}

void OutputTimeline::place(std::int64_t reachable)
{
    nextFrame_ = std::max(silentFrom_, reachable);
    placed_ = true;
}

std::optional<OutputTimeline::Write> OutputTimeline::takeNext(
    std::int64_t roomFrames, std::int64_t writeIndex)
{
    const std::int64_t room = roomFrames + std::max<std::int64_t>(0, writeIndex - nextFrame_);
    const std::int64_t count = std::min(sendable() - sent_, room);
    if (!placed_ || count <= 0)
        return std::nullopt;
    Write write {nextFrame_, shaped(sent_, count)};
    if (!runs_.empty() && runs_.back().frame + runs_.back().length == nextFrame_
        && runs_.back().content + runs_.back().length == sent_)
        runs_.back().length += count;
    else
        runs_.push_back({nextFrame_, sent_, count});
    nextFrame_ += count;
    sent_ += count;
    return write;
}

std::optional<OutputTimeline::Write> OutputTimeline::finish(std::int64_t reachable)
{
    finishing_ = true;
    if (rampDownFrom_)
        return std::nullopt;
    const std::int64_t from = std::max(historyStart_, contentEnd_ - rampFrames_);
    rampDownFrom_ = from;
    // What was sent of the ramp's frames is written again with its new gains, where the
    // server has not read it yet.
    if (runs_.empty() || from >= sent_ || from < runs_.back().content)
        return std::nullopt;
    const std::int64_t frame = runs_.back().frame + (from - runs_.back().content);
    if (frame < reachable)
        return std::nullopt;
    return Write {frame, shaped(from, sent_ - from)};
}

void OutputTimeline::resume()
{
    placed_ = false;
    // Nothing heard twice: the ramp up starts on the first frame the stop's ramp left out.
    if (stoppedAt_)
        rampUpFrom_ = *stoppedAt_;
    stoppedAt_.reset();
}

std::optional<OutputTimeline::Write> OutputTimeline::stop(const std::optional<Server>& server)
{
    placed_ = false;
    if (!server || runs_.empty()) {
        stoppedAt_ = sent_ = std::min(sent_, contentEnd_);
        return std::nullopt;
    }
    std::int64_t from = server->reachable;
    // A queue shorter than the lead (just after a start) still ends in a ramp, written right
    // after it, unless the server has already run through it.
    if (from > server->writeIndex && server->read <= server->writeIndex)
        from = server->writeIndex;
    std::int64_t leftOff = contentAt(from).value_or(sent_);
    std::int64_t ramp = 0;
    // A ramp may go on from the very end of a run: it continues that run's sound.
    const bool sounding = server->sounding && leftOff >= historyStart_
        && std::any_of(runs_.begin(), runs_.end(),
            [&](const Run& run) { return run.frame <= from && from <= run.frame + run.length; });
    if (sounding)
        ramp = std::min(rampFrames_, contentEnd_ - leftOff);
    const std::int64_t length
        = std::max(server->writeIndex - from, ramp > 0 ? ramp + server->tailFrames : 0);
    std::optional<Write> write;
    if (length > 0)
        write = Write {from, shaped(leftOff, ramp, length, true)};
    // The runs now end where the ramp does.
    std::erase_if(runs_, [&](const Run& run) { return run.frame >= from; });
    if (!runs_.empty() && runs_.back().frame + runs_.back().length > from)
        runs_.back().length = from - runs_.back().frame;
    if (ramp > 0)
        runs_.push_back({from, leftOff, ramp});
    leftOff += ramp;
    silentFrom_ = std::max(from + ramp, silentFrom_);
    stoppedAt_ = sent_ = leftOff;
    rampDownFrom_.reset();
    return write;
}

std::optional<std::int64_t> OutputTimeline::endFrame() const
{
    if (runs_.empty())
        return std::nullopt;
    return runs_.back().frame + runs_.back().length;
}

// The content heard at `frame`, or the next to be heard when silence lies there.
std::optional<std::int64_t> OutputTimeline::contentAt(std::int64_t frame) const
{
    for (auto run = runs_.rbegin(); run != runs_.rend(); ++run) {
        if (run->frame <= frame)
            return run->content + std::min(frame - run->frame, run->length);
    }
    if (runs_.empty())
        return std::nullopt;
    return runs_.front().content;
}

void OutputTimeline::trim(std::int64_t readFrame)
{
    const std::int64_t keepFrom
        = std::min({sent_, contentAt(readFrame).value_or(sent_), stoppedAt_.value_or(sent_)});
    if (keepFrom <= historyStart_)
        return;
    history_.erase(history_.begin(), history_.begin() + (keepFrom - historyStart_) * channels_);
    historyStart_ = keepFrom;
}

std::optional<std::uint64_t> OutputTimeline::position(std::int64_t heardFrame, bool playing) const
{
    if (!origin_)
        return std::nullopt;
    std::int64_t content = 0;
    if (stoppedAt_)
        content = *stoppedAt_;
    else if (playing)
        content = contentAt(heardFrame).value_or(sent_);
    content = std::max(content, floor_);
    // Whole seconds and the frames left over, so that no product overflows.
    const auto seconds = std::uint64_t(content / rate_);
    const auto rest = std::uint64_t(content % rate_);
    return *origin_ + seconds * 1'000'000'000u + rest * 1'000'000'000u / std::uint64_t(rate_);
}

float OutputTimeline::gainOf(std::int64_t content) const
{
    double gain = 1;
    if (rampUpFrom_ && content >= *rampUpFrom_ && content < *rampUpFrom_ + rampFrames_)
        gain *= rising(content - *rampUpFrom_, rampFrames_);
    if (rampDownFrom_ && content >= *rampDownFrom_)
        gain *= content - *rampDownFrom_ < rampFrames_
            ? rising(rampFrames_ - 1 - (content - *rampDownFrom_), rampFrames_)
            : 0;
    return float(gain);
}

std::vector<float> OutputTimeline::shaped(
    std::int64_t from, std::int64_t count, std::int64_t length, bool rampingDown) const
{
    std::vector<float> samples(std::size_t(std::max(count, length) * channels_));
    for (std::int64_t f = 0; f < count; ++f) {
        float gain = gainOf(from + f);
        if (rampingDown)
            gain *= float(rising(rampFrames_ - 1 - f, rampFrames_));
        const float* frame = history_.data() + (from + f - historyStart_) * channels_;
        for (int c = 0; c < channels_; ++c)
            samples[std::size_t(f * channels_ + c)] = frame[c] * gain;
    }
    return samples;
}

} // namespace media
