// SPDX-License-Identifier: MIT
#include "shell/DroppedFiles.h"

#include <QMimeData>
#include <QUrl>

namespace shell {

QStringList droppedFiles(const QMimeData& data)
{
    QStringList paths;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile() || url.toLocalFile().isEmpty())
            return {};
        paths << url.toLocalFile();
    }
    return paths;
}

} // namespace shell
