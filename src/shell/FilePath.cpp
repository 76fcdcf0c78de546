// SPDX-License-Identifier: MIT
#include "shell/FilePath.h"

namespace shell {

QString extractFilePath(const QString& path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString extractFileName(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace shell
