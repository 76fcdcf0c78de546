// SPDX-License-Identifier: MIT
#include "media/ServerCycle.h"

#include <algorithm>
#include <cmath>

namespace media {

namespace {

template <std::size_t N> double median(std::array<double, N>& values, std::size_t count)
{
    const auto middle = values.begin() + std::ptrdiff_t(count / 2);
    std::nth_element(values.begin(), middle, values.begin() + std::ptrdiff_t(count));
    return *middle;
}

} // namespace

void ServerCycle::forget()
{
    count_ = next_ = 0;
    skipNext_ = true;
}

void ServerCycle::requested(std::int64_t atUs)
{
    if (skipNext_) {
        skipNext_ = false;
        return;
    }
    times_[next_] = atUs;
    next_ = (next_ + 1) % kKept;
    count_ = std::min(count_ + 1, kKept);
}

std::optional<ServerCycle::Estimate> ServerCycle::estimate(
    std::int64_t nowUs, std::int64_t minRequestUs) const
{
    const std::size_t n = count_;
    if (n < kNeeded)
        return std::nullopt;
    std::array<double, kKept> t {};
    for (std::size_t i = 0; i < n; ++i)
        t[i] = double(times_[(next_ + kKept - n + i) % kKept]);

    std::array<double, kKept> gaps {};
    for (std::size_t i = 0; i + 1 < n; ++i)
        gaps[i] = t[i + 1] - t[i];
    const auto [shortest, longest] = std::minmax_element(gaps.begin(), gaps.begin() + (n - 1));
    const double shortestGap = *shortest, longestGap = *longest; // before the median reorders
    const double beat = median(gaps, n - 1);
    // Regular requests: a request off the beat, a block without one, or one held up long
    // makes a gap far from the period.
    if (shortestGap < 0.75 * beat || longestGap > 1.25 * beat)
        return std::nullopt;
    // The period over spans of half the requests, so that one late request moves it little.
    const std::size_t span = n / 2;
    std::array<double, kKept> periods {};
    for (std::size_t i = 0; i + span < n; ++i)
        periods[i] = (t[i + span] - t[i]) / double(span);
    const double period = median(periods, n - span);

    if (double(nowUs) - t[n - 1] > 4 * period)
        return std::nullopt;
    // Each recent request carried forward to the last block; the earliest is the closest.
    double latest = t[n - 1];
    for (std::size_t i = n - span; i < n; ++i)
        latest = std::min(latest, t[i] + double(n - 1 - i) * period);
    // Requests k blocks apart mean each block is less than the least request and k of them
    // reach it: their period is then less than twice the least request. A period of at
    // least that proves a request for each block; 1 % is left for the clocks' jitter and for
    // the frames a resampled stream gets per block. (Blocks just under the least request,
    // which could hide there, come in two sizes when resampled and ask after one block or
    // two in turn: the gaps above tell.)
    return Estimate {period, latest, period >= 0.99 * 2.0 * double(minRequestUs)};
}

std::int64_t ServerCycle::blocksIn(const Estimate& cycle, std::int64_t fromUs, std::int64_t toUs)
{
    if (toUs <= fromUs)
        return 0;
    const auto index = [&](std::int64_t us) {
        return std::int64_t(std::floor((double(us) - cycle.latestUs) / cycle.periodUs));
    };
    return index(toUs) - index(fromUs);
}

} // namespace media
