// SPDX-License-Identifier: MIT
#pragma once

// Test sound that tells where it came from, and the means to find out from a recording.

#include <QString>
#include <complex>
#include <cstdint>
#include <vector>

namespace e2e {

// Music-like material: a new chord every 100 ms of two partials at random pitches, each with
// a sharp attack and a decaying tail, over a quiet noise floor. No two stretches are alike,
// so a fifth of a second of it says which file it came from and from which sample.
std::vector<float> MusicLike(double seconds, std::uint32_t seed, int rate);

// 16-bit mono PCM WAV.
bool WriteWav(const QString& path, const std::vector<float>& samples, int rate);

struct Match {
    std::int64_t offset = -1; // the source sample the excerpt's first sample matched
    double score = 0; // normalised correlation there: 1 for an exact copy
};

// Finds excerpts in one source by cross-correlation (through the FFT).
class Locator {
public:
    explicit Locator(std::vector<float> source);
    Match find(const float* excerpt, std::size_t n) const;
    const std::vector<float>& source() const { return source_; }

private:
    std::vector<float> source_;
    std::vector<std::complex<double>> spectrum_;
    std::vector<double> energy_; // energy_[i]: sum of squares of the first i samples
};

// The first sample at or after `from` of a 5 ms block louder than `threshold` (RMS); -1 if
// none.
std::int64_t Onset(const std::vector<float>& recording, std::int64_t from, double threshold = 0.01);

// A stretch of the recording that follows the source sample for sample.
struct Segment {
    std::int64_t start = -1; // where it begins in the recording
    std::int64_t sourceStart = -1; // the source sample it begins with
    double score = 0; // how well the anchor excerpt matched
};

// The stretch that contains `anchor`: locates the excerpt from there in the source, then
// walks back while the recording still follows the source at the same offset.
Segment SegmentAround(
    const std::vector<float>& recording, std::int64_t anchor, const Locator& source);

} // namespace e2e
