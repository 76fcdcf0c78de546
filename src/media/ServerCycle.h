// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace media {

// When a sound server that takes a stream's sound a block at a time takes its next block,
// told by the times it asks for more. Such a server (PipeWire's pulse server) asks right after
// each block it takes, once it has taken at least the stream's minimum request; its reports
// of where it reads say how far it has read, but not when it reads next.
//
// A request reaches the program some time after its block was taken, never before, so the
// earliest of them, carried forward on the period, is the latest the cycle can be. Times are
// in microseconds of one monotonic clock.
class ServerCycle {
public:
    // Nothing heard of the server's cycle: called at an uncork (a corked stream is not asked
    // for its cycle, and its requests are not kept). The first request after it is not
    // counted: a server answers an uncork with a request at once.
    void forget();
    // The server asked for more at `atUs`.
    void requested(std::int64_t atUs);

    struct Estimate {
        double periodUs; // the time from one request to the next: no block is longer
        double latestUs; // the latest time the last request's block can have been taken
        // Each block asks: the period is also the time from one block to the next, and the
        // blocks are taken on the beat of latestUs.
        bool everyBlock;
    };
    // The requests kept lately, when they keep a beat: enough of them, none far off it, and
    // the last one not older than a few periods at `nowUs`. Each block asks when the period
    // is at least twice `minRequestUs`, the least the server asks for; below that, two
    // blocks or more may go to one request.
    std::optional<Estimate> estimate(std::int64_t nowUs, std::int64_t minRequestUs) const;
    // How many blocks the server takes after `fromUs` up to `toUs`, on an estimate whose
    // every block asks.
    static std::int64_t blocksIn(const Estimate& cycle, std::int64_t fromUs, std::int64_t toUs);

    static constexpr std::size_t kKept = 16;
    static constexpr std::size_t kNeeded = 8;

private:
    std::array<std::int64_t, kKept> times_ {};
    std::size_t count_ = 0; // how many of times_ hold a request, up to kKept
    std::size_t next_ = 0; // where the next request goes
    bool skipNext_ = true;
};

} // namespace media
