// SPDX-License-Identifier: MIT
#include "Signal.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace e2e {

namespace {

using Complex = std::complex<double>;

void Fft(std::vector<Complex>& a, bool inverse)
{
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double angle = 2 * std::numbers::pi / double(len) * (inverse ? 1 : -1);
        const Complex step(std::cos(angle), std::sin(angle));
        for (std::size_t i = 0; i < n; i += len) {
            Complex w(1);
            for (std::size_t k = 0; k < len / 2; ++k) {
                const Complex u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= step;
            }
        }
    }
    if (inverse) {
        for (Complex& x : a)
            x /= double(n);
    }
}

std::size_t PowerOfTwoAtLeast(std::size_t n)
{
    std::size_t size = 1;
    while (size < n)
        size <<= 1;
    return size;
}

constexpr std::size_t kBlock = 240; // 5 ms at 48 kHz
constexpr std::size_t kExcerpt = 8192; // about 170 ms

} // namespace

std::vector<float> MusicLike(double seconds, std::uint32_t seed, int rate)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> pitch(std::log(150.0), std::log(3000.0));
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    const std::size_t total = std::size_t(seconds * rate);
    const std::size_t chord = std::size_t(rate / 10);
    std::vector<float> out(total);
    for (std::size_t start = 0; start < total; start += chord) {
        const double f1 = std::exp(pitch(random)), f2 = std::exp(pitch(random));
        for (std::size_t i = start; i < std::min(total, start + chord); ++i) {
            const double t = double(i - start) / rate;
            // 1 ms attack, then a decay to a third by the next chord
            const double envelope = std::min(1.0, t * 1000) * std::exp(-t * 11);
            const double tone = 0.35 * std::sin(2 * std::numbers::pi * f1 * t)
                + 0.25 * std::sin(2 * std::numbers::pi * f2 * t);
            out[i] = float(envelope * tone + 0.02 * noise(random));
        }
    }
    return out;
}

bool WriteWav(const QString& path, const std::vector<float>& samples, int rate)
{
    QByteArray data;
    const auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            data.append(char(v >> (8 * i)));
    };
    const auto u16 = [&](std::uint32_t v) {
        data.append(char(v));
        data.append(char(v >> 8));
    };
    const auto bytes = std::uint32_t(samples.size() * 2);
    data.append("RIFF");
    u32(36 + bytes);
    data.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1);
    u32(std::uint32_t(rate));
    u32(std::uint32_t(rate) * 2);
    u16(2);
    u16(16);
    data.append("data");
    u32(bytes);
    for (float s : samples)
        u16(std::uint16_t(std::int16_t(std::lround(std::clamp(s, -1.0f, 1.0f) * 32767))));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

Locator::Locator(std::vector<float> source)
    : source_(std::move(source))
{
    spectrum_.assign(PowerOfTwoAtLeast(source_.size()), {});
    std::copy(source_.begin(), source_.end(), spectrum_.begin());
    Fft(spectrum_, false);
    energy_.assign(source_.size() + 1, 0);
    for (std::size_t i = 0; i < source_.size(); ++i)
        energy_[i + 1] = energy_[i] + double(source_[i]) * source_[i];
}

Match Locator::find(const float* excerpt, std::size_t n) const
{
    Match best;
    if (n == 0 || n > source_.size())
        return best;
    std::vector<Complex> a(spectrum_.size());
    std::copy(excerpt, excerpt + n, a.begin());
    Fft(a, false);
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] = std::conj(a[i]) * spectrum_[i];
    Fft(a, true);
    double excerptEnergy = 0;
    for (std::size_t i = 0; i < n; ++i)
        excerptEnergy += double(excerpt[i]) * excerpt[i];
    if (excerptEnergy <= 0)
        return best;
    for (std::size_t k = 0; k + n <= source_.size(); ++k) {
        const double energy = energy_[k + n] - energy_[k];
        if (energy <= 0)
            continue;
        const double score = a[k].real() / std::sqrt(excerptEnergy * energy);
        if (score > best.score)
            best = {std::int64_t(k), score};
    }
    return best;
}

std::int64_t Onset(const std::vector<float>& recording, std::int64_t from, double threshold)
{
    for (auto b = std::size_t(std::max<std::int64_t>(from, 0)); b + kBlock <= recording.size();
        b += kBlock) {
        double energy = 0;
        for (std::size_t i = b; i < b + kBlock; ++i)
            energy += double(recording[i]) * recording[i];
        if (std::sqrt(energy / kBlock) > threshold) {
            for (std::size_t i = b; i < b + kBlock; ++i) {
                if (std::abs(recording[i]) > threshold)
                    return std::int64_t(i);
            }
            return std::int64_t(b);
        }
    }
    return -1;
}

Segment SegmentAround(
    const std::vector<float>& recording, std::int64_t anchor, const Locator& source)
{
    Segment segment;
    if (anchor < 0 || std::size_t(anchor) + kExcerpt > recording.size())
        return segment;
    const Match match = source.find(recording.data() + anchor, kExcerpt);
    segment.score = match.score;
    if (match.score < 0.8)
        return segment;
    const std::vector<float>& src = source.source();
    const std::int64_t shift = match.offset - anchor; // source index = recording index + shift
    // The recording may be the source at another level: measure the gain on the excerpt.
    double cross = 0, power = 0;
    for (std::size_t i = 0; i < kExcerpt; ++i) {
        cross += double(recording[std::size_t(anchor) + i]) * src[std::size_t(match.offset) + i];
        power += double(src[std::size_t(match.offset) + i]) * src[std::size_t(match.offset) + i];
    }
    const double gain = power > 0 ? cross / power : 1;
    const auto follows = [&](std::int64_t r) {
        const double expected = gain * src[std::size_t(r + shift)];
        return std::abs(recording[std::size_t(r)] - expected) <= 0.002 + 0.05 * std::abs(expected);
    };
    // Block by block while most of the block follows, then sample by sample.
    std::int64_t r = anchor;
    while (r - std::int64_t(kBlock) >= 0 && r - std::int64_t(kBlock) + shift >= 0) {
        int following = 0;
        for (std::int64_t i = r - std::int64_t(kBlock); i < r; ++i)
            following += follows(i) ? 1 : 0;
        if (following < int(kBlock) * 9 / 10)
            break;
        r -= std::int64_t(kBlock);
    }
    while (r - 1 >= 0 && r - 1 + shift >= 0 && follows(r - 1))
        --r;
    segment.start = r;
    segment.sourceStart = r + shift;
    return segment;
}

} // namespace e2e
