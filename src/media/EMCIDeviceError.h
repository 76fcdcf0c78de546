// SPDX-License-Identifier: MIT
#pragma once

#include <stdexcept>
#include <string>

namespace media {

// The one error the media layer raises: an operation on a player with no open file
// ("No MCI device open"), or an open that failed (the media library's own text).
class EMCIDeviceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kNoDeviceOpen = "No MCI device open";
inline constexpr const char* kUnknownError = "Unknown error code";

} // namespace media
