// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace shell {

// The folder part of a path: everything up to and including the last "/", empty when there
// is none. A backslash or a colon is an ordinary file-name character here.
QString extractFilePath(const QString& path);

// The name part of a path: everything after the last "/".
QString extractFileName(const QString& path);

} // namespace shell
