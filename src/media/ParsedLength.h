// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <chrono>
#include <cstdint>
#include <optional>

namespace media {

// What the first MPEG audio frame of a file says about the file's length.
enum class MpegLengthHint {
    NotMpegAudio, // no MPEG audio frame where one should start
    FrameCount, // a Xing, Info or VBRI header counts the frames: the length is known at once
    None, // plain frames: the length is only known after walking all of them
};

// Reads the start of `bytes` (the first few KiB of a file, or a whole ID3v2 tag's worth
// skipped already) and says which case it is. `bytes` starts where a frame should start.
MpegLengthHint mpegLengthHintAt(const QByteArray& bytes);

// Skips a leading ID3v2 tag of the file at `path` (an encoded local name) and reads the
// first frame's header. Files that cannot be read count as NotMpegAudio.
MpegLengthHint mpegLengthHint(const QByteArray& path);

// The parsers whose walk over a file gives its exact length, for streams that carry no
// duration of their own: plain MPEG audio frames, ADTS AAC, AC-3 and E-AC-3, and DTS.
inline constexpr const char* kLengthParsers[]
    = {"mpegaudioparse", "aacparse", "ac3parse", "dcaparse"};

// Whether the file at `path`, opened through `parser` with `reportedNs` as its length (0 or
// less: none), needs the walk. MPEG audio is walked unless a header counts its frames, as
// GStreamer otherwise estimates its length from the bit rate; the others only when nothing
// gave a length, as in a container the container's own length is exact.
bool needsParsePass(const char* parser, const QByteArray& path, std::int64_t reportedNs);

// The exact length, in nanoseconds, of the frames in the file at `path`: every frame is
// walked by GStreamer's own `parser` (one of kLengthParsers), with no decoding. Empty when
// the walk fails or takes longer than `timeout`.
std::optional<std::int64_t> lengthByParsing(
    const QByteArray& path, const char* parser, std::chrono::milliseconds timeout);

// The walk for MPEG audio frames.
inline std::optional<std::int64_t> mpegLengthByParsing(
    const QByteArray& path, std::chrono::milliseconds timeout)
{
    return lengthByParsing(path, "mpegaudioparse", timeout);
}

} // namespace media
