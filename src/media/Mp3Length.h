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

// The exact length, in nanoseconds, of the MPEG audio frames in the file at `path`: every
// frame is walked by GStreamer's own parser, with no decoding. Empty when the walk fails
// or takes longer than `timeout`.
std::optional<std::int64_t> mpegLengthByParsing(
    const QByteArray& path, std::chrono::milliseconds timeout);

} // namespace media
